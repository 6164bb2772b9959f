// For the Windows tests: every path that the calls of the seam (files/system_calls_win32.h) hand
// to the system, recorded while a PathRecorder lives.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "files/system_calls_win32.h"

/// Records the paths of every call that names a file, and hands the call on, while it lives.
/// (GetFullPathNameW is not among them: it only forms a path's absolute form, without looking
/// at any file.)
class PathRecorder {
 public:
  PathRecorder() {
    Paths().clear();
    create_ = os::CreateFileW;
    attributes_ = os::GetFileAttributesW;
    find_ = os::FindFirstFileW;
    move_ = os::MoveFileExW;
    folder_ = os::CreateDirectoryW;
    information_ = os::SetFileInformationByHandle;
    profile_ = os::GetPrivateProfileStringW;
    os::CreateFileW = [](LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                         DWORD disposition, DWORD flags, HANDLE model) {
      Paths().push_back(name);
      return create_(name, access, share, security, disposition, flags, model);
    };
    os::GetFileAttributesW = [](LPCWSTR name) {
      Paths().push_back(name);
      return attributes_(name);
    };
    os::FindFirstFileW = [](LPCWSTR name, LPWIN32_FIND_DATAW found) {
      Paths().push_back(name);
      return find_(name, found);
    };
    os::MoveFileExW = [](LPCWSTR from, LPCWSTR to, DWORD flags) {
      Paths().push_back(from);
      Paths().push_back(to);
      return move_(from, to, flags);
    };
    os::CreateDirectoryW = [](LPCWSTR name, LPSECURITY_ATTRIBUTES security) {
      Paths().push_back(name);
      return folder_(name, security);
    };
    os::SetFileInformationByHandle = [](HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind,
                                        LPVOID information, DWORD size) {
      if (kind == FileRenameInfo) {
        const auto* rename = static_cast<const FILE_RENAME_INFO*>(information);
        Paths().emplace_back(rename->FileName, rename->FileNameLength / sizeof(wchar_t));
      }
      return information_(file, kind, information, size);
    };
    os::GetPrivateProfileStringW = [](LPCWSTR section, LPCWSTR key, LPCWSTR fallback, LPWSTR value,
                                      DWORD size, LPCWSTR name) {
      Paths().push_back(name);
      return profile_(section, key, fallback, value, size, name);
    };
  }
  ~PathRecorder() {
    os::CreateFileW = create_;
    os::GetFileAttributesW = attributes_;
    os::FindFirstFileW = find_;
    os::MoveFileExW = move_;
    os::CreateDirectoryW = folder_;
    os::SetFileInformationByHandle = information_;
    os::GetPrivateProfileStringW = profile_;
  }
  PathRecorder(const PathRecorder&) = delete;
  PathRecorder& operator=(const PathRecorder&) = delete;

  /// The paths handed to the system so far, in order.
  static std::vector<std::wstring>& Paths() {
    static std::vector<std::wstring> paths;
    return paths;
  }

 private:
  static inline decltype(os::CreateFileW) create_;
  static inline decltype(os::GetFileAttributesW) attributes_;
  static inline decltype(os::FindFirstFileW) find_;
  static inline decltype(os::MoveFileExW) move_;
  static inline decltype(os::CreateDirectoryW) folder_;
  static inline decltype(os::SetFileInformationByHandle) information_;
  static inline decltype(os::GetPrivateProfileStringW) profile_;
};
