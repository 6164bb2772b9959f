#include "save/steps_win32.h"

#include <cstdint>
#include <string>
#include <vector>

#include "base/path.h"
#include "base/wide_win32.h"
#include "files/system_path_win32.h"

namespace {

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

}  // namespace

// ---------------------------------------------------------------------------------------------
// The outcome of a failed step

SaveOutcome Failed(SaveOutcome::Kind kind, DWORD error) {
  return {kind, error == NO_ERROR ? Text() : ErrorText(error), Text()};
}

bool NoRoom(DWORD error) { return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL; }

bool NotOffered(DWORD error) {
  return error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_PARAMETER ||
         error == ERROR_INVALID_FUNCTION;
}

// ---------------------------------------------------------------------------------------------
// Writing

Step WriteContent(HANDLE file, const FileContent& content) {
  uint64_t position = 0;
  Step step = Step::Done();
  content.WriteTo([file, &position, &step](FileContent::Slices slices) {
    for (std::string_view slice : slices) {
      step = WriteAll(file, slice, &position);
      if (!step.done()) return false;
    }
    return true;
  });
  return step;
}

// ---------------------------------------------------------------------------------------------
// The files that the save makes

Text FolderOf(const Text& path) { return Text(FolderPart(path, u"\\")); }

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

Step NewFile::Create(const Text& path, SECURITY_ATTRIBUTES* security) {
  constexpr DWORD kAccess = GENERIC_READ | GENERIC_WRITE | DELETE | WRITE_DAC | WRITE_OWNER;
  handle_ = os::CreateFileW(Wide(path), kAccess, FILE_SHARE_DELETE, security, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle_ == INVALID_HANDLE_VALUE) return Step::Failed(GetLastError());
  path_ = path;
  return Step::Done();
}

void NewFile::Keep() {
  if (handle_ != INVALID_HANDLE_VALUE) os::CloseHandle(handle_);
  handle_ = INVALID_HANDLE_VALUE;
}

void NewFile::Discard() {
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

Step CreateBeside(const Text& folder, NewFile* file, SECURITY_ATTRIBUTES* security) {
  uint32_t number = static_cast<uint32_t>(GetTickCount64() ^ (GetCurrentProcessId() << 12));
  Step created = Step::Failed(ERROR_FILE_EXISTS);
  for (int attempt = 0; attempt < 256; ++attempt, ++number) {
    Text name = folder + u"~prune" + TextFromNative(HexDigits(number, 4)) + u".tmp";
    created = file->Create(name, security);
    if (created.done()) return created;
    if (created.error() != ERROR_FILE_EXISTS && created.error() != ERROR_ALREADY_EXISTS) break;
  }
  return created;
}

Step RenameTo(const NewFile& file, const Text& target, bool replace, bool by_name_too) {
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
          return Step::Done();
        }
        // A file system, or a system, that takes no new name through a handle (or not in the
        // long form) is asked by the names.
        const DWORD error = GetLastError();
        if (!by_name_too || (!NotOffered(error) && error != ERROR_INVALID_NAME)) {
          return Step::Failed(error);
        }
        if (!os::MoveFileExW(Wide(file.path()), Wide(target), flags)) {
          return Step::Failed(GetLastError());
        }
        return NamesAnotherFile(target, file.get()) ? Step::Failed(ERROR_FILE_NOT_FOUND)
                                                    : Step::Done();
      },
      false);
}

AllTheSame RenamedAllTheSame(const NewFile& file, const Text& target) {
  Text where = WhereItLies(file.get());
  if (where.empty()) return AllTheSame::kUnknown;
  return CompareStringOrdinal(Wide(where), -1, Wide(target), -1, TRUE) == CSTR_EQUAL
             ? AllTheSame::kRenamed
             : AllTheSame::kNotRenamed;
}
