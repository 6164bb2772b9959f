// The split and the Windows-1252 codec work on blocks of 16 code units; these tests compare them,
// on random texts whose line breaks and non-ASCII characters fall at every place in and across
// the blocks, with the same work done one code unit at a time.
#include <gtest/gtest.h>

#include <random>

#include "files/cp1252.h"
#include "files/line_list.h"

namespace {

/// A random text of up to `max_length` code units, mostly ASCII, with line breaks, characters
/// of the upper half of Windows-1252, characters outside it, surrogates and U+0000.
Text RandomText(std::mt19937& random, size_t max_length) {
  static constexpr char16_t kUnits[] = {u'G',   u'0',   u' ',   u'A',   u'\r',
                                        u'\n',  u'\r',  u'\n',  0x00E4, 0x20AC,
                                        0x0081, 0x4E2D, 0xD83D, 0xDE00, 0x0000};
  Text text(random() % (max_length + 1), u'x');
  for (char16_t& unit : text) {
    if (random() % 4 == 0) unit = kUnits[random() % std::size(kUnits)];
  }
  return text;
}

/// The lines of `text` as the split defines them, found one code unit at a time.
std::vector<Text> SplitOneByOne(const Text& text) {
  std::vector<Text> lines;
  size_t p = 0;
  while (p < text.size()) {
    size_t end = p;
    while (end < text.size() && text[end] != u'\r' && text[end] != u'\n') ++end;
    lines.push_back(text.substr(p, end - p));
    p = end;
    if (p < text.size() && text[p] == u'\r') ++p;
    if (p < text.size() && text[p] == u'\n') ++p;
  }
  return lines;
}

TEST(BlockScanTest, SplitAgreesWithOneUnitAtATime) {
  std::mt19937 random(7);
  for (int round = 0; round < 3000; ++round) {
    Text text = RandomText(random, 80);
    LineList list;
    list.SetText(text);
    std::vector<Text> lines;
    for (int i = 0; i < list.Count(); ++i) lines.emplace_back(list.Get(i));
    ASSERT_EQ(lines, SplitOneByOne(text)) << "round " << round;
  }
}

TEST(BlockScanTest, Cp1252AgreesWithOneCharacterAtATime) {
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
