#include "program/prune.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "encoding/code_page.h"
#include "program/program_file.h"
#include "testing/program_forms.h"
#include "testing/random_program.h"
#include "testing/reference_prune.h"

namespace {

using Lines = std::vector<Text>;

LineList MakeList(const Lines& lines) {
  Text text;
  for (const Text& line : lines) text += line + u"\n";
  return ListOfText(text);
}

const Text kOn(kDefaultMarkerSet.laser_on);
const Text kOff(kDefaultMarkerSet.laser_off);
const Text kStrobe(kStrobeLine);

struct PruneCase {
  Lines input;
  Lines expected;
};

// The default marker set's cases first, then the dialect's.
const PruneCase kPruneCases[] = {
    {{u"G00 X0", kOn, u"G01 A10", u"G01 A20", u"G01 A30", u"G00 X5", u"G01 A40", kOff, u"G01 A50",
      u"G01 A60"},
     {u"G00 X0", kOn, u"G01 A30", u"G00 X5", u"G01 A40", kOff, u"G01 A50", u"G01 A60"}},
    {{u"G00", kStrobe, u"G01 A1", u"G01 A2", kOff, u"G01 A3", u"G01 A4", kOn, u"G01 A5", u"G01 A6",
      u"M30"},
     {u"G00", kStrobe, u"G01 A2", kOff, u"G01 A4", kOn, u"G01 A6", u"M30"}},
    {{kOn, u"G01 A1", kStrobe, u"G01 A2", u"G01 A3", u"M30"},
     {kOn, u"G01 A1", kStrobe, u"G01 A3", u"M30"}},
    {{kOn, u"G01 A1", u"G01 A2", u"G01 A3"}, {kOn, u"G01 A3"}},
    {{u"G01 A1", u"G01 A2", kOn, u"G01 A3", u"G01 A4", u"M30"},
     {u"G01 A1", u"G01 A2", kOn, u"G01 A4", u"M30"}},
    {{kOn, u"G01 A1", u"G01 A2", kOff}, {kOn, u"G01 A2", kOff}},
    {{kOn, u"G01 A1", kOn, u"G01 A2", u"G01 A3", u"M30"}, {kOn, u"G01 A1", kOn, u"G01 A3", u"M30"}},
    {{kOff, u"G01 A1", u"G01 A2", kOn, u"G01 A3", u"G01 A4", kOff},
     {kOff, u"G01 A1", u"G01 A2", kOn, u"G01 A4", kOff}},
    {{kOn + u" ", u"G01 A1", u"G01 A2", u"M30"}, {kOn + u" ", u"G01 A1", u"G01 A2", u"M30"}},
    {{kOn, u"G01 A1", u"", u"G01 A2", u"M30"}, {kOn, u"G01 A1", u"", u"G01 A2", u"M30"}},
    {{kOn, u"G01 A7", u"G01 X5 A90", u"G01 A8", u"(G01 A) comment", u"N10 G01 A9 F500", u"M30"},
     {kOn, u"G01 A7", u"G01 X5 A90", u"N10 G01 A9 F500", u"M30"}},
    {{kOn, u"G01A2", u"g01 a4", u"G01  A6", u"M30"},
     {kOn, u"G01A2", u"g01 a4", u"G01  A6", u"M30"}},
    {{u"M98 L20", u"G01 A1", u"G01 A2", u"M98 L21"},
     {u"M98 L20", u"G01 A1", u"G01 A2", u"M98 L21"}},
    {{u"G01 A1", u"G01 A2", u"G01 A3"}, {u"G01 A1", u"G01 A2", u"G01 A3"}},
    // The dialect's marker set, selected by the first line %DSPNC3.
    {{u"%DSPNC3", u"M98 L20", u"G01 A1", u"G01 A2", u"M98 L21", u"G01 A3", u"G01 A4"},
     {u"%DSPNC3", u"M98 L20", u"G01 A2", u"M98 L21", u"G01 A3", u"G01 A4"}},
    {{u"%DSPNC3", kOn, u"G01 A1", u"G01 A2", kOff}, {u"%DSPNC3", kOn, u"G01 A1", u"G01 A2", kOff}},
};

TEST(PruneTest, MarkerSetExamples) {
  for (const PruneCase& c : kPruneCases) {
    LineList list = MakeList(c.input);
    Prune(list);
    EXPECT_EQ(LinesOf(list), c.expected) << "case " << &c - kPruneCases;
  }
}

TEST(PruneTest, SelectsMarkerSetByTrimmedFirstLine) {
  const struct {
    Lines lines;
    const MarkerSet* expected;
  } cases[] = {
      {{u" %DSPNC3\t"}, &kDialectMarkerSet},        {{u"\x01%DSPNC3\x1f"}, &kDialectMarkerSet},
      {{u"%DSPNC3 ; comment"}, &kDefaultMarkerSet}, {{u"%dspnc3"}, &kDefaultMarkerSet},
      {{u"\u00a0%DSPNC3"}, &kDefaultMarkerSet},     {{u"\ufeff%DSPNC3"}, &kDefaultMarkerSet},
      {{u"G00", u"%DSPNC3"}, &kDefaultMarkerSet},   {{}, &kDefaultMarkerSet},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(&SelectMarkerSet(MakeList(c.lines)), c.expected) << c.lines.size();
  }
}

TEST(PruneTest, AgreesWithStepByStepDefinitionOnRandomPrograms) {
  const Text vocabulary[] = {kOn,       kOff,        kStrobe,         u"M98 L20", u"M98 L21",
                             u"G01 A1", u"G01 A2.5", u"N5 G01 A7 F9", u"G00 X1",  u"",
                             u"G01A3",  u"%DSPNC3",  kOn + u" ",      u"M30"};
  std::mt19937 random(20261210);
  for (int round = 0; round < 5000; ++round) {
    Lines program;
    if (random() % 3 == 0) program.push_back(u"%DSPNC3");
    size_t length = random() % 40;
    for (size_t i = 0; i < length; ++i) {
      // Move lines are drawn most often, so that long runs occur.
      size_t pick = random() % (std::size(vocabulary) + 6);
      program.push_back(pick < std::size(vocabulary) ? vocabulary[pick] : u"G01 A9");
    }
    LineList list = MakeList(program);
    const MarkerSet& markers = SelectMarkerSet(list);
    Prune(list);
    ASSERT_EQ(LinesOf(list), StepByStepPrune(program, markers)) << "round " << round;
  }
}

constexpr FileEncoding kEncodings[] = {FileEncoding::kAnsi, FileEncoding::kUtf8,
                                       FileEncoding::kUtf16Le, FileEncoding::kUtf16Be};

/// The file of `lines` in `encoding`, with its byte-order mark, each line followed by `ending`.
std::string FileOf(const Lines& lines, FileEncoding encoding, TextView ending = u"\r\n") {
  Text text;
  for (const Text& line : lines) text += line + Text(ending);
  std::string bytes(ByteOrderMark(encoding));
  EncodeText(encoding, text, &bytes);
  return bytes;
}

TEST(PruneTest, ExamplesHoldOnTheBytesInEveryEncoding) {
  for (FileEncoding encoding : kEncodings) {
    if (!KeepsEveryByte(encoding)) continue;
    for (const PruneCase& c : kPruneCases) {
      for (TextView ending : {u"\r\n", u"\n", u"\r"}) {
        std::optional<ProgramBytes> program = BytesOfFile(FileOf(c.input, encoding, ending));
        ASSERT_TRUE(program);
        Prune(*program);
        EXPECT_EQ(SavedBytes(*program), FileOf(c.expected, encoding))
            << "encoding " << static_cast<int>(encoding) << ", " << c.input.size() << " lines";
      }
    }
  }
}

TEST(PruneTest, SelectsMarkerSetOnTheBytesInEveryEncoding) {
  const struct {
    Lines lines;
    const MarkerSet* expected;
  } cases[] = {
      {{u" %DSPNC3\t"}, &kDialectMarkerSet},
      {{u"\x01%DSPNC3\x1f"}, &kDialectMarkerSet},
      {{u"%DSPNC3 ; comment"}, &kDefaultMarkerSet},
      {{u"%dspnc3"}, &kDefaultMarkerSet},
      {{u"\u00a0%DSPNC3"}, &kDefaultMarkerSet},
      {{u"%DSPNC3\u00a0"}, &kDefaultMarkerSet},
      {{u"\ufeff%DSPNC3"}, &kDefaultMarkerSet},
      {{u"G00", u"%DSPNC3"}, &kDefaultMarkerSet},
      {{u"\u2000%DSPNC3"}, &kDefaultMarkerSet},
      {{}, &kDefaultMarkerSet},
      {{u" \t "}, &kDefaultMarkerSet},
  };
  for (FileEncoding encoding : kEncodings) {
    if (!KeepsEveryByte(encoding)) continue;
    for (const auto& c : cases) {
      std::string file = FileOf(c.lines, encoding);
      std::optional<ProgramBytes> program = BytesOfFile(file);
      std::optional<LineList> list = LinesOfFile(file);
      ASSERT_TRUE(program);
      ASSERT_TRUE(list);
      EXPECT_EQ(&SelectMarkerSet(*program), &SelectMarkerSet(*list))
          << "encoding " << static_cast<int>(encoding) << ", " << testing::PrintToString(c.lines);
      // The ANSI code page may have no character for a line's non-ASCII one (Windows writes
      // U+2000 as a space, for one).
      if (encoding != FileEncoding::kAnsi) {
        EXPECT_EQ(&SelectMarkerSet(*program), c.expected)
            << "encoding " << static_cast<int>(encoding) << ", " << testing::PrintToString(c.lines);
      }
    }
  }
}

TEST(PruneTest, BytesAndLineListSaveTheSameOnRandomPrograms) {
  std::mt19937 random(20261211);
  for (FileEncoding encoding : kEncodings) {
    for (int round = 0; round < 3000; ++round) {
      std::string file = RandomProgramFile(random, encoding);
      ProgramFile program;
      std::optional<LineList> list = LinesOfFile(file);
      ASSERT_EQ(program.Decode(file), list.has_value()) << testing::PrintToString(file);
      if (!list) continue;
      program.Prune();
      Prune(*list);
      ASSERT_EQ(SavedBytes(program), SavedBytes(*list)) << testing::PrintToString(file);
    }
  }
}

}  // namespace
