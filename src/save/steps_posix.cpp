#include "save/steps_posix.h"

#include <limits.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "base/messages.h"
#include "base/path.h"

// ---------------------------------------------------------------------------------------------
// The outcome of a failed step

SaveOutcome Failed(SaveOutcome::Kind kind, int error) {
  if (error == 0) return {kind, Text(), Text()};
  return {kind, error == kNoRegularFile ? Text(kNotARegularFile) : ErrorText(error), Text()};
}

SaveOutcome CheckUnchanged(const std::string& target, const FileStamp* loaded) {
  if (!loaded) return SaveOutcome();
  struct stat now;
  if (os::stat(target.c_str(), &now) != 0) {
    const int error = errno;
    return Failed(error == ENOENT ? SaveOutcome::kChangedMeanwhile : SaveOutcome::kCreateFailed,
                  error);
  }
  return StampOf(now) == *loaded ? SaveOutcome() : Failed(SaveOutcome::kChangedMeanwhile);
}

bool OutOfRoom(int error) { return error == ENOSPC || error == EDQUOT || error == EFBIG; }

// ---------------------------------------------------------------------------------------------
// Writing

Step WriteContent(int fd, const FileContent& content, uint64_t* written) {
  Step step = Step::Done();
  content.WriteTo([fd, written, &step](FileContent::Slices slices) {
    step = WriteSlices(fd, slices, written);
    return step.done();
  });
  return step;
}

// ---------------------------------------------------------------------------------------------
// The files that the save makes

std::string InFolder(std::string_view folder, std::string_view name) {
  return (folder.empty() ? std::string("./") : std::string(folder)) + std::string(name);
}

Step SyncFolder(std::string_view folder) {
  int fd = os::open(InFolder(folder, ".").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
  if (fd < 0) return Step::Failed(errno);
  Step synced = Step::Done();
  if (os::fsync(fd) != 0 && errno != EINVAL && errno != EOPNOTSUPP && errno != ENOTSUP) {
    synced = Step::Failed(errno);
  }
  os::close(fd);
  return synced;
}

MadeFile::Naming MadeFile::NamingOf(const std::string& name) const {
  struct stat st;
  if (os::lstat(name.c_str(), &st) == 0) {
    return st.st_dev == device && st.st_ino == inode ? kThisFile : kNotThisFile;
  }
  return errno == ENOENT ? kNotThisFile : kUnknown;
}

void MadeFile::RemoveName(const std::string& name) const {
  if (NamedBy(name)) os::unlink(name.c_str());
}

Created CreateTemporaryFile(std::string_view folder, mode_t mode) {
  uint64_t number = static_cast<uint64_t>(getpid()) << 24 ^
                    std::chrono::steady_clock::now().time_since_epoch().count();
  for (int attempt = 0; attempt < 100; ++attempt, number += 7919) {
    std::string name = InFolder(folder, ".prune-" + HexDigits(number & 0xFFFFFF, 6));
    int fd = os::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, mode);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd < 0) return {Step::Failed(errno), -1, {}};
    struct stat st;
    if (os::fstat(fd, &st) != 0) {
      // Made a moment ago by an exclusive create: the name is surely still the save's own.
      const int error = errno;
      os::unlink(name.c_str());
      os::close(fd);
      return {Step::Failed(error), -1, {}};
    }
    return {Step::Done(), fd, {std::move(name), st.st_dev, st.st_ino, nullptr}};
  }
  return {Step::Failed(EEXIST), -1, {}};
}
