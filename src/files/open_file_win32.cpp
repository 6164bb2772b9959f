#include "files/open_file_win32.h"

#include "base/wide_win32.h"

Text ErrorText(DWORD error) {
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

namespace {

// Writes go out in requests of at most this size, so that each fits a DWORD count.
constexpr size_t kMaxWriteRequest = size_t{1} << 30;

/// Whether a call of SetFilePointer that gave `low` failed: the low half of a position may look
/// like the failure value, so only the error code tells, which is cleared before the call.
bool PointerFailed(DWORD low) {
  return low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR;
}

}  // namespace

Found<int64_t> RemainingSize(HANDLE file) {
  SetLastError(NO_ERROR);
  LONG position_high = 0;
  DWORD position_low = os::SetFilePointer(file, 0, &position_high, FILE_CURRENT);
  if (PointerFailed(position_low)) return {Step::Failed(GetLastError()), -1};
  LONG end_high = 0;
  DWORD end_low = os::SetFilePointer(file, 0, &end_high, FILE_END);
  if (PointerFailed(end_low)) return {Step::Failed(GetLastError()), -1};
  SetLastError(NO_ERROR);
  DWORD back =
      os::SetFilePointer(file, static_cast<LONG>(position_low), &position_high, FILE_BEGIN);
  if (PointerFailed(back)) return {Step::Failed(GetLastError()), -1};
  int64_t position = (int64_t{position_high} << 32) | position_low;
  int64_t end = (int64_t{end_high} << 32) | end_low;
  return {Step::Done(), end - position};
}

Step ReadAll(HANDLE file, char* buffer, DWORD size) {
  while (size > 0) {
    DWORD read = 0;
    if (!os::ReadFile(file, buffer, size, &read, nullptr)) return Step::Failed(GetLastError());
    if (read == 0) return Step::Failed(ERROR_HANDLE_EOF);
    buffer += read;
    size -= read;
  }
  return Step::Done();
}

int64_t Ticks(FILETIME time) {
  return static_cast<int64_t>((uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime);
}

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
// Writing

// Why the first request may write nothing: an empty content is written by one request for zero
// bytes, whose answer of nothing written is no failure; the loop treats every first request
// alike and only gives up when a further request makes no progress.
Step WriteAll(HANDLE file, std::string_view bytes, uint64_t* position) {
  bool first = true;
  do {
    DWORD asked = static_cast<DWORD>(std::min(bytes.size(), kMaxWriteRequest));
    DWORD written = 0;
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(*position);
    at.OffsetHigh = static_cast<DWORD>(*position >> 32);
    if (!os::WriteFile(file, bytes.data(), asked, &written, &at)) written = 0;
    // Where the request wrote nothing without failing, the error is that of the call before.
    if (written == 0 && !first && !bytes.empty()) return Step::Failed(GetLastError());
    bytes.remove_prefix(written);
    *position += written;
    first = false;
  } while (!bytes.empty());
  return Step::Done();
}

Step WriteFromStart(HANDLE file, std::string_view bytes) {
  uint64_t position = 0;
  return WriteAll(file, bytes, &position);
}

Step MoveTo(HANDLE file, int64_t position) {
  LONG high = static_cast<LONG>(position >> 32);
  SetLastError(NO_ERROR);
  DWORD low = os::SetFilePointer(file, static_cast<LONG>(position & 0xFFFFFFFF), &high, FILE_BEGIN);
  const DWORD error = GetLastError();
  return low != INVALID_SET_FILE_POINTER || error == NO_ERROR ? Step::Done() : Step::Failed(error);
}

Step SetLength(HANDLE file, int64_t size) {
  if (Step moved = MoveTo(file, size); !moved.done()) return moved;
  return os::SetEndOfFile(file) ? Step::Done() : Step::Failed(GetLastError());
}

// ---------------------------------------------------------------------------------------------
// A file that another program holds for a moment

bool Held(DWORD error, bool denied_too) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
         (denied_too && error == ERROR_ACCESS_DENIED);
}

Found<HANDLE> OpenExclusively(const Text& path) {
  HANDLE file = INVALID_HANDLE_VALUE;
  const Step opened = RetryWhileHeld(
      [&] {
        file = os::CreateFileW(Wide(path), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        return file != INVALID_HANDLE_VALUE ? Step::Done() : Step::Failed(GetLastError());
      },
      true);
  return {opened, file};
}
