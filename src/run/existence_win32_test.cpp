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

/// Shows every name that ends in "-link.nc" as a link to a file (Wine shows a link as what it
/// leads to), and makes the reading open of each name that holds "closed" fail as a file that may
/// not be read does, while it lives.
class SeenAsLinks {
 public:
  SeenAsLinks() {
    attributes_ = os::GetFileAttributesW;
    create_ = os::CreateFileW;
    os::GetFileAttributesW = [](LPCWSTR name) {
      DWORD attributes = attributes_(name);
      bool link = std::wstring_view(name).ends_with(L"-link.nc");
      return attributes != INVALID_FILE_ATTRIBUTES && link
                 ? (attributes & ~DWORD{FILE_ATTRIBUTE_DIRECTORY}) | FILE_ATTRIBUTE_REPARSE_POINT
                 : attributes;
    };
    os::CreateFileW = [](LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                         DWORD disposition, DWORD flags, HANDLE model) {
      if ((access & GENERIC_READ) &&
          std::wstring_view(name).find(L"closed") != std::wstring::npos) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
      }
      return create_(name, access, share, security, disposition, flags, model);
    };
  }
  ~SeenAsLinks() {
    os::GetFileAttributesW = attributes_;
    os::CreateFileW = create_;
  }

 private:
  static inline decltype(os::GetFileAttributesW) attributes_;
  static inline decltype(os::CreateFileW) create_;
};

TEST(ExistenceWin32Test, ALinkToAFileThatMayNotBeReadPasses) {
  // Its load then reports the file; only a link to nothing, or to a folder, names nothing.
  TempFolder folder;
  folder.Write("part-link.nc", "G01 A1\n");
  folder.Write("closed-link.nc", "G01 A1\n");
  fs::create_directory(folder.At("closed-folder-link.nc"));
  fs::create_directory(folder.At("folder-link.nc"));
  Text base = folder.PathOf("");
  struct Case {
    Text path;
    bool passes;
  };
  const Case cases[] = {
      {base + u"part-link.nc", true},           {base + u"closed-link.nc", true},
      {base + u"closed-folder-link.nc", false}, {base + u"folder-link.nc", false},
      {base + u"missing-link.nc", false},
  };
  SeenAsLinks links;
  for (const Case& c : cases) {
    EXPECT_EQ(PassesExistenceTest(c.path), c.passes) << fs::path(c.path).string();
  }
}

}  // namespace
