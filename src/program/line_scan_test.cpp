// The line scan works on blocks of 16 bytes; these tests compare it, on random texts whose line
// breaks and needles fall at every place in and across the blocks, with the same work done one
// code unit at a time.
#include "program/line_scan.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using namespace std::string_literals;

/// A line as the one-unit-at-a-time split finds it, in code units.
struct Line {
  size_t begin, end, next;
  bool has_needle;
  bool operator==(const Line&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Line& l) {
  return out << "{" << l.begin << ", " << l.end << ", " << l.next << ", " << l.has_needle << "}";
}

/// The bytes of `units` in `form`.
std::string BytesOf(const std::u16string& units, UnitForm form) {
  std::string bytes;
  for (char16_t unit : units) {
    char low = static_cast<char>(unit & 0xFF), high = static_cast<char>(unit >> 8);
    if (form == UnitForm::kByte) bytes.push_back(low);
    if (form == UnitForm::kUtf16Le) bytes += {low, high};
    if (form == UnitForm::kUtf16Be) bytes += {high, low};
  }
  return bytes;
}

/// The lines of `text`, with byte offsets for units of `width` bytes.
std::vector<Line> SplitOneByOne(const std::u16string& text, const std::u16string& needle,
                                size_t width) {
  std::vector<Line> lines;
  size_t p = 0;
  while (p < text.size()) {
    size_t end = p;
    while (end < text.size() && text[end] != u'\r' && text[end] != u'\n') ++end;
    size_t next = end;
    if (next < text.size() && text[next] == u'\r') ++next;
    if (next < text.size() && text[next] == u'\n' && (next == end || text[end] == u'\r')) ++next;
    bool has = !needle.empty() && text.substr(p, end - p).find(needle) != std::u16string::npos;
    lines.push_back({p * width, end * width, next * width, has});
    p = next;
  }
  return lines;
}

std::vector<Line> Scan(const std::string& bytes, const std::string& needle, UnitForm form) {
  std::vector<Line> lines;
  ScanLinesOf(form, bytes, needle, [&](const ScannedLine& l) {
    lines.push_back({l.begin, l.end, l.next, l.has_needle});
  });
  return lines;
}

/// A random text of up to `max_length` code units: mostly letters, with line breaks, fragments of
/// the needle, the needle whole, U+0000 and units whose one byte looks like a line break or a
/// letter of the needle.
std::u16string RandomText(std::mt19937& random, size_t max_length) {
  static const std::u16string kFragments[] = {
      u"G01 A", u"G01 A", u"G01",    u" A",     u"\r",     u"\n",     u"\r\n",   u"\n\r", u"\r\r\n",
      u"G",     u"\0"s,   u"\u0D0A", u"\u0A0D", u"\u4700", u"\u0047", u"\u3000", u"x",    u"xy"};
  std::u16string text;
  size_t length = random() % (max_length + 1);
  while (text.size() < length) text += kFragments[random() % std::size(kFragments)];
  return text;
}

TEST(LineScanTest, AgreesWithOneUnitAtATime) {
  std::mt19937 random(20261210);
  for (UnitForm form : {UnitForm::kByte, UnitForm::kUtf16Le, UnitForm::kUtf16Be}) {
    size_t width = UnitWidth(form);
    for (int round = 0; round < 4000; ++round) {
      std::u16string text = RandomText(random, round % 2 ? 40 : 200);
      if (form == UnitForm::kByte) {
        for (char16_t& unit : text) unit &= 0xFF;
      }
      for (const std::u16string& needle : {u"G01 A"s, u""s, u"A"s, u"x\u4700G0"s}) {
        std::u16string used =
            form == UnitForm::kByte && needle.find(u'\u4700') != needle.npos ? u"G01"s : needle;
        ASSERT_EQ(Scan(BytesOf(text, form), BytesOf(used, form), form),
                  SplitOneByOne(text, used, width))
            << "form " << static_cast<int>(form) << ", round " << round;
      }
    }
  }
}

TEST(LineScanTest, EndingsAndEdges) {
  struct Case {
    const char* name;
    std::u16string text;
    std::vector<Line> lines;  // in code units
  };
  const Case cases[] = {
      {"empty text", u"", {}},
      {"no ending", u"G01 A", {{0, 5, 5, true}}},
      {"CR LF", u"A\r\nB\r\n", {{0, 1, 3, false}, {3, 4, 6, false}}},
      {"lone LF and lone CR", u"A\nB\rC", {{0, 1, 2, false}, {2, 3, 4, false}, {4, 5, 5, false}}},
      {"LF CR is two endings", u"A\n\rB", {{0, 1, 2, false}, {2, 2, 3, false}, {3, 4, 4, false}}},
      {"CR CR LF", u"A\r\r\nB", {{0, 1, 2, false}, {2, 2, 4, false}, {4, 5, 5, false}}},
      {"needle cut by a line break", u"G01\r\n A", {{0, 3, 5, false}, {5, 7, 7, false}}},
      {"CR LF across a block edge",
       std::u16string(15, u'x') + u"\r\nG01 A",
       {{0, 15, 17, false}, {17, 22, 22, true}}},
      {"needle across a block edge", std::u16string(13, u'x') + u"G01 A\n", {{0, 18, 19, true}}},
      {"needle at the very end", u"\nG01 A", {{0, 0, 1, false}, {1, 6, 6, true}}},
  };
  for (const Case& c : cases) {
    for (UnitForm form : {UnitForm::kByte, UnitForm::kUtf16Le, UnitForm::kUtf16Be}) {
      std::vector<Line> expected = c.lines;
      for (Line& l : expected) {
        l.begin *= UnitWidth(form), l.end *= UnitWidth(form), l.next *= UnitWidth(form);
      }
      EXPECT_EQ(Scan(BytesOf(c.text, form), BytesOf(u"G01 A", form), form), expected)
          << c.name << ", form " << static_cast<int>(form);
    }
  }
}

TEST(LineScanTest, Utf16UnitsAreNotBrokenAtOddBytes) {
  // U+0D0A holds the bytes of CR and LF, and U+4700 U+3000 ... hold those of the needle shifted
  // by one byte; none of them is a line break or the needle.
  const std::u16string text = u"\u0D0A\u0A00\u4700\u3000\u3100\u2000\u4100\0"s;
  for (UnitForm form : {UnitForm::kUtf16Le, UnitForm::kUtf16Be}) {
    EXPECT_EQ(Scan(BytesOf(text, form), BytesOf(u"G01 A", form), form),
              (std::vector<Line>{{0, 16, 16, false}}))
        << static_cast<int>(form);
  }
}

}  // namespace
