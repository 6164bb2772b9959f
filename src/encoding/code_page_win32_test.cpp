#include <gtest/gtest.h>
#include <windows.h>

#include "encoding/code_page.h"

namespace {

TEST(CodePageWin32Test, Utf8DecodesOnlyWellFormedBytes) {
  struct Case {
    const char* name;
    std::string bytes;
    bool decoded;
    Text text;
  };
  const Case cases[] = {
      {"ASCII, two, three and four bytes", "A\xC3\xA4\xE2\x82\xAC\xF0\x9D\x84\x9E", true,
       u"A\u00E4\u20AC\U0001D11E"},
      {"zero byte", std::string("A\0B", 3), true, Text(u"A\0B", 3)},
      {"stray continuation byte", "A\x80", false, u""},
      {"lead byte without continuation", "A\xC3", false, u""},
      {"lead byte before ASCII",
       "\xE2\x82"
       "A",
       false, u""},
      {"overlong two bytes", "\xC0\x80", false, u""},
      {"overlong three bytes", "\xE0\x80\xAF", false, u""},
      {"encoded surrogate", "\xED\xA0\x80", false, u""},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80", false, u""},
      {"byte FF", "\xFF", false, u""},
  };
  for (const Case& c : cases) {
    Text out = u"kept";
    EXPECT_EQ(DecodeUtf8(c.bytes, &out), c.decoded) << c.name;
    EXPECT_EQ(out, u"kept" + c.text) << c.name;
  }
}

TEST(CodePageWin32Test, Utf8EncodesAnUnpairedSurrogateAsReplacement) {
  std::string out = "kept";
  EncodeUtf8(Text(u"A") + char16_t(0xD800) + u"B\U0001D11E", &out);
  EXPECT_EQ(out,
            "keptA\xEF\xBF\xBD"
            "B\xF0\x9D\x84\x9E");
}

TEST(CodePageWin32Test, AnsiCodePageIsValidAndMarksOnlyUtf8) {
  PrepareAnsiCodePage();
  EXPECT_EQ(AnsiByteOrderMark(), GetACP() == CP_UTF8 ? "\xEF\xBB\xBF" : "");
}

TEST(CodePageWin32Test, AnsiKeepsEveryByteOfWindows1252) {
  if (GetACP() != 1252) GTEST_SKIP() << "the ANSI code page is " << GetACP();
  std::string all;
  for (int byte = 0; byte < 256; ++byte) all.push_back(static_cast<char>(byte));
  Text text;
  DecodeAnsi(all, &text);
  ASSERT_EQ(text.size(), 256u);
  EXPECT_EQ(text[0x80], u'\u20AC');
  EXPECT_EQ(text[0xE4], u'\u00E4');
  std::string back;
  EncodeAnsi(text, &back);
  EXPECT_EQ(back, all);
  EXPECT_TRUE(AnsiKeepsEveryByte());
}

}  // namespace
