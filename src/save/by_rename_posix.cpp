// The way by rename on POSIX systems: the new content goes to a new file beside the file,
// written a stretch at a time while a thread of its own flushes what was written, given the
// file's owner, group, mode and extended attributes, flushed, and renamed over it. Every system
// call goes through the seam in system_calls_posix.h.
#include <limits.h>
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

// ---------------------------------------------------------------------------------------------
// What a new file can keep

/// Whether this process may give a new file the owner and group of `existing`.
bool MayGiveOwnership(const struct stat& existing) {
  if (geteuid() == 0) return true;
  if (existing.st_uid != geteuid()) return false;
  if (existing.st_gid == getegid()) return true;
  std::vector<gid_t> groups(NGROUPS_MAX);
  int count = getgroups(static_cast<int>(groups.size()), groups.data());
  return count > 0 && std::find(groups.begin(), groups.begin() + count, existing.st_gid) !=
                          groups.begin() + count;
}

using Attributes = std::vector<std::pair<std::string, std::string>>;

/// The extended attributes (access lists among them) of the file at `path` or, where `path` is
/// null, of the open file `fd`, as name and value, sorted. Failed where they cannot be read,
/// with ENOTSUP where the file system has none; those read until then are given all the same.
Found<Attributes> ExtendedAttributes(const char* path, int fd) {
  Attributes attributes;
  auto failed = [&attributes] { return Found<Attributes>{Step::Failed(errno), attributes}; };
  ssize_t size = path ? os::listxattr(path, nullptr, 0) : os::flistxattr(fd, nullptr, 0);
  if (size < 0) return failed();
  std::vector<char> names(size);
  size = path ? os::listxattr(path, names.data(), names.size())
              : os::flistxattr(fd, names.data(), names.size());
  if (size < 0) return failed();
  for (const char* name = names.data(); name < names.data() + size; name += strlen(name) + 1) {
    ssize_t length =
        path ? os::getxattr(path, name, nullptr, 0) : os::fgetxattr(fd, name, nullptr, 0);
    if (length < 0) return failed();
    std::string value(length, '\0');
    length = path ? os::getxattr(path, name, value.data(), value.size())
                  : os::fgetxattr(fd, name, value.data(), value.size());
    if (length < 0) return failed();
    value.resize(length);
    attributes.emplace_back(name, std::move(value));
  }
  std::sort(attributes.begin(), attributes.end());
  return {Step::Done(), attributes};
}

/// Whether a call of ExtendedAttributes that came to `listed` tells the attributes: it read
/// them, or the file system has none at all.
bool AttributesTold(const Step& listed) { return listed.done() || listed.error() == ENOTSUP; }

/// Makes the new file at `fd` what the existing file `target` is apart from its content: owner,
/// group, permission bits and extended attributes, and none that it lacks (such as an access
/// list that the new file took from its folder). Then compares: failed unless they are equal,
/// with the error of the last listing of attributes that failed (the new file may keep an
/// attribute that was not listed, and so not removed), else with 0.
Step TakeOverAttributes(int fd, const std::string& target, const struct stat& existing) {
  const Found<Attributes> wanted = ExtendedAttributes(target.c_str(), -1);
  if (!AttributesTold(wanted.step)) return wanted.step;
  if (os::fchown(fd, existing.st_uid, existing.st_gid) != 0) return Step::Failed(errno);
  Found<Attributes> own = ExtendedAttributes(nullptr, fd);
  const Step listed = own.step;
  if (listed.done()) {
    for (const auto& attribute : own.value) {
      const std::string& name = attribute.first;
      auto same_name = [&name](const auto& other) { return other.first == name; };
      bool kept =
          std::find_if(wanted.value.begin(), wanted.value.end(), same_name) != wanted.value.end();
      if (!kept && os::fremovexattr(fd, name.c_str()) != 0) return Step::Failed(errno);
    }
  }
  for (const auto& [name, value] : wanted.value) {
    if (os::fsetxattr(fd, name.c_str(), value.data(), value.size(), 0) != 0) {
      return Step::Failed(errno);
    }
  }
  // After the owner and the access list: both can clear or change permission bits.
  if (os::fchmod(fd, existing.st_mode & 07777) != 0) return Step::Failed(errno);
  struct stat now;
  if (os::fstat(fd, &now) != 0) return Step::Failed(errno);
  own = ExtendedAttributes(nullptr, fd);
  if (!AttributesTold(own.step)) return own.step;
  bool same = own.step.done() == wanted.step.done() && now.st_uid == existing.st_uid &&
              now.st_gid == existing.st_gid &&
              (now.st_mode & 07777) == (existing.st_mode & 07777) && own.value == wanted.value;
  if (same) return Step::Done();
  for (const Step& listing : {own.step, listed, wanted.step}) {
    if (!listing.done()) return listing;
  }
  return Step::Failed(0);
}

// ---------------------------------------------------------------------------------------------
// Writing the new file

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

/// WriteSlices for a new file written from its start: the slices are cut where a stretch ends,
/// and each stretch is handed to the disk as soon as it is written (StartWritingOut), and
/// `flush` asked to flush it.
Step WriteStretches(int fd, FileContent::Slices slices, uint64_t* written, BackgroundFlush* flush) {
  std::string_view front;  // what is left of a slice cut where a stretch ends
  while (!front.empty() || !slices.empty()) {
    const uint64_t end = (*written / kStretch + 1) * kStretch;  // of the stretch being written
    Step step = Step::Done();
    if (!front.empty()) {
      std::string_view head = front.substr(0, end - *written);
      front.remove_prefix(head.size());
      step = WriteSlices(fd, FileContent::Slices(&head, 1), written);
    } else {
      // The whole slices that fit into the stretch, in one go; the next one is cut.
      uint64_t room = end - *written;
      size_t count = 0;
      while (count < slices.size() && slices[count].size() <= room) room -= slices[count++].size();
      step = WriteSlices(fd, slices.first(count), written);
      if (count < slices.size()) front = slices[count++];
      slices = slices.subspan(count);
    }
    if (!step.done()) return step;
    if (*written == end) {
      StartWritingOut(fd, end - kStretch, end);
      flush->Request();
    }
  }
  return Step::Done();
}

/// Writes `content` to the new file `fd`, from its start, a stretch at a time (WriteStretches),
/// and then hands over the last, shorter stretch too: a save of any size makes the same calls,
/// which the fault tests try on small files (a file of less than a stretch asks `flush` for
/// nothing: the flush at the end comes right after). `*written` counts the bytes that reached
/// the file. Failed where a write or a flush fails.
Step WriteNewFile(int fd, const ContentStream& content, uint64_t* written) {
  BackgroundFlush flush(fd);
  Step step = Step::Done();
  if (!content.WriteTo([fd, written, &flush, &step](FileContent::Slices slices) {
        step = WriteStretches(fd, slices, written, &flush);
        return step.done();
      })) {
    return step;
  }
  StartWritingOut(fd, *written / kStretch * kStretch, *written);
  return flush.Finish();
}

// ---------------------------------------------------------------------------------------------
// Putting the new file in place

/// The way ended with `outcome`.
Renamed Ended(SaveOutcome outcome) { return {false, std::move(outcome), 0}; }

/// A step that failed with `error` where another way may do: the way in place for a file that
/// is there (`exists`), with nothing changed; the create failure for a file not there yet.
Renamed AnotherWay(bool exists, int error) {
  if (!exists) return Ended(Failed(SaveOutcome::kCreateFailed, error));
  return {true, SaveOutcome(), OutOfRoom(error) ? error : 0};
}

/// A write that failed with `error`: for want of room, a file that is there goes in place; any
/// other fails the write.
Renamed WriteFailed(bool exists, int error) {
  if (exists && OutOfRoom(error)) return AnotherWay(exists, error);
  return Ended(Failed(SaveOutcome::kWriteFailed, error));
}

/// Renames the new file `made`, written, flushed and still open as `file`, over `target`, and
/// flushes the folder. A rename moves whatever bears the temporary name by then, which another
/// program may have removed or replaced: it is judged by what the file's name names afterwards,
/// while the new file is still open (no other file can take its number then). One that reports
/// a failure after it was done (a network file system may) counts as done where that is the new
/// file; a temporary name gone says nothing. Refused (in a sticky folder, for a file of another
/// owner) or without room, the file is written in place; any other failure fails.
Renamed PutInPlace(const MadeFile& made, FileToRemove& temporary, Descriptor& file,
                   const std::string& target, bool exists) {
  if (made.NamingOf(made.path) == MadeFile::kNotThisFile) {
    return Ended(Failed(SaveOutcome::kCreateFailed, ENOENT));
  }
  if (os::rename(made.path.c_str(), target.c_str()) != 0) {
    const int error = errno;
    if (!made.NamedBy(target)) {
      if (error == EPERM || error == EACCES || OutOfRoom(error)) return AnotherWay(exists, error);
      return Ended(Failed(SaveOutcome::kCreateFailed, error));
    }
  } else if (made.NamingOf(target) == MadeFile::kNotThisFile) {
    return Ended(Failed(SaveOutcome::kCreateFailed, ENOENT));
  }
  temporary.Keep();
  // Not on disk yet, the rename could be undone by a power cut: not a success. The new content
  // is whole in place all the same, and a second run over it changes nothing. A close that
  // fails after the flush says the same.
  if (Step closed = file.Close(); !closed.done()) {
    return Ended(Failed(SaveOutcome::kNotYetLasting, closed.error()));
  }
  if (Step synced = SyncFolder(FolderPart(target)); !synced.done()) {
    return Ended(Failed(SaveOutcome::kNotYetLasting, synced.error()));
  }
  return Ended(SaveOutcome());
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The way by rename

bool NewFileCanKeepAll(const struct stat& existing) {
  return existing.st_nlink == 1 && MayGiveOwnership(existing);
}

Renamed ReplaceByRename(const Target& target, const ContentStream& content, const FileStamp* loaded,
                        mode_t new_file_mode) {
  const bool exists = target.exists;
  // For this user alone until it has the file's own mode: others may open it only then.
  Created created = CreateTemporaryFile(FolderPart(target.path), exists ? 0600 : new_file_mode);
  Descriptor file(created.fd);
  if (!created.step.done()) return AnotherWay(exists, created.step.error());
  FileToRemove temporary(created.made);
  uint64_t written = 0;
  if (Step step = WriteNewFile(file.get(), content, &written); !step.done()) {
    return WriteFailed(exists, step.error());
  }
  // After the last write, which removes set-ID bits and capabilities, and before the flush, so
  // that the new file is flushed with all of them.
  if (exists) {
    Step taken = TakeOverAttributes(file.get(), target.path, target.status);
    if (!taken.done()) return AnotherWay(exists, taken.error());
  }
  if (os::fsync(file.get()) != 0) return WriteFailed(exists, errno);
  // Content read while it was written stands for its file only where nobody wrote that file
  // meanwhile: a .tap, too, is never a mix of two versions of the program.
  content.CheckSource();
  if (SaveOutcome unchanged = CheckUnchanged(target.path, loaded);
      unchanged.kind != SaveOutcome::kSaved) {
    return Ended(unchanged);
  }
  return PutInPlace(created.made, temporary, file, target.path, exists);
}
