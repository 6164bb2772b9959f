// The program file of a run loads and saves exactly as the UTF-16 line list does, whichever way
// it holds the program, and fails where and as the line list fails.
#include "files/program_file.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "base/failure.h"
#include "files/native_file.h"
#include "testing/failure_of.h"
#include "testing/test_support.h"

namespace {

using namespace std::string_literals;

TEST(ProgramFileTest, LoadsAndSavesAsTheLineList) {
  const std::string files[] = {
      "",
      "\xEF\xBB\xBF",
      "\xFE\xFF",
      "A\r\nB",
      "A\nB\rC\r\r\n",
      "\x80\x81\x8D\x8F\x90\x9D\xFF\r\n",
      "L\xC3\xA4nge",
      "\xEF\xBB\xBFL\xC3\xA4nge\n",
      "\xFF\xFE"
      "A\0B"s,
      "\xFE\xFF\0A\0\n\xD8\x34"s,
  };
  for (const std::string& file : files) {
    TempFolder folder;
    Text in = TextFromNative(folder.Write("in.nc", file));
    LineList list;
    list.Load(in);
    list.Save(TextFromNative(folder.At("lines.nc")));
    ProgramFile program;
    program.Load(in);
    program.Save(TextFromNative(folder.At("program.nc")));
    EXPECT_EQ(program.encoding(), list.encoding()) << testing::PrintToString(file);
    EXPECT_EQ(folder.Read("program.nc"), folder.Read("lines.nc")) << testing::PrintToString(file);
    bool held_as_bytes = ProgramBytes::Holds(list.encoding());
    EXPECT_EQ(program.bytes() != nullptr, held_as_bytes) << testing::PrintToString(file);
  }
}

TEST(ProgramFileTest, LargeProgramsSaveAsTheLineList) {
  // Enough lines, deleted here and there and with every kind of ending, that the save hands
  // over many batches of pieces, long and short ones.
  std::mt19937 random(7);
  for (FileEncoding encoding :
       {FileEncoding::kAnsi, FileEncoding::kUtf8, FileEncoding::kUtf16Le, FileEncoding::kUtf16Be}) {
    std::string file(ByteOrderMark(encoding));
    Text text;
    for (int i = 0; i < 30000; ++i) {
      text += i % 1000 == 0 ? Text(6000, u'x') : u"G01 A" + Text(random() % 20, u'9');
      const TextView endings[] = {u"\r\n", u"\r\n", u"\n", u"\r"};
      text += endings[i % 500 < 250 ? 0 : random() % 4];
    }
    EncodeText(encoding, text, &file);
    TempFolder folder;
    Text in = TextFromNative(folder.Write("in.nc", file));
    LineList list;
    list.Load(in);
    std::vector<bool> marked(list.Count());
    // The sweep deletes a line when it sees the next one, so the last line stays.
    for (size_t i = 0; i + 1 < marked.size(); ++i) marked[i] = random() % 3 == 0;
    list.DeleteMarked(marked);
    list.Save(TextFromNative(folder.At("lines.nc")));
    ProgramFile program;
    program.Load(in);
    ASSERT_NE(program.bytes(), nullptr);
    size_t index = 0;
    program.bytes()->Sweep(u"G01 A", [&](const ProgramBytes::Line&) {
      size_t line = index++;
      return line > 0 && marked[line - 1];
    });
    program.Save(TextFromNative(folder.At("program.nc")));
    EXPECT_EQ(folder.Read("program.nc"), folder.Read("lines.nc")) << static_cast<int>(encoding);
  }
}

TEST(ProgramFileTest, LoadFailsAsTheLineListAndKeepsTheProgram) {
  const std::string files[] = {
      "\xFF\xFE"
      "A",
      "\xFE\xFF"
      "A",
      "\xEF\xBB\xBFG01 A1\r\n\xC0\x80\r\n",
      "\xEF\xBB\xBF\xED\xA0\x80",
  };
  for (const std::string& file : files) {
    TempFolder folder;
    Text path = TextFromNative(folder.Write("in.nc", file));
    Failure expected = FailureOf([&] { LineList().Load(path); });
    ProgramFile program;
    ASSERT_TRUE(program.Decode("\xFF\xFEk\0e\0p\0t\0"s));
    Failure failure = FailureOf([&] { program.Load(path); });
    EXPECT_EQ(failure.kind, expected.kind) << testing::PrintToString(file);
    EXPECT_EQ(failure.message, expected.message) << testing::PrintToString(file);
    EXPECT_EQ(program.Encode(), "\xFF\xFEk\0e\0p\0t\0\r\0\n\0"s) << "the program is as it was";
    EXPECT_EQ(folder.Read("in.nc"), file);
  }
  TempFolder folder;
  Text missing = TextFromNative(folder.At("fehlt.nc"));
  Failure expected = FailureOf([&] { LineList().Load(missing); });
  Failure failure = FailureOf([&] { ProgramFile().Load(missing); });
  EXPECT_EQ(failure.kind, "EFOpenError");
  EXPECT_EQ(failure.kind, expected.kind);
  EXPECT_EQ(failure.message, expected.message);
}

}  // namespace
