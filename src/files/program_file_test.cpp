// The program file of a run loads and saves exactly as the UTF-16 line list does, whichever way
// it holds the program, and fails where and as the line list fails.
#include "files/program_file.h"

#include <gtest/gtest.h>

#include "files/native_file.h"
#include "files/test_folder.h"
#include "report/failure.h"
#include "report/failure_of.h"

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
    TestFolder folder;
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
    TestFolder folder;
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
  TestFolder folder;
  Text missing = TextFromNative(folder.At("fehlt.nc"));
  Failure expected = FailureOf([&] { LineList().Load(missing); });
  Failure failure = FailureOf([&] { ProgramFile().Load(missing); });
  EXPECT_EQ(failure.kind, "EFOpenError");
  EXPECT_EQ(failure.kind, expected.kind);
  EXPECT_EQ(failure.message, expected.message);
}

}  // namespace
