#include "base/utf8.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace std::string_literals;

struct DecodeCase {
  const char* name;
  std::string bytes;
  Text expected;  // ignored where the bytes are ill-formed
  bool well_formed;
};

const DecodeCase kDecodeCases[] = {
    {"empty", "", u"", true},
    {"ascii", "G01 A90", u"G01 A90", true},
    {"nul", std::string("a\0b", 3), Text(u"a\0b", 3), true},
    {"two bytes, lowest", "\xC2\x80", u"\u0080", true},
    {"two bytes", "L\xC3\xA4nge", u"L\u00E4nge", true},
    {"two bytes, highest", "\xDF\xBF", u"\u07FF", true},
    {"three bytes, lowest", "\xE0\xA0\x80", u"\u0800", true},
    {"three bytes", "\xE2\x82\xAC", u"\u20AC", true},
    {"three bytes, below surrogates", "\xED\x9F\xBF", u"\uD7FF", true},
    {"three bytes, above surrogates", "\xEE\x80\x80", u"\uE000", true},
    {"three bytes, byte-order mark", "\xEF\xBB\xBF", u"\uFEFF", true},
    {"three bytes, highest", "\xEF\xBF\xBF", u"\uFFFF", true},
    {"four bytes, lowest", "\xF0\x90\x80\x80", u"\U00010000", true},
    {"four bytes", "\xF0\x9D\x84\x9E", u"\U0001D11E", true},
    {"four bytes, highest", "\xF4\x8F\xBF\xBF", u"\U0010FFFF", true},

    {"stray continuation", "a\x80z", u"", false},
    {"stray continuation at start", "\xBF", u"", false},
    {"missing continuation", "\xC3z", u"", false},
    {"missing second continuation", "\xE2\x82z", u"", false},
    {"missing third continuation", "\xF0\x9D\x84z", u"", false},
    {"overlong two bytes", "\xC0\x80", u"", false},
    {"overlong two bytes C1", "\xC1\xBF", u"", false},
    {"overlong three bytes", "\xE0\x80\x80", u"", false},
    {"overlong three bytes, highest", "\xE0\x9F\xBF", u"", false},
    {"overlong four bytes", "\xF0\x80\x80\x80", u"", false},
    {"overlong four bytes, highest", "\xF0\x8F\xBF\xBF", u"", false},
    {"encoded high surrogate", "\xED\xA0\x80", u"", false},
    {"encoded low surrogate", "\xED\xBF\xBF", u"", false},
    {"encoded surrogate pair", "\xED\xA0\xBD\xED\xB8\x80", u"", false},
    {"above U+10FFFF", "\xF4\x90\x80\x80", u"", false},
    {"truncated two bytes", "ok\xC3", u"", false},
    {"truncated three bytes", "ok\xE2\x82", u"", false},
    {"truncated four bytes", "ok\xF0\x9D\x84", u"", false},
    {"lead F5", "\xF5\x80\x80\x80", u"", false},
    {"lead F8", "\xF8\x88\x80\x80\x80", u"", false},
    {"lead FC", "\xFC\x84\x80\x80\x80\x80", u"", false},
    {"lead FE", "\xFE", u"", false},
    {"lead FF", "\xFF", u"", false},
    {"ill-formed after many good lines", std::string(1000, 'x') + "\r\nG01 A1\r\n\xC3\xA4\xA4\r\n",
     u"", false},
};

TEST(Utf8Test, StrictDecoding) {
  for (const DecodeCase& c : kDecodeCases) {
    Text out = u"kept";
    bool decoded = DecodeUtf8Strict(c.bytes, &out);
    EXPECT_EQ(decoded, c.well_formed) << c.name;
    if (c.well_formed) {
      EXPECT_EQ(out, u"kept" + c.expected) << c.name;
    } else {
      EXPECT_EQ(out, u"kept") << c.name << ": nothing is appended";
    }
  }
}

TEST(Utf8Test, CheckWithoutDecodingAgreesWithDecoding) {
  // Every case of the decoding table, alone and amid ASCII that puts it at every place of the
  // blocks that the check passes over at a time, and twice in a row.
  for (const DecodeCase& c : kDecodeCases) {
    for (size_t before = 0; before < 70; ++before) {
      for (size_t after : {0, 1, 31, 32, 33}) {
        std::string bytes = std::string(before, 'a') + c.bytes + std::string(after, '\n');
        EXPECT_EQ(IsWellFormedUtf8(bytes, IsWellFormedUtf8Segment), c.well_formed)
            << c.name << ", " << before << " before, " << after << " after";
      }
    }
    EXPECT_EQ(IsWellFormedUtf8(c.bytes + c.bytes, IsWellFormedUtf8Segment), c.well_formed);
  }
}

TEST(Utf8Test, CheckHandsOverEverySegmentOfNonAsciiBytes) {
  static std::vector<std::string>* segments;
  std::vector<std::string> seen;
  segments = &seen;
  auto note = [](std::string_view segment) {
    segments->emplace_back(segment);
    return segment != "\xFF";
  };
  std::string bytes = std::string(40, 'x') + "\xC3\xA4\xC3\xB6 \xE2\x82\xAC" +
                      std::string(33, 'y') + "\xF0\x9D\x84\x9E";
  EXPECT_TRUE(IsWellFormedUtf8(bytes, note));
  EXPECT_EQ(seen,
            (std::vector<std::string>{"\xC3\xA4\xC3\xB6", "\xE2\x82\xAC", "\xF0\x9D\x84\x9E"}));
  seen.clear();
  EXPECT_FALSE(
      IsWellFormedUtf8("a\xFF"
                       "b\xC3\xA4",
                       note));
  EXPECT_EQ(seen, std::vector<std::string>{"\xFF"}) << "the check stops at the first bad segment";
}

TEST(Utf8Test, EveryLeadByteAloneIsIllFormed) {
  for (int b = 0x80; b <= 0xFF; ++b) {
    Text out;
    EXPECT_FALSE(DecodeUtf8Strict(std::string(1, static_cast<char>(b)), &out)) << b;
  }
}

TEST(Utf8Test, EncodeRoundTripsEveryScalarValueClass) {
  const Text text = u"A\u0000\u00E4\u07FF\u0800\u20AC\uD7FF\uE000\uFFFF\U00010000\U0010FFFF"s;
  std::string bytes;
  EncodeUtf8Replacing(text, &bytes);
  EXPECT_EQ(bytes, std::string("A\0\xC3\xA4\xDF\xBF\xE0\xA0\x80\xE2\x82\xAC\xED\x9F\xBF"
                               "\xEE\x80\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF",
                               29));
  Text back;
  ASSERT_TRUE(DecodeUtf8Strict(bytes, &back));
  EXPECT_EQ(back, text);
}

TEST(Utf8Test, EncodeReplacesUnpairedSurrogates) {
  struct Case {
    Text text;
    std::string bytes;
  };
  const Case cases[] = {
      {u"a\xD800z", "a\xEF\xBF\xBDz"},
      {u"a\xDC00z", "a\xEF\xBF\xBDz"},
      {u"\xD800", "\xEF\xBF\xBD"},                    // high surrogate at the end
      {u"\xDC00\xD800", "\xEF\xBF\xBD\xEF\xBF\xBD"},  // reversed pair
      {u"\xD834\xDD1E", "\xF0\x9D\x84\x9E"},          // a proper pair
  };
  for (const Case& c : cases) {
    std::string out = "kept";
    EncodeUtf8Replacing(c.text, &out);
    EXPECT_EQ(out, "kept" + c.bytes);
  }
}

}  // namespace
