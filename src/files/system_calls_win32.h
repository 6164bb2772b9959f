// The Windows calls that a run makes to load and save a program (the existence test, the
// settings lookup, the code page and the program file itself), each through a pointer that
// starts out as the system's own function. A test puts a replacement in one of them to make that
// call fail; a run pays one indirect call. The list below is the one place that names them: the
// fault tests build their replacements from it, so that a call added here is tried without
// anyone listing it again. Calls that cannot fail (GetLastError, SetLastError,
// GetCurrentProcessId, GetTickCount64, GetACP, EqualSid, CompareStringOrdinal, LocalFree) and
// those that only fill memory of the caller's (InitializeSecurityDescriptor,
// SetSecurityDescriptorDacl, SetSecurityDescriptorControl, GetSecurityDescriptorControl, and the
// conversions MultiByteToWideChar and WideCharToMultiByte, whose answer depends on the bytes
// alone) are made directly, and so is FormatMessageW, which only finds the words for an error
// that is already decided.
#pragma once

#include <windows.h>
// After windows.h, which it needs.
#include <aclapi.h>

/// X(result type, name, parameters, arguments, the result that reports a failure). Every call
/// leaves its error for GetLastError; GetSecurityInfo and SetSecurityInfo return it as well.
#define PRUNE_SYSTEM_CALLS(X)                                                                    \
  X(HANDLE, CreateFileW,                                                                         \
    (LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition, \
     DWORD flags, HANDLE model),                                                                 \
    (name, access, share, security, disposition, flags, model), INVALID_HANDLE_VALUE)            \
  X(BOOL, ReadFile,                                                                              \
    (HANDLE file, LPVOID buffer, DWORD size, LPDWORD done, LPOVERLAPPED overlapped),             \
    (file, buffer, size, done, overlapped), FALSE)                                               \
  X(BOOL, WriteFile,                                                                             \
    (HANDLE file, LPCVOID buffer, DWORD size, LPDWORD done, LPOVERLAPPED overlapped),            \
    (file, buffer, size, done, overlapped), FALSE)                                               \
  X(DWORD, SetFilePointer, (HANDLE file, LONG low, PLONG high, DWORD method),                    \
    (file, low, high, method), INVALID_SET_FILE_POINTER)                                         \
  X(BOOL, SetEndOfFile, (HANDLE file), (file), FALSE)                                            \
  X(BOOL, FlushFileBuffers, (HANDLE file), (file), FALSE)                                        \
  X(BOOL, CloseHandle, (HANDLE handle), (handle), FALSE)                                         \
  X(DWORD, GetFileAttributesW, (LPCWSTR name), (name), INVALID_FILE_ATTRIBUTES)                  \
  X(HANDLE, FindFirstFileW, (LPCWSTR name, LPWIN32_FIND_DATAW found), (name, found),             \
    INVALID_HANDLE_VALUE)                                                                        \
  X(BOOL, FindClose, (HANDLE search), (search), FALSE)                                           \
  X(BOOL, GetFileInformationByHandle, (HANDLE file, LPBY_HANDLE_FILE_INFORMATION information),   \
    (file, information), FALSE)                                                                  \
  X(BOOL, GetFileInformationByHandleEx,                                                          \
    (HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID information, DWORD size),               \
    (file, kind, information, size), FALSE)                                                      \
  X(BOOL, SetFileInformationByHandle,                                                            \
    (HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID information, DWORD size),               \
    (file, kind, information, size), FALSE)                                                      \
  X(DWORD, GetFinalPathNameByHandleW, (HANDLE file, LPWSTR buffer, DWORD size, DWORD flags),     \
    (file, buffer, size, flags), 0)                                                              \
  X(DWORD, GetSecurityInfo,                                                                      \
    (HANDLE object, SE_OBJECT_TYPE type, SECURITY_INFORMATION which, PSID * owner, PSID * group, \
     PACL * access, PACL * audit, PSECURITY_DESCRIPTOR * descriptor),                            \
    (object, type, which, owner, group, access, audit, descriptor), GetLastError())              \
  X(DWORD, SetSecurityInfo,                                                                      \
    (HANDLE object, SE_OBJECT_TYPE type, SECURITY_INFORMATION which, PSID owner, PSID group,     \
     PACL access, PACL audit),                                                                   \
    (object, type, which, owner, group, access, audit), GetLastError())                          \
  X(BOOL, MoveFileExW, (LPCWSTR from, LPCWSTR to, DWORD flags), (from, to, flags), FALSE)        \
  X(BOOL, CreateDirectoryW, (LPCWSTR name, LPSECURITY_ATTRIBUTES security), (name, security),    \
    FALSE)                                                                                       \
  X(DWORD, GetEnvironmentVariableW, (LPCWSTR name, LPWSTR buffer, DWORD size),                   \
    (name, buffer, size), 0)                                                                     \
  X(DWORD, GetPrivateProfileStringW,                                                             \
    (LPCWSTR section, LPCWSTR key, LPCWSTR fallback, LPWSTR value, DWORD size, LPCWSTR name),    \
    (section, key, fallback, value, size, name), 0)                                              \
  X(DWORD, GetFullPathNameW, (LPCWSTR name, DWORD size, LPWSTR buffer, LPWSTR * part),           \
    (name, size, buffer, part), 0)                                                               \
  X(BOOL, GetCPInfo, (UINT code_page, LPCPINFO info), (code_page, info), FALSE)                  \
  X(void, Sleep, (DWORD milliseconds), (milliseconds), void())

/// The calls, as `os::CreateFileW(…)`, `os::MoveFileExW(…)`, …
namespace os {
#define PRUNE_DECLARE_SYSTEM_CALL(result, name, parameters, arguments, failed) \
  extern result(*name) parameters;
PRUNE_SYSTEM_CALLS(PRUNE_DECLARE_SYSTEM_CALL)
#undef PRUNE_DECLARE_SYSTEM_CALL
}  // namespace os
