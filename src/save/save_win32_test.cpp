#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <sstream>
#include <thread>

#include "base/failure.h"
#include "base/messages.h"
#include "base/wide_win32.h"
#include "files/file_failures.h"
#include "files/read.h"
#include "save/save.h"
#include "testing/failure_of.h"
#include "testing/path_recorder_win32.h"
#include "testing/system_text_win32.h"
#include "testing/test_support.h"

namespace fs = std::filesystem;

namespace {

/// Writes `bytes` to `name` in `folder` and gives its path as the system's operations take it.
Text Put(const TempFolder& folder, const std::string& name, const std::string& bytes) {
  folder.Write(name, bytes);
  return folder.PathOf(name);
}

/// The bytes of `name` in `folder`, or nothing when it is no file.
std::optional<std::string> FileIn(const TempFolder& folder, const std::string& name) {
  if (!fs::is_regular_file(folder.PathOf(name))) return std::nullopt;
  return folder.Read(name);
}

/// Holds `path` open for writing, sharing reading and writing, while it lives.
class HeldOpen {
 public:
  explicit HeldOpen(const Text& path)
      : handle_(CreateFileW(Wide(path), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)) {
    EXPECT_NE(handle_, INVALID_HANDLE_VALUE);
  }
  ~HeldOpen() { Release(); }
  void Release() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }

 private:
  HANDLE handle_;
};

TEST(SaveWin32Test, ReplaceMakesTheContentTheWholeFile) {
  struct Case {
    const char* name;
    std::optional<std::string> before;
    std::string content;
  };
  const Case cases[] = {
      {"new file", std::nullopt, "A\r\nB\r\n"},
      {"longer file before", "a much longer content than after\r\n", "A\r\n"},
      {"shorter file before", "x", std::string("A\0B\r\n", 5)},
      {"empty content", "x", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder folder;
    Text path = c.before ? Put(folder, "part.nc", *c.before) : folder.PathOf("part.nc");
    ReplaceWholeFile(path, c.content);
    EXPECT_EQ(FileIn(folder, "part.nc"), c.content);
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"part.nc"});
  }
}

TEST(SaveWin32Test, CreateFailuresComeFirstAndChangeNothing) {
  struct Case {
    const char* name;
    std::string target;  // inside the folder
    DWORD error;         // whose system text the message ends with
    std::function<void(const TempFolder&)> prepare;
  };
  const Case cases[] = {
      {"read-only file", "part.nc", ERROR_ACCESS_DENIED,
       [](const TempFolder& f) {
         SetFileAttributesW(Wide(Put(f, "part.nc", "before")), FILE_ATTRIBUTE_READONLY);
       }},
      {"folder", "part.nc", ERROR_ACCESS_DENIED,
       [](const TempFolder& f) { fs::create_directory(fs::path(f.PathOf("part.nc"))); }},
      {"missing folder", "missing\\part.nc", ERROR_PATH_NOT_FOUND, [](const TempFolder&) {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder folder;
    c.prepare(folder);
    std::vector<std::string> names = folder.Names();
    std::optional<std::string> before = FileIn(folder, c.target);
    Text path = folder.PathOf(c.target);
    Failure failure = FailureOf([&] { ReplaceWholeFile(path, "after"); });
    EXPECT_EQ(failure.kind, "EFCreateError");
    EXPECT_EQ(failure.message,
              u"Datei \"" + path + u"\" kann nicht erstellt werden. " + SystemText(c.error));
    EXPECT_EQ(FileIn(folder, c.target), before);
    EXPECT_EQ(folder.Names(), names);
  }
}

TEST(SaveWin32Test, FileThatAnotherHandleHoldsIsNeitherLoadedNorReplaced) {
  TempFolder folder;
  Text path = Put(folder, "part.nc", "before");
  HeldOpen held(path);
  Failure load = FailureOf([&] { ReadWholeFile(path); });
  EXPECT_EQ(load.kind, "EFOpenError");
  EXPECT_EQ(load.message, u"Datei " + path + u" kann nicht ge\u00F6ffnet werden. " +
                              SystemText(ERROR_SHARING_VIOLATION));
  Failure save = FailureOf([&] { ReplaceWholeFile(path, "after"); });
  EXPECT_EQ(save.kind, "EFCreateError");
  EXPECT_EQ(save.message, u"Datei \"" + path + u"\" kann nicht erstellt werden. " +
                              SystemText(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(FileIn(folder, "part.nc"), "before");
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"part.nc"});
}

TEST(SaveWin32Test, FileHeldForAMomentIsReplacedOnceFree) {
  // A virus scanner or a sync client may hold a file for a moment; the save waits for it.
  TempFolder folder;
  Text path = Put(folder, "part.nc", "before");
  HeldOpen held(path);
  std::thread release([&] {
    Sleep(300);
    held.Release();
  });
  ReplaceWholeFile(path, "after");
  release.join();
  EXPECT_EQ(FileIn(folder, "part.nc"), "after");
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"part.nc"});
}

TEST(SaveWin32Test, ReplaceKeepsTheNameAsSpelledInTheFolder) {
  struct Case {
    std::string existing;
    std::string passed;
  };
  const Case cases[] = {
      {"PART.NC", "part.nc"},
      {"part.TAP", "part.tap"},
      {std::string(200, 'N') + ".nc", std::string(200, 'n') + ".nc"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.existing);
    TempFolder folder;
    Put(folder, c.existing, "before");
    ReplaceWholeFile(folder.PathOf(c.passed), "after");
    EXPECT_EQ(FileIn(folder, c.existing), "after");
    EXPECT_EQ(folder.Names(), std::vector<std::string>{c.existing});
  }
}

TEST(SaveWin32Test, SecondLinkGetsTheNewContentToo) {
  TempFolder folder;
  Text path = Put(folder, "part.nc", "a longer content before");
  ASSERT_TRUE(CreateHardLinkW(Wide(folder.PathOf("other.nc")), Wide(path), nullptr));
  ReplaceWholeFile(path, "after");
  EXPECT_EQ(FileIn(folder, "part.nc"), "after");
  EXPECT_EQ(FileIn(folder, "other.nc"), "after");
  EXPECT_EQ(folder.Names(), (std::vector<std::string>{"other.nc", "part.nc"}));
}

TEST(SaveWin32Test, HiddenAndSystemFilesAreSavedAndKeepTheirAttributes) {
  constexpr DWORD kHiddenSystem = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  struct Case {
    const char* name;  // and the way it is saved
    std::string file;
    bool second_link;
  };
  const Case cases[] = {
      {"program, renamed over", "part.nc", false},
      {"program with a second link, in place", "part.nc", true},
      {".tap, renamed over", "part.tap", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder folder;
    Text path = Put(folder, c.file, "before");
    if (c.second_link) {
      ASSERT_TRUE(CreateHardLinkW(Wide(folder.PathOf("other.nc")), Wide(path), nullptr));
    }
    ASSERT_TRUE(SetFileAttributesW(Wide(path), kHiddenSystem));
    ReplaceWholeFile(path, "after");
    EXPECT_EQ(FileIn(folder, c.file), "after");
    EXPECT_EQ(GetFileAttributesW(Wide(path)) & kHiddenSystem, kHiddenSystem);
  }
}

/// A folder path of `length` characters below `folder`, of nested folders, made.
std::string LongFolder(const TempFolder& folder, size_t length) {
  std::string path;
  while (folder.PathOf(path).size() < length) {
    size_t left = length - folder.PathOf(path).size();
    path += std::string(std::min<size_t>(left > 1 ? left - 1 : 1, 200), 'f') + "\\";
  }
  fs::create_directories(fs::path(folder.PathOf(path)));
  return path;
}

/// Removes the folder at `path` (in the long form) with all it holds: the C runtime's own walk
/// through folders stops at 260 characters.
void RemoveTree(const std::wstring& path) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(path + L"\\" + name);
      } else {
        DeleteFileW((path + L"\\" + name).c_str());
      }
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  RemoveDirectoryW(path.c_str());
}

TEST(SaveWin32Test, EveryPathGoesToTheSystemInItsLongForm) {
  // Where long paths are not enabled for the whole system, only a path with the prefix "\\?\"
  // reaches a file beyond 260 characters. Wine has no such limit, so the paths are looked at.
  TempFolder folder;
  // (Under Wine the host's own limit of 4,096 bytes to a path leaves little room beyond.)
  std::string deep = LongFolder(folder, 3994);
  Text program = Put(folder, deep + "part.nc", "before\r\n");
  ASSERT_GE(program.size(), 4000u);
  struct Case {
    const char* way;
    std::string output;
    std::function<void()> prepare;
  };
  const Case cases[] = {
      {"replace by rename", "part.nc", [] {}},
      {"a new file", "part.tap", [] {}},
      {"write in place, with a backup", "part.nc",
       [&] { CreateHardLinkW(Wide(folder.PathOf(deep + "other.nc")), Wide(program), nullptr); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.way);
    c.prepare();
    Text output = folder.PathOf(deep + c.output);
    std::vector<std::wstring> paths;
    {
      PathRecorder recorder;
      FileStamp stamp;
      ReadWholeFile(program, &stamp);
      ReplaceWholeFile(output, "after\r\n", output == program ? &stamp : nullptr);
      paths = PathRecorder::Paths();
    }
    EXPECT_EQ(FileIn(folder, deep + c.output), "after\r\n");
    EXPECT_GE(paths.size(), 3u);
    for (const std::wstring& path : paths) {
      EXPECT_TRUE(path.starts_with(L"\\\\?\\")) << fs::path(path).string();
    }
  }
  RemoveTree(L"\\\\?\\" + fs::path(folder.PathOf(deep.substr(0, deep.find('\\')))).wstring());
}

TEST(SaveWin32Test, FileChangedSinceTheLoadIsNotOverwritten) {
  struct Case {
    const char* change;
    std::function<void(const TempFolder&)> make;
    std::optional<std::string> left;  // what the file holds after the save
  };
  const Case cases[] = {
      {"written", [](const TempFolder& f) { f.Write("part.nc", "written by another\r\n"); },
       "written by another\r\n"},
      {"replaced",
       [](const TempFolder& f) {
         f.Write("new.nc", "another file\r\n");
         MoveFileExW(Wide(f.PathOf("new.nc")), Wide(f.PathOf("part.nc")),
                     MOVEFILE_REPLACE_EXISTING);
       },
       "another file\r\n"},
      {"removed", [](const TempFolder& f) { DeleteFileW(Wide(f.PathOf("part.nc"))); },
       std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.change);
    TempFolder folder;
    Text path = Put(folder, "part.nc", "loaded\r\n");
    FileStamp stamp;
    ReadWholeFile(path, &stamp);
    Sleep(20);  // so that a write meanwhile shows in the times too
    c.make(folder);
    Failure failure = FailureOf([&] { ReplaceWholeFile(path, "pruned\r\n", &stamp); });
    EXPECT_EQ(failure.kind, "EFCreateError");
    EXPECT_EQ(failure.message, u"Datei \"" + path + u"\" kann nicht erstellt werden. " +
                                   Text(kChangedMeanwhileReason));
    EXPECT_EQ(FileIn(folder, "part.nc"), c.left);
  }
  // Unchanged since the load, it is saved.
  TempFolder folder;
  Text path = Put(folder, "part.nc", "loaded\r\n");
  FileStamp stamp;
  ReadWholeFile(path, &stamp);
  ReplaceWholeFile(path, "pruned\r\n", &stamp);
  EXPECT_EQ(FileIn(folder, "part.nc"), "pruned\r\n");
}

}  // namespace
