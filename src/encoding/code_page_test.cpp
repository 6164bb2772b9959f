// The code page services on every platform. Under Windows (and Wine) DecodeUtf8 is the
// platform's strict conversion, so the agreement below is that of the check with the platform.
#include "encoding/code_page.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

/// Random bytes that are mostly UTF-8: ASCII, sequences at and around the edges of every length
/// (surrogates, noncharacters, the highest code point and beyond), stray continuation bytes,
/// lead bytes without their continuations, overlong forms and bytes that never occur.
std::string RandomUtf8(std::mt19937& random) {
  static const std::string kFragments[] = {"G01 A1\r\n",
                                           "x",
                                           std::string(1, '\0'),
                                           "\xC2\x80",
                                           "\xDF\xBF",
                                           "\xC3\xA4",
                                           "\xE0\xA0\x80",
                                           "\xED\x9F\xBF",
                                           "\xEE\x80\x80",
                                           "\xEF\xBF\xBF",
                                           "\xEF\xBF\xBE",
                                           "\xEF\xB7\x90",
                                           "\xEF\xBB\xBF",
                                           "\xF0\x90\x80\x80",
                                           "\xF4\x8F\xBF\xBF",
                                           "\xF0\x9F\xBF\xBF",
                                           "\xED\xA0\x80",
                                           "\xED\xBF\xBF",
                                           "\xF4\x90\x80\x80",
                                           "\xC0\x80",
                                           "\xC1\xBF",
                                           "\xE0\x9F\xBF",
                                           "\xF0\x8F\xBF\xBF",
                                           "\x80",
                                           "\xBF",
                                           "\xC3",
                                           "\xE2\x82",
                                           "\xF0\x9D\x84",
                                           "\xF5\x80\x80\x80",
                                           "\xF8",
                                           "\xFE",
                                           "\xFF"};
  std::string bytes;
  size_t fragments = random() % 12;
  for (size_t i = 0; i < fragments; ++i) {
    // Mostly well-formed fragments, so that the bytes are often well-formed as a whole.
    size_t pick = random() % 4 == 0 ? random() % std::size(kFragments) : random() % 16;
    bytes += kFragments[pick];
    if (random() % 3 == 0) bytes += std::string(random() % 40, 'a');
  }
  return bytes;
}

TEST(CodePageTest, Utf8CheckAgreesWithTheDecode) {
  std::mt19937 random(1252);
  int well_formed = 0;
  for (int round = 0; round < 20000; ++round) {
    std::string bytes = RandomUtf8(random);
    Text text;
    bool decodes = DecodeUtf8(bytes, &text);
    ASSERT_EQ(IsDecodableUtf8(bytes), decodes) << testing::PrintToString(bytes);
    well_formed += decodes;
  }
  EXPECT_GT(well_formed, 2000) << "the random bytes are well-formed often enough";
  EXPECT_LT(well_formed, 18000) << "and ill-formed often enough";
}

TEST(CodePageTest, AnsiThatKeepsEveryByteGivesThemBack) {
  if (!AnsiKeepsEveryByte()) GTEST_SKIP() << "the ANSI code page does not keep every byte";
  std::string all;
  for (int byte = 0; byte < 256; ++byte) all.push_back(static_cast<char>(byte));
  Text text;
  DecodeAnsi(all, &text);
  ASSERT_EQ(text.size(), all.size());
  for (int byte = 0; byte < 0x80; ++byte) EXPECT_EQ(text[byte], byte);
  for (int byte = 0x80; byte < 0x100; ++byte) EXPECT_GE(text[byte], 0x80) << byte;
  std::string back;
  EncodeAnsi(text, &back);
  EXPECT_EQ(back, all);
  EXPECT_EQ(AnsiByteOrderMark(), "");
}

}  // namespace
