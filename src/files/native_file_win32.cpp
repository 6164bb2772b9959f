// Files on Windows. The load opens the file so that nobody may write it while it is read, and
// notes which file it read and in what state. The save opens the file that is there so that
// nobody else may open it, makes sure it is still the one loaded, and then takes one of two ways:
// - a new file beside it, given first the old file's security, attributes and creation time, then
//   written and flushed, takes the old file's name in one step through its own handle, so that
//   the name never goes missing;
// - where a new file could not keep everything (further links, named streams, compression, an
//   owner that this user cannot give, a label of its own) or no room is left for a second copy,
//   the file is written in place, its old content kept in a backup file until the new is on disk.
// A file reached through a link is saved where the link leads, as the system names the open file;
// where it cannot be named, the file is written in place, through the link. Every path goes to
// the system in its long form, and nothing is deleted by a name: a file that the save makes and
// does not keep goes through its own handle.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "base/path.h"
#include "base/wide_win32.h"
#include "files/backup_name.h"
#include "files/file_failures.h"
#include "files/native_file.h"
#include "files/system_calls_win32.h"
#include "files/system_path_win32.h"

namespace {

constexpr int64_t kMaxFileSize = int64_t{1} << 31;
// Writes go out in requests of at most this size, so that each fits a DWORD count.
constexpr size_t kMaxWriteRequest = size_t{1} << 30;
// How long a file that another program holds for a moment is waited for, in milliseconds.
constexpr DWORD kHoldPatience = 2000;
// The attributes that a new file can be given. A file with any other (compressed, encrypted,
// sparse, a reparse point, offline, an integrity stream) is written in place.
constexpr DWORD kCarriedAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                     FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NORMAL |
                                     FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

/// The system's text for `error`, empty where the system has none.
Text SystemText(DWORD error) {
  wchar_t* buffer = nullptr;
  DWORD flags =
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  // Language 0: the system's own order of languages, ending with its default.
  DWORD length =
      FormatMessageW(flags, nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  Text text = length > 0 && buffer ? TextFromWide(buffer, length) : Text();
  if (buffer) LocalFree(buffer);
  return text;
}

SaveOutcome Failed(SaveOutcome::Kind kind, DWORD error = NO_ERROR) {
  return {kind, error == NO_ERROR ? Text() : SystemText(error), Text()};
}

/// Closes a file handle when it goes out of scope.
class Handle {
 public:
  explicit Handle(HANDLE handle = INVALID_HANDLE_VALUE) : handle_(handle) {}
  ~Handle() {
    if (valid()) os::CloseHandle(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }
  /// Closes the handle held, if any, and holds `handle` instead.
  void Reset(HANDLE handle) {
    if (valid()) os::CloseHandle(handle_);
    handle_ = handle;
  }

 private:
  HANDLE handle_;
};

/// Frees what a security call allocated when it goes out of scope.
class LocalMemory {
 public:
  LocalMemory() = default;
  ~LocalMemory() {
    if (memory_) LocalFree(memory_);
  }
  LocalMemory(const LocalMemory&) = delete;
  LocalMemory& operator=(const LocalMemory&) = delete;
  PSECURITY_DESCRIPTOR* out() { return &memory_; }

 private:
  PSECURITY_DESCRIPTOR memory_ = nullptr;
};

/// A file that the save makes, open for writing, that others may rename or delete but not open;
/// deleted through its handle unless kept, so that it goes also where its name could not be
/// deleted, and so that nothing else is ever deleted in its place.
class NewFile {
 public:
  NewFile() = default;
  ~NewFile() { Discard(); }
  NewFile(const NewFile&) = delete;
  NewFile& operator=(const NewFile&) = delete;
  /// Creates the file at `path`, which must not exist yet, with `security` (the folder's where
  /// null); false when it cannot be made.
  bool Create(const Text& path, SECURITY_ATTRIBUTES* security = nullptr) {
    constexpr DWORD kAccess = GENERIC_READ | GENERIC_WRITE | DELETE | WRITE_DAC | WRITE_OWNER;
    handle_ = os::CreateFileW(Wide(path), kAccess, FILE_SHARE_DELETE, security, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle_ == INVALID_HANDLE_VALUE) return false;
    path_ = path;
    return true;
  }
  HANDLE get() const { return handle_; }
  const Text& path() const { return path_; }
  /// Notes that the file now has the name `path`.
  void Renamed(const Text& path) { path_ = path; }
  /// Closes the file, which stays. Its content was flushed before, so a close that reports a
  /// failure has lost nothing.
  void Keep() {
    if (handle_ != INVALID_HANDLE_VALUE) os::CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }
  /// Deletes the file through its handle and closes it. Asked twice where the first request
  /// fails: a network file system may refuse a request once while it reconnects.
  void Discard() {
    if (handle_ == INVALID_HANDLE_VALUE) return;
    FILE_DISPOSITION_INFO disposition = {TRUE};
    for (int attempt = 0; attempt < 2; ++attempt) {
      if (os::SetFileInformationByHandle(handle_, FileDispositionInfo, &disposition,
                                         sizeof disposition)) {
        break;
      }
    }
    Keep();
  }

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
  Text path_;
};

/// The size of the open file less the current position, which is put back where it was;
/// -1 when the file has no size (a device or a pipe), with the reason left for GetLastError.
int64_t RemainingSize(HANDLE file) {
  // The low half of a position may look like the failure value; only the error code tells.
  SetLastError(NO_ERROR);
  LONG position_high = 0;
  DWORD position_low = os::SetFilePointer(file, 0, &position_high, FILE_CURRENT);
  if (position_low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) return -1;
  LONG end_high = 0;
  DWORD end_low = os::SetFilePointer(file, 0, &end_high, FILE_END);
  if (end_low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) return -1;
  SetLastError(NO_ERROR);
  DWORD back =
      os::SetFilePointer(file, static_cast<LONG>(position_low), &position_high, FILE_BEGIN);
  if (back == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) return -1;
  int64_t position = (int64_t{position_high} << 32) | position_low;
  int64_t end = (int64_t{end_high} << 32) | end_low;
  return end - position;
}

/// Reads `size` bytes at the file's position, with as many requests as it takes; false, with
/// the reason left for GetLastError, when the file ends before or a request fails.
bool ReadAll(HANDLE file, char* buffer, DWORD size) {
  while (size > 0) {
    DWORD read = 0;
    if (!os::ReadFile(file, buffer, size, &read, nullptr)) return false;
    if (read == 0) {
      SetLastError(ERROR_HANDLE_EOF);
      return false;
    }
    buffer += read;
    size -= read;
  }
  return true;
}

/// Writes all of `bytes` at `*position`, which it moves on: one request, then one for the rest as
/// long as some is left. A request after the first that writes nothing fails the whole write; a
/// failing request writes nothing. Each request names where it writes, so that one that took
/// effect before it failed is written again over the same bytes.
// Why the first request may write nothing: an empty content is written by one request for zero
// bytes, whose answer of nothing written is no failure; the loop treats every first request
// alike and only gives up when a further request makes no progress.
bool WriteAll(HANDLE file, std::string_view bytes, uint64_t* position) {
  bool first = true;
  do {
    DWORD asked = static_cast<DWORD>(std::min(bytes.size(), kMaxWriteRequest));
    DWORD written = 0;
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(*position);
    at.OffsetHigh = static_cast<DWORD>(*position >> 32);
    if (!os::WriteFile(file, bytes.data(), asked, &written, &at)) written = 0;
    if (written == 0 && !first && !bytes.empty()) return false;
    bytes.remove_prefix(written);
    *position += written;
    first = false;
  } while (!bytes.empty());
  return true;
}

/// Writes all of `bytes` from the start of the file.
bool WriteFromStart(HANDLE file, std::string_view bytes) {
  uint64_t position = 0;
  return WriteAll(file, bytes, &position);
}

/// Writes `content` from the start of the file, a request for each piece (the content gathers
/// short pieces itself).
bool WriteContent(HANDLE file, const FileContent& content) {
  uint64_t position = 0;
  return content.WriteTo([file, &position](FileContent::Pieces pieces) {
    for (std::string_view piece : pieces) {
      if (!WriteAll(file, piece, &position)) return false;
    }
    return true;
  });
}

bool MoveTo(HANDLE file, int64_t position) {
  LONG high = static_cast<LONG>(position >> 32);
  SetLastError(NO_ERROR);
  DWORD low = os::SetFilePointer(file, static_cast<LONG>(position & 0xFFFFFFFF), &high, FILE_BEGIN);
  return low != INVALID_SET_FILE_POINTER || GetLastError() == NO_ERROR;
}

/// Makes the file `size` bytes long.
bool SetLength(HANDLE file, int64_t size) { return MoveTo(file, size) && os::SetEndOfFile(file); }

/// Writes the content into the new file and flushes it.
bool WriteNew(NewFile& file, const FileContent& content) {
  return WriteContent(file.get(), content) && os::FlushFileBuffers(file.get());
}

/// Whether `error` says that the disk or the quota has no room left.
bool NoRoom(DWORD error) { return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL; }

/// Whether `error` says that the file system does not have what was asked of it at all.
bool NotOffered(DWORD error) {
  return error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_PARAMETER ||
         error == ERROR_INVALID_FUNCTION;
}

/// Whether `error` says that some other program has the file open for a moment (a virus
/// scanner, the search indexer, a sync client). An open may also meet "access denied" then, from
/// a file whose deletion is pending.
bool Held(DWORD error, bool denied_too) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
         (denied_too && error == ERROR_ACCESS_DENIED);
}

/// Calls `attempt` until it succeeds, for about two seconds at most while it fails because some
/// other program holds the file (Held). GetLastError() then tells why the last attempt failed.
template <typename Attempt>
bool RetryWhileHeld(Attempt attempt, bool denied_too) {
  DWORD pause = 10;
  for (DWORD waited = 0;; waited += pause, pause = std::min<DWORD>(pause * 2, 250)) {
    if (attempt()) return true;
    DWORD error = GetLastError();
    if (!Held(error, denied_too) || waited >= kHoldPatience) return false;
    os::Sleep(pause);
    SetLastError(error);
  }
}

/// Opens the existing file at `path` for reading and writing with no sharing: nobody else may
/// open it while the save holds it, and the open fails while anybody else has it open.
HANDLE OpenExclusively(const Text& path) {
  HANDLE file = INVALID_HANDLE_VALUE;
  RetryWhileHeld(
      [&] {
        file = os::CreateFileW(Wide(path), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        return file != INVALID_HANDLE_VALUE;
      },
      true);
  return file;
}

int64_t Ticks(FILETIME time) {
  return static_cast<int64_t>((uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime);
}

/// The state of the open file, from `information`, with the time of its last change of any kind
/// where the file system tells it (0 where not).
FileStamp StampOf(HANDLE file, const BY_HANDLE_FILE_INFORMATION& information) {
  FileStamp stamp;
  stamp.volume = information.dwVolumeSerialNumber;
  stamp.file = (uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow;
  stamp.size = (uint64_t{information.nFileSizeHigh} << 32) | information.nFileSizeLow;
  stamp.modified = Ticks(information.ftLastWriteTime);
  FILE_BASIC_INFO basic;
  if (os::GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic)) {
    stamp.changed = basic.ChangeTime.QuadPart;
  }
  return stamp;
}

// ---------------------------------------------------------------------------------------------
// Where a save goes

/// The folder part of a path, with its last backslash.
Text FolderOf(const Text& path) { return Text(FolderPart(path, u"\\")); }

/// Where the open file lies, as the system names it: a link's target where it was reached
/// through one, its name as spelled in its folder, in the long form. Empty where the system
/// cannot name it; the file must then be written through the name it was opened by.
Text WhereItLies(HANDLE file) {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    DWORD length =
        os::GetFinalPathNameByHandleW(file, buffer.data(), static_cast<DWORD>(buffer.size()),
                                      FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0) return Text();
    // A result that does not fit comes back as the room it needs, terminator included.
    if (length < buffer.size()) {
      return WithLongPrefix(WithoutLongPrefix(TextFromWide(buffer.data(), length)));
    }
    buffer.resize(length);
  }
}

/// The file that is there, open for the save, shared with nobody.
struct Existing {
  Handle file;
  BY_HANDLE_FILE_INFORMATION information = {};
  FileStamp stamp;
};

/// Opens the existing file at `path` for the save and notes its state; the create failure when it
/// cannot be opened, and nothing changed meanwhile when it is no longer the one `loaded`.
SaveOutcome OpenExisting(const Text& path, const FileStamp* loaded, Existing* existing) {
  existing->file.Reset(OpenExclusively(path));
  if (!existing->file.valid()) return Failed(SaveOutcome::kCreateFailed, GetLastError());
  if (!os::GetFileInformationByHandle(existing->file.get(), &existing->information)) {
    return Failed(SaveOutcome::kCreateFailed, GetLastError());
  }
  existing->stamp = StampOf(existing->file.get(), existing->information);
  if (loaded && existing->stamp != *loaded) return Failed(SaveOutcome::kChangedMeanwhile);
  return SaveOutcome();
}

// ---------------------------------------------------------------------------------------------
// What a new file can keep

/// Whether the open file has streams besides its content, which a new file would not get. True
/// where it cannot be told; false on a file system that has no streams at all.
bool HasNamedStreams(HANDLE file) {
  alignas(FILE_STREAM_INFO) char room[4096];
  if (!os::GetFileInformationByHandleEx(file, FileStreamInfo, room, sizeof room)) {
    DWORD error = GetLastError();
    return !NotOffered(error) && error != ERROR_HANDLE_EOF;
  }
  // The content is the one unnamed stream, "::$DATA"; any entry besides it is a named stream.
  const auto* stream = reinterpret_cast<const FILE_STREAM_INFO*>(room);
  std::wstring_view name(stream->StreamName, stream->StreamNameLength / sizeof(wchar_t));
  return stream->NextEntryOffset != 0 || name != L"::$DATA";
}

/// Whether the open file has an integrity label of its own, not one it takes from its folder,
/// which a new file would not get. True where it cannot be told.
bool HasOwnLabel(HANDLE file) {
  PACL labels = nullptr;
  LocalMemory descriptor;
  DWORD error = os::GetSecurityInfo(file, SE_FILE_OBJECT, LABEL_SECURITY_INFORMATION, nullptr,
                                    nullptr, nullptr, &labels, descriptor.out());
  if (error != ERROR_SUCCESS) return !NotOffered(error);
  if (!labels) return false;
  const auto* entry = reinterpret_cast<const BYTE*>(labels + 1);
  for (WORD index = 0; index < labels->AceCount; ++index) {
    const auto* header = reinterpret_cast<const ACE_HEADER*>(entry);
    if (!(header->AceFlags & INHERITED_ACE)) return true;
    entry += header->AceSize;
  }
  return false;
}

/// Whether a new file can be given everything that the open file has: it has no further names,
/// no attributes but those a new file takes, no named streams and no label of its own.
bool NewFileCanKeepAll(HANDLE file, const BY_HANDLE_FILE_INFORMATION& information) {
  return information.nNumberOfLinks == 1 &&
         (information.dwFileAttributes & ~kCarriedAttributes) == 0 && !HasNamedStreams(file) &&
         !HasOwnLabel(file);
}

/// The security of a file that a new file must be given: its owner, its group and its access
/// list, and whether that list is protected from its folder's entries.
struct Security {
  PSID owner = nullptr;
  PSID group = nullptr;
  PACL access = nullptr;
  bool protected_access = false;
  LocalMemory descriptor;
};

/// Reads the security of the open file; false where it cannot.
bool ReadSecurity(HANDLE file, Security* security) {
  constexpr SECURITY_INFORMATION kWhich =
      OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  if (os::GetSecurityInfo(file, SE_FILE_OBJECT, kWhich, &security->owner, &security->group,
                          &security->access, nullptr,
                          security->descriptor.out()) != ERROR_SUCCESS) {
    return false;
  }
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  GetSecurityDescriptorControl(*security->descriptor.out(), &control, &revision);
  security->protected_access = (control & SE_DACL_PROTECTED) != 0;
  return true;
}

bool SameSid(PSID one, PSID other) { return one && other && EqualSid(one, other); }

/// Whether two access lists are the same, entry by entry, and equally protected.
bool SameAccess(const Security& one, const Security& other) {
  if (one.protected_access != other.protected_access) return false;
  if (!one.access || !other.access) return one.access == other.access;
  const auto* first = reinterpret_cast<const BYTE*>(one.access);
  const auto* second = reinterpret_cast<const BYTE*>(other.access);
  return one.access->AclSize == other.access->AclSize &&
         std::equal(first, first + one.access->AclSize, second);
}

/// Gives the open file the access list of `old`, as it is. False where it cannot.
bool GiveAccess(HANDLE file, const Security& old) {
  SECURITY_INFORMATION access =
      DACL_SECURITY_INFORMATION | (old.protected_access ? PROTECTED_DACL_SECURITY_INFORMATION
                                                        : UNPROTECTED_DACL_SECURITY_INFORMATION);
  return os::SetSecurityInfo(file, SE_FILE_OBJECT, access, nullptr, nullptr, old.access, nullptr) ==
         ERROR_SUCCESS;
}

/// Gives the new file the security of the old one where it got another: the old access list as
/// it is (inherited entries stay inherited, taken from the folder, unless the old list is
/// protected), and the old owner and group. False where any of it cannot be given. (A file system
/// that keeps no security shows the same to both files, and nothing is given.)
bool GiveSecurity(HANDLE file, const Security& old) {
  Security now;
  if (!ReadSecurity(file, &now)) return false;
  if (!SameAccess(now, old) && !GiveAccess(file, old)) return false;
  // The new file's owner and group are the ones that this process gives new files there
  // (TokenOwner and TokenPrimaryGroup of its token, or what a server maps them to on a share).
  SECURITY_INFORMATION which = 0;
  if (!SameSid(now.owner, old.owner)) which |= OWNER_SECURITY_INFORMATION;
  if (!SameSid(now.group, old.group)) which |= GROUP_SECURITY_INFORMATION;
  // Only an owner that the user may give is taken: any other is refused ("invalid owner").
  return which == 0 || os::SetSecurityInfo(file, SE_FILE_OBJECT, which, old.owner, old.group,
                                           nullptr, nullptr) == ERROR_SUCCESS;
}

/// Gives the new file the old one's attributes (hidden, system, …) and creation time, marked as
/// changed for backups.
bool GiveAttributesAndTimes(HANDLE file, const BY_HANDLE_FILE_INFORMATION& old) {
  FILE_BASIC_INFO basic = {};  // times of zero stay as they are
  basic.CreationTime.QuadPart = Ticks(old.ftCreationTime);
  basic.FileAttributes =
      (old.dwFileAttributes & kCarriedAttributes & ~FILE_ATTRIBUTE_NORMAL) | FILE_ATTRIBUTE_ARCHIVE;
  return os::SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic);
}

// ---------------------------------------------------------------------------------------------
// Replace by rename

/// Creates a new file of a short name of its own in `folder`, with `security` (the folder's where
/// null); false when none can be made there.
bool CreateBeside(const Text& folder, NewFile* file, SECURITY_ATTRIBUTES* security = nullptr) {
  uint32_t number = static_cast<uint32_t>(GetTickCount64() ^ (GetCurrentProcessId() << 12));
  for (int attempt = 0; attempt < 256; ++attempt, ++number) {
    if (file->Create(folder + u"~prune" + TextFromNative(HexDigits(number, 4)) + u".tmp",
                     security)) {
      return true;
    }
    DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return false;
  }
  return false;
}

/// Whether the name `path` is seen to name a file other than the open `file`, or none: false
/// where that cannot be told. Looks through a handle that reads nothing, which no sharing keeps
/// from being opened.
bool NamesAnotherFile(const Text& path, HANDLE file) {
  Handle named(os::CreateFileW(Wide(path), FILE_READ_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!named.valid()) return GetLastError() == ERROR_FILE_NOT_FOUND;
  BY_HANDLE_FILE_INFORMATION ours, theirs;
  if (!os::GetFileInformationByHandle(file, &ours) ||
      !os::GetFileInformationByHandle(named.get(), &theirs)) {
    return false;
  }
  // A handle whose file was moved by its name may not tell its volume any more (under Wine it
  // gives 0): the file's number, which it keeps, tells it apart within the folder.
  bool same_volume =
      ours.dwVolumeSerialNumber == theirs.dwVolumeSerialNumber || ours.dwVolumeSerialNumber == 0;
  return !same_volume || ours.nFileIndexHigh != theirs.nFileIndexHigh ||
         ours.nFileIndexLow != theirs.nFileIndexLow;
}

/// Gives the open new file the name `target` in one step, replacing a file there only where
/// `replace` says so: through its own handle, or, where `by_name_too`, by its name where the file
/// system cannot rename a handle. Waits while others hold the file there for a moment. A rename
/// by the name moves whatever bears it by then, which others may delete or rename: where the
/// target is then seen to be another file than the new one, the rename failed.
bool RenameTo(const NewFile& file, const Text& target, bool replace, bool by_name_too = true) {
  std::vector<uint64_t> room(
      (sizeof(FILE_RENAME_INFO) + target.size() * sizeof(wchar_t)) / sizeof(uint64_t) + 1);
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(room.data());
  rename->ReplaceIfExists = replace;
  rename->FileNameLength = static_cast<DWORD>(target.size() * sizeof(wchar_t));
  std::copy(target.begin(), target.end(), reinterpret_cast<char16_t*>(rename->FileName));
  DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
  return RetryWhileHeld(
      [&] {
        if (os::SetFileInformationByHandle(file.get(), FileRenameInfo, rename,
                                           static_cast<DWORD>(room.size() * sizeof(uint64_t)))) {
          return true;
        }
        // A file system, or a system, that takes no new name through a handle (or not in the
        // long form) is asked by the names.
        DWORD error = GetLastError();
        if (!by_name_too || (!NotOffered(error) && error != ERROR_INVALID_NAME)) return false;
        if (!os::MoveFileExW(Wide(file.path()), Wide(target), flags)) return false;
        if (!NamesAnotherFile(target, file.get())) return true;
        SetLastError(ERROR_FILE_NOT_FOUND);
        return false;
      },
      false);
}

/// After a rename of the new file to `target` that reported a failure: whether it took place all
/// the same. Unknown where the system cannot name the file: then `*known` is false.
bool RenamedAllTheSame(const NewFile& file, const Text& target, bool* known) {
  Text where = WhereItLies(file.get());
  *known = !where.empty();
  return *known && CompareStringOrdinal(Wide(where), -1, Wide(target), -1, TRUE) == CSTR_EQUAL;
}

/// Puts the open new file, written and flushed, at `target`, and makes the rename durable. The
/// rename either happens whole or not at all; where it reports a failure, the file is looked for
/// where it should be, so that a rename that took place all the same is never undone by deleting
/// the file, which now holds the name.
SaveOutcome PutInPlace(NewFile& file, const Text& target, bool replace) {
  if (!RenameTo(file, target, replace)) {
    DWORD error = GetLastError();
    bool known = false;
    if (!RenamedAllTheSame(file, target, &known)) {
      if (known) return Failed(SaveOutcome::kTryInPlace, error);
      file.Keep();  // wherever it is, it is not deleted
      return Failed(SaveOutcome::kCreateFailed, error);
    }
  }
  // Written through: a reported success survives a power cut. The new content is in place
  // whatever the flush says, and the failure says so.
  bool durable = os::FlushFileBuffers(file.get());
  file.Keep();
  return durable ? SaveOutcome() : Failed(SaveOutcome::kNotYetLasting);
}

/// The new content goes to a new file beside `target`, which is given the old file's security,
/// attributes and creation time before its first byte, is written and flushed, and then takes
/// the old file's name in one step: a run ended at any moment leaves the old content or the new
/// under the name, never a mix and never nothing. Another way, with nothing changed, where the
/// new file cannot be given all that, there is no room for a second copy, or it cannot be put
/// in place.
SaveOutcome ReplaceByRename(Existing& existing, const Text& target, const FileContent& content) {
  const SaveOutcome another_way = Failed(SaveOutcome::kTryInPlace);
  Security security;
  if (!NewFileCanKeepAll(existing.file.get(), existing.information) ||
      !ReadSecurity(existing.file.get(), &security)) {
    return another_way;
  }
  NewFile file;
  if (!CreateBeside(FolderOf(target), &file) || !GiveSecurity(file.get(), security) ||
      !GiveAttributesAndTimes(file.get(), existing.information)) {
    return another_way;
  }
  if (!WriteNew(file, content)) {
    return NoRoom(GetLastError()) ? another_way : Failed(SaveOutcome::kWriteFailed);
  }
  // A file that anybody holds open cannot be replaced: the old one is let go right before.
  existing.file.Reset(INVALID_HANDLE_VALUE);
  return PutInPlace(file, target, true);
}

// ---------------------------------------------------------------------------------------------
// Write in place, with a backup

/// The user's own folder for backups that cannot lie beside the program, in the long form with
/// its trailing backslash: %LOCALAPPDATA%\prune\, made where missing. Empty where there is none.
Text StateFolder() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    DWORD length = os::GetEnvironmentVariableW(L"LOCALAPPDATA", buffer.data(),
                                               static_cast<DWORD>(buffer.size()));
    if (length == 0) return Text();
    if (length < buffer.size()) {
      buffer.resize(length);
      break;
    }
    buffer.resize(length);
  }
  Text folder = SystemPath(TextFromWide(buffer.data(), buffer.size()) + u"\\prune");
  if (folder.empty()) return Text();
  if (!os::CreateDirectoryW(Wide(folder), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
    return Text();
  }
  return folder + u"\\";
}

/// Gives the backup, written and flushed, the first of its names that is free in `folder`: never
/// the name of a file that is there already, since an earlier run's backup may be the only whole
/// copy of a program. The rename is flushed in turn. False where it keeps its own name. Renamed
/// through its handle only: the backup goes through that handle later, and a handle need not
/// follow a file renamed by its name (under Wine it does not).
bool NameBackup(const Text& folder, TextView name, NewFile* backup) {
  constexpr int kAttempts = 100;
  for (int attempt = 1; attempt <= kAttempts; ++attempt) {
    Text named = folder + BackupName<char16_t>(name, attempt);
    bool known = false;
    if (!RenameTo(*backup, named, false, false)) {
      DWORD error = GetLastError();
      if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
      if (!RenamedAllTheSame(*backup, named, &known)) return false;
    }
    backup->Renamed(named);
    // NTFS writes the rename with the flush; where the flush fails, the backup is whole all the
    // same, and its name may only not outlast a cut.
    os::FlushFileBuffers(backup->get());
    return true;
  }
  SetLastError(ERROR_FILE_EXISTS);
  return false;
}

/// Makes `backup` a file in `folder` holding `old`, that nobody may read who may not read the
/// program: it gets the program's access list `access`, protected from the folder's. Written and
/// flushed under a temporary name of its own, and only then given a backup's name, so that a
/// backup's name only ever holds a whole old program. False where none can be written there.
bool BackupIn(const Text& folder, TextView name, std::string_view old, PACL access,
              NewFile* backup) {
  SECURITY_DESCRIPTOR descriptor;
  InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
  SetSecurityDescriptorDacl(&descriptor, TRUE, access, FALSE);
  SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
  SECURITY_ATTRIBUTES security = {sizeof security, &descriptor, FALSE};
  if (!CreateBeside(folder, backup, &security)) return false;
  if (!WriteFromStart(backup->get(), old) || !os::FlushFileBuffers(backup->get())) {
    backup->Discard();
    return false;
  }
  // Whole and on disk: where it cannot take a backup's name, it stays under its own until the
  // program's new content is on disk, which is never worse than no backup at all.
  NameBackup(folder, name, backup);
  return true;
}

/// A whole copy of the old content of the open file at `target`, on disk before its first byte
/// changes: beside it, else in the user's state folder. None where it can be made nowhere (the
/// file is then written in place all the same) or where the program's access list cannot be read
/// (a backup could then be read by more people than the program).
void MakeBackup(HANDLE file, const Text& target, std::string_view old, NewFile* backup) {
  PACL access = nullptr;
  LocalMemory descriptor;
  if (os::GetSecurityInfo(file, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                          &access, nullptr, descriptor.out()) != ERROR_SUCCESS) {
    return;
  }
  TextView name = NamePart(target, u"\\");
  if (BackupIn(FolderOf(target), name, old, access, backup)) return;
  Text state = StateFolder();
  if (!state.empty()) BackupIn(state, name, old, access, backup);
}

/// Makes the open file `old` again and flushes it; false when it cannot.
bool Restore(HANDLE file, std::string_view old) {
  return WriteFromStart(file, old) && SetLength(file, static_cast<int64_t>(old.size())) &&
         os::FlushFileBuffers(file);
}

/// Writes the content into the open file, whose old content is `old`. Its new length is reserved
/// first, so that a full disk shows before any of its bytes change; should a write still fail,
/// the old bytes are written back and the old length restored.
SaveOutcome Overwrite(HANDLE file, std::string_view old, const FileContent& content) {
  const int64_t old_size = static_cast<int64_t>(old.size());
  const int64_t new_size = static_cast<int64_t>(content.Size());
  if (new_size > old_size && !SetLength(file, new_size)) {
    DWORD error = GetLastError();
    // The reservation may have taken effect before it failed: the old length goes back to disk.
    if (!SetLength(file, old_size) || !os::FlushFileBuffers(file)) {
      return Failed(SaveOutcome::kRestoreFailed);
    }
    return Failed(SaveOutcome::kWriteFailed, error);
  }
  if (WriteContent(file, content) && SetLength(file, new_size) && os::FlushFileBuffers(file)) {
    return SaveOutcome();
  }
  return Failed(Restore(file, old) ? SaveOutcome::kWriteFailed : SaveOutcome::kRestoreFailed);
}

/// Writes the content into the open existing file at `target` itself, which keeps everything it
/// has. The old content goes to a backup first, which stays only where it is the one whole copy
/// left, and the failure then names it.
SaveOutcome WriteInPlace(HANDLE file, const Text& target, const FileContent& content) {
  if (!MoveTo(file, 0)) return Failed(SaveOutcome::kCreateFailed, GetLastError());
  int64_t old_size = RemainingSize(file);
  if (old_size < 0) return Failed(SaveOutcome::kCreateFailed, GetLastError());
  if (old_size >= kMaxFileSize) return Failed(SaveOutcome::kCreateFailed, ERROR_FILE_TOO_LARGE);
  std::string old(static_cast<size_t>(old_size), '\0');
  if (!ReadAll(file, old.data(), static_cast<DWORD>(old.size()))) {
    return Failed(SaveOutcome::kCreateFailed, GetLastError());
  }
  NewFile backup;
  MakeBackup(file, target, old, &backup);
  SaveOutcome outcome = Overwrite(file, old, content);
  if (outcome.kind == SaveOutcome::kRestoreFailed && backup.get() != INVALID_HANDLE_VALUE) {
    outcome.backup = WithoutLongPrefix(backup.path());
    backup.Keep();
  }
  return outcome;
}

// ---------------------------------------------------------------------------------------------
// A new file

/// Makes the file at `target`, which is not there yet, with the content: written under a name of
/// its own beside it and renamed once complete, so that nothing bears the name before the whole
/// result; where no file can be made or renamed there, written where it is to go. The create
/// failure when it cannot be made and the write failure when the content cannot be written; a
/// file not completely written goes with its handle.
SaveOutcome CreateNew(const Text& target, const FileContent& content) {
  NewFile file;
  if (CreateBeside(FolderOf(target), &file)) {
    if (!WriteNew(file, content)) return Failed(SaveOutcome::kWriteFailed);
    SaveOutcome put = PutInPlace(file, target, false);
    if (put.kind != SaveOutcome::kTryInPlace) return put;
    file.Discard();
  }
  if (!file.Create(target)) return Failed(SaveOutcome::kCreateFailed, GetLastError());
  if (!WriteNew(file, content)) return Failed(SaveOutcome::kWriteFailed);
  file.Keep();
  return SaveOutcome();
}

/// Saves `content` as the file at `path` in the way that keeps everything the file has.
SaveOutcome Save(const Text& path, const FileContent& content, const FileStamp* loaded) {
  Text given = SystemPath(path);
  if (given.empty()) return Failed(SaveOutcome::kCreateFailed, GetLastError());
  DWORD attributes = os::GetFileAttributesW(Wide(given));
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND) return Failed(SaveOutcome::kCreateFailed, error);
    if (loaded) return Failed(SaveOutcome::kChangedMeanwhile);  // removed since the load
    return CreateNew(given, content);
  }
  // The create would refuse a folder and a read-only file with "access denied".
  if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) {
    return Failed(SaveOutcome::kCreateFailed, ERROR_ACCESS_DENIED);
  }
  Existing existing;
  if (SaveOutcome opened = OpenExisting(given, loaded, &existing);
      opened.kind != SaveOutcome::kSaved) {
    return opened;
  }
  Text target = WhereItLies(existing.file.get());
  if (!target.empty()) {
    SaveOutcome replaced = ReplaceByRename(existing, target, content);
    if (replaced.kind != SaveOutcome::kTryInPlace) return replaced;
  }
  // Opened again where the rename let it go: still the same file, in the same state.
  if (!existing.file.valid()) {
    const FileStamp before = existing.stamp;
    if (SaveOutcome opened = OpenExisting(given, &before, &existing);
        opened.kind != SaveOutcome::kSaved) {
      return opened;
    }
  }
  return WriteInPlace(existing.file.get(), target.empty() ? given : target, content);
}

}  // namespace

std::string ReadWholeFile(const Text& path, FileStamp* stamp) {
  Handle file(os::CreateFileW(Wide(SystemPath(path)), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) RaiseOpenFailure(path, SystemText(GetLastError()));
  if (stamp) {
    BY_HANDLE_FILE_INFORMATION information;
    if (!os::GetFileInformationByHandle(file.get(), &information)) {
      RaiseOpenFailure(path, SystemText(GetLastError()));
    }
    *stamp = StampOf(file.get(), information);
  }
  int64_t size = RemainingSize(file.get());
  if (size < 0) RaiseReadFailure();
  if (size >= kMaxFileSize) RaiseTooLargeFailure(path);
  std::string bytes(static_cast<size_t>(size), '\0');
  DWORD read = 0;
  if (!os::ReadFile(file.get(), bytes.data(), static_cast<DWORD>(size), &read, nullptr)) read = 0;
  if (read != static_cast<DWORD>(size)) RaiseReadFailure();
  return bytes;
}

// The save holds the file without sharing from its first check to its last write, so the
// program is read whole before it; a new file is written from content known whole.
std::unique_ptr<PieceReader> OpenInPieces(const Text&) { return nullptr; }

bool ReplaceByNewFile(const Text&, const ContentStream&, const FileStamp*, uint32_t) {
  return false;
}

void ReplaceWholeFile(
    const Text& path, const FileContent& content, const FileStamp* loaded,
    uint32_t /*new_file_permissions: a new file inherits its folder's access list*/) {
  RaiseSaveFailure(path, Save(path, content, loaded));
}

Text AbsolutePath(const Text& path) {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    DWORD length =
        os::GetFullPathNameW(Wide(path), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    if (length == 0) return Text();
    // A result that does not fit comes back as the room it needs, terminator included.
    if (length < buffer.size()) return TextFromWide(buffer.data(), length);
    buffer.resize(length);
  }
}
