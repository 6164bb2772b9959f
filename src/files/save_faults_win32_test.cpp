// Every Windows call that a load and a save make, made to fail in turn with every error a file
// system gives, in every situation that chooses another way of saving. After each run the file is
// whole (the old content or the new) and keeps everything else it had, and nothing is left
// beside it.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>

#include "base/failure.h"
#include "base/wide_win32.h"
#include "files/file_failures.h"
#include "files/native_file.h"
#include "files/system_calls_win32.h"
#include "testing/system_call_faults.h"
#include "testing/system_text_win32.h"
#include "testing/test_support.h"

namespace fs = std::filesystem;

namespace {

// The system's own functions, kept while the replacements below stand in for them.
namespace real {
PRUNE_SYSTEM_CALLS(PRUNE_KEEP_REAL_CALL)
}  // namespace real

using ::ShortTransfer;  // the calls without a short form

/// A short transfer: at most half of what was asked, at least one byte.
template <typename Buffer>
BOOL ShortTransfer(BOOL (*call)(HANDLE, Buffer, DWORD, LPDWORD, LPOVERLAPPED), HANDLE file,
                   Buffer buffer, DWORD size, LPDWORD done, LPOVERLAPPED overlapped) {
  return call(file, buffer, size > 1 ? size / 2 : size, done, overlapped);
}
void ReportError(int error) { SetLastError(error); }
using ::PartlyDone;  // every call is done whole before it fails
constexpr int kEffectError = ERROR_GEN_FAILURE;

// A replacement for each call: the real one, unless the fault plan makes this one fail.
namespace faulty {
PRUNE_SYSTEM_CALLS(PRUNE_FAULTY_CALL)
}  // namespace faulty

/// ReplaceFileW, which on a failure leaves what its documentation says, for the errors that say
/// something was done before it failed: the replaced file gone (no backup name given) or under
/// the backup name.
BOOL FaithfulReplaceFileW(LPCWSTR replaced, LPCWSTR replacement, LPCWSTR backup, DWORD flags,
                          LPVOID exclude, LPVOID reserved) {
  int error = SystemCallFaults::Get().Next("ReplaceFileW");
  if (error == 0 || error == kShortTransfer) {
    return real::ReplaceFileW(replaced, replacement, backup, flags, exclude, reserved);
  }
  if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT && !backup) real::DeleteFileW(replaced);
  if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) {
    // Without a backup name, under a name that the caller does not know.
    std::wstring elsewhere = fs::path(replaced).parent_path().wstring() + L"\\rf1234.tmp";
    real::MoveFileExW(replaced, backup ? backup : elsewhere.c_str(), MOVEFILE_REPLACE_EXISTING);
  }
  SetLastError(error);
  return FALSE;
}

/// CloseHandle, which closes the handle also where it reports a failure, as the system does.
BOOL FaithfulCloseHandle(HANDLE handle) {
  int error = SystemCallFaults::Get().Next("CloseHandle");
  BOOL closed = real::CloseHandle(handle);
  if (error == 0 || error == kShortTransfer) return closed;
  SetLastError(error);
  return FALSE;
}

/// Sleeps not at all, so that waiting for a file costs the test nothing.
void NoSleep(DWORD) { SystemCallFaults::Get().Next("Sleep"); }

/// Puts the replacements in place for as long as it lives; sleeping costs nothing meanwhile.
class Replacements {
 public:
  Replacements() {
    PRUNE_SYSTEM_CALLS(PRUNE_REPLACE_CALL)
    os::ReplaceFileW = FaithfulReplaceFileW;
    os::CloseHandle = FaithfulCloseHandle;
    os::Sleep = NoSleep;
  }
  ~Replacements() {
    SystemCallFaults::Get().Stop();
    PRUNE_SYSTEM_CALLS(PRUNE_RESTORE_CALL)
  }
};

/// A short name for some content, for comparing it.
std::string Digest(const std::string& content) {
  return std::to_string(content.size()) + " bytes #" +
         std::to_string(std::hash<std::string>()(content) % 1000000);
}

/// The attributes that a save must keep (the archive mark it may set).
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                  FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY |
                                  FILE_ATTRIBUTE_REPARSE_POINT;

/// The identity of the file at `path` (volume and index) and its number of links; a link itself,
/// not its target.
std::string Identity(const std::wstring& path, DWORD* links) {
  HANDLE file = CreateFileW(
      path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  BY_HANDLE_FILE_INFORMATION information = {};
  if (file != INVALID_HANDLE_VALUE) {
    GetFileInformationByHandle(file, &information);
    CloseHandle(file);
  }
  *links = information.nNumberOfLinks;
  return std::to_string(information.dwVolumeSerialNumber) + ":" +
         std::to_string(information.nFileIndexHigh) + ":" +
         std::to_string(information.nFileIndexLow);
}

/// One entry of a folder as a save must keep it or may change it.
struct Entry {
  std::string state;     // name as spelled, attributes, links, content or link target
  std::string identity;  // which file it is
};
using Snapshot = std::map<std::string, Entry>;

/// Every entry below `folder`, by its name in small letters.
void TakeSnapshot(const fs::path& folder, const std::string& prefix, Snapshot* entries) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder / L"*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    fs::path path = folder / name;
    std::string spelled = prefix + fs::path(name).string();
    std::string key = spelled;
    std::transform(key.begin(), key.end(), key.begin(), ::tolower);
    DWORD links = 0;
    Entry entry;
    entry.identity = Identity(path.wstring(), &links);
    entry.state = spelled + " attributes " +
                  std::to_string(found.dwFileAttributes & kKeptAttributes) + " links " +
                  std::to_string(links);
    if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      std::error_code ignored;
      entry.state += " link " + fs::read_symlink(path, ignored).string();
    } else if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      TakeSnapshot(path, spelled + "/", entries);
    } else {
      entry.state += " content " + Digest(ReadFile(path));
    }
    (*entries)[key] = entry;
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

Snapshot SnapshotOf(const TempFolder& folder) {
  Snapshot entries;
  TakeSnapshot(fs::path(folder.path()), "", &entries);
  return entries;
}

/// Where `actual` differs from `expected`, entry by entry, and which of the entries named in
/// `same` are no longer the files they were in `start`.
std::string Difference(const Snapshot& expected, const Snapshot& actual, const Snapshot& start,
                       const std::vector<std::string>& same) {
  std::string difference;
  for (const auto& [name, entry] : expected) {
    auto other = actual.find(name);
    if (other == actual.end()) {
      difference += "\n  only before: " + entry.state.substr(0, 120);
    } else if (other->second.state != entry.state) {
      difference +=
          "\n  " + entry.state.substr(0, 120) + "\n  " + other->second.state.substr(0, 120);
    }
  }
  for (const auto& [name, entry] : actual) {
    if (!expected.count(name)) difference += "\n  only after: " + entry.state.substr(0, 120);
  }
  for (const std::string& name : same) {
    auto was = start.find(name), is = actual.find(name);
    if (was != start.end() && is != actual.end() && was->second.identity != is->second.identity) {
      difference += "\n  " + name + " is another file now";
    }
  }
  return difference;
}

/// The names of all entries of `snapshot`.
std::vector<std::string> NamesOf(const Snapshot& snapshot) {
  std::vector<std::string> names;
  for (const auto& [name, entry] : snapshot) names.push_back(name);
  return names;
}

const std::string kOldProgram = [] {
  std::string program;
  for (int i = 0; i < 300; ++i) program += "G01 A" + std::to_string(i) + "\r\n";
  return program;
}();
const std::string kShorterProgram = kOldProgram.substr(0, kOldProgram.size() / 3);
const std::string kLongerProgram = kOldProgram + kOldProgram;

/// A well-known account that owns no test file: the system itself.
PSID SystemAccount() {
  static BYTE sid[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof sid;
  CreateWellKnownSid(WinLocalSystemSid, nullptr, sid, &size);
  return sid;
}

/// The owner of every file as the system's own account, the rest as the system tells.
DWORD OwnedByTheSystem(HANDLE object, SE_OBJECT_TYPE type, SECURITY_INFORMATION which, PSID* owner,
                       PSID* group, PACL* access, PACL* audit, PSECURITY_DESCRIPTOR* descriptor) {
  DWORD error =
      faulty::GetSecurityInfo(object, type, which, owner, group, access, audit, descriptor);
  if (error == ERROR_SUCCESS && owner) *owner = SystemAccount();
  return error;
}

/// CreateFileW in a folder where no new file of the save's own may be made: its temporary files.
HANDLE NoTemporaryFile(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                       DWORD disposition, DWORD flags, HANDLE model) {
  if (std::wstring_view(name).find(L"~prune") != std::wstring_view::npos) {
    SystemCallFaults::Get().Next("CreateFileW");
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  return faulty::CreateFileW(name, access, share, security, disposition, flags, model);
}

/// One way into the save: the files it starts from, the program it reads and the file it writes.
struct Situation {
  std::string name;
  std::function<bool(TempFolder&)> set_up;  // false where the system cannot make it
  std::string program = "part.nc";
  std::string output = "part.nc";
  std::string content = kShorterProgram;
  /// Where the output really lies (a link's target), as seen from the folder, in small letters.
  std::string written = "part.nc";
  /// Whether the written file stays the same file (written in place).
  bool in_place = false;
  /// Puts a further replacement in place, for what the test cannot make for real.
  std::function<void()> replace = [] {};
};

bool Program(TempFolder& folder) {
  folder.Write("part.nc", kOldProgram);
  return true;
}

bool ProgramWithAttributes(TempFolder& folder, DWORD attributes) {
  Program(folder);
  return SetFileAttributesW(Wide(folder.PathOf("part.nc")), attributes);
}

bool LinkedProgram(TempFolder& folder) {
  Program(folder);
  return CreateHardLinkW(Wide(folder.PathOf("other.nc")), Wide(folder.PathOf("part.nc")), nullptr);
}

const Situation kSituations[] = {
    {"rename over the program", Program},
    {"rename over a hidden system program",
     [](TempFolder& folder) {
       return ProgramWithAttributes(folder, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
     }},
    {"in place: a second link, shorter", LinkedProgram, "part.nc", "part.nc", kShorterProgram,
     "part.nc", true},
    {"in place: a second link, longer", LinkedProgram, "part.nc", "part.nc", kLongerProgram,
     "part.nc", true},
    {"in place: owned by another account", Program, "part.nc", "part.nc", kShorterProgram,
     "part.nc", true, [] { os::GetSecurityInfo = OwnedByTheSystem; }},
    {"in place: no temporary file can be made in the folder", Program, "part.nc", "part.nc",
     kShorterProgram, "part.nc", true, [] { os::CreateFileW = NoTemporaryFile; }},
    {"a new .tap where no temporary file can be made", Program, "part.nc", "part.tap",
     kShorterProgram, "part.tap", false, [] { os::CreateFileW = NoTemporaryFile; }},
    {"a new .tap", Program, "part.nc", "part.tap", kShorterProgram, "part.tap"},
    {"over an existing .tap",
     [](TempFolder& folder) {
       Program(folder);
       folder.Write("part.tap", "old tap");
       return true;
     },
     "part.nc", "part.tap", kShorterProgram, "part.tap"},
    {"a program reached through a symbolic link",
     [](TempFolder& folder) {
       folder.Write("real/part.nc", kOldProgram);
       // Some systems (Wine) report success and make no link.
       CreateSymbolicLinkW(Wide(folder.PathOf("part.nc")), Wide(folder.PathOf("real/part.nc")), 0);
       return folder.Exists("part.nc");
     },
     "part.nc", "part.nc", kShorterProgram, "real/part.nc"},
};

/// The outcome of one load and save: the failure it raised (empty kind where none) and the folder.
struct Outcome {
  Failure failure;
  Snapshot folder;
};

Outcome LoadAndSave(const Situation& situation, TempFolder& folder) {
  Outcome outcome;
  try {
    ReadWholeFile(folder.PathOf(situation.program));
    ReplaceWholeFile(folder.PathOf(situation.output), situation.content);
  } catch (const Failure& failure) {
    outcome.failure = failure;
  }
  SystemCallFaults::Get().Stop();
  outcome.folder = SnapshotOf(folder);
  return outcome;
}

std::string Describe(const Fault& fault) {
  std::string error =
      fault.error == kShortTransfer ? "a short transfer" : "error " + std::to_string(fault.error);
  return fault.name + " #" + std::to_string(fault.nth) + " with " + error;
}

/// The state of a new file with `content` in `folder`, as the save makes it.
std::string NewFileState(const TempFolder& folder, const std::string& name,
                         const std::string& content) {
  folder.Write("reference", content);
  Snapshot snapshot = SnapshotOf(folder);
  DeleteFileW(Wide(folder.PathOf("reference")));
  std::string state = snapshot["reference"].state;
  return name + state.substr(std::string("reference").size());
}

/// What a good run must leave: `before` with the new content in the file written (and in its
/// other links).
Snapshot Expected(const Situation& situation, const TempFolder& folder, Snapshot before) {
  Entry& written = before[situation.written];
  if (written.state.empty()) {
    written.state = NewFileState(folder, situation.written, situation.content);
  } else {
    written.state = written.state.substr(0, written.state.find(" content ")) + " content " +
                    Digest(situation.content);
  }
  if (situation.written == "part.nc" && before.count("other.nc")) {
    std::string& other = before["other.nc"].state;
    other = other.substr(0, other.find(" content ")) + " content " + Digest(situation.content);
  }
  return before;
}

/// Whether `failure` is one that the table of failures has, with its text.
void ExpectTableFailure(const Failure& failure, const Fault& fault, const Text& program,
                        const Text& output) {
  std::string kind = failure.kind;
  Text absolute = AbsolutePath(kind == "EFOpenError" ? program : output);
  // Where forming the absolute path is what failed, the message names no path.
  Text path = fault.name == "GetFullPathNameW" && failure.message.find(absolute) == Text::npos
                  ? Text()
                  : absolute;
  Text reason = fault.error == kShortTransfer ? Text() : SystemText(fault.error);
  if (kind == "EFOpenError") {
    EXPECT_TRUE(failure.message.starts_with(u"Datei " + path + u" kann nicht ge\u00F6ffnet"))
        << NativeFromText(failure.message);
  } else if (kind == "EFCreateError") {
    EXPECT_EQ(NativeFromText(failure.message),
              NativeFromText(u"Datei \"" + path + u"\" kann nicht erstellt werden. " + reason));
  } else if (kind == "EWriteError") {
    EXPECT_EQ(NativeFromText(failure.message), "Stream-Schreibfehler");
  } else if (kind == "EReadError") {
    EXPECT_EQ(NativeFromText(failure.message), "Stream-Lesefehler");
  } else {
    ADD_FAILURE() << "a failure of no kind in the table: " << kind;
  }
}

/// Takes out of `folder` the old file that a save left under a name of its own when deleting it
/// was what failed, after the new file had taken its place: the one thing a successful save may
/// leave. Tells whether there was one.
bool LeftBackup(const Snapshot& start, const Situation& situation, Snapshot* folder) {
  if (!start.count(situation.written)) return false;
  std::string old = start.at(situation.written).state;
  old = old.substr(old.find(" content "));
  for (auto entry = folder->begin(); entry != folder->end(); ++entry) {
    if (entry->first.starts_with("~prune") && entry->second.state.ends_with(old)) {
      folder->erase(entry);
      return true;
    }
  }
  return false;
}

const std::vector<int> kErrors = {ERROR_DISK_FULL,
                                  ERROR_ACCESS_DENIED,
                                  ERROR_SHARING_VIOLATION,
                                  ERROR_LOCK_VIOLATION,
                                  ERROR_UNABLE_TO_MOVE_REPLACEMENT,
                                  ERROR_UNABLE_TO_MOVE_REPLACEMENT_2,
                                  ERROR_UNABLE_TO_REMOVE_REPLACED};

TEST(SaveFaultsWin32Test, EveryCallFailsInTurnAndTheFileStaysWhole) {
  int situations = 0, calls = 0, tried = 0, backups_left = 0;
  for (const Situation& situation : kSituations) {
    SCOPED_TRACE(situation.name);
    Snapshot before, after;
    std::vector<std::string> calls_made;
    std::vector<std::string> same;
    {
      TempFolder folder;
      if (!situation.set_up(folder)) {
        std::cout << "[ skipped  ] " << situation.name << ": the system cannot make it here\n";
        continue;
      }
      before = SnapshotOf(folder);
      // A rename makes the written file another; everything else stays the same file.
      same = NamesOf(before);
      if (!situation.in_place) std::erase(same, situation.written);
      Replacements replacements;
      situation.replace();
      SystemCallFaults::Get().Trace();
      Outcome good = LoadAndSave(situation, folder);
      ASSERT_EQ(good.failure.kind, "") << NativeFromText(good.failure.message);
      calls_made = SystemCallFaults::Get().sequence();
      after = good.folder;
      EXPECT_EQ(Difference(Expected(situation, folder, before), after, before, same), "");
    }
    ++situations;
    calls += SystemCallFaults::Get().counts().size();
    for (const Fault& fault :
         FaultsToTry(calls_made, 0, {kErrors, {"ReadFile", "WriteFile"}, {}, {}})) {
      SCOPED_TRACE(Describe(fault));
      TempFolder folder;
      situation.set_up(folder);
      Snapshot start = SnapshotOf(folder);
      Replacements replacements;
      situation.replace();
      SystemCallFaults::Get().Arm({fault});
      Outcome outcome = LoadAndSave(situation, folder);
      ++tried;
      if (outcome.failure.kind.empty()) {
        if (fault.name == "DeleteFileW")
          backups_left += LeftBackup(start, situation, &outcome.folder);
        EXPECT_EQ(Difference(after, outcome.folder, start, same), "");
        continue;
      }
      EXPECT_EQ(Difference(start, outcome.folder, start, NamesOf(start)), "")
          << outcome.failure.kind << " " << NativeFromText(outcome.failure.message);
      ExpectTableFailure(outcome.failure, fault, folder.PathOf(situation.program),
                         folder.PathOf(situation.output));
    }
  }
  std::cout << "[ figures  ] " << situations << " situations, " << calls << " kinds of call, "
            << tried << " faults tried, " << backups_left << " old files left beside the new\n";
}

}  // namespace

namespace {

// A folder where files may be made and changed but not deleted or renamed: an existing file
// cannot be opened to delete it, and every delete, rename and replace by name is denied.
HANDLE NoDeleteCreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                           DWORD disposition, DWORD flags, HANDLE model) {
  if ((access & DELETE) && disposition == OPEN_EXISTING) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  return real::CreateFileW(name, access, share, security, disposition, flags, model);
}
BOOL NoDeleteDeleteFileW(LPCWSTR) {
  SetLastError(ERROR_ACCESS_DENIED);
  return FALSE;
}
BOOL NoDeleteMoveFileExW(LPCWSTR, LPCWSTR, DWORD) {
  SetLastError(ERROR_ACCESS_DENIED);
  return FALSE;
}
BOOL NoDeleteReplaceFileW(LPCWSTR, LPCWSTR, LPCWSTR, DWORD, LPVOID, LPVOID) {
  SetLastError(ERROR_ACCESS_DENIED);
  return FALSE;
}

TEST(SaveFaultsWin32Test, FolderWithoutTheRightToDeleteGetsTheFileWithoutWaitingOrLeftovers) {
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
    Replacements replacements;
    os::CreateFileW = NoDeleteCreateFileW;
    os::DeleteFileW = NoDeleteDeleteFileW;
    os::MoveFileExW = NoDeleteMoveFileExW;
    os::ReplaceFileW = NoDeleteReplaceFileW;
    SystemCallFaults::Get().Trace();
    ReplaceWholeFile(folder.PathOf(c.output), kShorterProgram);
    std::vector<std::string> calls = SystemCallFaults::Get().sequence();
    SystemCallFaults::Get().Stop();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "Sleep"), 0);
    EXPECT_EQ(folder.Read(c.output), kShorterProgram);
    std::vector<std::string> names = {"part.nc"};
    if (!c.exists) names.push_back("part.tap");
    EXPECT_EQ(folder.Names(), names);
  }
}

}  // namespace
