// Files on Windows. The load opens the file so that nobody may write it while it is read. The
// save never writes into the user's file: it first checks every reason for which the file could
// not be created, then writes a new file beside it and puts that in its place once complete.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "files/file_failures.h"
#include "files/native_file.h"
#include "files/wide_win32.h"

namespace {

constexpr int64_t kMaxFileSize = int64_t{1} << 31;
// Writes go out in requests of at most this size, so that each fits a DWORD count.
constexpr size_t kMaxWriteRequest = size_t{1} << 30;

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
    if (valid()) CloseHandle(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }
  /// Closes now and tells whether the close succeeded.
  bool Close() {
    HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return CloseHandle(handle) != 0;
  }

 private:
  HANDLE handle_;
};

/// Deletes the temporary file unless it was handed over.
class TemporaryFile {
 public:
  TemporaryFile() = default;
  ~TemporaryFile() {
    if (!path_.empty()) DeleteFileW(Wide(path_));
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
  DWORD position_low = SetFilePointer(file, 0, &position_high, FILE_CURRENT);
  if (position_low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) return -1;
  LONG end_high = 0;
  DWORD end_low = SetFilePointer(file, 0, &end_high, FILE_END);
  if (end_low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) return -1;
  SetFilePointer(file, static_cast<LONG>(position_low), &position_high, FILE_BEGIN);
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
    if (!WriteFile(file, bytes.data(), asked, &written, nullptr)) written = 0;
    if (written == 0 && !first && !bytes.empty()) return false;
    bytes.remove_prefix(written);
    first = false;
  } while (!bytes.empty());
  return true;
}

/// Checks every reason for which the create of `path` would fail, before anything is written,
/// and raises the create failure for it. Tells whether a file is there now.
bool CheckTarget(const Text& path) {
  const wchar_t* name = Wide(path);
  DWORD attributes = GetFileAttributesW(name);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND) RaiseCreateFailure(path, SystemText(error));
    // A new file: see that it can be made where it is to go, and take it away again.
    HANDLE probe = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe == INVALID_HANDLE_VALUE) RaiseCreateFailure(path, SystemText(GetLastError()));
    CloseHandle(probe);
    DeleteFileW(name);
    return false;
  }
  // The create would refuse a folder and a read-only file with "access denied".
  if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) {
    RaiseCreateFailure(path, SystemText(ERROR_ACCESS_DENIED));
  }
  // The same access and share mode as the create: fails while anybody else has the file open.
  HANDLE probe = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
  if (probe == INVALID_HANDLE_VALUE) RaiseCreateFailure(path, SystemText(GetLastError()));
  CloseHandle(probe);
  return true;
}

/// The folder part of an absolute path, with its last backslash or slash.
Text FolderOf(const Text& absolute) {
  size_t separator = absolute.find_last_of(u"\\/");
  return separator == Text::npos ? Text() : absolute.substr(0, separator + 1);
}

Text Hex(uint64_t value) {
  Text digits;
  do {
    digits.insert(digits.begin(), u"0123456789abcdef"[value % 16]);
    value /= 16;
  } while (value != 0);
  return digits;
}

/// Creates a new file of a name of its own in `folder` for writing and names it in `temporary`;
/// raises the create failure for `path` when none can be made.
HANDLE CreateTemporaryFile(const Text& path, const Text& folder, TemporaryFile* temporary) {
  Text stem = folder + u"~prune-" + Hex(GetCurrentProcessId()) + u"-";
  for (uint64_t attempt = GetTickCount64();; ++attempt) {
    Text name = stem + Hex(attempt) + u".tmp";
    HANDLE file = CreateFileW(Wide(name), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      temporary->Take(std::move(name));
      return file;
    }
    DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
      RaiseCreateFailure(path, SystemText(error));
    }
  }
}

/// Puts the complete new file in the place of `path`; an existing file keeps its attributes.
bool PutInPlace(const Text& replacement, const Text& path, bool exists) {
  if (exists && ReplaceFileW(Wide(path), Wide(replacement), nullptr,
                             REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)) {
    return true;
  }
  return MoveFileExW(Wide(replacement), Wide(path),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

}  // namespace

std::string ReadWholeFile(const Text& path) {
  Handle file(CreateFileW(Wide(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) RaiseOpenFailure(path, SystemText(GetLastError()));
  int64_t size = RemainingSize(file.get());
  if (size < 0) RaiseReadFailure();
  if (size >= kMaxFileSize) RaiseTooLargeFailure(path);
  std::string bytes(static_cast<size_t>(size), '\0');
  DWORD read = 0;
  if (!ReadFile(file.get(), bytes.data(), static_cast<DWORD>(size), &read, nullptr)) read = 0;
  if (read != static_cast<DWORD>(size)) RaiseReadFailure();
  return bytes;
}

void ReplaceWholeFile(const Text& path, const FileContent& content) {
  bool exists = CheckTarget(path);
  Text absolute = AbsolutePath(path);
  if (absolute.empty()) RaiseCreateFailure(path, SystemText(GetLastError()));

  TemporaryFile temporary;
  Handle file(CreateTemporaryFile(path, FolderOf(absolute), &temporary));
  bool written = content.WriteTo([&](FileContent::Pieces pieces) {
    for (std::string_view piece : pieces) {
      if (!WriteAll(file.get(), piece)) return false;
    }
    return true;
  });
  if (!written || !FlushFileBuffers(file.get()) || !file.Close()) {
    RaiseWriteFailure();
  }
  if (!PutInPlace(temporary.path(), absolute, exists)) {
    RaiseCreateFailure(path, SystemText(GetLastError()));
  }
  temporary.Release();
}

Text AbsolutePath(const Text& path) {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    DWORD length =
        GetFullPathNameW(Wide(path), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    if (length == 0) return Text();
    // A result that does not fit comes back as the room it needs, terminator included.
    if (length < buffer.size()) return TextFromWide(buffer.data(), length);
    buffer.resize(length);
  }
}
