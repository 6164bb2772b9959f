// The way by rename on POSIX systems: the new content goes to a new file beside the file,
// written a stretch at a time while a thread of its own flushes what was written, given the
// file's owner, group, mode and extended attributes, flushed, and renamed over it. Every system
// call goes through the seam in system_calls_posix.h.
#include <string.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <utility>
#include <vector>

#include "base/path.h"
#include "save/background_flush_posix.h"
#include "save/steps_posix.h"
#include "save/ways_posix.h"

namespace {

// A new file goes to the disk a stretch at a time: as soon as a stretch is written, the system is
// asked to start writing it out, and a thread of its own flushes what was written, while the save
// goes on with the next stretch, so that the flush at the end finds the file on disk but for its
// last stretch. Measured on programs of 48 and 96 MB (the new file's flush timed in runs of
// builds with 1, 2, 4, 8 and 16 MiB stretches, taking turns): 1 to 8 MiB all cut the flush to
// about half, 2 MiB a little more than the others, 16 MiB less. The flushes on their own thread
// cut the rest: on a virtual disk the flush to the host's disk took about 0.6 ms a MB, which the
// request to start writing does not start.
constexpr uint64_t kStretch = uint64_t{2} << 20;

/// Asks the system to start writing the bytes of the open file from `from` up to `to` to disk,
/// without waiting for them. Only a hint, which guarantees nothing: the flush at the end is what
/// counts and reports any failure to write, so a refused hint is no failure.
void StartWritingOut(int fd, uint64_t from, uint64_t to) {
  if (to > from) {
    os::sync_file_range(fd, static_cast<off_t>(from), static_cast<off_t>(to - from),
                        SYNC_FILE_RANGE_WRITE);
  }
}

/// WritePieces for a new file written from its start: the pieces are cut where a stretch ends,
/// and each stretch is handed to the disk as soon as it is written (StartWritingOut), and
/// `flush` asked to flush it.
bool WriteStretches(int fd, FileContent::Pieces pieces, uint64_t* written, BackgroundFlush* flush) {
  std::string_view front;  // what is left of a piece cut where a stretch ends
  while (!front.empty() || !pieces.empty()) {
    const uint64_t end = (*written / kStretch + 1) * kStretch;  // of the stretch being written
    if (!front.empty()) {
      std::string_view head = front.substr(0, end - *written);
      front.remove_prefix(head.size());
      if (!WritePieces(fd, FileContent::Pieces(&head, 1), written)) return false;
    } else {
      // The whole pieces that fit into the stretch, in one go; the next one is cut.
      uint64_t room = end - *written;
      size_t count = 0;
      while (count < pieces.size() && pieces[count].size() <= room) room -= pieces[count++].size();
      if (!WritePieces(fd, pieces.first(count), written)) return false;
      if (count < pieces.size()) front = pieces[count++];
      pieces = pieces.subspan(count);
    }
    if (*written == end) {
      StartWritingOut(fd, end - kStretch, end);
      flush->Request();
    }
  }
  return true;
}

/// Writes `content` to the new file `fd`, from its start, a stretch at a time (WriteStretches),
/// and then hands over the last, shorter stretch too: a save of any size makes the same calls,
/// which the fault tests try on small files (a file of less than a stretch asks `flush` for
/// nothing: the flush at the end comes right after). `*written` counts the bytes that reached
/// the file. False (errno set) when a write or a flush fails.
bool WriteNewFile(int fd, const ContentStream& content, uint64_t* written) {
  BackgroundFlush flush(fd);
  if (!content.WriteTo([fd, written, &flush](FileContent::Pieces pieces) {
        return WriteStretches(fd, pieces, written, &flush);
      })) {
    return false;
  }
  StartWritingOut(fd, *written / kStretch * kStretch, *written);
  if (int error = flush.Finish(); error != 0) {
    errno = error;
    return false;
  }
  return true;
}

using Attributes = std::vector<std::pair<std::string, std::string>>;

/// The extended attributes (access lists among them) of the file at `path` or, where `path` is
/// null, of the open file `fd`, as name and value, sorted. False (errno set) when they cannot be
/// read, ENOTSUP where the file system has none.
bool ExtendedAttributes(const char* path, int fd, Attributes* attributes) {
  attributes->clear();
  ssize_t size = path ? os::listxattr(path, nullptr, 0) : os::flistxattr(fd, nullptr, 0);
  if (size < 0) return false;
  std::vector<char> names(size);
  size = path ? os::listxattr(path, names.data(), names.size())
              : os::flistxattr(fd, names.data(), names.size());
  if (size < 0) return false;
  for (const char* name = names.data(); name < names.data() + size; name += strlen(name) + 1) {
    ssize_t length =
        path ? os::getxattr(path, name, nullptr, 0) : os::fgetxattr(fd, name, nullptr, 0);
    if (length < 0) return false;
    std::string value(length, '\0');
    length = path ? os::getxattr(path, name, value.data(), value.size())
                  : os::fgetxattr(fd, name, value.data(), value.size());
    if (length < 0) return false;
    value.resize(length);
    attributes->emplace_back(name, std::move(value));
  }
  std::sort(attributes->begin(), attributes->end());
  return true;
}

/// Whether a call of ExtendedAttributes that gave `listed` tells the attributes: it read them,
/// or the file system has none at all.
bool AttributesTold(bool listed) { return listed || errno == ENOTSUP; }

/// Makes the new file at `fd` what the existing file `target` is apart from its content: owner,
/// group, permission bits and extended attributes, and none that it lacks (such as an access
/// list that the new file took from its folder). Then compares: false unless they are equal.
bool TakeOverAttributes(int fd, const std::string& target, const struct stat& existing) {
  Attributes wanted, own;
  bool target_has = ExtendedAttributes(target.c_str(), -1, &wanted);
  if (!AttributesTold(target_has)) return false;
  if (os::fchown(fd, existing.st_uid, existing.st_gid) != 0) return false;
  if (ExtendedAttributes(nullptr, fd, &own)) {
    for (const auto& attribute : own) {
      const std::string& name = attribute.first;
      auto same_name = [&name](const auto& other) { return other.first == name; };
      bool kept = std::find_if(wanted.begin(), wanted.end(), same_name) != wanted.end();
      if (!kept && os::fremovexattr(fd, name.c_str()) != 0) return false;
    }
  }
  for (const auto& [name, value] : wanted) {
    if (os::fsetxattr(fd, name.c_str(), value.data(), value.size(), 0) != 0) return false;
  }
  // After the owner and the access list: both can clear or change permission bits.
  if (os::fchmod(fd, existing.st_mode & 07777) != 0) return false;
  struct stat now;
  if (os::fstat(fd, &now) != 0) return false;
  bool new_has = ExtendedAttributes(nullptr, fd, &own);
  if (!AttributesTold(new_has) || new_has != target_has) return false;
  return now.st_uid == existing.st_uid && now.st_gid == existing.st_gid &&
         (now.st_mode & 07777) == (existing.st_mode & 07777) && own == wanted;
}

}  // namespace

SaveOutcome ReplaceByRename(const std::string& target, const struct stat* existing,
                            const ContentStream& content, const FileStamp* loaded,
                            mode_t new_file_mode, int* no_room) {
  auto another_way = [existing, no_room](int error) {
    if (existing && OutOfRoom(error)) *no_room = error;
    return Failed(existing ? SaveOutcome::kTryInPlace : SaveOutcome::kCreateFailed, error);
  };
  auto write_failed = [existing, &another_way](int error) {
    return existing && OutOfRoom(error) ? another_way(error)
                                        : Failed(SaveOutcome::kWriteFailed, error);
  };
  MadeFile made;
  std::string_view folder = FolderPart(target);
  // For this user alone until it has the file's own mode: others may open it only then.
  Descriptor file(CreateTemporaryFile(folder, existing ? 0600 : new_file_mode, &made));
  if (file.get() < 0) return another_way(errno);
  FileToRemove temporary(made);
  uint64_t written = 0;
  if (!WriteNewFile(file.get(), content, &written)) return write_failed(errno);
  // After the last write, which removes set-ID bits and capabilities, and before the flush, so
  // that the new file is flushed with all of them.
  if (existing && !TakeOverAttributes(file.get(), target, *existing)) return another_way(errno);
  if (os::fsync(file.get()) != 0) return write_failed(errno);
  // Content read while it was written stands for its file only where nobody wrote that file
  // meanwhile: a .tap, too, is never a mix of two versions of the program.
  content.CheckSource();
  if (SaveOutcome unchanged = CheckUnchanged(target, loaded);
      unchanged.kind != SaveOutcome::kSaved) {
    return unchanged;
  }
  // A rename moves whatever bears the temporary name by then, which another program may have
  // removed or replaced: it is judged by what the file's name names afterwards, while the new
  // file is still open (no other file can take its number then). One that reports a failure
  // after it was done (a network file system may) counts as done where that is the new file; a
  // temporary name gone says nothing. Refused (in a sticky folder, for a file of another owner)
  // or without room, the file is written in place; any other failure fails.
  if (made.NamingOf(made.path) == MadeFile::kNotThisFile) {
    return Failed(SaveOutcome::kCreateFailed, ENOENT);
  }
  if (os::rename(made.path.c_str(), target.c_str()) != 0) {
    const int error = errno;
    if (!made.NamedBy(target)) {
      if (error == EPERM || error == EACCES || OutOfRoom(error)) return another_way(error);
      return Failed(SaveOutcome::kCreateFailed, error);
    }
  } else if (made.NamingOf(target) == MadeFile::kNotThisFile) {
    return Failed(SaveOutcome::kCreateFailed, ENOENT);
  }
  temporary.Keep();
  // Not on disk yet, the rename could be undone by a power cut: not a success. The new content
  // is whole in place all the same, and a second run over it changes nothing. A close that
  // fails after the flush says the same.
  if (!file.Close()) return Failed(SaveOutcome::kNotYetLasting, errno);
  if (!SyncFolder(folder)) return Failed(SaveOutcome::kNotYetLasting, errno);
  return SaveOutcome();
}
