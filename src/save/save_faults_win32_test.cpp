// Every Windows call that a load and a save make, made to fail in turn with every error a file
// system gives, in every situation that chooses another way of saving, to depth two, and every
// state that a power cut may leave on the way, through the fault matrix. After each run the file
// is whole (the old content or the new) and keeps everything else it had, and nothing is left
// beside it.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which they need.
#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <set>
#include <tuple>

#include "base/failure.h"
#include "base/messages.h"
#include "base/wide_win32.h"
#include "files/absolute_path.h"
#include "files/system_calls_win32.h"
#include "testing/fault_matrix.h"
#include "testing/power_cut_model.h"
#include "testing/save_contents.h"
#include "testing/save_files_win32.h"
#include "testing/system_call_faults.h"
#include "testing/system_text_win32.h"
#include "testing/test_support.h"

namespace fs = std::filesystem;

namespace {

// The system's own functions.
namespace system {
PRUNE_SYSTEM_CALLS(PRUNE_KEEP_REAL_CALL)
}  // namespace system

// What the faulty calls below call for the real thing: the system's functions, or the recorders
// that make them and note what they changed.
namespace real {
PRUNE_SYSTEM_CALLS(PRUNE_KEEP_REAL_CALL)
}  // namespace real

using ::PartlyDone;     // the calls without a partial form are done whole before they fail
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
void ReportError(int error) { SetLastError(error); }
/// What a call done and then failed reports: the network name is gone, as a share may say
/// after it lost its answer.
constexpr int kEffectError = ERROR_NETNAME_DELETED;

// A replacement for each call: the real one, unless the fault plan makes this one fail.
namespace faulty {
PRUNE_SYSTEM_CALLS(PRUNE_FAULTY_CALL)
}  // namespace faulty

// ---------------------------------------------------------------------------------------------
// Paths as the power-cut model names them, and the model's ids of files.

/// A path as the model names it: without the long prefix, in small letters.
std::string ModelName(std::wstring_view path) {
  if (path.starts_with(L"\\\\?\\")) path.remove_prefix(4);
  std::string name = fs::path(std::wstring(path)).string();
  std::transform(name.begin(), name.end(), name.begin(), ::tolower);
  return name;
}

/// Where the open file lies, as the system names it; empty where it cannot.
std::wstring FinalPathOf(HANDLE file) {
  std::vector<wchar_t> name(32768);
  DWORD length = system::GetFinalPathNameByHandleW(file, name.data(), 32768, 0);
  return std::wstring(name.data(), length < 32768 ? length : 0);
}

/// Where the open file lies, as the model names it.
std::string ModelNameOf(HANDLE file) { return ModelName(FinalPathOf(file)); }

std::string ModelFolderOf(const std::string& path) { return path.substr(0, path.rfind('\\')); }

/// Which file the open file is: its volume and index.
std::string NumberOf(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION information = {};
  system::GetFileInformationByHandle(file, &information);
  return std::to_string(information.dwVolumeSerialNumber) + ":" +
         std::to_string(information.nFileIndexHigh) + ":" +
         std::to_string(information.nFileIndexLow);
}

/// The number of the file at `path` (a link itself), as NumberOf tells it; empty where there is
/// none.
std::string NumberAt(LPCWSTR path) {
  constexpr DWORD kAnyEntry = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;
  HANDLE file = system::CreateFileW(path, FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, kAnyEntry, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::string();
  std::string number = NumberOf(file);
  system::CloseHandle(file);
  return number;
}

// ---------------------------------------------------------------------------------------------
// The faulty layer's own calls, and what its faults fell on.

/// CloseHandle, which closes the handle also where it reports a failure, as the system does.
BOOL FaithfulCloseHandle(HANDLE handle) {
  int error = SystemCallFaults::Get().Next("CloseHandle");
  BOOL closed = real::CloseHandle(handle);
  if (error == 0 || error == kShortTransfer) return closed;
  SetLastError(error == kDoneThenFailed ? kEffectError : error);
  return FALSE;
}

/// Sleeps not at all, so that waiting for a file costs the test nothing.
void NoSleep(DWORD) { SystemCallFaults::Get().Next("Sleep"); }

/// The files, as the model names them, on which a fault failed what removes a file of the
/// save's own, or what the save must know before it removes one (where the file lies).
std::set<std::string> unremovable;

/// Notes the open file where a fault fell on the call just made.
void NoteWhereAFaultFell(size_t fired_before, HANDLE file) {
  if (SystemCallFaults::Get().fired_at().size() > fired_before) {
    unremovable.insert(ModelNameOf(file));
  }
}

BOOL NotedSetFileInformationByHandle(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind,
                                     LPVOID information, DWORD size) {
  size_t fired = SystemCallFaults::Get().fired_at().size();
  BOOL set = faulty::SetFileInformationByHandle(file, kind, information, size);
  if (kind == FileDispositionInfo) NoteWhereAFaultFell(fired, file);
  return set;
}

DWORD NotedGetFinalPathNameByHandleW(HANDLE file, LPWSTR buffer, DWORD size, DWORD flags) {
  size_t fired = SystemCallFaults::Get().fired_at().size();
  DWORD length = faulty::GetFinalPathNameByHandleW(file, buffer, size, flags);
  NoteWhereAFaultFell(fired, file);
  return length;
}

// ---------------------------------------------------------------------------------------------
// The recorders: what reached the system, for a model of a disk that keeps only what was
// flushed. A rename counts as on disk once a flush of any file follows it (NTFS writes its log
// then) or it was written through.

/// The model that the recorders feed, while one stands.
PowerCutModel* model = nullptr;
/// Where the renames of the last run put files, as the model names them.
std::vector<std::string> renamed_to;

/// The model's ids of files, by their volume and number; a file made gets a new one, since the
/// system may give a new file the number of one deleted before.
std::map<std::string, PowerCutModel::FileId> ids;

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

// Each keeps the error that the call left: the model's own look at the file must not change it.
HANDLE RecordedCreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                           DWORD disposition, DWORD flags, HANDLE model_file) {
  HANDLE file = system::CreateFileW(name, access, share, security, disposition, flags, model_file);
  DWORD error = GetLastError();
  if (model && file != INVALID_HANDLE_VALUE && disposition == CREATE_NEW) {
    model->Create(ModelName(name), made[file] = NewIdOf(file));
  }
  SetLastError(error);
  return file;
}
/// The handles through which a file was marked to go: marked again, it is not removed again.
std::set<HANDLE> removing;

BOOL RecordedCloseHandle(HANDLE handle) {
  made.erase(handle);  // the system may give the number to another handle now
  removing.erase(handle);
  return system::CloseHandle(handle);
}
BOOL RecordedWriteFile(HANDLE file, LPCVOID buffer, DWORD size, LPDWORD done,
                       LPOVERLAPPED overlapped) {
  DWORD written = 0;
  BOOL wrote = system::WriteFile(file, buffer, size, &written, overlapped);
  DWORD error = GetLastError();
  if (done) *done = written;
  // Also what a write wrote before it failed: it may have reached the disk.
  if (model && written > 0 && overlapped) {
    uint64_t offset = (uint64_t{overlapped->OffsetHigh} << 32) | overlapped->Offset;
    model->Write(IdOf(file), offset, std::string_view(static_cast<const char*>(buffer), written));
  }
  SetLastError(error);
  return wrote;
}
BOOL RecordedSetEndOfFile(HANDLE file) {
  LARGE_INTEGER position = {};
  SetFilePointerEx(file, {}, &position, FILE_CURRENT);
  BOOL cut = system::SetEndOfFile(file);
  DWORD error = GetLastError();
  if (model && cut) model->Resize(IdOf(file), static_cast<uint64_t>(position.QuadPart));
  SetLastError(error);
  return cut;
}
BOOL RecordedFlushFileBuffers(HANDLE file) {
  BOOL flushed = system::FlushFileBuffers(file);
  DWORD error = GetLastError();
  if (model && flushed) {
    model->FlushFile(IdOf(file));
    model->FlushFolder(ModelFolderOf(ModelNameOf(file)));
  }
  SetLastError(error);
  return flushed;
}
BOOL RecordedSetFileInformationByHandle(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind,
                                        LPVOID information, DWORD size) {
  std::wstring from = FinalPathOf(file);
  BOOL set = system::SetFileInformationByHandle(file, kind, information, size);
  DWORD error = GetLastError();
  if (model && set && kind == FileRenameInfo) {
    std::string to = ModelNameOf(file);
    if (to != ModelName(from)) {
      model->Rename(ModelName(from), to);
      renamed_to.push_back(to);
    }
  }
  // Wine names a file by the name it was opened with also after a rename by names: a removal
  // is recorded where the name the system gives is the file's (Windows names it where it is).
  if (model && set && kind == FileDispositionInfo && NumberAt(from.c_str()) == NumberOf(file) &&
      removing.insert(file).second) {
    model->Remove(ModelName(from));
  }
  SetLastError(error);
  return set;
}
BOOL RecordedMoveFileExW(LPCWSTR from, LPCWSTR to, DWORD flags) {
  std::string number = NumberAt(from);
  BOOL moved = system::MoveFileExW(from, to, flags);
  DWORD error = GetLastError();
  if (model && moved) {
    model->Rename(ModelName(from), ModelName(to));
    renamed_to.push_back(ModelName(to));
    if (flags & MOVEFILE_WRITE_THROUGH) model->FlushFolder(ModelFolderOf(ModelName(to)));
    // The file keeps its id where the system gives it another number under its new name.
    if (auto known = ids.find(number); known != ids.end()) ids[NumberAt(to)] = known->second;
  }
  SetLastError(error);
  return moved;
}

/// The files below `folder`, as the model starts from them.
void AddExisting(const std::string& folder, PowerCutModel* recording) {
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (!entry.is_regular_file()) continue;
    HANDLE file = system::CreateFileW(entry.path().c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
    recording->Existing(ModelName(entry.path().wstring()), IdOf(file), ReadFile(entry.path()));
    system::CloseHandle(file);
  }
}

#define PRUNE_RESTORE_SYSTEM_CALL(result, name, parameters, arguments, failed) \
  os::name = system::name;                                                     \
  real::name = system::name;

/// Puts the seam's layers in place for as long as it lives (os → faulty → real, the recorders
/// → system), recording into `recording`; the user's own folder for backups is one inside the
/// test's folder meanwhile.
class Layers {
 public:
  Layers(const std::string& folder, PowerCutModel* recording) {
    PRUNE_SYSTEM_CALLS(PRUNE_REPLACE_CALL)
    os::CloseHandle = FaithfulCloseHandle;
    os::Sleep = NoSleep;
    os::SetFileInformationByHandle = NotedSetFileInformationByHandle;
    os::GetFinalPathNameByHandleW = NotedGetFinalPathNameByHandleW;
    real::CreateFileW = RecordedCreateFileW;
    real::CloseHandle = RecordedCloseHandle;
    real::WriteFile = RecordedWriteFile;
    real::SetEndOfFile = RecordedSetEndOfFile;
    real::FlushFileBuffers = RecordedFlushFileBuffers;
    real::SetFileInformationByHandle = RecordedSetFileInformationByHandle;
    real::MoveFileExW = RecordedMoveFileExW;
    unremovable.clear();
    renamed_to.clear();
    made.clear();
    removing.clear();
    model = recording;
    if (model) AddExisting(folder, model);
    fs::create_directory(fs::path(folder) / "state");
    wchar_t own[4096] = L"";
    DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", own, 4096);
    if (length > 0 && length < 4096) own_local_app_data_ = own;
    SetEnvironmentVariableW(L"LOCALAPPDATA", (fs::path(folder) / "state").c_str());
  }
  ~Layers() {
    SystemCallFaults::Get().Stop();
    model = nullptr;
    SetEnvironmentVariableW(L"LOCALAPPDATA",
                            own_local_app_data_.empty() ? nullptr : own_local_app_data_.c_str());
    PRUNE_SYSTEM_CALLS(PRUNE_RESTORE_SYSTEM_CALL)
  }
  Layers(const Layers&) = delete;
  Layers& operator=(const Layers&) = delete;

 private:
  std::wstring own_local_app_data_;
};

// ---------------------------------------------------------------------------------------------
// The snapshot

/// The attributes that a save must keep (the archive mark it may set).
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                  FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY |
                                  FILE_ATTRIBUTE_REPARSE_POINT;

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
    return "error:" + std::to_string(GetLastError());
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

/// What the system tells of the entry at `path` through a handle on it (a link itself, not its
/// target): its links, owner, group and access list, named streams, and, where the system keeps
/// it, its creation time; and which file it is (volume and index) in `*number`.
std::string FactsOf(const fs::path& path, std::string* number) {
  HANDLE file =
      CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES | READ_CONTROL,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return " unreadable";
  BY_HANDLE_FILE_INFORMATION information = {};
  GetFileInformationByHandle(file, &information);
  *number = NumberOf(file);
  std::string facts = " links " + std::to_string(information.nNumberOfLinks) + " security " +
                      SecurityOf(file) + " streams " + StreamsOf(file);
  if (CreationTimesStick()) {
    facts += " created " + std::to_string(information.ftCreationTime.dwHighDateTime) + ":" +
             std::to_string(information.ftCreationTime.dwLowDateTime);
  }
  CloseHandle(file);
  return facts;
}

/// One entry of a folder: its state, and which file it is.
struct Entry {
  std::string state;
  std::string number;
};

/// Every entry below `folder`, by its name as spelled, '/' between folders; the user's own
/// folder for backups stays once made, and what counts is what lies in it.
void TakeSnapshot(const fs::path& folder, const std::string& prefix,
                  std::map<std::string, Entry>* entries) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder / L"*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    fs::path path = folder / name;
    std::string spelled = prefix + fs::path(name).string();
    bool folder_entry = found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
    if (folder_entry && !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      TakeSnapshot(path, spelled + "/", entries);
      if (spelled == "state" || spelled == "state/prune") continue;
    }
    Entry entry;
    entry.state = "attributes " + std::to_string(found.dwFileAttributes & kKeptAttributes) +
                  FactsOf(path, &entry.number);
    if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      std::error_code ignored;
      entry.state += " link " + fs::read_symlink(path, ignored).string();
    } else if (!folder_entry) {
      entry.state += " content " + Digest(ReadFile(path));
    }
    (*entries)[spelled] = entry;
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

/// Names each file of `entries` by the first of its names there, as the files of a folder are
/// known across runs (each run has a folder of its own, whose files the system numbers anew).
std::map<std::string, std::string> NamesOfFiles(const std::map<std::string, Entry>& entries) {
  std::map<std::string, std::string> names;
  for (const auto& [name, entry] : entries) names.try_emplace(entry.number, name);
  return names;
}

/// `state` with the word after `key` made `value`.
std::string WithWord(std::string state, const std::string& key, const std::string& value) {
  size_t at = state.find(" " + key + " ");
  if (at == std::string::npos) return state;
  at += key.size() + 2;
  return state.replace(at, state.find(' ', at) - at, value);
}

// ---------------------------------------------------------------------------------------------
// Stand-ins for what the test cannot make for real

/// A well-known account that owns no test file: the system itself.
PSID SystemAccount() {
  static BYTE sid[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof sid;
  CreateWellKnownSid(WinLocalSystemSid, nullptr, sid, &size);
  return sid;
}

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
                       DWORD disposition, DWORD flags, HANDLE model_file) {
  if (std::wstring_view(name).find(L"~prune") != std::wstring_view::npos) {
    SystemCallFaults::Get().Next("CreateFileW");
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  return faulty::CreateFileW(name, access, share, security, disposition, flags, model_file);
}

// ---------------------------------------------------------------------------------------------
// The situations

std::string Program(TempFolder& folder) {
  folder.Write("part.nc", kOldProgram);
  return "";
}

std::string ProgramWithAttributes(TempFolder& folder, DWORD attributes) {
  Program(folder);
  return SetFileAttributesW(Wide(folder.PathOf("part.nc")), attributes) ? "" : "no attributes";
}

/// A program whose access list is its own, protected from its folder's entries.
std::string ProgramWithItsOwnAccess(TempFolder& folder) {
  Program(folder);
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
          L"D:P(A;;FA;;;WD)(A;;FR;;;BU)", SDDL_REVISION_1, &descriptor, nullptr)) {
    return "no access lists";
  }
  bool made =
      SetFileSecurityW(Wide(folder.PathOf("part.nc")), DACL_SECURITY_INFORMATION, descriptor);
  LocalFree(descriptor);
  return made ? "" : "no access lists";
}

std::string LinkedProgram(TempFolder& folder) {
  Program(folder);
  return CreateHardLinkW(Wide(folder.PathOf("other.nc")), Wide(folder.PathOf("part.nc")), nullptr)
             ? ""
             : "no hard links";
}

std::vector<FaultSituation> Situations() {
  // Written where it is: in place, or made under its own name where no other file can be made.
  auto in_place = [](
                      FaultSituation made, const std::string& content,
                      std::function<void()> replace = [] {}) {
    made.way = SaveWay::kInPlace;
    made.content = content;
    made.replace = std::move(replace);
    return made;
  };
  FaultSituation no_temporary_tap =
      in_place(SituationOf("a new .tap where no temporary file can be made", Program, "part.tap",
                           "part.tap"),
               kShorterProgram, [] { os::CreateFileW = NoTemporaryFile; });
  return {
      SituationOf("rename over the program", Program),
      SituationOf("rename over a hidden system program",
                  [](TempFolder& folder) {
                    return ProgramWithAttributes(folder,
                                                 FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
                  }),
      in_place(SituationOf("in place: a second link, shorter", LinkedProgram), kShorterProgram),
      in_place(SituationOf("in place: a second link, longer", LinkedProgram), kLongerProgram),
      in_place(SituationOf("in place: owned by another account", Program), kShorterProgram,
               [] {
                 os::GetSecurityInfo = OwnedByTheSystem;
                 os::SetSecurityInfo = NoOwnerButOneself;
               }),
      in_place(SituationOf("in place: no room for a second copy", Program), kShorterProgram,
               [] { os::WriteFile = NoRoomForACopy; }),
      SituationOf("rename over a program with an access list of its own", ProgramWithItsOwnAccess),
      in_place(SituationOf("in place: no temporary file can be made in the folder", Program),
               kShorterProgram, [] { os::CreateFileW = NoTemporaryFile; }),
      no_temporary_tap,
      SituationOf("a new .tap", Program, "part.tap", "part.tap"),
      SituationOf(
          "over an existing .tap",
          [](TempFolder& folder) {
            Program(folder);
            folder.Write("part.tap", "old tap");
            return "";
          },
          "part.tap", "part.tap"),
      SituationOf(
          "a program reached through a symbolic link",
          [](TempFolder& folder) -> std::string {
            folder.Write("real/part.nc", kOldProgram);
            // Some systems (Wine) report success and make no link.
            CreateSymbolicLinkW(Wide(folder.PathOf("part.nc")), Wide(folder.PathOf("real/part.nc")),
                                0);
            return folder.Exists("part.nc") ? "" : "the system makes no symbolic links here";
          },
          "part.nc", "real/part.nc"),
  };
}

// ---------------------------------------------------------------------------------------------
// The platform

/// Whether the recorded run wrote the file at `written` (as the model names it) while no file
/// that the save made held its old content whole: a backup, under whatever name.
bool WroteWithoutBackup(const PowerCutModel& recording, const std::string& written) {
  PowerCutModel::FileId program = 0;
  std::string old;
  for (const auto& file : recording.existing_files()) {
    if (file.path == written) std::tie(program, old) = std::tie(file.id, file.content);
  }
  std::map<std::string, PowerCutModel::FileId> made_files;  // by their names
  std::map<PowerCutModel::FileId, std::string> contents;
  for (const PowerCutModel::Step& step : recording.recorded_steps()) {
    using Step = PowerCutModel::Step;
    if (step.kind == Step::kCreate) made_files[step.path] = step.id;
    if (step.kind == Step::kRename && made_files.count(step.path)) {
      made_files[step.to] = made_files[step.path];
      made_files.erase(step.path);
    }
    if (step.kind == Step::kRemove) made_files.erase(step.path);
    if (step.kind == Step::kWrite && step.id == program) {
      return std::none_of(made_files.begin(), made_files.end(),
                          [&](const auto& file) { return contents[file.second] == old; });
    }
    if (step.kind == Step::kWrite) {
      std::string& content = contents[step.id];
      if (content.size() < step.offset + step.bytes.size()) {
        content.resize(step.offset + step.bytes.size(), '\0');
      }
      content.replace(step.offset, step.bytes.size(), step.bytes);
    }
  }
  return true;
}

/// Whether `failure` is what the table of failures says for a run that the faults of `plan`
/// ended: the path as formed (none where forming it was failed), the reason of one of the
/// faults. Empty where it is.
std::string FailureNotInTable(const Failure& failure, const FaultPlan& plan, const Text& program,
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
  for (const Text& path : paths) {
    if (kind == "EFOpenError" &&
        failure.message.starts_with(u"Datei " + path + u" kann nicht ge\u00F6ffnet")) {
      return "";
    }
    if (kind == "EFCreateError") {
      for (const Text& reason : reasons) {
        if (failure.message == u"Datei \"" + path + u"\" kann nicht erstellt werden. " + reason) {
          return "";
        }
      }
    }
    // The old content not written back either: said so, and where it lies whole, if anywhere.
    // Or the new content in place, its flush not confirmed.
    if (kind == "EWriteError" &&
        (message == "Stream-Schreibfehler" ||
         failure.message.starts_with(FillTemplate(kRestoreFailureTemplate, {absolute})) ||
         failure.message == FillTemplate(kNotYetLastingTemplate, {path}))) {
      return "";
    }
    if (kind == "EReadError" && message == "Stream-Lesefehler") return "";
  }
  return "a failure that the table does not have: " + kind + " " + message;
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

/// The Windows seam for the fault matrix.
class WindowsFaults : public FaultPlatform {
 public:
  const FaultKinds& kinds() const override { return kKinds; }
  std::string ErrorName(int error) const override { return "error " + std::to_string(error); }
  std::string ErrorText(int error) const override { return NativeFromText(SystemText(error)); }
  bool SavesOwnFile(const std::string& name) const override {
    return name.find("~prune") != std::string::npos ||
           name.find(".prune-backup") != std::string::npos;
  }
  bool MayRemain(const std::string& name) const override {
    return unremovable.count(ModelPath(folder_, name)) > 0;
  }
  /// Each entry also says which file it is: by the first of its names at the start of the run
  /// (where the folder is a run's), "new" for a file made since.
  FolderState Snapshot(const std::string& folder) const override {
    std::map<std::string, Entry> entries;
    TakeSnapshot(fs::path(folder), "", &entries);
    std::map<std::string, std::string> names =
        folder == folder_ ? names_at_start_ : NamesOfFiles(entries);
    FolderState states;
    for (const auto& [name, entry] : entries) {
      auto known = names.find(entry.number);
      states[name] = entry.state.substr(0, entry.state.find(" content ")) + " file " +
                     (known != names.end() ? known->second : "new") +
                     (entry.state.find(" content ") == std::string::npos
                          ? ""
                          : entry.state.substr(entry.state.find(" content ")));
    }
    return states;
  }
  std::shared_ptr<void> Replace(const std::string& folder, PowerCutModel* recording) override {
    folder_ = folder;
    names_at_start_.clear();
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
      std::string name = entry.path().lexically_relative(folder).generic_string();
      auto [known, added] = names_at_start_.try_emplace(NumberAt(entry.path().c_str()), name);
      if (!added && name < known->second) known->second = name;
    }
    return std::make_shared<Layers>(folder, recording);
  }
  /// The way a good run took: by a rename onto the file written, or not.
  std::string BrokenPromises(const FaultSituation& situation) const override {
    std::string written = ModelPath(folder_, situation.written);
    bool renamed = std::count(renamed_to.begin(), renamed_to.end(), written) > 0;
    if (renamed == (situation.way == SaveWay::kRename)) return "";
    return renamed ? "renamed" : "not renamed";
  }
  std::string ModelPath(const std::string& folder, const std::string& name) const override {
    return ModelName((fs::path(folder) / fs::path(name).make_preferred()).wstring());
  }
  /// A new file's state, whenever it was made.
  std::string NewFileState(const std::string& folder, const std::string& content) const override {
    fs::path reference = fs::path(folder) / "reference";
    std::ofstream(reference, std::ios::binary) << content;
    std::map<std::string, Entry> entries;
    TakeSnapshot(fs::path(folder), "", &entries);
    fs::remove(reference);
    std::string state = entries["reference"].state;
    size_t content_at = state.find(" content ");
    return WithWord(state.substr(0, content_at) + " file new" + state.substr(content_at), "created",
                    "*");
  }
  /// In place, the same file; by a rename, a new one with the old one's creation time, or the
  /// same where faults turned the save to another way (the good run's way is a promise).
  std::string AfterGoodSave(const std::string& before, const std::string& content,
                            SaveWay way) const override {
    std::string after = FaultPlatform::AfterGoodSave(before, content, way);
    return way == SaveWay::kRename ? WithWord(after, "file", "*") : after;
  }
  /// Where no file of its own could be made or renamed beside it, a new file is made under its
  /// name and written there. Where no backup could be made (nor one whose readers are limited
  /// to the program's), the file is written in place without one.
  bool MayTearByDesign(const PowerCutModel& recording, const std::string& written_path,
                       bool had_old) const override {
    const auto& steps = recording.recorded_steps();
    if (!had_old) {
      return std::any_of(steps.begin(), steps.end(), [&](const PowerCutModel::Step& step) {
        return step.kind == PowerCutModel::Step::kCreate && step.path == written_path;
      });
    }
    return !RenamedOnto(recording, written_path) && WroteWithoutBackup(recording, written_path);
  }
  /// Beside the program or in the user's own folder.
  bool IsBackupOf(const std::string& name, const std::string& written) const override {
    return name.substr(name.rfind('\\') + 1)
        .starts_with(written.substr(written.rfind('\\') + 1) + ".prune-backup");
  }
  std::string WrongFailureText(const Failure& failure, const FaultPlan& plan, const Text& program,
                               const Text& output) const override {
    return FailureNotInTable(failure, plan, program, output);
  }

 private:
  std::string folder_;  ///< of the last run
  /// The files in it at the start of the run, by their numbers: the first of their names.
  std::map<std::string, std::string> names_at_start_;
};

TEST(SaveFaultsWin32Test, EveryCallFailsInTurnToDepthTwoAndTheFileStaysWhole) {
  WindowsFaults platform;
  FaultFigures figures = RunFaultMatrix(platform, Situations());
  if (!CreationTimesStick()) {
    std::cout << "[ skipped  ] creation times: the system here keeps none that a file is given\n";
  }
  std::cout << "[ figures  ] " << Describe(figures) << "\n";
}

// The matrix itself, given a save that leaves its temporary file behind: one call renames and
// removes alike, so a leftover is accepted only where its own removal was what failed.

/// Whether a rename of the save's new file failed in this run.
bool rename_failed = false;

/// SetFileInformationByHandle in a save that, once the rename of its new file failed, reports the
/// new file removed but leaves it.
BOOL LeavesItsNewFile(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID information, DWORD size) {
  if (kind == FileDispositionInfo && rename_failed && Whose(file) == "new") return TRUE;
  BOOL set = NotedSetFileInformationByHandle(file, kind, information, size);
  rename_failed |= kind == FileRenameInfo && !set;
  return set;
}

/// The Windows seam with one error on every call, which is all the broken save needs.
class FewFaults : public WindowsFaults {
 public:
  const FaultKinds& kinds() const override {
    static const FaultKinds kinds = {{ERROR_ACCESS_DENIED}, {}, {}, {}, {ERROR_ACCESS_DENIED}};
    return kinds;
  }
};

TEST(SaveFaultsWin32Test, TheMatrixSeesATemporaryFileLeftAfterAFailedRename) {
  FaultSituation broken;
  broken.name = "rename over the program, by a save that leaves its new file";
  broken.set_up = Program;
  broken.content = kShorterProgram;
  broken.replace = [] {
    rename_failed = false;
    os::SetFileInformationByHandle = LeavesItsNewFile;
  };
  FewFaults platform;
  ::testing::TestPartResultArray failures;
  {
    ::testing::ScopedFakeTestPartResultReporter intercept(
        ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &failures);
    RunFaultMatrix(platform, {broken});
  }
  std::string reported;
  for (int i = 0; i < failures.size(); ++i) reported += failures.GetTestPartResult(i).message();
  EXPECT_NE(reported.find("only after: ~prune"), std::string::npos) << reported;
}

}  // namespace
