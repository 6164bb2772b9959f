// The ways of the Windows save, each shown with stand-ins in the seam for what a test cannot make
// for real: a folder without the right to delete, a program that breaks half way, what a new
// file could not be given; and the order in which each way reaches the file system.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which they need.
#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "base/failure.h"
#include "base/messages.h"
#include "base/wide_win32.h"
#include "files/system_calls_win32.h"
#include "save/save.h"
#include "testing/save_contents.h"
#include "testing/save_files_win32.h"
#include "testing/system_call_faults.h"
#include "testing/test_support.h"

namespace {

// The system's own functions, which the stand-ins call for the real thing.
namespace real {
PRUNE_SYSTEM_CALLS(PRUNE_KEEP_REAL_CALL)
}  // namespace real

#define PRUNE_RESTORE_CALL(result, name, parameters, arguments, failed) os::name = real::name;

/// Puts the system's own functions back in the seam when it goes, whatever stood in for them.
class StandIns {
 public:
  StandIns() = default;
  ~StandIns(){PRUNE_SYSTEM_CALLS(PRUNE_RESTORE_CALL)} StandIns(const StandIns&) = delete;
  StandIns& operator=(const StandIns&) = delete;
};

bool Program(TempFolder& folder) {
  folder.Write("part.nc", kOldProgram);
  return true;
}

bool LinkedProgram(TempFolder& folder) {
  Program(folder);
  return CreateHardLinkW(Wide(folder.PathOf("other.nc")), Wide(folder.PathOf("part.nc")), nullptr);
}

/// A program whose access list is its own, protected from its folder's entries.
bool ProgramWithItsOwnAccess(TempFolder& folder) {
  Program(folder);
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
          L"D:P(A;;FA;;;WD)(A;;FR;;;BU)", SDDL_REVISION_1, &descriptor, nullptr)) {
    return false;
  }
  bool made =
      SetFileSecurityW(Wide(folder.PathOf("part.nc")), DACL_SECURITY_INFORMATION, descriptor);
  LocalFree(descriptor);
  return made;
}

/// The identity of the file at `name` in `folder`: its volume and index.
std::string IdentityOf(const TempFolder& folder, const std::string& name) {
  HANDLE file = CreateFileW(Wide(folder.PathOf(name)), FILE_READ_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  BY_HANDLE_FILE_INFORMATION information = {};
  GetFileInformationByHandle(file, &information);
  CloseHandle(file);
  return std::to_string(information.dwVolumeSerialNumber) + ":" +
         std::to_string(information.nFileIndexHigh) + ":" +
         std::to_string(information.nFileIndexLow);
}

// A folder where files may be made and changed but not renamed: an existing file cannot be
// opened to delete it, and every rename, through a handle or by name, is denied. A file that the
// save made itself it may still delete through its handle.
HANDLE NoDeleteCreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                           DWORD disposition, DWORD flags, HANDLE model) {
  if ((access & DELETE) && disposition == OPEN_EXISTING) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  return real::CreateFileW(name, access, share, security, disposition, flags, model);
}
BOOL NoRenameSetFileInformationByHandle(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind,
                                        LPVOID information, DWORD size) {
  if (kind == FileRenameInfo) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  return real::SetFileInformationByHandle(file, kind, information, size);
}
BOOL NoDeleteMoveFileExW(LPCWSTR, LPCWSTR, DWORD) {
  SetLastError(ERROR_ACCESS_DENIED);
  return FALSE;
}
/// How often the save waited for a file.
int sleeps = 0;
void CountedSleep(DWORD) { ++sleeps; }

TEST(SaveWaysWin32Test, FolderWithoutTheRightToDeleteGetsTheFileWithoutWaitingOrLeftovers) {
  struct Case {
    const char* name;
    const char* output;
    bool exists;
  };
  const Case cases[] = {
      {"the program", "part.nc", true},
      {"a new .tap", "part.tap", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder folder;
    Program(folder);
    sleeps = 0;
    {
      StandIns stand_ins;
      os::CreateFileW = NoDeleteCreateFileW;
      os::SetFileInformationByHandle = NoRenameSetFileInformationByHandle;
      os::MoveFileExW = NoDeleteMoveFileExW;
      os::Sleep = CountedSleep;
      ReplaceWholeFile(folder.PathOf(c.output), kShorterProgram);
    }
    EXPECT_EQ(sleeps, 0);
    EXPECT_EQ(folder.Read(c.output), kShorterProgram);
    std::vector<std::string> names = {"part.nc"};
    if (!c.exists) names.push_back("part.tap");
    EXPECT_EQ(folder.Names(), names);
  }
}

// The steps of each way, in the order in which they reach the file system, by the file they
// act on.
std::vector<std::string>& Steps() {
  static std::vector<std::string> steps;
  return steps;
}
HANDLE StepCreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                       DWORD disposition, DWORD flags, HANDLE model) {
  if (disposition != OPEN_EXISTING) {
    std::wstring_view path(name);
    bool own = path.find(L"~prune") != path.npos || path.find(L".prune-backup") != path.npos;
    Steps().push_back(own ? "create own" : "create program");
  }
  return real::CreateFileW(name, access, share, security, disposition, flags, model);
}
BOOL StepWriteFile(HANDLE file, LPCVOID buffer, DWORD size, LPDWORD done, LPOVERLAPPED overlapped) {
  Steps().push_back("write " + Whose(file));
  return real::WriteFile(file, buffer, size, done, overlapped);
}
BOOL StepFlushFileBuffers(HANDLE file) {
  Steps().push_back("flush " + Whose(file));
  return real::FlushFileBuffers(file);
}
BOOL StepSetEndOfFile(HANDLE file) {
  Steps().push_back("cut " + Whose(file));
  return real::SetEndOfFile(file);
}
DWORD StepSetSecurityInfo(HANDLE file, SE_OBJECT_TYPE type, SECURITY_INFORMATION which, PSID owner,
                          PSID group, PACL access, PACL audit) {
  Steps().push_back("security " + Whose(file));
  return real::SetSecurityInfo(file, type, which, owner, group, access, audit);
}
BOOL StepSetFileInformationByHandle(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID information,
                                    DWORD size) {
  std::string step = kind == FileRenameInfo        ? "rename " + Whose(file)
                     : kind == FileDispositionInfo ? "delete " + Whose(file)
                                                   : "attributes " + Whose(file);
  if (kind == FileRenameInfo) {
    const auto* rename = static_cast<const FILE_RENAME_INFO*>(information);
    std::wstring_view to(rename->FileName, rename->FileNameLength / sizeof(wchar_t));
    if (to.find(L".prune-backup") != to.npos) step = "name backup";
  }
  Steps().push_back(step);
  return real::SetFileInformationByHandle(file, kind, information, size);
}

/// Where `step` first and last stands in `steps`; npos for both where it does not.
std::pair<size_t, size_t> FirstAndLast(const std::vector<std::string>& steps,
                                       const std::string& step) {
  auto first = std::find(steps.begin(), steps.end(), step);
  if (first == steps.end()) return {std::string::npos, std::string::npos};
  auto last = std::find(steps.rbegin(), steps.rend(), step);
  return {static_cast<size_t>(first - steps.begin()), static_cast<size_t>(steps.rend() - last - 1)};
}

/// Whether every `first` in `steps` comes before every `then`, and both are there.
bool AllBefore(const std::vector<std::string>& steps, const std::string& first,
               const std::string& then) {
  auto [first_at, last_first] = FirstAndLast(steps, first);
  auto [then_at, last_then] = FirstAndLast(steps, then);
  return first_at != std::string::npos && then_at != std::string::npos && last_first < then_at;
}

TEST(SaveWaysWin32Test, EachWayTakesItsStepsInAnOrderThatACutCannotBreak) {
  struct Case {
    const char* way;
    std::function<bool(TempFolder&)> set_up;
    std::string output;
    std::vector<std::pair<std::string, std::string>> before;  // each first before each then
    std::vector<std::string> never;
  };
  const Case cases[] = {
      // The new file gets its security before its first byte, and is flushed before it takes
      // the program's name; the rename is flushed in turn (the new file has the name then).
      {"replace by rename",
       ProgramWithItsOwnAccess,
       "part.nc",
       {{"security new", "write new"},
        {"write new", "rename new"},
        {"flush new", "rename new"},
        {"rename new", "flush program"}},
       {"write program", "delete new"}},
      // Nothing bears the result's name before the whole result.
      {"a new .tap",
       Program,
       "part.tap",
       {{"write new", "rename new"}, {"flush new", "rename new"}, {"rename new", "flush program"}},
       {"create program", "write program", "delete new"}},
      // The backup is written and flushed under a name of its own before it takes a backup's
      // name, which is flushed in turn; all of it before the program's first byte changes. It
      // goes only once the program's new content is on disk.
      {"write in place",
       LinkedProgram,
       "part.nc",
       {{"write new", "name backup"},
        {"flush new", "name backup"},
        {"name backup", "flush backup"},
        {"flush backup", "write program"},
        {"write program", "flush program"},
        {"cut program", "flush program"},
        {"flush program", "delete backup"}},
       {"rename new", "write backup"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.way);
    TempFolder folder;
    ASSERT_TRUE(c.set_up(folder));
    Steps().clear();
    {
      StandIns stand_ins;
      os::CreateFileW = StepCreateFileW;
      os::WriteFile = StepWriteFile;
      os::FlushFileBuffers = StepFlushFileBuffers;
      os::SetEndOfFile = StepSetEndOfFile;
      os::SetSecurityInfo = StepSetSecurityInfo;
      os::SetFileInformationByHandle = StepSetFileInformationByHandle;
      ReplaceWholeFile(folder.PathOf(c.output), kShorterProgram);
    }
    std::string steps;
    for (const std::string& step : Steps()) steps += step + ", ";
    for (const auto& [first, then] : c.before) {
      if (first == "security new") {
        // Where the new file has the program's access list already, none is given.
        if (FirstAndLast(Steps(), first).first == std::string::npos) continue;
      }
      EXPECT_TRUE(AllBefore(Steps(), first, then)) << first << " before " << then << ": " << steps;
    }
    for (const std::string& step : c.never) {
      EXPECT_EQ(std::count(Steps().begin(), Steps().end(), step), 0) << step << ": " << steps;
    }
    EXPECT_EQ(folder.Read(c.output), kShorterProgram);
  }
}

/// The writes to the program so far, for ProgramBreaksAfterHalf.
int program_writes = 0;

/// WriteFile on a program that cannot take more than half of its first write: every later
/// write to it fails, the writing back of the old content too.
BOOL ProgramBreaksAfterHalf(HANDLE file, LPCVOID buffer, DWORD size, LPDWORD done,
                            LPOVERLAPPED overlapped) {
  if (Whose(file) != "program") return real::WriteFile(file, buffer, size, done, overlapped);
  if (++program_writes == 1) return real::WriteFile(file, buffer, size / 2, done, overlapped);
  SetLastError(ERROR_DISK_FULL);
  return FALSE;
}

/// CreateFileW in a folder where no new file may be made, beside the program: a backup only in
/// the user's own folder.
HANDLE NoBackupBeside(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                      DWORD disposition, DWORD flags, HANDLE model) {
  std::wstring_view path(name);
  if (disposition == CREATE_NEW && path.find(L"state") == path.npos) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  return real::CreateFileW(name, access, share, security, disposition, flags, model);
}

TEST(SaveWaysWin32Test, OldContentThatCannotBeWrittenBackStaysInABackupThatTheFailureNames) {
  struct Case {
    const char* where;
    bool beside;  // else in the user's own folder
  };
  const Case cases[] = {{"beside the program", true}, {"in the user's own folder", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.where);
    TempFolder folder;
    ASSERT_TRUE(LinkedProgram(folder));  // written in place
    // An earlier run's backup is never overwritten: it may be the only whole copy of a program.
    std::string earlier = c.beside ? "part.nc.prune-backup" : "state/prune/part.nc.prune-backup";
    folder.Write(earlier, "earlier\r\n");
    wchar_t own[4096] = L"";
    DWORD own_length = GetEnvironmentVariableW(L"LOCALAPPDATA", own, 4096);
    SetEnvironmentVariableW(L"LOCALAPPDATA", Wide(folder.PathOf("state")));
    program_writes = 0;
    Failure failure;
    {
      StandIns stand_ins;
      os::WriteFile = ProgramBreaksAfterHalf;
      if (!c.beside) os::CreateFileW = NoBackupBeside;
      try {
        ReplaceWholeFile(folder.PathOf("part.nc"), kLongerProgram);
      } catch (const Failure& raised) {
        failure = raised;
      }
    }
    SetEnvironmentVariableW(L"LOCALAPPDATA", own_length > 0 ? own : nullptr);
    std::string backup = earlier + "-2";
    EXPECT_EQ(failure.kind, "EWriteError");
    EXPECT_EQ(failure.message, FillTemplate(kRestoreFailureBackupTemplate,
                                            {folder.PathOf("part.nc"), folder.PathOf(backup)}));
    EXPECT_EQ(folder.Read(backup), kOldProgram);
    EXPECT_EQ(folder.Read(earlier), "earlier\r\n");
  }
}

// What a new file could not be given, shown to the save on the program alone.
BOOL CompressedProgram(HANDLE file, LPBY_HANDLE_FILE_INFORMATION information) {
  BOOL told = real::GetFileInformationByHandle(file, information);
  if (told && Whose(file) == "program") information->dwFileAttributes |= FILE_ATTRIBUTE_COMPRESSED;
  return told;
}
BOOL ProgramWithAStream(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID information,
                        DWORD size) {
  if (kind != FileStreamInfo || Whose(file) != "program") {
    return real::GetFileInformationByHandleEx(file, kind, information, size);
  }
  // Two entries: the content and a stream of its own, as NTFS lists them.
  const std::wstring names[] = {L"::$DATA", L":Zone.Identifier:$DATA"};
  auto* entry = static_cast<BYTE*>(information);
  std::fill(entry, entry + size, 0);
  for (int index = 0; index < 2; ++index) {
    auto* stream = reinterpret_cast<FILE_STREAM_INFO*>(entry);
    stream->StreamNameLength = static_cast<DWORD>(names[index].size() * sizeof(wchar_t));
    std::copy(names[index].begin(), names[index].end(), stream->StreamName);
    DWORD length = (sizeof(FILE_STREAM_INFO) + stream->StreamNameLength + 7) & ~7u;
    stream->NextEntryOffset = index == 0 ? length : 0;
    entry += length;
  }
  return TRUE;
}
DWORD ProgramWithALabel(HANDLE object, SE_OBJECT_TYPE type, SECURITY_INFORMATION which, PSID* owner,
                        PSID* group, PACL* access, PACL* audit, PSECURITY_DESCRIPTOR* descriptor) {
  if (which != LABEL_SECURITY_INFORMATION || Whose(object) != "program") {
    return real::GetSecurityInfo(object, type, which, owner, group, access, audit, descriptor);
  }
  // A label of its own: high integrity, no writing up.
  ConvertStringSecurityDescriptorToSecurityDescriptorW(L"S:(ML;;NW;;;HI)", SDDL_REVISION_1,
                                                       descriptor, nullptr);
  BOOL present = FALSE, defaulted = FALSE;
  GetSecurityDescriptorSacl(*descriptor, &present, audit, &defaulted);
  return ERROR_SUCCESS;
}

TEST(SaveWaysWin32Test, WhatANewFileCouldNotBeGivenKeepsTheProgramWrittenInPlace) {
  struct Case {
    const char* what;
    std::function<void()> replace;
  };
  const Case cases[] = {
      {"compressed", [] { os::GetFileInformationByHandle = CompressedProgram; }},
      {"a named stream", [] { os::GetFileInformationByHandleEx = ProgramWithAStream; }},
      {"an integrity label of its own", [] { os::GetSecurityInfo = ProgramWithALabel; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempFolder folder;
    Program(folder);
    std::string before = IdentityOf(folder, "part.nc");
    {
      StandIns stand_ins;
      c.replace();
      ReplaceWholeFile(folder.PathOf("part.nc"), kShorterProgram);
    }
    EXPECT_EQ(folder.Read("part.nc"), kShorterProgram);
    EXPECT_EQ(IdentityOf(folder, "part.nc"), before) << "not written in place";
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"part.nc"});
  }
}

}  // namespace

// A file system that renames no handle: the new file is moved by its name. Another program
// (a cleaner, a sync client) moves the save's temporary file away right before that and puts a
// file of its own under its name, which the move by name then takes along.
BOOL NoHandleRenameSetFileInformationByHandle(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind,
                                              LPVOID information, DWORD size) {
  if (kind == FileRenameInfo) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
  }
  return real::SetFileInformationByHandle(file, kind, information, size);
}
/// Whether another program acts before the move by name.
bool another_program_acts = false;
BOOL MoveFileExWAfterAnotherProgram(LPCWSTR from, LPCWSTR to, DWORD flags) {
  std::wstring moved = std::wstring(from) + L".moved";
  if (another_program_acts && real::MoveFileExW(from, moved.c_str(), 0)) {
    HANDLE planted = real::CreateFileW(from, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                       FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    real::WriteFile(planted, "PLANTED\r\n", 9, &written, nullptr);
    real::CloseHandle(planted);
  }
  return real::MoveFileExW(from, to, flags);
}

TEST(SaveWaysWin32Test, AMoveByNameIsJudgedByTheFileItMoved) {
  struct Case {
    const char* output;
    bool another_program_acts;
  };
  const Case cases[] = {
      {"part.nc", false}, {"part.tap", false}, {"part.nc", true}, {"part.tap", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.output) + (c.another_program_acts ? ", another program" : ""));
    TempFolder folder;
    Program(folder);
    another_program_acts = c.another_program_acts;
    Failure failure;
    {
      StandIns stand_ins;
      os::SetFileInformationByHandle = NoHandleRenameSetFileInformationByHandle;
      os::MoveFileExW = MoveFileExWAfterAnotherProgram;
      try {
        ReplaceWholeFile(folder.PathOf(c.output), kShorterProgram);
      } catch (const Failure& raised) {
        failure = raised;
      }
    }
    if (c.another_program_acts) {
      // The other program's file under the name is no result of the save's.
      EXPECT_NE(failure.kind, "") << c.output << " holds: " << folder.Read(c.output);
    } else {
      EXPECT_EQ(failure.kind, "") << NativeFromText(failure.message);
      EXPECT_EQ(folder.Read(c.output), kShorterProgram);
    }
  }
}
