// Files on Windows. The load opens the file so that nobody may write it while it is read. The
// save first checks every reason for which the file could not be created, then writes a new file
// beside it and puts that in its place once complete; where no new file can be made there or put
// in place, or the file has further names, it writes the file itself in place, safely.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <vector>

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

/// Closes a file handle when it goes out of scope.
class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
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

/// Deletes the temporary file unless it was handed over.
class TemporaryFile {
 public:
  TemporaryFile() = default;
  ~TemporaryFile() {
    if (!path_.empty()) os::DeleteFileW(Wide(path_));
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  const Text& path() const { return path_; }
  void Take(Text path) { path_ = std::move(path); }
  void Release() { path_.clear(); }

 private:
  Text path_;
};

/// The size of the open file less the current position, which is put back where it was;
/// -1 when the file has no size (a device or a pipe).
int64_t RemainingSize(HANDLE file) {
  // The low half of a position may look like the failure value; only the error code tells.
  SetLastError(NO_ERROR);
  LONG position_high = 0;
  DWORD position_low = os::SetFilePointer(file, 0, &position_high, FILE_CURRENT);
  if (position_low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) return -1;
  LONG end_high = 0;
  DWORD end_low = os::SetFilePointer(file, 0, &end_high, FILE_END);
  if (end_low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) return -1;
  os::SetFilePointer(file, static_cast<LONG>(position_low), &position_high, FILE_BEGIN);
  int64_t position = (int64_t{position_high} << 32) | position_low;
  int64_t end = (int64_t{end_high} << 32) | end_low;
  return end - position;
}

/// Writes all of `bytes`: one request, then one for the rest as long as some is left. A request
/// after the first that writes nothing fails the whole write; a failing request writes nothing.
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

/// Calls `attempt` until it succeeds, for about two seconds at most while it fails because some
/// other program has the file open for a moment (a virus scanner, the search indexer, a sync
/// client). GetLastError() then tells why the last attempt failed.
template <typename Attempt>
bool RetryWhileHeld(Attempt attempt) {
  DWORD pause = 10;
  for (DWORD waited = 0;; waited += pause, pause = std::min<DWORD>(pause * 2, 250)) {
    if (attempt()) return true;
    DWORD error = GetLastError();
    bool held = error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
                error == ERROR_LOCK_VIOLATION;
    if (!held || waited >= kHoldPatience) return false;
    os::Sleep(pause);
    SetLastError(error);
  }
}

/// Opens the existing file for reading and writing with no sharing, as the save's create does.
HANDLE OpenExclusively(const Text& path) {
  HANDLE file = INVALID_HANDLE_VALUE;
  RetryWhileHeld([&] {
    file = os::CreateFileW(Wide(path), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    return file != INVALID_HANDLE_VALUE;
  });
  return file;
}

/// What the save needs to know of the file that is there.
struct Existing {
  bool exists = false;
  bool single_link = true;
};

/// Checks every reason for which the create of `path` would fail, before anything is written,
/// and raises the create failure for it.
Existing CheckTarget(const Text& path) {
  const wchar_t* name = Wide(path);
  DWORD attributes = os::GetFileAttributesW(name);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND) RaiseCreateFailure(path, SystemText(error));
    // A new file: see that it can be made where it is to go, and take it away again.
    HANDLE probe = os::CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe == INVALID_HANDLE_VALUE) RaiseCreateFailure(path, SystemText(GetLastError()));
    os::CloseHandle(probe);
    os::DeleteFileW(name);
    return {};
  }
  // The create would refuse a folder and a read-only file with "access denied".
  if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) {
    RaiseCreateFailure(path, SystemText(ERROR_ACCESS_DENIED));
  }
  // The same access and share mode as the create: fails while anybody else has the file open.
  Handle probe(OpenExclusively(path));
  if (!probe.valid()) RaiseCreateFailure(path, SystemText(GetLastError()));
  BY_HANDLE_FILE_INFORMATION information;
  bool single_link =
      !os::GetFileInformationByHandle(probe.get(), &information) || information.nNumberOfLinks <= 1;
  return {true, single_link};
}

/// The folder part of an absolute path, with its last backslash or slash.
Text FolderOf(const Text& absolute) {
  size_t separator = absolute.find_last_of(u"\\/");
  return separator == Text::npos ? Text() : absolute.substr(0, separator + 1);
}

/// The absolute path of the existing file at `absolute` with its name spelled as it stands in
/// the folder, so that a replace keeps that spelling.
Text AsSpelledInFolder(const Text& absolute) {
  WIN32_FIND_DATAW found;
  HANDLE search = os::FindFirstFileW(Wide(absolute), &found);
  if (search == INVALID_HANDLE_VALUE) return absolute;
  os::FindClose(search);
  return FolderOf(absolute) + TextFromWide(found.cFileName, wcslen(found.cFileName));
}

/// Creates a new file of a short name of its own in `folder` for writing and names it in
/// `temporary`; invalid when none can be made there.
HANDLE CreateTemporaryFile(const Text& folder, TemporaryFile* temporary) {
  uint32_t number = static_cast<uint32_t>(GetTickCount64() ^ (GetCurrentProcessId() << 12));
  for (int attempt = 0; attempt < 256; ++attempt, ++number) {
    Text name = folder + u"~prune" + TextFromNative(HexDigits(number, 4)) + u".tmp";
    HANDLE file = os::CreateFileW(Wide(name), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      temporary->Take(std::move(name));
      return file;
    }
    DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
  }
  return INVALID_HANDLE_VALUE;
}

/// Puts the complete new file in the place of `target`. An existing file keeps its attributes,
/// security and streams, and its name as spelled in the folder.
bool PutInPlace(const Text& replacement, const Text& target, bool exists) {
  return RetryWhileHeld([&] {
    if (exists && os::ReplaceFileW(Wide(target), Wide(replacement), nullptr,
                                   REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)) {
      return true;
    }
    return os::MoveFileExW(Wide(replacement), Wide(target),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
  });
}

/// The new content goes to a new file beside `target`, flushed, then put in its place: a run
/// ended at any moment leaves the old content or the new, never a mix. False, with nothing
/// changed, where no new file can be made beside it or it cannot be put in place; raises the
/// write failure when the content cannot be written.
bool ReplaceByRename(const Text& target, bool exists, const FileContent& content) {
  TemporaryFile temporary;
  Handle file(CreateTemporaryFile(FolderOf(target), &temporary));
  if (!file.valid()) return false;
  if (!WriteContent(file.get(), content) || !os::FlushFileBuffers(file.get()) || !file.Close()) {
    RaiseWriteFailure();
  }
  if (!PutInPlace(temporary.path(), target, exists)) return false;
  temporary.Release();
  return true;
}

/// Writes the content into the existing file itself, which keeps everything it has. Its new
/// length is reserved first, so that a full disk shows before any of its bytes change; should a
/// write still fail, the old bytes are written back and the old length restored.
void WriteInPlace(const Text& path, const Text& target, const FileContent& content) {
  // Opened with no sharing, which keeps every other writer out while it is written.
  Handle file(OpenExclusively(target));
  if (!file.valid()) RaiseCreateFailure(path, SystemText(GetLastError()));
  int64_t old_size = RemainingSize(file.get());
  if (old_size < 0 || old_size >= kMaxFileSize) {
    RaiseCreateFailure(path, SystemText(GetLastError()));
  }
  std::string old(static_cast<size_t>(old_size), '\0');
  DWORD read = 0;
  if (!os::ReadFile(file.get(), old.data(), static_cast<DWORD>(old.size()), &read, nullptr) ||
      read != old.size()) {
    RaiseCreateFailure(path, SystemText(GetLastError()));
  }
  const int64_t new_size = static_cast<int64_t>(content.Size());
  if (new_size > old_size && !SetLength(file.get(), new_size)) {
    SetLength(file.get(), old_size);
    RaiseWriteFailure();
  }
  if (MoveTo(file.get(), 0) && WriteContent(file.get(), content) &&
      SetLength(file.get(), new_size) && os::FlushFileBuffers(file.get())) {
    return;
  }
  if (MoveTo(file.get(), 0)) WriteAll(file.get(), old);
  SetLength(file.get(), old_size);
  os::FlushFileBuffers(file.get());
  RaiseWriteFailure();
}

/// Creates the file that is not there yet and writes the content into it; deletes it again when
/// the content cannot be written.
void CreateAndWrite(const Text& path, const FileContent& content) {
  Handle file(os::CreateFileW(Wide(path), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) RaiseCreateFailure(path, SystemText(GetLastError()));
  TemporaryFile unfinished;
  unfinished.Take(path);
  if (!WriteContent(file.get(), content) || !os::FlushFileBuffers(file.get()) || !file.Close()) {
    RaiseWriteFailure();
  }
  unfinished.Release();
}

}  // namespace

std::string ReadWholeFile(const Text& path) {
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

void ReplaceWholeFile(const Text& path, const FileContent& content) {
  Existing existing = CheckTarget(path);
  Text absolute = AbsolutePath(path);
  if (absolute.empty()) RaiseCreateFailure(path, SystemText(GetLastError()));
  if (!existing.exists) {
    if (!ReplaceByRename(absolute, false, content)) CreateAndWrite(path, content);
    return;
  }
  Text target = AsSpelledInFolder(absolute);
  // A replace would leave the file's other names with the old content.
  if (existing.single_link && ReplaceByRename(target, true, content)) return;
  WriteInPlace(path, target, content);
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
