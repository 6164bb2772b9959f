#include "program/line_list.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "testing/program_forms.h"
#include "testing/random_text.h"

// The ANSI cases take the ANSI code page to be Windows-1252: the stand-in on POSIX systems, and
// the code page of Wine and of Western European Windows.
namespace {

using namespace std::string_literals;
using Lines = std::vector<Text>;

TEST(LineListTest, SplitsAtCrLfLoneLfAndLoneCr) {
  struct Case {
    const char* name;
    Text text;
    Lines lines;
  };
  const Case cases[] = {
      {"empty text", u"", {}},
      {"no ending", u"A", {u"A"}},
      {"CR LF, no ending after B", u"A\r\nB", {u"A", u"B"}},
      {"CR LF after every line", u"A\r\nB\r\n", {u"A", u"B"}},
      {"LF then CR", u"A\nB\rC", {u"A", u"B", u"C"}},
      {"CR CR LF", u"A\r\r\nB", {u"A", u"", u"B"}},
      {"LF CR", u"A\n\rB", {u"A", u"", u"B"}},
      {"LF LF", u"A\n\nB", {u"A", u"", u"B"}},
      {"CR LF LF", u"A\r\n\nB", {u"A", u"", u"B"}},
      {"only CR LF", u"\r\n", {u""}},
      {"only LF", u"\n", {u""}},
      {"only CR", u"\r", {u""}},
      {"two empty lines", u"\r\n\r\n", {u"", u""}},
      {"ending after the last line adds no empty line", u"A\n", {u"A"}},
      {"U+0000 is an ordinary code unit", u"A\0B\r\n\0"s, {u"A\0B"s, u"\0"s}},
      {"other controls stay", u"\t\f\v\u0085\u2028", {u"\t\f\v\u0085\u2028"}},
      {"blanks stay", u"  G01 A1  \r\n", {u"  G01 A1  "}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LinesOf(ListOfText(c.text)), c.lines) << c.name;
  }
}

/// The lines of `text` as the split defines them, found one code unit at a time.
Lines SplitOneByOne(const Text& text) {
  Lines lines;
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

// The split looks for line breaks a block of code units at a time.
TEST(LineListTest, SplitAgreesWithOneUnitAtATime) {
  std::mt19937 random(7);
  for (int round = 0; round < 3000; ++round) {
    Text text = RandomText(random, 80);
    ASSERT_EQ(LinesOf(ListOfText(text)), SplitOneByOne(text)) << "round " << round;
  }
}

TEST(LineListTest, SaveWritesMarkAndCrLfAfterEveryLine) {
  const Text text = u"\u00C4\r\nG01 A\u20AC\n";
  struct Case {
    const char* name;
    Text text;
    FileEncoding encoding;
    std::string bytes;
  };
  const Case cases[] = {
      {"ANSI", text, FileEncoding::kAnsi, "\xC4\r\nG01 A\x80\r\n"},
      {"UTF-8", text, FileEncoding::kUtf8, "\xEF\xBB\xBF\xC3\x84\r\nG01 A\xE2\x82\xAC\r\n"},
      {"UTF-16 LE", text, FileEncoding::kUtf16Le,
       "\xFF\xFE\xC4\0\r\0\n\0G\0"
       "0\0"
       "1\0 \0A\0\xAC\x20\r\0\n\0"s},
      {"UTF-16 BE", text, FileEncoding::kUtf16Be,
       "\xFE\xFF\0\xC4\0\r\0\n\0G\0"
       "0\0"
       "1\0 \0A\x20\xAC\0\r\0\n"s},
      {"no lines, ANSI: nothing", u"", FileEncoding::kAnsi, ""},
      {"no lines, UTF-8: the mark alone", u"", FileEncoding::kUtf8, "\xEF\xBB\xBF"},
      {"no lines, UTF-16 LE: the mark alone", u"", FileEncoding::kUtf16Le, "\xFF\xFE"},
      {"no lines, UTF-16 BE: the mark alone", u"", FileEncoding::kUtf16Be, "\xFE\xFF"},
      {"NUL and empty lines kept, ANSI", u"\r\n\0\r\r\n"s, FileEncoding::kAnsi, "\r\n\0\r\n\r\n"s},
      {"NUL kept, UTF-8", u"\0"s, FileEncoding::kUtf8, "\xEF\xBB\xBF\0\r\n"s},
      {"NUL kept, UTF-16 LE", u"\0"s, FileEncoding::kUtf16Le, "\xFF\xFE\0\0\r\0\n\0"s},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SavedBytes(ListOfText(c.text, c.encoding)), c.bytes) << c.name;
  }
}

TEST(LineListTest, SaveOfManyLinesMatchesLineByLine) {
  // Longer than any chunk the encoder may work in, with a pair that must not be split.
  Text text;
  std::string expected = "\xEF\xBB\xBF";
  for (int i = 0; i < 40000; ++i) {
    text += u"G01 A" + std::u16string(i % 7, u'9') + u"\U0001D11E\n";
    expected += "G01 A" + std::string(i % 7, '9') + "\xF0\x9D\x84\x9E\r\n";
  }
  EXPECT_EQ(SavedBytes(ListOfText(text, FileEncoding::kUtf8)), expected);
}

TEST(LineListTest, DeleteMarked) {
  struct Case {
    std::vector<bool> marked;
    Lines lines;
  };
  const Case cases[] = {
      {{false, false, false, false}, {u"A", u"B", u"C", u"D"}},
      {{true, false, false, false}, {u"B", u"C", u"D"}},
      {{false, true, true, false}, {u"A", u"D"}},
      {{false, false, false, true}, {u"A", u"B", u"C"}},
      {{true, false, true, false}, {u"B", u"D"}},
      {{true, true, true, true}, {}},
  };
  for (const Case& c : cases) {
    LineList list = ListOfText(u"A\nB\nC\nD\n");
    list.DeleteMarked(c.marked);
    EXPECT_EQ(LinesOf(list), c.lines);
    list.DeleteMarked(std::vector<bool>(list.Count(), false));
    EXPECT_EQ(LinesOf(list), c.lines) << "nothing marked changes nothing";
  }
}

TEST(LineListTest, FromFileAndSave) {
  struct Case {
    const char* name;
    std::string file;
    FileEncoding encoding;
    Lines lines;
    std::string saved;
  };
  const Case cases[] = {
      {"empty file", "", FileEncoding::kAnsi, {}, ""},
      {"only the UTF-8 mark", "\xEF\xBB\xBF", FileEncoding::kUtf8, {}, "\xEF\xBB\xBF"},
      {"only the UTF-16 LE mark", "\xFF\xFE", FileEncoding::kUtf16Le, {}, "\xFF\xFE"},
      {"only the UTF-16 BE mark", "\xFE\xFF", FileEncoding::kUtf16Be, {}, "\xFE\xFF"},
      {"ANSI, no ending", "A\r\nB", FileEncoding::kAnsi, {u"A", u"B"}, "A\r\nB\r\n"},
      {"ANSI, mixed endings",
       "A\nB\rC",
       FileEncoding::kAnsi,
       {u"A", u"B", u"C"},
       "A\r\nB\r\nC\r\n"},
      {"only CR LF", "\r\n", FileEncoding::kAnsi, {u""}, "\r\n"},
      {"ANSI keeps every byte",
       "\x80\x81\x8D\x8F\x90\x9D\xFF",
       FileEncoding::kAnsi,
       {u"\u20AC\u0081\u008D\u008F\u0090\u009D\u00FF"},
       "\x80\x81\x8D\x8F\x90\x9D\xFF\r\n"},
      {"UTF-8 without mark is ANSI",
       "L\xC3\xA4nge",
       FileEncoding::kAnsi,
       {u"L\u00C3\u00A4nge"},
       "L\xC3\xA4nge\r\n"},
      {"UTF-8 with mark",
       "\xEF\xBB\xBFL\xC3\xA4nge\n",
       FileEncoding::kUtf8,
       {u"L\u00E4nge"},
       "\xEF\xBB\xBFL\xC3\xA4nge\r\n"},
      {"the mark is not part of the first line",
       "\xEF\xBB\xBF\xEF\xBB\xBF",
       FileEncoding::kUtf8,
       {u"\uFEFF"},
       "\xEF\xBB\xBF\xEF\xBB\xBF\r\n"},
      {"UTF-16 LE, three bytes after the mark",
       "\xFF\xFE"
       "A\0B"s,
       FileEncoding::kUtf16Le,
       {u"A"},
       "\xFF\xFE"
       "A\0\r\0\n\0"s},
      {"UTF-32 LE mark counts as UTF-16 LE",
       "\xFF\xFE\0\0"s,
       FileEncoding::kUtf16Le,
       {u"\0"s},
       "\xFF\xFE\0\0\r\0\n\0"s},
      {"UTF-16 BE",
       "\xFE\xFF\0A\0\n\xD8\x34"s,
       FileEncoding::kUtf16Be,
       {u"A", u"\xD834"},
       "\xFE\xFF\0A\0\r\0\n\xD8\x34\0\r\0\n"s},
  };
  for (const Case& c : cases) {
    std::optional<LineList> list = LinesOfFile(c.file);
    ASSERT_TRUE(list) << c.name;
    EXPECT_EQ(list->encoding(), c.encoding) << c.name;
    EXPECT_EQ(LinesOf(*list), c.lines) << c.name;
    EXPECT_EQ(SavedBytes(*list), c.saved) << c.name;
  }
}

}  // namespace
