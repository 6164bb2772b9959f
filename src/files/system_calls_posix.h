// The system calls that a run makes to load and save a program (the existence test, the
// settings file and the program file itself), each through a pointer that starts out as the
// system's own function. A test puts a replacement in one of them to make that call fail; a run
// pays one indirect call. The list below is the one place that names them: the fault tests build
// their replacements from it, so that a call added here is tried without anyone listing it
// again. Calls that cannot fail (umask, geteuid, getpid) are made directly.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <time.h>

/// X(result type, name, parameters, arguments, the result that reports a failure). Every call
/// reports its failure with errno, posix_fallocate with its result as well.
#define PRUNE_SYSTEM_CALLS(X)                                                                   \
  X(int, open, (const char* path, int flags, mode_t mode), (path, flags, mode), -1)             \
  X(int, close, (int fd), (fd), -1)                                                             \
  X(ssize_t, read, (int fd, void* buffer, size_t size), (fd, buffer, size), -1)                 \
  X(ssize_t, writev, (int fd, const iovec* vectors, int count), (fd, vectors, count), -1)       \
  X(off_t, lseek, (int fd, off_t offset, int whence), (fd, offset, whence), -1)                 \
  X(int, fstat, (int fd, struct stat* status), (fd, status), -1)                                \
  X(int, fstatfs, (int fd, struct statfs* status), (fd, status), -1)                            \
  X(int, stat, (const char* path, struct stat* status), (path, status), -1)                     \
  X(int, lstat, (const char* path, struct stat* status), (path, status), -1)                    \
  X(ssize_t, readlink, (const char* path, char* buffer, size_t size), (path, buffer, size), -1) \
  X(int, access, (const char* path, int mode), (path, mode), -1)                                \
  X(char*, getcwd, (char* buffer, size_t size), (buffer, size), nullptr)                        \
  X(int, flock, (int fd, int operation), (fd, operation), -1)                                   \
  X(int, nanosleep, (const timespec* pause, timespec* left), (pause, left), -1)                 \
  X(int, madvise, (void* address, size_t length, int advice), (address, length, advice), -1)    \
  X(int, fallocate, (int fd, int mode, off_t offset, off_t length), (fd, mode, offset, length), \
    -1)                                                                                         \
  X(int, posix_fallocate, (int fd, off_t offset, off_t length), (fd, offset, length), errno)    \
  X(int, ftruncate, (int fd, off_t length), (fd, length), -1)                                   \
  X(int, sync_file_range, (int fd, off_t offset, off_t length, unsigned int flags),             \
    (fd, offset, length, flags), -1)                                                            \
  X(int, fsync, (int fd), (fd), -1)                                                             \
  X(int, fchown, (int fd, uid_t owner, gid_t group), (fd, owner, group), -1)                    \
  X(int, fchmod, (int fd, mode_t mode), (fd, mode), -1)                                         \
  X(ssize_t, listxattr, (const char* path, char* names, size_t size), (path, names, size), -1)  \
  X(ssize_t, getxattr, (const char* path, const char* name, void* value, size_t size),          \
    (path, name, value, size), -1)                                                              \
  X(ssize_t, flistxattr, (int fd, char* names, size_t size), (fd, names, size), -1)             \
  X(ssize_t, fgetxattr, (int fd, const char* name, void* value, size_t size),                   \
    (fd, name, value, size), -1)                                                                \
  X(int, fsetxattr, (int fd, const char* name, const void* value, size_t size, int flags),      \
    (fd, name, value, size, flags), -1)                                                         \
  X(int, fremovexattr, (int fd, const char* name), (fd, name), -1)                              \
  X(int, rename, (const char* from, const char* to), (from, to), -1)                            \
  X(int, renameat2,                                                                             \
    (int from_folder, const char* from, int to_folder, const char* to, unsigned flags),         \
    (from_folder, from, to_folder, to, flags), -1)                                              \
  X(int, link, (const char* from, const char* to), (from, to), -1)                              \
  X(int, unlink, (const char* path), (path), -1)                                                \
  X(int, mkdir, (const char* path, mode_t mode), (path, mode), -1)                              \
  X(DIR*, opendir, (const char* path), (path), nullptr)                                         \
  X(dirent*, readdir, (DIR * folder), (folder), nullptr)                                        \
  X(int, closedir, (DIR * folder), (folder), -1)

/// The calls, as `os::open(…)`, `os::fsync(…)`, …
namespace os {
#define PRUNE_DECLARE_SYSTEM_CALL(result, name, parameters, arguments, failed) \
  extern result(*name) parameters;
PRUNE_SYSTEM_CALLS(PRUNE_DECLARE_SYSTEM_CALL)
#undef PRUNE_DECLARE_SYSTEM_CALL
}  // namespace os
