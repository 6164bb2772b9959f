// Files on Windows. The load opens the file so that nobody may write it while it is read. The
// save first checks every reason for which the file could not be created, then writes a new file
// beside it and puts that in its place once complete, the old file keeping a name of its own
// until the new one is there, so that the program is never missing. Where no new file can be made
// there or put in place, or the file has further names, or is not the user's own (a new file
// would not keep its owner), it writes the file itself in place, safely. A file reached through a
// symbolic link is saved where the link leads. A file that the save makes and does not keep goes
// through its own handle, so that nothing half-written stays.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "base/path.h"
#include "base/wide_win32.h"
#include "files/file_failures.h"
#include "files/native_file.h"
#include "files/system_calls_win32.h"

namespace {

constexpr int64_t kMaxFileSize = int64_t{1} << 31;
// Writes go out in requests of at most this size, so that each fits a DWORD count.
constexpr size_t kMaxWriteRequest = size_t{1} << 30;
// How long a file that another program holds for a moment is waited for, in milliseconds.
constexpr DWORD kHoldPatience = 2000;

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
  /// Closes now and tells whether the close succeeded.
  bool Close() {
    HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return os::CloseHandle(handle) != 0;
  }

 private:
  HANDLE handle_;
};

/// A file that the save makes, open for writing, that others may rename or delete but not open;
/// deleted through its handle unless kept, so that it goes also where its name could not be
/// deleted.
class NewFile {
 public:
  NewFile() = default;
  ~NewFile() { Discard(); }
  NewFile(const NewFile&) = delete;
  NewFile& operator=(const NewFile&) = delete;
  /// Creates the file at `path`, which must not exist yet; false when it cannot be made.
  bool Create(const Text& path) {
    handle_ = os::CreateFileW(Wide(path), GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_DELETE,
                              nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle_ == INVALID_HANDLE_VALUE) return false;
    path_ = path;
    return true;
  }
  HANDLE get() const { return handle_; }
  const Text& path() const { return path_; }
  /// Closes the file, which stays. Its content was flushed before, so a close that reports a
  /// failure has lost nothing.
  void Keep() {
    if (handle_ != INVALID_HANDLE_VALUE) os::CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }
  /// Deletes the file through its handle and closes it.
  void Discard() {
    if (handle_ == INVALID_HANDLE_VALUE) return;
    FILE_DISPOSITION_INFO disposition = {TRUE};
    os::SetFileInformationByHandle(handle_, FileDispositionInfo, &disposition, sizeof disposition);
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

/// Writes all of `bytes`: one request, then one for the rest as long as some is left. A request
/// after the first that writes nothing fails the whole write; a failing request writes nothing.
// Why the first request may write nothing: an empty content is written by one request for zero
// bytes, whose answer of nothing written is no failure; the loop treats every first request
// alike and only gives up when a further request makes no progress.
bool WriteAll(HANDLE file, std::string_view bytes) {
  bool first = true;
  do {
    DWORD asked = static_cast<DWORD>(std::min(bytes.size(), kMaxWriteRequest));
    DWORD written = 0;
    if (!os::WriteFile(file, bytes.data(), asked, &written, nullptr)) written = 0;
    if (written == 0 && !first && !bytes.empty()) return false;
    bytes.remove_prefix(written);
    first = false;
  } while (!bytes.empty());
  return true;
}

/// Writes `content` at the file's position, a request for each piece (the content gathers short
/// pieces itself).
bool WriteContent(HANDLE file, const FileContent& content) {
  return content.WriteTo([file](FileContent::Pieces pieces) {
    for (std::string_view piece : pieces) {
      if (!WriteAll(file, piece)) return false;
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

/// Opens the existing file for reading and writing with no sharing, as the save's create does.
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

// ---------------------------------------------------------------------------------------------
// Where a save goes

/// `path` without the prefix "\\?\" where what follows is an ordinary drive or network path.
Text WithoutLongPrefix(Text path) {
  if (path.starts_with(u"\\\\?\\UNC\\")) return u"\\\\" + path.substr(8);
  if (path.starts_with(u"\\\\?\\") && path.size() >= 6 && path[5] == u':') return path.substr(4);
  return path;
}

/// The path of the file that the symbolic link or junction at `path` leads to, as the system
/// names it; empty, with the reason left for GetLastError, when it cannot be opened.
Text LinkTarget(const Text& path) {
  Handle file(os::CreateFileW(Wide(path), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return Text();
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    DWORD length = os::GetFinalPathNameByHandleW(file.get(), buffer.data(),
                                                 static_cast<DWORD>(buffer.size()), 0);
    if (length == 0) return Text();
    // A result that does not fit comes back as the room it needs, terminator included.
    if (length < buffer.size()) return WithoutLongPrefix(TextFromWide(buffer.data(), length));
    buffer.resize(length);
  }
}

/// What the save needs to know of the file that is there.
struct Existing {
  Text path;  // where the file lies: a link's target, else the path given
  bool exists = false;
  bool single_link = true;
  DWORD attributes = 0;
};

/// Where the content of `path` goes: the file itself, or where the link at `path` leads. The
/// create failure when a link leads nowhere that can be opened.
SaveOutcome FileBehind(const Text& path, DWORD attributes, Text* target) {
  *target = path;
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
      (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return SaveOutcome();
  }
  *target = LinkTarget(path);
  return target->empty() ? Failed(SaveOutcome::kCreateFailed, GetLastError()) : SaveOutcome();
}

/// Sees that a new file can be made at `path`, and takes it away again: through its handle, so
/// that it goes also where its name could not be deleted.
SaveOutcome ProbeNewFile(const Text& path) {
  HANDLE probe =
      os::CreateFileW(Wide(path), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (probe == INVALID_HANDLE_VALUE) return Failed(SaveOutcome::kCreateFailed, GetLastError());
  os::CloseHandle(probe);
  return SaveOutcome();
}

/// Checks every reason for which the create of `path` would fail, before anything is written;
/// tells in `existing` what the save needs to know of the file that is there.
SaveOutcome CheckTarget(const Text& path, Existing* existing) {
  DWORD attributes = os::GetFileAttributesW(Wide(path));
  if (SaveOutcome checked = FileBehind(path, attributes, &existing->path);
      checked.kind != SaveOutcome::kSaved) {
    return checked;
  }
  if (existing->path != path) attributes = os::GetFileAttributesW(Wide(existing->path));
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND) return Failed(SaveOutcome::kCreateFailed, error);
    return ProbeNewFile(existing->path);
  }
  // The create would refuse a folder and a read-only file with "access denied".
  if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) {
    return Failed(SaveOutcome::kCreateFailed, ERROR_ACCESS_DENIED);
  }
  // The same access and share mode as the create: fails while anybody else has the file open.
  Handle probe(OpenExclusively(existing->path));
  if (!probe.valid()) return Failed(SaveOutcome::kCreateFailed, GetLastError());
  BY_HANDLE_FILE_INFORMATION information;
  // Where the number of links cannot be learnt, the file is taken to have others.
  existing->single_link =
      os::GetFileInformationByHandle(probe.get(), &information) && information.nNumberOfLinks <= 1;
  existing->exists = true;
  existing->attributes = attributes;
  return SaveOutcome();
}

/// The folder part of an absolute path, with its last backslash or slash.
Text FolderOf(const Text& absolute) { return Text(FolderPart(absolute, u"\\/")); }

/// The absolute path of the existing file at `absolute` with its name spelled as it stands in
/// the folder, so that a replace keeps that spelling.
Text AsSpelledInFolder(const Text& absolute) {
  WIN32_FIND_DATAW found;
  HANDLE search = os::FindFirstFileW(Wide(absolute), &found);
  if (search == INVALID_HANDLE_VALUE) return absolute;
  os::FindClose(search);
  return FolderOf(absolute) + TextFromWide(found.cFileName, wcslen(found.cFileName));
}

// ---------------------------------------------------------------------------------------------
// Replace by rename

/// Creates a new file of a short name of its own in `folder`; false when none can be made there.
bool CreateBeside(const Text& folder, NewFile* file) {
  uint32_t number = static_cast<uint32_t>(GetTickCount64() ^ (GetCurrentProcessId() << 12));
  for (int attempt = 0; attempt < 256; ++attempt, ++number) {
    if (file->Create(folder + u"~prune" + TextFromNative(HexDigits(number, 4)) + u".tmp")) {
      return true;
    }
    DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return false;
  }
  return false;
}

/// The account that this process runs as, into `room`; null when it cannot be learnt.
PSID ProcessUser(std::vector<BYTE>* room) {
  HANDLE token = nullptr;
  if (!os::OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return nullptr;
  Handle closing(token);
  room->resize(sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE);
  DWORD needed = 0;
  if (!os::GetTokenInformation(token, TokenUser, room->data(), static_cast<DWORD>(room->size()),
                               &needed)) {
    return nullptr;
  }
  return reinterpret_cast<TOKEN_USER*>(room->data())->User.Sid;
}

/// Whether the user owns the file at `path` and may delete it: only then does a new file put in
/// its place keep its owner, and only then can it be put there. False where it cannot be told.
bool OwnAndMayDelete(const Text& path) {
  Handle file(os::CreateFileW(Wide(path), READ_CONTROL | DELETE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return false;
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (os::GetSecurityInfo(file.get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                          nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  std::vector<BYTE> room;
  PSID user = ProcessUser(&room);
  bool own = owner && user && EqualSid(owner, user);
  LocalFree(descriptor);
  return own;
}

/// Gives the new file the attributes of the old one that a replace might not carry over
/// (hidden, system). False when they cannot be set.
bool TakeAttributes(HANDLE file, DWORD attributes) {
  constexpr DWORD kCarried = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  if (!(attributes & kCarried)) return true;
  FILE_BASIC_INFO basic = {};  // times of zero stay as they are
  basic.FileAttributes = (attributes & kCarried) | FILE_ATTRIBUTE_ARCHIVE;
  return os::SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic);
}

/// Writes the content into the new file and flushes it; false when it cannot, the file then
/// going with its handle.
bool WriteNew(NewFile& file, const FileContent& content) {
  return WriteContent(file.get(), content) && os::FlushFileBuffers(file.get());
}

/// Deletes the file the save made at `path` by its name, waiting while others hold it.
void DeleteMade(const Text& path) {
  RetryWhileHeld([&] { return os::DeleteFileW(Wide(path)) != 0; }, false);
}

/// After a replace that failed with `error`: makes sure the program is at `target` again, moving
/// the old file back from `backup` where the replace had moved it away. False when it cannot
/// be put back; the new content and the old then both stay where they are.
bool PutBack(const Text& target, const Text& backup, DWORD error) {
  bool gone = error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2;
  if (!gone && os::GetFileAttributesW(Wide(target)) == INVALID_FILE_ATTRIBUTES) {
    gone = GetLastError() == ERROR_FILE_NOT_FOUND;
  }
  if (!gone) return true;
  return os::MoveFileExW(Wide(backup), Wide(target), MOVEFILE_WRITE_THROUGH) != 0;
}

/// Puts the complete new file at `replacement` in the place of the existing `target`, whose old
/// file keeps the name `backup` until the new one is there. Only a file that others hold for a
/// moment is waited for. Another way, with nothing changed, when it cannot be done; the create
/// failure, with both files kept, when the program could not be put back.
SaveOutcome ReplaceExisting(const Text& target, const Text& replacement, const Text& backup) {
  // No REPLACEFILE_IGNORE_MERGE_ERRORS: a file whose security cannot be carried over is written
  // in place instead.
  bool replaced = RetryWhileHeld(
      [&] {
        return os::ReplaceFileW(Wide(target), Wide(replacement), Wide(backup), 0, nullptr,
                                nullptr) != 0;
      },
      false);
  if (replaced) {
    DeleteMade(backup);
    return SaveOutcome();
  }
  DWORD error = GetLastError();
  if (!PutBack(target, backup, error)) return Failed(SaveOutcome::kCreateFailed, error);
  DeleteMade(replacement);
  DeleteMade(backup);
  return Failed(SaveOutcome::kTryInPlace);
}

/// The new content goes to a new file beside the existing `target`, flushed, then put in its
/// place: a run ended at any moment leaves the old content or the new, never a mix. Another way,
/// with nothing changed, where no new file can be made beside it or it cannot be put in place.
SaveOutcome ReplaceByRename(const Existing& existing, const Text& target,
                            const FileContent& content) {
  const SaveOutcome another_way = Failed(SaveOutcome::kTryInPlace);
  if (!OwnAndMayDelete(target)) return another_way;
  NewFile file, backup;
  if (!CreateBeside(FolderOf(target), &file)) return another_way;
  if (!WriteNew(file, content)) return Failed(SaveOutcome::kWriteFailed);
  // The old file's name while the new one takes its place, made now so that it is one's own.
  if (!TakeAttributes(file.get(), existing.attributes) ||
      !CreateBeside(FolderOf(target), &backup)) {
    return another_way;
  }
  backup.Keep();
  file.Keep();
  return ReplaceExisting(target, file.path(), backup.path());
}

// ---------------------------------------------------------------------------------------------
// Write in place, and a new file

/// Writes the content into the existing file itself, which keeps everything it has. Its new
/// length is reserved first, so that a full disk shows before any of its bytes change; should a
/// write still fail, the old bytes are written back and the old length restored.
SaveOutcome WriteInPlace(const Text& target, const FileContent& content) {
  // Opened with no sharing, which keeps every other writer out while it is written.
  Handle file(OpenExclusively(target));
  if (!file.valid()) return Failed(SaveOutcome::kCreateFailed, GetLastError());
  int64_t old_size = RemainingSize(file.get());
  if (old_size < 0) return Failed(SaveOutcome::kCreateFailed, GetLastError());
  if (old_size >= kMaxFileSize) return Failed(SaveOutcome::kCreateFailed, ERROR_FILE_TOO_LARGE);
  std::string old(static_cast<size_t>(old_size), '\0');
  if (!ReadAll(file.get(), old.data(), static_cast<DWORD>(old.size()))) {
    return Failed(SaveOutcome::kCreateFailed, GetLastError());
  }
  const int64_t new_size = static_cast<int64_t>(content.Size());
  if (new_size > old_size && !SetLength(file.get(), new_size)) {
    SetLength(file.get(), old_size);
    return Failed(SaveOutcome::kWriteFailed);
  }
  if (MoveTo(file.get(), 0) && WriteContent(file.get(), content) &&
      SetLength(file.get(), new_size) && os::FlushFileBuffers(file.get())) {
    return SaveOutcome();
  }
  // Back to the old bytes and length; where even that fails, the failure says so.
  bool restored = MoveTo(file.get(), 0) && WriteAll(file.get(), old) &&
                  SetLength(file.get(), old_size) && os::FlushFileBuffers(file.get());
  return Failed(restored ? SaveOutcome::kWriteFailed : SaveOutcome::kRestoreFailed);
}

/// Makes the file at `target`, which is not there yet, with the content: written under a name of
/// its own beside it and renamed once complete where it can be, else written where it is to go.
/// The create failure when it cannot be made and the write failure when the content cannot be
/// written; a file not completely written goes with its handle.
SaveOutcome CreateNew(const Text& target, const FileContent& content) {
  NewFile file;
  if (CreateBeside(FolderOf(target), &file)) {
    if (!WriteNew(file, content)) return Failed(SaveOutcome::kWriteFailed);
    // Renamed while open: it goes with its handle should the rename fail.
    if (os::MoveFileExW(Wide(file.path()), Wide(target), MOVEFILE_WRITE_THROUGH)) {
      file.Keep();
      return SaveOutcome();
    }
    file.Discard();
  }
  if (!file.Create(target)) return Failed(SaveOutcome::kCreateFailed, GetLastError());
  if (!WriteNew(file, content)) return Failed(SaveOutcome::kWriteFailed);
  file.Keep();
  return SaveOutcome();
}

/// Saves `content` as the file at `path` in the way that keeps everything the file has.
SaveOutcome Save(const Text& path, const FileContent& content) {
  Existing existing;
  if (SaveOutcome checked = CheckTarget(path, &existing); checked.kind != SaveOutcome::kSaved)
    return checked;
  Text absolute = AbsolutePath(existing.path);
  if (absolute.empty()) return Failed(SaveOutcome::kCreateFailed, GetLastError());
  if (!existing.exists) return CreateNew(absolute, content);
  Text target = AsSpelledInFolder(absolute);
  // A replace would leave the file's other names with the old content.
  if (existing.single_link) {
    SaveOutcome replaced = ReplaceByRename(existing, target, content);
    if (replaced.kind != SaveOutcome::kTryInPlace) return replaced;
  }
  return WriteInPlace(target, content);
}

}  // namespace

std::string ReadWholeFile(const Text& path, [[maybe_unused]] FileStamp* stamp) {
  Handle file(os::CreateFileW(Wide(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) RaiseOpenFailure(path, SystemText(GetLastError()));
  int64_t size = RemainingSize(file.get());
  if (size < 0) RaiseReadFailure();
  if (size >= kMaxFileSize) RaiseTooLargeFailure(path);
  std::string bytes(static_cast<size_t>(size), '\0');
  DWORD read = 0;
  if (!os::ReadFile(file.get(), bytes.data(), static_cast<DWORD>(size), &read, nullptr)) read = 0;
  if (read != static_cast<DWORD>(size)) RaiseReadFailure();
  return bytes;
}

void ReplaceWholeFile(const Text& path, const FileContent& content,
                      [[maybe_unused]] const FileStamp* loaded) {
  RaiseSaveFailure(path, Save(path, content));
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
