#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>

#include "base/own_path.h"
#include "base/wide_win32.h"
#include "run/existence.h"
#include "testing/path_recorder_win32.h"
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

TEST(ExistenceWin32Test, PathsGoToTheSystemInTheirLongForm) {
  TempFolder folder;
  folder.Write("part.nc", "G01 A1\n");
  Text base = folder.PathOf("");
  struct Case {
    Text path;
    bool passes;
  };
  const Case cases[] = {
      {base + u"part.nc", true},
      {base + u"missing.nc", false},
      {base + u"missing\\part.nc", false},
      {u"part.nc", false},  // relative, to the working folder
      {base, false},
  };
  for (const Case& c : cases) {
    std::vector<std::wstring> paths;
    {
      PathRecorder recorder;
      EXPECT_EQ(PassesExistenceTest(c.path), c.passes) << fs::path(c.path).string();
      paths = PathRecorder::Paths();
    }
    EXPECT_FALSE(paths.empty());
    for (const std::wstring& path : paths) {
      EXPECT_TRUE(path.starts_with(L"\\\\?\\")) << fs::path(path).string();
    }
  }
}

}  // namespace
