#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "base/failure.h"
#include "files/read.h"
#include "testing/failure_of.h"
#include "testing/test_support.h"

namespace fs = std::filesystem;

namespace {

using namespace std::string_literals;

TEST(ReadPosixTest, ReadWholeFile) {
  TempFolder folder;
  const std::string cases[] = {"", "G01 A1\r\n", "\0\xFF\r"s, std::string(300000, 'x')};
  for (const std::string& bytes : cases) {
    folder.Write("part.nc", bytes);
    EXPECT_EQ(ReadWholeFile(folder.PathOf("part.nc")), bytes);
  }
}

TEST(ReadPosixTest, ReadFailures) {
  TempFolder folder;
  fs::create_directory(folder.At("ordner"));
  ASSERT_EQ(mkfifo(folder.At("fifo").c_str(), 0644), 0);
  struct Case {
    std::string name;
    std::string kind;
    std::u16string reason;
  };
  const Case cases[] = {
      {"fehlt.nc", "EFOpenError", u"No such file or directory"},
      {"fehlt/part.nc", "EFOpenError", u"No such file or directory"},
      {"ordner", "EFOpenError", u"Is a directory"},
      // A FIFO without a writer would block a plain open and read for ever.
      {"fifo", "EFOpenError", u"Keine regul\u00E4re Datei"},
  };
  for (const Case& c : cases) {
    Text path = folder.PathOf(c.name);
    Failure failure = FailureOf([&] { ReadWholeFile(path); });
    EXPECT_EQ(failure.kind, c.kind) << c.name;
    EXPECT_EQ(failure.message, u"Datei " + path + u" kann nicht ge\u00F6ffnet werden. " + c.reason);
  }
}

}  // namespace
