// Reading a file on Windows: the whole file with one request, while others may read it but not
// write it. The save holds the file without sharing from its first check to its last write, so
// the program is read whole before it; a new file is written from content known whole. Every
// call that can fail goes through the seam in system_calls_win32.h.
#include <windows.h>

#include <memory>
#include <string>

#include "base/wide_win32.h"
#include "files/file_failures.h"
#include "files/open_file_win32.h"
#include "files/read.h"
#include "files/system_path_win32.h"

std::string ReadWholeFile(const Text& path, FileStamp* stamp) {
  Handle file(os::CreateFileW(Wide(SystemPath(path).value), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) RaiseOpenFailure(path, ErrorText(GetLastError()));
  if (stamp) {
    BY_HANDLE_FILE_INFORMATION information;
    if (!os::GetFileInformationByHandle(file.get(), &information)) {
      RaiseOpenFailure(path, ErrorText(GetLastError()));
    }
    *stamp = StampOf(file.get(), information);
  }
  const Found<int64_t> remaining = RemainingSize(file.get());
  if (!remaining.step.done()) RaiseReadFailure();
  const int64_t size = remaining.value;
  if (size >= kMaxFileSize) RaiseTooLargeFailure(path);
  std::string bytes(static_cast<size_t>(size), '\0');
  DWORD read = 0;
  if (!os::ReadFile(file.get(), bytes.data(), static_cast<DWORD>(size), &read, nullptr)) read = 0;
  if (read != static_cast<DWORD>(size)) RaiseReadFailure();
  return bytes;
}

std::unique_ptr<PieceReader> OpenInPieces(const Text&) { return nullptr; }
