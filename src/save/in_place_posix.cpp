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
/// system keeps them cleared, as after every write by another user. Failed only where a call
/// fails.
Step GiveBackSetIdBits(int fd, const struct stat& before) {
  if ((before.st_mode & (S_ISUID | S_ISGID)) == 0) return Step::Done();
  struct stat now;
  if (os::fstat(fd, &now) != 0) return Step::Failed(errno);
  if ((now.st_mode & 07777) == (before.st_mode & 07777)) return Step::Done();
  if (geteuid() != 0 && geteuid() != now.st_uid) return Step::Done();
  return os::fchmod(fd, before.st_mode & 07777) == 0 ? Step::Done() : Step::Failed(errno);
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

/// The privileges of the open file `fd`, whose status is `st`.
Found<Privileges> ReadPrivileges(int fd, const struct stat& st) {
  Found<Privileges> read = {Step::Done(), {st, false, std::string(64, '\0')}};
  std::string& value = read.value.capabilities;  // the largest form the system writes: 24 bytes
  ssize_t length = os::fgetxattr(fd, kCapabilities, value.data(), value.size());
  const int error = length < 0 ? errno : 0;
  if (length < 0) value.clear();
  if (error == ENODATA) return read;
  // A file system without extended attributes, where listing them says so too.
  if (error == ENOTSUP) {
    if (os::flistxattr(fd, nullptr, 0) >= 0)
      read.step = Step::Failed(ENOTSUP);
    else if (errno != ENOTSUP)
      read.step = Step::Failed(errno);
    return read;
  }
  if (length < 0) return {Step::Failed(error), {}};
  value.resize(length);
  read.value.has_capabilities = true;
  return read;
}

/// Gives the file back what the writes of this process cleared: the set-ID bits as
/// GiveBackSetIdBits does, and the capabilities where the process is the superuser, the one
/// who may set them (for anybody else they stay removed, as after every write by another user).
/// Failed only where a call fails.
Step GiveBackPrivileges(int fd, const Privileges& kept) {
  if (Step set_id = GiveBackSetIdBits(fd, kept.before); !set_id.done()) return set_id;
  if (!kept.has_capabilities || geteuid() != 0) return Step::Done();
  const std::string& value = kept.capabilities;
  return os::fsetxattr(fd, kCapabilities, value.data(), value.size(), 0) == 0 ? Step::Done()
                                                                              : Step::Failed(errno);
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
/// this user alone and flushed into its parent.
Step MakeFolders(const std::string& folder) {
  for (size_t end = folder.find('/', 1); end != std::string::npos;
       end = folder.find('/', end + 1)) {
    std::string path = folder.substr(0, end);
    if (os::mkdir(path.c_str(), 0700) == 0) {
      if (Step synced = SyncFolder(FolderPart(path)); !synced.done()) return synced;
    } else if (errno != EEXIST) {
      return Step::Failed(errno);
    }
  }
  return Step::Done();
}

/// Gives the backup `temporary` the first backup name in `folder` that no file has: an earlier
/// run's backup may be the only whole copy of a program, so none is ever replaced. Renames
/// without replacing; where the file system refuses that, links the new name and removes the
/// temporary one. A name counts as given only where it names the backup itself: a naming
/// reported as failed may have been done all the same (a network file system may say so), but a
/// temporary name that another program removed names nothing, and a backup name then belongs to
/// whoever made it. Gives the name given.
Found<std::string> GiveBackupName(const MadeFile& temporary, std::string_view folder,
                                  std::string_view name) {
  constexpr int kAttempts = 100;
  const char* from = temporary.path.c_str();
  const Found<std::string> not_the_backup = {Step::Failed(ENOENT), ""};
  // A rename or a link takes whatever bears the temporary name by then.
  if (temporary.NamingOf(temporary.path) == MadeFile::kNotThisFile) return not_the_backup;
  for (int attempt = 1; attempt <= kAttempts; ++attempt) {
    const std::string path = InFolder(folder, BackupName<char>(name, attempt));
    const Found<std::string> given = {Step::Done(), path};
    if (os::renameat2(AT_FDCWD, from, AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0) {
      // Renamed was whatever bore the temporary name by then.
      return temporary.NamingOf(path) != MadeFile::kNotThisFile ? given : not_the_backup;
    }
    const int error = errno;
    if (error == EEXIST) continue;
    if (error != EINVAL && error != ENOSYS && error != EOPNOTSUPP) {
      return temporary.NamedBy(path) ? given : Found<std::string>{Step::Failed(error), ""};
    }
    // A link names whatever file bears the temporary name by then: the new name is the save's
    // own, but it holds the backup only where the temporary name still did.
    if (os::link(from, path.c_str()) != 0) {
      const int link_error = errno;
      if (link_error == EEXIST) continue;
      if (!temporary.NamedBy(path)) return {Step::Failed(link_error), ""};
    } else if (temporary.NamingOf(path) == MadeFile::kNotThisFile) {
      os::unlink(path.c_str());
      return not_the_backup;
    }
    // A temporary name that stays is a second name of a whole backup, no partial file.
    temporary.RemoveName(temporary.path);
    return given;
  }
  return {Step::Failed(EEXIST), ""};
}

/// Writes `old` to a new backup in `folder`: under a temporary name, flushed, and only then given
/// its backup name and its folder flushed, so that a backup's name only ever holds the whole old
/// content. Adds it to `made` once its name holds the flushed content (its name may still be
/// lost to a power cut, but never worse than no backup); true when the name is flushed too.
bool BackupIn(std::string_view folder, std::string_view name, std::string_view old,
              std::vector<MadeFile>* made) {
  // Mode 0600: nobody but this user, who has just read the program, reads the backup.
  Created created = CreateTemporaryFile(folder, 0600);
  Descriptor file(created.fd);
  if (!created.step.done()) return false;
  MadeFile& backup = created.made;
  FileToRemove temporary(backup);
  uint64_t written = 0;
  ContiguousContent content(old);
  if (!WriteContent(file.get(), content, &written).done() || os::fsync(file.get()) != 0) {
    return false;
  }
  Found<std::string> named = GiveBackupName(backup, folder, name);
  if (!named.step.done()) return false;
  temporary.Keep();
  backup.path = std::move(named.value);
  backup.held = std::make_shared<Descriptor>(file.Release());
  made->push_back(std::move(backup));
  return SyncFolder(folder).done();
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
  if (!state.empty() && MakeFolders(state).done()) BackupIn(state, name, old, &made);
  return made;
}

// ---------------------------------------------------------------------------------------------
// Overwriting

/// Whether the file system of the open file copies every block it overwrites (btrfs, ZFS,
/// bcachefs): there, overwriting a file in place needs as much free room as a second copy.
bool CopiesOnWrite(int fd) {
  constexpr long kBtrfs = 0x9123683E, kZfs = 0x2FC12FC1, kBcachefs = 0xCA451A4E;
  struct statfs fs;
  if (os::fstatfs(fd, &fs) != 0) return true;  // unknown: no bet on room that may not be there
  long type = static_cast<long>(fs.f_type);
  return type == kBtrfs || type == kZfs || type == kBcachefs;
}

/// Reserves room for `new_size` bytes in the open file of `old_size` bytes, so that a full disk
/// or a quota shows before any of its bytes change: the whole new length, since a file system
/// that copies on write needs new room for every byte overwritten. Where the file system cannot
/// reserve without growing the file, it grows it: the reservation then says whether it did.
Found<bool> ReserveRoom(int fd, off_t old_size, off_t new_size) {
  if (new_size == 0) return {Step::Done(), false};
#if defined(FALLOC_FL_KEEP_SIZE)
  if (os::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, new_size) == 0) return {Step::Done(), false};
  if (errno != EOPNOTSUPP) return {Step::Failed(errno), false};
#endif
  const bool grown = new_size > old_size;
  const int error = os::posix_fallocate(fd, 0, new_size);
  return {error == 0 ? Step::Done() : Step::Failed(error), grown};
}

/// Makes the open file `old` again and flushes it: its length, its first `overwritten` bytes,
/// and every later byte that now differs from the old one (a write that failed may have changed
/// some all the same, and a byte written again could fail anew, past a file size limit), with
/// what the writes cleared given back before the flush. False when it cannot.
bool RestoreOldContent(int fd, std::string_view old, uint64_t overwritten, const Privileges& kept) {
  std::string_view head = old.substr(0, std::min<uint64_t>(overwritten, old.size()));
  uint64_t written = 0;
  if (os::ftruncate(fd, static_cast<off_t>(old.size())) != 0 || os::lseek(fd, 0, SEEK_SET) != 0 ||
      !WriteSlices(fd, FileContent::Slices(&head, 1), &written).done()) {
    return false;
  }
  std::string_view rest = old.substr(head.size());
  std::string now(rest.size(), '\0');
  if (!ReadFully(fd, now.data(), now.size()).done()) return false;
  auto [first, unused] = std::mismatch(rest.begin(), rest.end(), now.begin());
  if (first != rest.end()) {
    size_t from = first - rest.begin();
    size_t to = rest.size();
    while (to > from && rest[to - 1] == now[to - 1]) --to;
    std::string_view differing = rest.substr(from, to - from);
    if (os::lseek(fd, static_cast<off_t>(head.size() + from), SEEK_SET) < 0 ||
        !WriteSlices(fd, FileContent::Slices(&differing, 1), &written).done()) {
      return false;
    }
  }
  return GiveBackPrivileges(fd, kept).done() && os::fsync(fd) == 0;
}

/// Writes `content` over the open file of the new length `new_size`, cuts it there, gives back
/// what the writes cleared and flushes it. `*overwritten` counts the bytes written until the
/// cut, after which it is UINT64_MAX: until then the bytes written surely differ from the old
/// ones, after it any may.
Step WriteOver(int fd, const FileContent& content, off_t new_size, const Privileges& kept,
               uint64_t* overwritten) {
  if (Step written = WriteContent(fd, content, overwritten); !written.done()) return written;
  *overwritten = UINT64_MAX;
  if (os::ftruncate(fd, new_size) != 0) return Step::Failed(errno);
  // What the writes cleared goes back before the flush: no power cut leaves the new content
  // without it.
  if (Step given = GiveBackPrivileges(fd, kept); !given.done()) return given;
  return os::fsync(fd) == 0 ? Step::Done() : Step::Failed(errno);
}

/// Overwrites the open file, whose status and privileges were `kept` and whose content `old`,
/// with `content`: room reserved, the bytes written, the file cut to its new length, what the
/// writes cleared given back, and flushed. Should any of it fail, the old bytes are written back,
/// the old length restored and what the writes cleared given back.
SaveOutcome Overwrite(int fd, const Privileges& kept, std::string_view old,
                      const FileContent& content) {
  const off_t new_size = static_cast<off_t>(content.Size());
  if (Found<bool> reserved = ReserveRoom(fd, kept.before.st_size, new_size);
      !reserved.step.done()) {
    // A reservation that failed may have grown the file, or cleared what a write clears.
    bool restored = reserved.value ? RestoreOldContent(fd, old, 0, kept)
                                   : GiveBackPrivileges(fd, kept).done() && os::fsync(fd) == 0;
    return Failed(restored ? SaveOutcome::kWriteFailed : SaveOutcome::kRestoreFailed,
                  reserved.step.error());
  }
  uint64_t overwritten = 0;
  Step written = WriteOver(fd, content, new_size, kept, &overwritten);
  if (written.done()) return SaveOutcome();
  if (!RestoreOldContent(fd, old, overwritten, kept)) return Failed(SaveOutcome::kRestoreFailed);
  return Failed(SaveOutcome::kWriteFailed, written.error());
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The way in place

SaveOutcome WriteInPlace(const std::string& target, const FileContent& content,
                         const FileStamp* loaded, int no_room) {
  // The links on the way were followed where they may be; one put in the file's place since is
  // not.
  Descriptor file(os::open(target.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NOFOLLOW, 0));
  if (file.get() < 0) return Failed(SaveOutcome::kCreateFailed, errno);
  // A file system that copies every block it overwrites needs that room in place too.
  if (no_room != 0 && CopiesOnWrite(file.get())) return Failed(SaveOutcome::kWriteFailed, no_room);
  if (Step locked = WaitForLock(file.get(), LOCK_EX); !locked.done()) {
    return Failed(SaveOutcome::kCreateFailed, locked.error());
  }
  struct stat st;
  if (os::fstat(file.get(), &st) != 0) return Failed(SaveOutcome::kCreateFailed, errno);
  if (loaded && StampOf(st) != *loaded) return Failed(SaveOutcome::kChangedMeanwhile);
  std::string old(static_cast<size_t>(st.st_size), '\0');
  if (Step read = ReadFully(file.get(), old.data(), old.size()); !read.done()) {
    return Failed(SaveOutcome::kCreateFailed, read.error());
  }
  if (os::lseek(file.get(), 0, SEEK_SET) != 0) return Failed(SaveOutcome::kCreateFailed, errno);
  const Found<Privileges> kept = ReadPrivileges(file.get(), st);
  if (!kept.step.done()) return Failed(SaveOutcome::kCreateFailed, kept.step.error());
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
  SaveOutcome outcome = Overwrite(file.get(), kept.value, old, content);
  if (outcome.kind == SaveOutcome::kRestoreFailed) {
    if (!backups.empty()) outcome.backup = TextFromNative(backups.back().path);
    return outcome;
  }
  // Only now that the file's new content or its old one is flushed.
  for (const MadeFile& backup : backups) backup.RemoveName(backup.path);
  return outcome;
}
