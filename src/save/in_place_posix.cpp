// The way in place on POSIX systems: the old content goes to a backup first (beside the file,
// else in the user's own state folder), then the file itself is overwritten, cut to its new
// length and flushed, with what the writes clear given back; then the backup goes. Every system
// call goes through the seam in system_calls_posix.h.
#include <sys/file.h>
#include <sys/statfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "base/path.h"
#include "save/backup_name.h"
#include "save/steps_posix.h"
#include "save/ways_posix.h"

namespace {

// ---------------------------------------------------------------------------------------------
// What a write clears

/// Gives the file back the set-user-ID and set-group-ID bits of `before` that a write by this
/// process cleared, where the process owns the file or is the superuser; for anybody else the
/// system keeps them cleared, as after every write by another user. False (errno set) only when
/// a call fails.
bool GiveBackSetIdBits(int fd, const struct stat& before) {
  if ((before.st_mode & (S_ISUID | S_ISGID)) == 0) return true;
  struct stat now;
  if (os::fstat(fd, &now) != 0) return false;
  if ((now.st_mode & 07777) == (before.st_mode & 07777)) return true;
  if (geteuid() != 0 && geteuid() != now.st_uid) return true;
  return os::fchmod(fd, before.st_mode & 07777) == 0;
}

/// The extended attribute that holds a file's capabilities, which the system removes on every
/// write to the file.
constexpr char kCapabilities[] = "security.capability";

/// What a write to a file clears, which a save in place gives back: the set-ID bits of its mode
/// and its capabilities.
struct Privileges {
  struct stat before = {};
  bool has_capabilities = false;
  std::string capabilities;
};

/// The privileges of the open file `fd`, whose status is `st`. False (errno set) when they
/// cannot be read.
bool ReadPrivileges(int fd, const struct stat& st, Privileges* privileges) {
  privileges->before = st;
  std::string value(64, '\0');  // the largest form the system writes takes 24 bytes
  ssize_t length = os::fgetxattr(fd, kCapabilities, value.data(), value.size());
  if (length < 0 && errno == ENODATA) return true;
  // A file system without extended attributes, where listing them says so too.
  if (length < 0 && errno == ENOTSUP) return os::flistxattr(fd, nullptr, 0) < 0 && errno == ENOTSUP;
  if (length < 0) return false;
  value.resize(length);
  privileges->has_capabilities = true;
  privileges->capabilities = std::move(value);
  return true;
}

/// Gives the file back what the writes of this process cleared: the set-ID bits as
/// GiveBackSetIdBits does, and the capabilities where the process is the superuser, the one
/// who may set them (for anybody else they stay removed, as after every write by another user).
/// False (errno set) only when a call fails.
bool GiveBackPrivileges(int fd, const Privileges& kept) {
  if (!GiveBackSetIdBits(fd, kept.before)) return false;
  if (!kept.has_capabilities || geteuid() != 0) return true;
  return os::fsetxattr(fd, kCapabilities, kept.capabilities.data(), kept.capabilities.size(), 0) ==
         0;
}

/// Whether the file system of the open file copies every block it overwrites (btrfs, ZFS,
/// bcachefs): there, overwriting a file in place needs as much free room as a second copy.
bool CopiesOnWrite(int fd) {
  constexpr long kBtrfs = 0x9123683E, kZfs = 0x2FC12FC1, kBcachefs = 0xCA451A4E;
  struct statfs fs;
  if (os::fstatfs(fd, &fs) != 0) return true;  // unknown: no bet on room that may not be there
  long type = static_cast<long>(fs.f_type);
  return type == kBtrfs || type == kZfs || type == kBcachefs;
}

// ---------------------------------------------------------------------------------------------
// The backup

/// The user's own folder for backups that cannot lie beside the program, with its trailing
/// slash: $XDG_STATE_HOME/prune, else ~/.local/state/prune. Empty where neither is set.
std::string StateFolder() {
  const char* state = getenv("XDG_STATE_HOME");
  if (state && state[0] == '/') return std::string(state) + "/prune/";
  const char* home = getenv("HOME");
  if (home && home[0] == '/') return std::string(home) + "/.local/state/prune/";
  return std::string();
}

/// Makes the folder `folder` (with its trailing slash) and those on its way, each new one for
/// this user alone and flushed into its parent. False (errno set) when it cannot.
bool MakeFolders(const std::string& folder) {
  for (size_t end = folder.find('/', 1); end != std::string::npos;
       end = folder.find('/', end + 1)) {
    std::string path = folder.substr(0, end);
    if (os::mkdir(path.c_str(), 0700) == 0) {
      if (!SyncFolder(FolderPart(path))) return false;
    } else if (errno != EEXIST) {
      return false;
    }
  }
  return true;
}

/// Gives the backup `temporary` the first backup name in `folder` that no file has: an earlier
/// run's backup may be the only whole copy of a program, so none is ever replaced. Renames
/// without replacing; where the file system refuses that, links the new name and removes the
/// temporary one. A name counts as given only where it names the backup itself: a naming
/// reported as failed may have been done all the same (a network file system may say so), but a
/// temporary name that another program removed names nothing, and a backup name then belongs to
/// whoever made it. Gives the name in `*path`; false (errno set) when none could be given.
bool GiveBackupName(const MadeFile& temporary, std::string_view folder, std::string_view name,
                    std::string* path) {
  constexpr int kAttempts = 100;
  const char* from = temporary.path.c_str();
  // A rename or a link takes whatever bears the temporary name by then.
  if (temporary.NamingOf(temporary.path) == MadeFile::kNotThisFile) {
    errno = ENOENT;
    return false;
  }
  for (int attempt = 1; attempt <= kAttempts; ++attempt) {
    *path = InFolder(folder, BackupName<char>(name, attempt));
    if (os::renameat2(AT_FDCWD, from, AT_FDCWD, path->c_str(), RENAME_NOREPLACE) == 0) {
      // Renamed was whatever bore the temporary name by then.
      if (temporary.NamingOf(*path) != MadeFile::kNotThisFile) return true;
      errno = ENOENT;
      return false;
    }
    if (errno == EEXIST) continue;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) {
      return temporary.NamedBy(*path);
    }
    // A link names whatever file bears the temporary name by then: the new name is the save's
    // own, but it holds the backup only where the temporary name still did.
    if (os::link(from, path->c_str()) != 0) {
      if (errno == EEXIST) continue;
      if (!temporary.NamedBy(*path)) return false;
    } else if (temporary.NamingOf(*path) == MadeFile::kNotThisFile) {
      os::unlink(path->c_str());
      errno = ENOENT;
      return false;
    }
    // A temporary name that stays is a second name of a whole backup, no partial file.
    temporary.RemoveName(temporary.path);
    return true;
  }
  errno = EEXIST;
  return false;
}

/// Writes `old` to a new backup in `folder`: under a temporary name, flushed, and only then given
/// its backup name and its folder flushed, so that a backup's name only ever holds the whole old
/// content. Adds it to `made` once its name holds the flushed content (its name may still be
/// lost to a power cut, but never worse than no backup); true when the name is flushed too.
bool BackupIn(std::string_view folder, std::string_view name, std::string_view old,
              std::vector<MadeFile>* made) {
  MadeFile backup;
  // Mode 0600: nobody but this user, who has just read the program, reads the backup.
  Descriptor file(CreateTemporaryFile(folder, 0600, &backup));
  if (file.get() < 0) return false;
  FileToRemove temporary(backup);
  uint64_t written = 0;
  ContiguousContent content(old);
  if (!WriteContent(file.get(), content, &written) || os::fsync(file.get()) != 0) return false;
  std::string path;
  if (!GiveBackupName(backup, folder, name, &path)) return false;
  temporary.Keep();
  backup.path = std::move(path);
  backup.held = std::make_shared<Descriptor>(file.Release());
  made->push_back(std::move(backup));
  return SyncFolder(folder);
}

/// Whole copies of the old content, flushed before the first byte of the file changes: beside
/// the file, else (or also, where the name beside it was not flushed) in the user's state folder.
/// The one to name in a failure last; none where no backup could be written anywhere: the file
/// is then written in place all the same.
std::vector<MadeFile> MakeBackups(const std::string& target, std::string_view old) {
  std::string_view name = std::string_view(target).substr(FolderPart(target).size());
  std::vector<MadeFile> made;
  if (BackupIn(FolderPart(target), name, old, &made)) return made;
  std::string state = StateFolder();
  if (!state.empty() && MakeFolders(state)) BackupIn(state, name, old, &made);
  return made;
}

// ---------------------------------------------------------------------------------------------
// Overwriting

/// Reserves room for `new_size` bytes in the open file of `old_size` bytes, so that a full disk
/// or a quota shows before any of its bytes change: the whole new length, since a file system
/// that copies on write needs new room for every byte overwritten. Where the file system cannot
/// reserve without growing the file, it grows it; `*grown` then says so.
bool ReserveRoom(int fd, off_t old_size, off_t new_size, bool* grown) {
  if (new_size == 0) return true;
#if defined(FALLOC_FL_KEEP_SIZE)
  if (os::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, new_size) == 0) return true;
  if (errno != EOPNOTSUPP) return false;
#endif
  *grown = new_size > old_size;
  int error = os::posix_fallocate(fd, 0, new_size);
  errno = error;
  return error == 0;
}

/// Makes the open file `old` again and flushes it: its length, its first `overwritten` bytes,
/// and every later byte that now differs from the old one (a write that failed may have changed
/// some all the same, and a byte written again could fail anew, past a file size limit), with
/// what the writes cleared given back before the flush. False when it cannot.
bool RestoreOldContent(int fd, std::string_view old, uint64_t overwritten, const Privileges& kept) {
  std::string_view head = old.substr(0, std::min<uint64_t>(overwritten, old.size()));
  uint64_t written = 0;
  if (os::ftruncate(fd, static_cast<off_t>(old.size())) != 0 || os::lseek(fd, 0, SEEK_SET) != 0 ||
      !WritePieces(fd, FileContent::Pieces(&head, 1), &written)) {
    return false;
  }
  std::string_view rest = old.substr(head.size());
  std::string now(rest.size(), '\0');
  if (!ReadFully(fd, now.data(), now.size())) return false;
  auto [first, unused] = std::mismatch(rest.begin(), rest.end(), now.begin());
  if (first != rest.end()) {
    size_t from = first - rest.begin();
    size_t to = rest.size();
    while (to > from && rest[to - 1] == now[to - 1]) --to;
    std::string_view differing = rest.substr(from, to - from);
    if (os::lseek(fd, static_cast<off_t>(head.size() + from), SEEK_SET) < 0 ||
        !WritePieces(fd, FileContent::Pieces(&differing, 1), &written)) {
      return false;
    }
  }
  return GiveBackPrivileges(fd, kept) && os::fsync(fd) == 0;
}

/// Overwrites the open file, whose status and privileges were `kept` and whose content `old`,
/// with `content`: room reserved, the bytes written, the file cut to its new length, what the
/// writes cleared given back, and flushed. Should any of it fail, the old bytes are written back,
/// the old length restored and what the writes cleared given back.
SaveOutcome Overwrite(int fd, const Privileges& kept, std::string_view old,
                      const FileContent& content) {
  const off_t new_size = static_cast<off_t>(content.Size());
  bool grown = false;
  if (!ReserveRoom(fd, kept.before.st_size, new_size, &grown)) {
    int error = errno;
    // A reservation that failed may have grown the file, or cleared what a write clears.
    bool restored = grown ? RestoreOldContent(fd, old, 0, kept)
                          : GiveBackPrivileges(fd, kept) && os::fsync(fd) == 0;
    return Failed(restored ? SaveOutcome::kWriteFailed : SaveOutcome::kRestoreFailed, error);
  }
  // Until the cut, the bytes written so far surely differ from the old ones; after it, any may.
  // What the writes cleared goes back before the flush: no power cut leaves the new content
  // without it.
  uint64_t overwritten = 0;
  if (WriteContent(fd, content, &overwritten) &&
      (overwritten = UINT64_MAX, os::ftruncate(fd, new_size) == 0) &&
      GiveBackPrivileges(fd, kept) && os::fsync(fd) == 0) {
    return SaveOutcome();
  }
  int error = errno;
  if (!RestoreOldContent(fd, old, overwritten, kept)) return Failed(SaveOutcome::kRestoreFailed);
  return Failed(SaveOutcome::kWriteFailed, error);
}

}  // namespace

SaveOutcome WriteInPlace(const std::string& target, const FileContent& content,
                         const FileStamp* loaded, int no_room) {
  // The links on the way were followed where they may be; one put in the file's place since is
  // not.
  Descriptor file(os::open(target.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NOFOLLOW, 0));
  if (file.get() < 0) return Failed(SaveOutcome::kCreateFailed, errno);
  // A file system that copies every block it overwrites needs that room in place too.
  if (no_room != 0 && CopiesOnWrite(file.get())) return Failed(SaveOutcome::kWriteFailed, no_room);
  struct stat st;
  if (!WaitForLock(file.get(), LOCK_EX) || os::fstat(file.get(), &st) != 0) {
    return Failed(SaveOutcome::kCreateFailed, errno);
  }
  if (loaded && StampOf(st) != *loaded) return Failed(SaveOutcome::kChangedMeanwhile);
  std::string old(static_cast<size_t>(st.st_size), '\0');
  if (!ReadFully(file.get(), old.data(), old.size()) || os::lseek(file.get(), 0, SEEK_SET) != 0) {
    return Failed(SaveOutcome::kCreateFailed, errno);
  }
  Privileges kept;
  if (!ReadPrivileges(file.get(), st, &kept)) return Failed(SaveOutcome::kCreateFailed, errno);
  std::vector<MadeFile> backups = MakeBackups(target, old);
  // Another program may have written the file while the backup was made (through another of
  // its names, which no lock holds off): its write is kept, and the backups go, untouched as the
  // file is.
  const FileStamp read = StampOf(st);
  if (SaveOutcome unchanged = CheckUnchanged(target, &read);
      unchanged.kind != SaveOutcome::kSaved) {
    for (const MadeFile& backup : backups) backup.RemoveName(backup.path);
    return unchanged;
  }
  SaveOutcome outcome = Overwrite(file.get(), kept, old, content);
  if (outcome.kind == SaveOutcome::kRestoreFailed) {
    if (!backups.empty()) outcome.backup = TextFromNative(backups.back().path);
    return outcome;
  }
  // Only now that the file's new content or its old one is flushed.
  for (const MadeFile& backup : backups) backup.RemoveName(backup.path);
  return outcome;
}
