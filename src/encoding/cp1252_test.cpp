#include "encoding/cp1252.h"

#include <gtest/gtest.h>

#include <random>

#include "testing/random_text.h"

namespace {

std::string AllBytes() {
  std::string bytes;
  for (int b = 0; b < 256; ++b) bytes.push_back(static_cast<char>(b));
  return bytes;
}

TEST(Cp1252Test, EveryByteValueRoundTrips) {
  Text text;
  DecodeCp1252(AllBytes(), &text);
  ASSERT_EQ(text.size(), 256u);
  std::string back;
  EncodeCp1252(text, &back);
  EXPECT_EQ(back, AllBytes());
}

TEST(Cp1252Test, CharactersOfTheByteValues) {
  struct Case {
    unsigned char byte;
    char16_t unit;
  };
  const Case cases[] = {
      {0x00, 0x0000}, {0x0D, 0x000D}, {0x41, 0x0041}, {0x7F, 0x007F}, {0x80, 0x20AC},  // euro sign
      {0x81, 0x0081}, {0x8D, 0x008D}, {0x8F, 0x008F}, {0x90, 0x0090}, {0x9D, 0x009D},  // undefined
      {0x82, 0x201A}, {0x8A, 0x0160}, {0x96, 0x2013}, {0x99, 0x2122}, {0x9F, 0x0178},
      {0xA0, 0x00A0}, {0xC4, 0x00C4}, {0xD8, 0x00D8}, {0xE4, 0x00E4}, {0xFF, 0x00FF},
  };
  for (const Case& c : cases) {
    Text decoded;
    DecodeCp1252(std::string(1, static_cast<char>(c.byte)), &decoded);
    EXPECT_EQ(decoded, Text(1, c.unit)) << int(c.byte);
    std::string encoded;
    EncodeCp1252(Text(1, c.unit), &encoded);
    EXPECT_EQ(encoded, std::string(1, static_cast<char>(c.byte))) << int(c.byte);
  }
}

TEST(Cp1252Test, CharactersOutsideTheCodePageBecomeQuestionMarks) {
  struct Case {
    Text text;
    std::string bytes;
  };
  const Case cases[] = {
      {u"\u4E2D", "?"},   {u"a\U0001D11Ez", "a?z"},  // a surrogate pair is one character
      {u"\xD800z", "?z"},                            // an unpaired surrogate
      {u"\xDC00", "?"},   {u"\u0080", "?"},  // C1 controls that the code page does not reach
      {u"\u009F", "?"},   {u"\u0100\u20AC\u2122", "?\x80\x99"},
  };
  for (const Case& c : cases) {
    std::string out = "kept";
    EncodeCp1252(c.text, &out);
    EXPECT_EQ(out, "kept" + c.bytes);
  }
}

TEST(Cp1252Test, DecodeAppends) {
  Text out = u"kept";
  DecodeCp1252("\x80 \xE4", &out);
  EXPECT_EQ(out, u"kept\u20AC \u00E4");
}

// Both directions copy ASCII a block of code units at a time.
TEST(Cp1252Test, AgreesWithOneCharacterAtATime) {
  std::mt19937 random(11);
  for (int round = 0; round < 3000; ++round) {
    Text text = RandomText(random, 80);
    std::string expected;
    for (size_t i = 0; i < text.size(); ++i) {
      bool pair = i + 1 < text.size() && text[i] >= 0xD800 && text[i] <= 0xDBFF &&
                  text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF;
      EncodeCp1252(TextView(text).substr(i, pair ? 2 : 1), &expected);
      if (pair) ++i;
    }
    std::string encoded;
    EncodeCp1252(text, &encoded);
    ASSERT_EQ(encoded, expected) << "round " << round;

    Text decoded_expected;
    for (char byte : encoded) DecodeCp1252(std::string_view(&byte, 1), &decoded_expected);
    Text decoded;
    DecodeCp1252(encoded, &decoded);
    ASSERT_EQ(decoded, decoded_expected) << "round " << round;
  }
}

}  // namespace
