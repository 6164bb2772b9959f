#include "encoding/file_encoding.h"

#include <gtest/gtest.h>

// The ANSI cases take the ANSI code page to be Windows-1252: the stand-in on POSIX systems, and
// the code page of Wine and of Western European Windows.
namespace {

TEST(FileEncodingTest, DetectByByteOrderMark) {
  struct Case {
    std::string bytes;
    FileEncoding encoding;
    size_t mark_length;
  };
  const Case cases[] = {
      {"", FileEncoding::kAnsi, 0},
      {"G01 A1", FileEncoding::kAnsi, 0},
      {"\xEF\xBB\xBF", FileEncoding::kUtf8, 3},
      {"\xEF\xBB\xBFG01", FileEncoding::kUtf8, 3},
      {"\xEF\xBB", FileEncoding::kAnsi, 0},  // a mark only counts when complete
      {"\xEF", FileEncoding::kAnsi, 0},
      {"\xFF\xFE", FileEncoding::kUtf16Le, 2},
      {std::string("\xFF\xFE\0\0", 4), FileEncoding::kUtf16Le, 2},  // UTF-32 LE counts as UTF-16
      {"\xFF\xFE\xE4\xE4", FileEncoding::kUtf16Le, 2},  // ANSI that happens to start so, too
      {"\xFE\xFF", FileEncoding::kUtf16Be, 2},
      {"\xFE", FileEncoding::kAnsi, 0},
      {"\xFF", FileEncoding::kAnsi, 0},
      {"\xBB\xBF", FileEncoding::kAnsi, 0},
  };
  for (const Case& c : cases) {
    EncodingMark mark = DetectEncoding(c.bytes);
    EXPECT_EQ(mark.encoding, c.encoding) << testing::PrintToString(c.bytes);
    EXPECT_EQ(mark.mark_length, c.mark_length) << testing::PrintToString(c.bytes);
  }
}

TEST(FileEncodingTest, ByteOrderMarks) {
  EXPECT_EQ(ByteOrderMark(FileEncoding::kUtf8), "\xEF\xBB\xBF");
  EXPECT_EQ(ByteOrderMark(FileEncoding::kUtf16Le), "\xFF\xFE");
  EXPECT_EQ(ByteOrderMark(FileEncoding::kUtf16Be), "\xFE\xFF");
  EXPECT_EQ(ByteOrderMark(FileEncoding::kAnsi), "");  // Windows-1252 stands in here
}

TEST(FileEncodingTest, Decode) {
  struct Case {
    const char* name;
    FileEncoding encoding;
    std::string bytes;
    bool decoded;
    Text text;
  };
  const Case cases[] = {
      {"ansi empty", FileEncoding::kAnsi, "", true, u""},
      {"ansi", FileEncoding::kAnsi, "\x80\xE4\x81", true, u"\u20AC\u00E4\u0081"},
      {"utf-8 empty", FileEncoding::kUtf8, "", true, u""},
      {"utf-8", FileEncoding::kUtf8, "\xC3\xA4", true, u"\u00E4"},
      {"utf-8 ill-formed", FileEncoding::kUtf8, "\xC3", false, u""},
      {"utf-16 le", FileEncoding::kUtf16Le, std::string("A\0\xAC\x20", 4), true, u"A\u20AC"},
      {"utf-16 be", FileEncoding::kUtf16Be, std::string("\0A\x20\xAC", 4), true, u"A\u20AC"},
      {"utf-16 le empty", FileEncoding::kUtf16Le, "", true, u""},
      {"utf-16 le one byte", FileEncoding::kUtf16Le, "A", false, u""},
      {"utf-16 be one byte", FileEncoding::kUtf16Be, "A", false, u""},
      {"utf-16 le odd last byte dropped", FileEncoding::kUtf16Le, std::string("A\0B", 3), true,
       u"A"},
      {"utf-16 be odd last byte dropped", FileEncoding::kUtf16Be, std::string("\0AB", 3), true,
       u"A"},
      {"utf-16 le unpaired surrogate kept", FileEncoding::kUtf16Le, std::string("\x00\xD8z\0", 4),
       true, u"\xD800z"},
      {"utf-16 le nul", FileEncoding::kUtf16Le, std::string("\0\0", 2), true, Text(1, u'\0')},
  };
  for (const Case& c : cases) {
    Text out = u"kept";
    EXPECT_EQ(DecodeText(c.encoding, c.bytes, &out), c.decoded) << c.name;
    if (c.decoded) {
      EXPECT_EQ(out, u"kept" + c.text) << c.name;
    }
  }
}

TEST(FileEncodingTest, EncodeWithoutMark) {
  const Text text = u"A\u00E4\u20AC\U0001D11E";
  struct Case {
    FileEncoding encoding;
    Text text;
    std::string bytes;
  };
  const Case cases[] = {
      // How a character beyond U+FFFF is replaced in the ANSI code page is the platform's choice.
      {FileEncoding::kAnsi, u"A\u00E4\u20AC\u4E2D", "A\xE4\x80?"},
      {FileEncoding::kUtf8, text, "A\xC3\xA4\xE2\x82\xAC\xF0\x9D\x84\x9E"},
      {FileEncoding::kUtf16Le, text, std::string("A\0\xE4\0\xAC\x20\x34\xD8\x1E\xDD", 10)},
      {FileEncoding::kUtf16Be, text, std::string("\0A\0\xE4\x20\xAC\xD8\x34\xDD\x1E", 10)},
  };
  for (const Case& c : cases) {
    std::string out;
    EncodeText(c.encoding, c.text, &out);
    EXPECT_EQ(out, c.bytes) << static_cast<int>(c.encoding);
  }
}

TEST(FileEncodingTest, Utf16KeepsEveryCodeUnit) {
  Text all;
  for (int unit = 0; unit < 0x10000; ++unit) all.push_back(static_cast<char16_t>(unit));
  for (FileEncoding encoding : {FileEncoding::kUtf16Le, FileEncoding::kUtf16Be}) {
    std::string bytes;
    EncodeText(encoding, all, &bytes);
    Text back;
    ASSERT_TRUE(DecodeText(encoding, bytes, &back));
    EXPECT_EQ(back, all);
  }
}

}  // namespace
