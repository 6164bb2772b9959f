// Every Windows call that a load and a save make, made to fail in turn with every error a file
// system gives, in every situation that chooses another way of saving. After each run the file is
// whole (the old content or the new) and keeps everything else it had, and nothing is left
// beside it.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which they need.
#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <sstream>

#include "base/failure.h"
#include "base/messages.h"
#include "base/wide_win32.h"
#include "files/file_failures.h"
#include "files/native_file.h"
#include "files/system_calls_win32.h"
#include "testing/fault_matrix.h"
#include "testing/power_cut_model.h"
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
/// A write done in part, then failed: at most half of what was asked, at least one byte.
template <typename Buffer>
void PartlyDone(BOOL (*call)(HANDLE, Buffer, DWORD, LPDWORD, LPOVERLAPPED), HANDLE file,
                Buffer buffer, DWORD size, LPDWORD done, LPOVERLAPPED overlapped) {
  ShortTransfer(call, file, buffer, size, done, overlapped);
}
using ::PartlyDone;  // the calls without a partial form are done whole before they fail
void ReportError(int error) { SetLastError(error); }
/// What a call done and then failed reports: the network name is gone, as a share may say
/// after it lost its answer.
constexpr int kEffectError = ERROR_NETNAME_DELETED;

// A replacement for each call: the real one, unless the fault plan makes this one fail.
namespace faulty {
PRUNE_SYSTEM_CALLS(PRUNE_FAULTY_CALL)
}  // namespace faulty

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
    os::CloseHandle = FaithfulCloseHandle;
    os::Sleep = NoSleep;
  }
  ~Replacements() {
    SystemCallFaults::Get().Stop();
    PRUNE_SYSTEM_CALLS(PRUNE_RESTORE_CALL)
  }
};

/// The attributes that a save must keep (the archive mark it may set).
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                  FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY |
                                  FILE_ATTRIBUTE_REPARSE_POINT;

/// What the system tells of the file at `path` through a handle on it (a link itself, not its
/// target): its identity (volume and index), its links, its owner, group and access list, its
/// named streams and its creation time.
struct FileFacts {
  std::string identity;
  std::string state;
  std::string created;
};

/// The owner, group and access list of the open file, in the system's text form.
std::string SecurityOf(HANDLE file) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  constexpr SECURITY_INFORMATION kWhich =
      OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  if (GetSecurityInfo(file, SE_FILE_OBJECT, kWhich, nullptr, nullptr, nullptr, nullptr,
                      &descriptor) != ERROR_SUCCESS) {
    return "?";
  }
  wchar_t* text = nullptr;
  std::string security = "?";
  if (ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1, kWhich,
                                                           &text, nullptr)) {
    security = fs::path(text).string();
    LocalFree(text);
  }
  LocalFree(descriptor);
  return security;
}

/// The names of the open file's streams, or what the system says instead.
std::string StreamsOf(HANDLE file) {
  alignas(FILE_STREAM_INFO) char room[4096];
  if (!GetFileInformationByHandleEx(file, FileStreamInfo, room, sizeof room)) {
    return "error " + std::to_string(GetLastError());
  }
  std::string names;
  for (const char* entry = room;;) {
    const auto* stream = reinterpret_cast<const FILE_STREAM_INFO*>(entry);
    names += fs::path(std::wstring(stream->StreamName, stream->StreamNameLength / 2)).string();
    if (!stream->NextEntryOffset) return names;
    entry += stream->NextEntryOffset;
  }
}

/// Whether the system keeps a creation time that a file is given (Wine keeps none: its files'
/// creation times are the host's status change times).
bool CreationTimesStick() {
  static const bool stick = [] {
    TempFolder folder;
    folder.Write("probe", "");
    HANDLE file =
        CreateFileW(Wide(folder.PathOf("probe")), FILE_WRITE_ATTRIBUTES | FILE_READ_ATTRIBUTES, 0,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    FILETIME given = {0x12345678, 0x01C00000}, kept = {};
    bool set =
        SetFileTime(file, &given, nullptr, nullptr) && GetFileTime(file, &kept, nullptr, nullptr);
    CloseHandle(file);
    return set && kept.dwLowDateTime == given.dwLowDateTime &&
           kept.dwHighDateTime == given.dwHighDateTime;
  }();
  return stick;
}

FileFacts FactsOf(const std::wstring& path, DWORD* links) {
  HANDLE file =
      CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES | READ_CONTROL,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  BY_HANDLE_FILE_INFORMATION information = {};
  FileFacts facts;
  if (file != INVALID_HANDLE_VALUE) {
    GetFileInformationByHandle(file, &information);
    facts.state = " security " + SecurityOf(file) + " streams " + StreamsOf(file);
    CloseHandle(file);
  }
  *links = information.nNumberOfLinks;
  facts.identity = std::to_string(information.dwVolumeSerialNumber) + ":" +
                   std::to_string(information.nFileIndexHigh) + ":" +
                   std::to_string(information.nFileIndexLow);
  if (CreationTimesStick()) {
    facts.created = std::to_string(information.ftCreationTime.dwHighDateTime) + ":" +
                    std::to_string(information.ftCreationTime.dwLowDateTime);
  }
  return facts;
}

/// One entry of a folder as a save must keep it or may change it.
struct Entry {
  std::string state;     // name as spelled, attributes, links, security, streams, content
  std::string identity;  // which file it is
  std::string created;   // its creation time; empty where any will do (a new file)
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
    FileFacts facts = FactsOf(path.wstring(), &links);
    Entry entry;
    entry.identity = facts.identity;
    entry.created = facts.created;
    entry.state = spelled + " attributes " +
                  std::to_string(found.dwFileAttributes & kKeptAttributes) + " links " +
                  std::to_string(links) + facts.state;
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
      difference += "\n  " + entry.state + "\n  " + other->second.state;
    } else if (!entry.created.empty() && other->second.created != entry.created) {
      difference += "\n  " + name + " was created at another time";
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

/// Which file the open file is: "new" (the save's new file), "backup" or "program".
std::string Whose(HANDLE file) {
  wchar_t name[4096];
  DWORD length = real::GetFinalPathNameByHandleW(file, name, 4096, 0);
  std::wstring_view path(name, length < 4096 ? length : 0);
  if (path.find(L"~prune") != path.npos) return "new";
  if (path.find(L".prune-backup") != path.npos) return "backup";
  return "program";
}

/// Whether the open file is one that the save made (its new file or a backup).
bool MadeBySave(HANDLE file) { return Whose(file) != "program"; }

/// The owner of every file but the save's own as the system's own account, the rest as the
/// system tells.
DWORD OwnedByTheSystem(HANDLE object, SE_OBJECT_TYPE type, SECURITY_INFORMATION which, PSID* owner,
                       PSID* group, PACL* access, PACL* audit, PSECURITY_DESCRIPTOR* descriptor) {
  DWORD error =
      faulty::GetSecurityInfo(object, type, which, owner, group, access, audit, descriptor);
  if (error == ERROR_SUCCESS && owner && !MadeBySave(object)) *owner = SystemAccount();
  return error;
}

/// SetSecurityInfo as an ordinary user meets it: the owner cannot be given away.
DWORD NoOwnerButOneself(HANDLE object, SE_OBJECT_TYPE type, SECURITY_INFORMATION which, PSID owner,
                        PSID group, PACL access, PACL audit) {
  if (which & OWNER_SECURITY_INFORMATION) {
    SystemCallFaults::Get().Next("SetSecurityInfo");
    return ERROR_INVALID_OWNER;
  }
  return faulty::SetSecurityInfo(object, type, which, owner, group, access, audit);
}

/// WriteFile on a disk that has room for the program's new content where it stands, but not for
/// a second copy: every write to a file that the save made finds the disk full.
BOOL NoRoomForACopy(HANDLE file, LPCVOID buffer, DWORD size, LPDWORD done,
                    LPOVERLAPPED overlapped) {
  if (size > 0 && MadeBySave(file)) {
    SystemCallFaults::Get().Next("WriteFile");
    SetLastError(ERROR_DISK_FULL);
    return FALSE;
  }
  return faulty::WriteFile(file, buffer, size, done, overlapped);
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

// ---------------------------------------------------------------------------------------------
// What the calls do, recorded for a model of a disk that keeps only what was flushed. A rename
// counts as on disk once a flush follows it (NTFS writes its log then) or it was written through.

/// The model that the recorders feed, while one stands.
PowerCutModel* model = nullptr;

/// A path as the model names it: without the long prefix, in small letters.
std::string ModelName(std::wstring_view path) {
  if (path.starts_with(L"\\\\?\\")) path.remove_prefix(4);
  std::string name = fs::path(std::wstring(path)).string();
  std::transform(name.begin(), name.end(), name.begin(), ::tolower);
  return name;
}

/// Where the open file lies, as the model names it.
std::string ModelNameOf(HANDLE file) {
  std::vector<wchar_t> name(32768);
  DWORD length = real::GetFinalPathNameByHandleW(file, name.data(), 32768, 0);
  return ModelName(std::wstring_view(name.data(), length < 32768 ? length : 0));
}

std::string ModelFolderOf(const std::string& path) { return path.substr(0, path.rfind('\\')); }

/// The model's ids of files, by their volume and number; a file made gets a new one, since the
/// system may give a new file the number of one deleted before.
std::map<std::string, PowerCutModel::FileId> ids;

std::string NumberOf(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION information = {};
  real::GetFileInformationByHandle(file, &information);
  return std::to_string(information.dwVolumeSerialNumber) + ":" +
         std::to_string(information.nFileIndexHigh) + ":" +
         std::to_string(information.nFileIndexLow);
}

PowerCutModel::FileId NewIdOf(HANDLE file) {
  static PowerCutModel::FileId last = 0;
  return ids[NumberOf(file)] = ++last;
}

/// The model's ids of the files that the save made, by its handles on them: the system may
/// number a file anew where it is renamed by its name.
std::map<HANDLE, PowerCutModel::FileId> made;

/// The model's id of the open file.
PowerCutModel::FileId IdOf(HANDLE file) {
  if (auto handle = made.find(file); handle != made.end()) return handle->second;
  auto known = ids.find(NumberOf(file));
  return known != ids.end() ? known->second : NewIdOf(file);
}

// The recorders, each around the call that stood in the seam before it.
namespace recorded {
PRUNE_SYSTEM_CALLS(PRUNE_KEEP_REAL_CALL)
}  // namespace recorded
#define PRUNE_KEEP_CURRENT_CALL(result, name, parameters, arguments, failed) \
  recorded::name = os::name;

// Each keeps the error that the call left: the model's own look at the file must not change it.
HANDLE RecordCreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                         DWORD disposition, DWORD flags, HANDLE model_file) {
  HANDLE file =
      recorded::CreateFileW(name, access, share, security, disposition, flags, model_file);
  DWORD error = GetLastError();
  if (file != INVALID_HANDLE_VALUE && disposition == CREATE_NEW) {
    model->Create(ModelName(name), made[file] = NewIdOf(file));
  }
  SetLastError(error);
  return file;
}
BOOL RecordCloseHandle(HANDLE handle) {
  made.erase(handle);  // the system may give the number to another handle now
  return recorded::CloseHandle(handle);
}
BOOL RecordWriteFile(HANDLE file, LPCVOID buffer, DWORD size, LPDWORD done,
                     LPOVERLAPPED overlapped) {
  DWORD written = 0;
  BOOL wrote = recorded::WriteFile(file, buffer, size, &written, overlapped);
  DWORD error = GetLastError();
  if (done) *done = written;
  // Also what a write wrote before it failed: it may have reached the disk.
  if (written > 0 && overlapped) {
    uint64_t offset = (uint64_t{overlapped->OffsetHigh} << 32) | overlapped->Offset;
    model->Write(IdOf(file), offset, std::string_view(static_cast<const char*>(buffer), written));
  }
  SetLastError(error);
  return wrote;
}
BOOL RecordSetEndOfFile(HANDLE file) {
  LARGE_INTEGER position = {}, size = {};
  SetFilePointerEx(file, {}, &position, FILE_CURRENT);
  BOOL cut = recorded::SetEndOfFile(file);
  DWORD error = GetLastError();
  // Also a cut that took effect before it failed.
  if (GetFileSizeEx(file, &size) && size.QuadPart == position.QuadPart) {
    model->Resize(IdOf(file), static_cast<uint64_t>(position.QuadPart));
  }
  SetLastError(error);
  return cut;
}
BOOL RecordFlushFileBuffers(HANDLE file) {
  BOOL flushed = recorded::FlushFileBuffers(file);
  DWORD error = GetLastError();
  if (flushed) {
    model->FlushFile(IdOf(file));
    model->FlushFolder(ModelFolderOf(ModelNameOf(file)));
  }
  SetLastError(error);
  return flushed;
}
BOOL RecordSetFileInformationByHandle(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind,
                                      LPVOID information, DWORD size) {
  std::string from = ModelNameOf(file);
  BOOL set = recorded::SetFileInformationByHandle(file, kind, information, size);
  DWORD error = GetLastError();
  // A rename is seen where it took place, also where it reported a failure.
  std::string to = kind == FileRenameInfo ? ModelNameOf(file) : from;
  if (to != from) model->Rename(from, to);
  if (kind == FileDispositionInfo && set) model->Remove(from);
  SetLastError(error);
  return set;
}
/// The number of the file at `path`, as NumberOf tells it; empty where there is none.
std::string NumberAt(LPCWSTR path) {
  HANDLE file = real::CreateFileW(path, FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::string();
  std::string number = NumberOf(file);
  real::CloseHandle(file);
  return number;
}

BOOL RecordMoveFileExW(LPCWSTR from, LPCWSTR to, DWORD flags) {
  std::string number = NumberAt(from);
  BOOL moved = recorded::MoveFileExW(from, to, flags);
  DWORD error = GetLastError();
  if (moved || GetFileAttributesW(from) == INVALID_FILE_ATTRIBUTES) {
    model->Rename(ModelName(from), ModelName(to));
    if (moved && (flags & MOVEFILE_WRITE_THROUGH)) model->FlushFolder(ModelFolderOf(ModelName(to)));
    // The file keeps its id where the system gives it another number under its new name.
    if (auto known = ids.find(number); known != ids.end()) ids[NumberAt(to)] = known->second;
  }
  SetLastError(error);
  return moved;
}

/// Records what the calls do into `recording`, starting from the files in `folder`, while it
/// lives; around the calls that stand in the seam when it is made.
class Recorders {
 public:
  Recorders(const TempFolder& folder, PowerCutModel* recording) {
    PRUNE_SYSTEM_CALLS(PRUNE_KEEP_CURRENT_CALL)
    made.clear();
    for (const auto& entry : fs::recursive_directory_iterator(folder.path())) {
      if (!entry.is_regular_file()) continue;
      HANDLE file = CreateFileW(entry.path().c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
      recording->Existing(ModelName(entry.path().wstring()), IdOf(file), ReadFile(entry.path()));
      CloseHandle(file);
    }
    model = recording;
    os::CreateFileW = RecordCreateFileW;
    os::CloseHandle = RecordCloseHandle;
    os::WriteFile = RecordWriteFile;
    os::SetEndOfFile = RecordSetEndOfFile;
    os::FlushFileBuffers = RecordFlushFileBuffers;
    os::SetFileInformationByHandle = RecordSetFileInformationByHandle;
    os::MoveFileExW = RecordMoveFileExW;
  }
  ~Recorders() {
    model = nullptr;
    os::CreateFileW = recorded::CreateFileW;
    os::CloseHandle = recorded::CloseHandle;
    os::WriteFile = recorded::WriteFile;
    os::SetEndOfFile = recorded::SetEndOfFile;
    os::FlushFileBuffers = recorded::FlushFileBuffers;
    os::SetFileInformationByHandle = recorded::SetFileInformationByHandle;
    os::MoveFileExW = recorded::MoveFileExW;
  }
};

/// Where a power cut during the recorded run loses the program: a state in which the file at
/// `written` is neither `old_content` nor `new_content` and the old content lies in no other
/// file; after a success, a disk without the new content under the name. Empty where none.
/// Counts the states looked at into `states`.
/// Whether `name` is one of the save's own files: a new file beside the program, or a backup.
bool SavesOwnFile(const std::string& name) {
  return name.starts_with("~prune") || name.find(".prune-backup") != std::string::npos;
}

/// Whether the recorded `steps` wrote the file `written` (as the model names it) with no backup
/// on disk: every backup made was gone again before the file's first write.
bool WroteWithoutBackup(const std::string& steps, const std::string& written) {
  std::istringstream lines(steps);
  std::string line, program;
  std::set<std::string> backups;
  while (std::getline(lines, line)) {
    if (line.starts_with("existing " + written + " #")) {
      program = line.substr(line.find(" #") + 1, line.find(',') - line.find(" #") - 1);
    }
    size_t create = line.find(" create "), remove = line.find(" remove ");
    if (create != std::string::npos && line.find(".prune-backup") != std::string::npos) {
      backups.insert(line.substr(create + 8, line.rfind(" #") - create - 8));
    }
    if (remove != std::string::npos) backups.erase(line.substr(remove + 8));
    if (!program.empty() && line.find(" write " + program + " ") != std::string::npos) {
      return backups.empty();
    }
  }
  return true;
}

std::string LostByAPowerCut(const PowerCutModel& recording, const std::string& written,
                            const std::string* old_content, const std::string& new_content,
                            bool succeeded, long* states) {
  auto whole = [&](const std::map<std::string, std::string>& files) {
    auto file = files.find(written);
    if (file == files.end()
            ? !old_content
            : file->second == new_content || (old_content && file->second == *old_content)) {
      return true;
    }
    // Else the old content must lie whole in another file: a backup.
    return old_content && std::any_of(files.begin(), files.end(), [&](const auto& other) {
             return other.first != written && other.second == *old_content;
           });
  };
  try {
    std::string lost;
    *states += recording.ForEachState([&](size_t step, const auto& files) {
      if (whole(files)) return true;
      lost = "a power cut after step " + std::to_string(step) + " loses the program";
      return false;
    });
    if (lost.empty() && succeeded) {
      auto flushed = recording.Flushed();
      auto file = flushed.find(written);
      if (file == flushed.end() || file->second != new_content) {
        lost = "a power cut after the reported success loses the new content";
      }
    }
    if (lost.empty()) return lost;
    // Where no file of its own could be made or renamed beside it, a new file is made under its
    // name and written there: a cut may leave it incomplete. That is all it may leave.
    std::string steps = recording.Describe();
    if (!old_content && steps.find(" create " + written + " #") != std::string::npos &&
        lost.find("loses the program") != std::string::npos) {
      return std::string();
    }
    // Where no backup could be made (nor one whose readers are limited to the program's), the
    // file is written in place without one: a cut in the middle may leave a mix.
    if (old_content && WroteWithoutBackup(steps, written) &&
        steps.find(" rename ") == std::string::npos &&
        lost.find("loses the program") != std::string::npos) {
      return std::string();
    }
    return lost + ":\n" + steps;
  } catch (const std::invalid_argument& error) {
    return std::string("the recorded steps do not fit together: ") + error.what();
  }
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
     "part.nc", true,
     [] {
       os::GetSecurityInfo = OwnedByTheSystem;
       os::SetSecurityInfo = NoOwnerButOneself;
     }},
    {"in place: no room for a second copy", Program, "part.nc", "part.nc", kShorterProgram,
     "part.nc", true, [] { os::WriteFile = NoRoomForACopy; }},
    {"rename over a program with an access list of its own", ProgramWithItsOwnAccess},
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
    // As a run does: over the file it loaded, the save checks that it is still the one loaded.
    FileStamp stamp;
    ReadWholeFile(folder.PathOf(situation.program), &stamp);
    bool over_loaded = situation.output == situation.program;
    ReplaceWholeFile(folder.PathOf(situation.output), situation.content,
                     over_loaded ? &stamp : nullptr);
  } catch (const Failure& failure) {
    outcome.failure = failure;
  }
  SystemCallFaults::Get().Stop();
  outcome.folder = SnapshotOf(folder);
  return outcome;
}

std::string Describe(const Fault& fault) {
  std::string error = fault.error == kShortTransfer    ? "a short transfer"
                      : fault.error == kDoneThenFailed ? "done, then error 64"
                                                       : "error " + std::to_string(fault.error);
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

/// Whether `failure` is what the table of failures says for a run that the faults of `plan`
/// ended: the path as formed (none where forming it was failed), the reason of one of the faults.
void ExpectTableFailure(const Failure& failure, const FaultPlan& plan, const Text& program,
                        const Text& output) {
  std::string kind = failure.kind;
  std::string message = NativeFromText(failure.message);
  Text absolute = AbsolutePath(kind == "EFOpenError" ? program : output);
  auto faulted = [&](const char* name) {
    return std::any_of(plan.begin(), plan.end(),
                       [&](const Fault& fault) { return fault.name == name; });
  };
  // Where forming the absolute path is what failed, the message names no path.
  std::vector<Text> paths = {absolute};
  if (faulted("GetFullPathNameW")) paths.push_back(Text());
  std::vector<Text> reasons = {Text(kChangedMeanwhileReason)};
  for (const Fault& fault : plan) {
    reasons.push_back(fault.error == kShortTransfer    ? Text()
                      : fault.error == kDoneThenFailed ? SystemText(kEffectError)
                                                       : SystemText(fault.error));
    // A file that the fault said was not there is found there when it is to be made; a rename
    // that took effect and failed finds its own file there.
    if (fault.error == ERROR_FILE_NOT_FOUND ||
        (fault.name == "MoveFileExW" && fault.error == kDoneThenFailed)) {
      reasons.push_back(SystemText(ERROR_FILE_EXISTS));
      reasons.push_back(SystemText(ERROR_ALREADY_EXISTS));
    }
  }
  bool right = false;
  for (const Text& path : paths) {
    if (kind == "EFOpenError") {
      right |= failure.message.starts_with(u"Datei " + path + u" kann nicht ge\u00F6ffnet");
    } else if (kind == "EFCreateError") {
      for (const Text& reason : reasons) {
        right |=
            failure.message == u"Datei \"" + path + u"\" kann nicht erstellt werden. " + reason;
      }
    } else if (kind == "EWriteError") {
      // The old content not written back either: said so, and where it lies whole, if anywhere.
      // Or the new content in place, its flush not confirmed.
      right |= message == "Stream-Schreibfehler" ||
               failure.message.starts_with(
                   FillTemplate(kRestoreFailureTemplate, {AbsolutePath(output)})) ||
               failure.message == FillTemplate(kNotYetLastingTemplate, {path});
    } else if (kind == "EReadError") {
      right |= message == "Stream-Lesefehler";
    }
  }
  EXPECT_TRUE(right) << "a failure that the table does not have: " << kind << " " << message;
}

// With the errors that steer the save: a name that is not there, a file system that does not
// have what is asked, no room, a share that went away; and calls that take effect and fail.
const FaultKinds kKinds = {
    {ERROR_DISK_FULL, ERROR_HANDLE_DISK_FULL, ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION,
     ERROR_LOCK_VIOLATION, ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_NOT_SUPPORTED,
     ERROR_INVALID_PARAMETER, ERROR_INVALID_NAME, ERROR_NETNAME_DELETED},
    {"ReadFile", "WriteFile"},
    // The calls that change a file, done and then failed.
    {"WriteFile", "SetEndOfFile", "FlushFileBuffers", "SetFileInformationByHandle", "MoveFileExW",
     "SetSecurityInfo", "CreateDirectoryW"},
    {},
    // A second fault with one error of each way the save takes on it (room, a name not there,
    // what the file system lacks, anything else): under Wine each run costs tens of milliseconds.
    {ERROR_DISK_FULL, ERROR_FILE_NOT_FOUND, ERROR_NOT_SUPPORTED, ERROR_ACCESS_DENIED}};

TEST(SaveFaultsWin32Test, EveryCallFailsInTurnAndTheFileStaysWhole) {
  int situations = 0, calls = 0;
  long power_cut_states = 0;
  FaultFigures figures;
  for (const Situation& situation : kSituations) {
    SCOPED_TRACE(situation.name);
    Snapshot before, after;
    std::vector<std::string> calls_made;
    size_t kinds_of_call = 0;
    std::optional<std::string> old_content;  // of the file written
    std::string written;                     // as the model names it
    std::vector<std::string> same;
    {
      TempFolder folder;
      if (!situation.set_up(folder)) {
        std::cout << "[ skipped  ] " << situation.name << ": the system cannot make it here\n";
        continue;
      }
      before = SnapshotOf(folder);
      written = ModelName(fs::path(folder.PathOf(situation.written)).wstring());
      if (folder.Exists(situation.written)) old_content = folder.Read(situation.written);
      // A rename makes the written file another; everything else stays the same file.
      same = NamesOf(before);
      if (!situation.in_place) std::erase(same, situation.written);
      Replacements replacements;
      situation.replace();
      PowerCutModel recording;
      Recorders recorders(folder, &recording);
      SystemCallFaults::Get().Trace();
      Outcome good = LoadAndSave(situation, folder);
      ASSERT_EQ(good.failure.kind, "") << NativeFromText(good.failure.message);
      EXPECT_EQ(LostByAPowerCut(recording, written, old_content ? &*old_content : nullptr,
                                situation.content, true, &power_cut_states),
                "");
      kinds_of_call = SystemCallFaults::Get().counts().size();
      calls_made = SystemCallFaults::Get().sequence();
      after = good.folder;
      EXPECT_EQ(Difference(Expected(situation, folder, before), after, before, same), "");
      // A save by rename puts another file under the name: the way the situation names is taken.
      if (!situation.in_place && before.count(situation.written)) {
        EXPECT_NE(before[situation.written].identity, after[situation.written].identity);
      }
    }
    ++situations;
    calls += kinds_of_call;
    // Every fault plan to depth two, each run checked as a whole.
    WalkFaultPlans(
        calls_made, kKinds,
        [&](const FaultPlan& plan) {
          std::string described;
          for (const Fault& fault : plan)
            described += (described.empty() ? "" : ", then ") + Describe(fault);
          SCOPED_TRACE(described);
          TempFolder folder;
          situation.set_up(folder);
          Snapshot start = SnapshotOf(folder);
          written = ModelName(fs::path(folder.PathOf(situation.written)).wstring());
          Replacements replacements;
          situation.replace();
          PowerCutModel recording;
          Recorders recorders(folder, &recording);
          SystemCallFaults::Get().Arm(plan);
          Outcome outcome = LoadAndSave(situation, folder);
          FaultedRun faulted = {SystemCallFaults::Get().sequence(),
                                SystemCallFaults::Get().fired_at()};
          std::string lost =
              LostByAPowerCut(recording, written, old_content ? &*old_content : nullptr,
                              situation.content, outcome.failure.kind.empty(), &power_cut_states);
          // Wine names a file by the name it was opened with also after a rename by names that
          // took effect: the recording then cannot follow it (Windows names it where it is).
          bool renamed_unseen = std::any_of(plan.begin(), plan.end(), [](const Fault& fault) {
            return fault.name == "MoveFileExW" && fault.error == kDoneThenFailed;
          });
          if (!(renamed_unseen && lost.starts_with("the recorded steps do not fit together"))) {
            EXPECT_EQ(lost, "");
          }
          // The save's own files stay where their removal was what failed, or where the system
          // could not say where the new file lies (it is then never deleted).
          if (std::any_of(plan.begin(), plan.end(), [](const Fault& fault) {
                return (fault.name == "SetFileInformationByHandle" &&
                        fault.error != kDoneThenFailed) ||
                       fault.name == "GetFinalPathNameByHandleW";
              })) {
            std::erase_if(outcome.folder, [&](const auto& entry) {
              return !start.count(entry.first) && SavesOwnFile(entry.first);
            });
          }
          if (outcome.failure.kind.empty()) {
            EXPECT_EQ(Difference(after, outcome.folder, start, same), "");
            return faulted;
          }
          // After the rename took effect, the new content stands whole: nothing can undo it.
          std::string steps = recording.Describe();
          bool renamed = steps.find(" -> " + written + "\n") != std::string::npos;
          bool as_after = Difference(after, outcome.folder, start, same).empty();
          // Where not even the old content could be written back, it lies whole in the backup
          // that the failure names, or the program was written without one.
          std::string message = NativeFromText(outcome.failure.message);
          bool restore_failed = message.find("wiederhergestellt") != std::string::npos;
          const std::string kWhereItLies = "vollständig in ";
          size_t named = message.find(kWhereItLies);
          bool old_in_named_backup =
              named != std::string::npos && old_content &&
              ReadFile(message.substr(named + kWhereItLies.size())) == *old_content;
          if (old_in_named_backup) {
            std::erase_if(outcome.folder, [&](const auto& entry) {
              return !start.count(entry.first) && SavesOwnFile(entry.first);
            });
          }
          bool without_backup = WroteWithoutBackup(steps, written);
          bool mixed_as_said = restore_failed && (old_in_named_backup || without_backup);
          if (!(renamed && as_after) && !mixed_as_said) {
            EXPECT_EQ(Difference(start, outcome.folder, start, NamesOf(start)), "")
                << outcome.failure.kind << " " << message;
          }
          ExpectTableFailure(outcome.failure, plan, folder.PathOf(situation.program),
                             folder.PathOf(situation.output));
          return faulted;
        },
        &figures);
  }
  if (!CreationTimesStick()) {
    std::cout << "[ skipped  ] creation times: the system here keeps none that a file is given\n";
  }
  std::cout << "[ figures  ] " << situations << " situations, " << calls << " kinds of call, "
            << figures.first_faults << " first faults leading to " << figures.paths
            << " further paths, " << figures.second_faults << " second faults on them ("
            << figures.done_then_failed << " of all the faults a call done, then failed), "
            << power_cut_states << " power-cut states\n";
}

}  // namespace

namespace {

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
    os::SetFileInformationByHandle = NoRenameSetFileInformationByHandle;
    os::MoveFileExW = NoDeleteMoveFileExW;
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
  const char* step = kind == FileRenameInfo        ? "rename "
                     : kind == FileDispositionInfo ? "delete "
                                                   : "attributes ";
  Steps().push_back(step + Whose(file));
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

TEST(SaveFaultsWin32Test, EachWayTakesItsStepsInAnOrderThatACutCannotBreak) {
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
      // The backup is on disk before the program's first byte changes, and goes only once the
      // program's new content is on disk.
      {"write in place",
       LinkedProgram,
       "part.nc",
       {{"write backup", "write program"},
        {"flush backup", "write program"},
        {"write program", "flush program"},
        {"cut program", "flush program"},
        {"flush program", "delete backup"}},
       {"rename new"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.way);
    TempFolder folder;
    ASSERT_TRUE(c.set_up(folder));
    Steps().clear();
    {
      Replacements replacements;
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

/// CreateFileW in a folder where no backup may be made beside the program.
HANDLE NoBackupBeside(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                      DWORD disposition, DWORD flags, HANDLE model) {
  std::wstring_view path(name);
  if (path.find(L".prune-backup") != path.npos && path.find(L"state") == path.npos) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  return real::CreateFileW(name, access, share, security, disposition, flags, model);
}

TEST(SaveFaultsWin32Test, OldContentThatCannotBeWrittenBackStaysInABackupThatTheFailureNames) {
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
      Replacements replacements;
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

}  // namespace

namespace {

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

TEST(SaveFaultsWin32Test, WhatANewFileCouldNotBeGivenKeepsTheProgramWrittenInPlace) {
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
    Snapshot before = SnapshotOf(folder);
    {
      Replacements replacements;
      c.replace();
      ReplaceWholeFile(folder.PathOf("part.nc"), kShorterProgram);
    }
    Snapshot after = SnapshotOf(folder);
    EXPECT_EQ(folder.Read("part.nc"), kShorterProgram);
    EXPECT_EQ(before["part.nc"].identity, after["part.nc"].identity) << "not written in place";
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"part.nc"});
  }
}

}  // namespace
