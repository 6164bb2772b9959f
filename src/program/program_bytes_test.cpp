// A program held as its bytes must come out exactly as the UTF-16 line list makes it: the same
// lines, the same decode failures, the same saved bytes.
#include "program/program_bytes.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "encoding/code_page.h"
#include "program/line_list.h"
#include "program/prune_detail.h"
#include "save/save.h"
#include "testing/program_forms.h"
#include "testing/random_program.h"
#include "testing/test_support.h"

namespace {

using namespace std::string_literals;
using Lines = std::vector<Text>;
using Walk = prune_detail::LineWalk<ProgramBytes>;

constexpr FileEncoding kEncodings[] = {FileEncoding::kAnsi, FileEncoding::kUtf8,
                                       FileEncoding::kUtf16Le, FileEncoding::kUtf16Be};

/// The lines of `program`, each decoded by itself, and whether each holds "G01 A".
Lines LinesOf(ProgramBytes& program, std::vector<bool>* has_needle = nullptr) {
  Lines lines;
  Walk::DeletePreviousWhere(program, u"G01 A", [&](std::string_view line, bool needle) {
    Text text;
    DecodeText(program.encoding(), line, &text);
    lines.push_back(text);
    if (has_needle) has_needle->push_back(needle);
    return false;
  });
  return lines;
}

TEST(ProgramBytesTest, KeepsEveryByteOfWhatDecodesAndEncodesBackUnchanged) {
  EXPECT_TRUE(KeepsEveryByte(FileEncoding::kUtf8));
  EXPECT_TRUE(KeepsEveryByte(FileEncoding::kUtf16Le));
  EXPECT_TRUE(KeepsEveryByte(FileEncoding::kUtf16Be));
  EXPECT_EQ(KeepsEveryByte(FileEncoding::kAnsi), AnsiKeepsEveryByte());
}

TEST(ProgramBytesTest, EdgesComeOutAsTheLineListMakesThem) {
  const std::string cases[] = {
      "",
      "\xEF\xBB\xBF",
      "\xFF\xFE",
      "\xFE\xFF",
      "A\r\nB",
      "A\nB\rC",
      "A\r\r\nB\n\rC\r\n\n",
      "\r\n",
      "\r",
      "\n\n\n",
      "A\0B\r\n\0"s,
      "\x80\x81\x8D\x8F\x90\x9D\xFF\r\x0D\x0A\xC3\xA4",
      "\xEF\xBB\xBF\xEF\xBB\xBF",
      "\xEF\xBB\xBFL\xC3\xA4nge\nG01 A\xF0\x9D\x84\x9E\r",
      "\xFF\xFE"
      "A\0B"s,
      "\xFF\xFE\0\0"s,
      "\xFF\xFE\r\0\n\0\n\0\r\0\0\xD8\n\x0D"s,
      "\xFE\xFF\0A\0\n\xD8\x34\0\r\x0D\x0A"s,
      "\xFE\xFF\0\r\0\r\0\n\0"s,
  };
  for (const std::string& file : cases) {
    std::optional<LineList> list = LinesOfFile(file);
    std::optional<ProgramBytes> program = BytesOfFile(file);
    ASSERT_TRUE(list);
    ASSERT_TRUE(program);
    EXPECT_EQ(program->encoding(), list->encoding());
    EXPECT_EQ(LinesOf(*program), LinesOf(*list)) << testing::PrintToString(file);
    EXPECT_EQ(SavedBytes(*program), SavedBytes(*list)) << testing::PrintToString(file);
  }
}

TEST(ProgramBytesTest, DecodeFailsWhereTheLineListFails) {
  for (const std::string& file : kUndecodableFiles) {
    EXPECT_FALSE(LinesOfFile(file));
    EXPECT_FALSE(BytesOfFile(file)) << testing::PrintToString(file);
  }
}

TEST(ProgramBytesTest, RandomFilesComeOutAsTheLineListMakesThem) {
  std::mt19937 random(31);
  for (FileEncoding encoding : kEncodings) {
    for (int round = 0; round < 1500; ++round) {
      std::string file = RandomProgramFile(random, encoding);
      std::optional<LineList> list = LinesOfFile(file);
      std::optional<ProgramBytes> program = BytesOfFile(file);
      ASSERT_EQ(program.has_value(), list.has_value()) << testing::PrintToString(file);
      if (!list) continue;
      std::vector<bool> has_needle;
      Lines lines = LinesOf(*list);
      ASSERT_EQ(LinesOf(*program, &has_needle), lines) << testing::PrintToString(file);
      for (size_t i = 0; i < lines.size(); ++i) {
        ASSERT_EQ(has_needle[i], lines[i].find(u"G01 A") != Text::npos) << i;
      }
      ASSERT_EQ(SavedBytes(*program), SavedBytes(*list)) << testing::PrintToString(file);
    }
  }
}

TEST(ProgramBytesTest, DeletedLinesLeaveTheSaveWithTheirEndings) {
  std::mt19937 random(37);
  for (FileEncoding encoding : kEncodings) {
    for (int round = 0; round < 500; ++round) {
      std::string file = RandomProgramFile(random, encoding);
      std::optional<LineList> list = LinesOfFile(file);
      std::optional<ProgramBytes> program = BytesOfFile(file);
      if (!list) continue;
      ASSERT_TRUE(program);
      // Deletes lines at random, runs of them too; the line list deletes the same.
      std::vector<bool> marked(list->Count());
      size_t index = 0;
      Walk::DeletePreviousWhere(*program, u"G01 A", [&](std::string_view, bool) {
        bool deletes = index > 0 && random() % 3 == 0;
        if (deletes) marked[index - 1] = true;
        ++index;
        return deletes;
      });
      list->DeleteMarked(marked);
      ASSERT_EQ(SavedBytes(*program), SavedBytes(*list)) << testing::PrintToString(file);
    }
  }
}

TEST(ProgramBytesTest, LargeProgramsSaveAsTheLineList) {
  // Enough lines, deleted here and there and with every kind of ending, that the save hands
  // over many batches of slices, long and short ones.
  std::mt19937 random(7);
  for (FileEncoding encoding : kEncodings) {
    std::string file(ByteOrderMark(encoding));
    Text text;
    for (int i = 0; i < 30000; ++i) {
      text += i % 1000 == 0 ? Text(6000, u'x') : u"G01 A" + Text(random() % 20, u'9');
      const TextView endings[] = {u"\r\n", u"\r\n", u"\n", u"\r"};
      text += endings[i % 500 < 250 ? 0 : random() % 4];
    }
    EncodeText(encoding, text, &file);
    std::optional<LineList> list = LinesOfFile(file);
    ASSERT_TRUE(list);
    std::vector<bool> marked(list->Count());
    // A line is deleted when the next one is seen, so the last line stays.
    for (size_t i = 0; i + 1 < marked.size(); ++i) marked[i] = random() % 3 == 0;
    list->DeleteMarked(marked);
    std::optional<ProgramBytes> program = BytesOfFile(file);
    ASSERT_TRUE(program);
    size_t index = 0;
    Walk::DeletePreviousWhere(*program, u"G01 A", [&](std::string_view, bool) {
      size_t line = index++;
      return line > 0 && marked[line - 1];
    });
    TempFolder folder;
    ReplaceWholeFile(folder.PathOf("program.nc"), ProgramBytes::SavedContent(*program));
    EXPECT_EQ(folder.Read("program.nc"), SavedBytes(*list)) << static_cast<int>(encoding);
  }
}

TEST(ProgramBytesTest, SavedContentIsExactAndComesInBatches) {
  // Long lines go from where they lie, short ones and the CR LF after a line that ended in a
  // lone LF are gathered; some lines are deleted.
  std::string file;
  for (int i = 0; i < 3000; ++i) {
    file += i % 2 ? std::string(5000 + i, 'x') : "G01 A" + std::to_string(i);
    file += i % 3 ? "\n" : "\r\n";
  }
  ProgramBytes program = *BytesOfFile(file);
  size_t index = 0;
  const char* held = nullptr;  // where the program's bytes lie
  Walk::DeletePreviousWhere(program, u"G01 A", [&](std::string_view line, bool) {
    if (!held) held = line.data();
    return ++index % 5 == 0;
  });
  LineList list = *LinesOfFile(file);
  std::vector<bool> marked(list.Count());
  for (size_t i = 4; i < marked.size(); i += 5) marked[i - 1] = true;
  list.DeleteMarked(marked);
  const std::string expected = SavedBytes(list);

  ProgramBytes::SavedContent content(program);
  std::string written;
  size_t batches = 0, in_place = 0;
  EXPECT_TRUE(content.WriteTo([&](FileContent::Slices slices) {
    EXPECT_LE(slices.size(), 1024u);
    for (std::string_view slice : slices) {
      written += slice;
      in_place += slice.data() >= held && slice.data() < held + file.size();
    }
    ++batches;
    return true;
  }));
  EXPECT_EQ(written, expected);
  EXPECT_EQ(content.Size(), expected.size());
  EXPECT_GT(batches, 1u);
  EXPECT_GT(in_place, 1000u) << "long lines are written from where they lie";

  size_t calls = 0;
  EXPECT_FALSE(content.WriteTo([&](FileContent::Slices) { return ++calls, false; }));
  EXPECT_EQ(calls, 1u) << "a failed write ends the save";
}

TEST(ProgramBytesTest, FirstLineUnitsAndMarkers) {
  struct Case {
    std::string file;
    std::string first_line;
    std::string encoded;  // "G0" as the program holds it
  };
  const Case cases[] = {
      {"", "", "G0"},
      {"\r\nB", "", "G0"},
      {" %DSPNC3\t\nB", " %DSPNC3\t", "G0"},
      {"\xEF\xBB\xBF\xC3\xA4\r", "\xC3\xA4", "G0"},
      {"\xFF\xFEG\0\r\0"s, "G\0"s, "G\0000\0"s},
      {"\xFE\xFF\0G\0\n"s, "\0G"s, "\0G\0000"s},
  };
  for (const Case& c : cases) {
    std::optional<ProgramBytes> program = BytesOfFile(c.file);
    ASSERT_TRUE(program);
    EXPECT_EQ(Walk::FirstLine(*program), c.first_line) << testing::PrintToString(c.file);
    EXPECT_EQ(Walk::Encoded(*program, u"G0"), c.encoded) << testing::PrintToString(c.file);
  }
  for (const std::string file : {"\xFE\xFF\x20\xAC", "\xFF\xFE\xAC\x20", "\x80"}) {
    std::optional<ProgramBytes> program = BytesOfFile(file);
    ASSERT_TRUE(program);
    EXPECT_EQ(Walk::UnitAt(*program, Walk::FirstLine(*program), 0),
              file == "\x80" ? 0x80 : u'\u20AC');
  }
}

}  // namespace
