// The program file of a run loads and saves exactly as the UTF-16 line list does, whichever way
// it holds the program, and fails where and as the line list fails.
#include "program/program_file.h"

#include <gtest/gtest.h>

#include <vector>

#include "base/failure.h"
#include "files/absolute_path.h"
#include "testing/failure_of.h"
#include "testing/program_forms.h"
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
    std::optional<LineList> list = LinesOfFile(file);
    ASSERT_TRUE(list);
    ProgramFile program;
    program.Load(in);
    program.Save(TextFromNative(folder.At("program.nc")));
    EXPECT_EQ(folder.Read("program.nc"), SavedBytes(*list)) << testing::PrintToString(file);
    EXPECT_EQ(SavedBytes(program), SavedBytes(*list)) << testing::PrintToString(file);
  }
}

TEST(ProgramFileTest, LoadFailsAsTheLineListAndKeepsTheProgram) {
  for (const std::string& file : kUndecodableFiles) {
    TempFolder folder;
    Text path = TextFromNative(folder.Write("in.nc", file));
    EXPECT_FALSE(LinesOfFile(file)) << testing::PrintToString(file);
    ProgramFile program;
    ASSERT_TRUE(program.Decode("\xFF\xFEk\0e\0p\0t\0"s));
    Failure failure = FailureOf([&] { program.Load(path); });
    EXPECT_EQ(failure.kind, "EEncodingError") << testing::PrintToString(file);
    EXPECT_EQ(failure.message,
              u"Keine Zuordnung f\u00FCr Unicode-Zeichen in der Multibyte-Zielcodeseite vorhanden");
    EXPECT_EQ(SavedBytes(program), "\xFF\xFEk\0e\0p\0t\0\r\0\n\0"s) << "the program is as it was";
    EXPECT_EQ(folder.Read("in.nc"), file);
  }
}

TEST(ProgramFileTest, LoadOfAMissingFileRaisesTheOpenFailure) {
  TempFolder folder;
  Text path = TextFromNative(folder.At("fehlt.nc"));
  Failure failure = FailureOf([&] { ProgramFile().Load(path); });
  EXPECT_EQ(failure.kind, "EFOpenError");
  Text prefix = u"Datei " + AbsolutePath(path) + u" kann nicht ge\u00F6ffnet werden. ";
  EXPECT_TRUE(failure.message.starts_with(prefix)) << NativeFromText(failure.message);
  EXPECT_GT(failure.message.size(), prefix.size()) << "the system's text follows";
  EXPECT_NE(failure.location, 0u);
}

}  // namespace
