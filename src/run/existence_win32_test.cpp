#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>

#include "base/wide_win32.h"
#include "base/own_path.h"
#include "run/existence.h"
#include "testing/test_support.h"

namespace fs = std::filesystem;

namespace {

TEST(ExistenceWin32Test, PassesForFilesOnly) {
  TempFolder folder;
  folder.Write("part.nc", "G01 A1\n");
  fs::create_directory(folder.At("jobs.nc"));
  Text base = folder.PathOf("");
  HANDLE exclusive = CreateFileW(Wide(folder.PathOf("held.nc")), GENERIC_READ | GENERIC_WRITE, 0,
                                 nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);

  struct Case {
    Text path;
    bool passes;
  };
  const Case cases[] = {
      {base + u"part.nc", true},
      {base + u"held.nc", true},  // held open without any sharing
      {OwnExecutablePath(), true},
      {u"", false},
      {base + u"missing.nc", false},
      {base + u"missing\\part.nc", false},
      {base + u"part?.nc", false},
      {base + u"jobs.nc", false},
      {base, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PassesExistenceTest(c.path), c.passes) << fs::path(c.path).string();
  }
  CloseHandle(exclusive);
}

TEST(ExistenceWin32Test, OwnPathNamesTheTestProgram) {
  Text path = OwnExecutablePath();
  EXPECT_TRUE(path.ends_with(u"\\prune_tests.exe"));
  EXPECT_EQ(path.find(u'/'), Text::npos);
}

}  // namespace
