#include "program/byte_ranges.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

using Ranges = std::vector<std::pair<size_t, size_t>>;

Ranges Contents(const ByteRanges& ranges) {
  Ranges out;
  ranges.ForEach([&](ByteRanges::Range r) { out.emplace_back(r.begin, r.end); });
  return out;
}

TEST(ByteRangesTest, JoinsAdjacentRangesAndSkipsEmptyOnes) {
  struct Case {
    const char* name;
    Ranges added;
    Ranges expected;
  };
  const Case cases[] = {
      {"none", {}, {}},
      {"one at 0", {{0, 5}}, {{0, 5}}},
      {"adjacent ones join", {{2, 5}, {5, 9}, {9, 10}}, {{2, 10}}},
      {"apart", {{2, 5}, {6, 9}}, {{2, 5}, {6, 9}}},
      {"empty ones add nothing", {{0, 0}, {3, 3}, {3, 4}, {4, 4}, {7, 7}}, {{3, 4}}},
      {"far apart and long",
       {{1, 200000}, {1u << 30, (1u << 31) + 7}},
       {{1, 200000}, {1u << 30, (1u << 31) + 7}}},
  };
  for (const Case& c : cases) {
    ByteRanges ranges;
    for (auto [begin, end] : c.added) ranges.Add(begin, end);
    EXPECT_EQ(Contents(ranges), c.expected) << c.name;
    ranges.Clear();
    EXPECT_EQ(Contents(ranges), Ranges{}) << c.name;
  }
}

TEST(ByteRangesTest, KeepsManyRangesOfEverySize) {
  std::mt19937_64 random(5);
  ByteRanges ranges;
  Ranges expected;
  size_t at = 0;
  for (int i = 0; i < 100000; ++i) {
    // Gaps and lengths of one to eight bytes of the variable-length numbers.
    size_t gap = (random() >> (random() % 64)) % (size_t{1} << (7 * (1 + random() % 5)));
    size_t length = 1 + (random() >> (random() % 64)) % 5000;
    if (i % 7 == 0) gap = 0;
    ranges.Add(at + gap, at + gap + length);
    if (gap == 0 && !expected.empty() && expected.back().second == at) {
      expected.back().second += length;
    } else {
      expected.emplace_back(at + gap, at + gap + length);
    }
    at += gap + length;
  }
  EXPECT_EQ(Contents(ranges), expected);
}

}  // namespace
