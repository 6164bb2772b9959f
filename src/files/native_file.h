// The file system as loading and saving an NC program file needs it; one implementation per
// platform.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "base/text.h"

/// The bytes that a save writes, handed over in order as batches of pieces, so that they can be
/// written from where they lie without first being gathered into one buffer.
class FileContent {
 public:
  using Pieces = std::span<const std::string_view>;
  virtual ~FileContent() = default;
  /// The number of bytes in all pieces together.
  virtual uint64_t Size() const = 0;
  /// Hands every piece to `write`, in order, a batch at a time, and stops as soon as `write`
  /// returns false. Tells whether every batch was written.
  virtual bool WriteTo(const std::function<bool(Pieces)>& write) const = 0;
};

/// Content that lies in one piece.
class ContiguousContent : public FileContent {
 public:
  explicit ContiguousContent(std::string_view bytes) : bytes_(bytes) {}
  uint64_t Size() const override { return bytes_.size(); }
  bool WriteTo(const std::function<bool(Pieces)>& write) const override {
    return write(Pieces(&bytes_, 1));
  }

 private:
  std::string_view bytes_;
};

/// One state of a file: the file itself (its volume and its number there), its size and the
/// times of its last changes. Where it differs between the load and the save, someone else
/// wrote or replaced the file meanwhile.
struct FileStamp {
  uint64_t volume = 0;
  uint64_t file = 0;
  uint64_t size = 0;
  int64_t modified = 0;  ///< the content's last change, in the platform's own ticks
  int64_t changed =
      0;  ///< the last change of anything (content, status), where the platform has it
  uint32_t permissions = 0666;  ///< the permission bits, where the platform has them
  bool operator==(const FileStamp&) const = default;
};

/// The whole content of the regular file at `path`, read with one request into one buffer.
/// While it reads, others may read the file but not write it, where the platform can say so.
/// Raises the open failure when the file cannot be opened (or is no regular file), and
/// "EReadError" when it is 2 GiB or larger or the read delivers less than its size. Gives the
/// file's state as it was read in `stamp`, where not null.
std::string ReadWholeFile(const Text& path, FileStamp* stamp = nullptr);

/// Makes `content` the whole content of the file at `path`, all or nothing, by one of two ways:
/// - replace by rename: the bytes go to a new file beside it, which is flushed, given all that
///   the old file has, and renamed over it;
/// - write in place, where a new file would not keep everything: the old content goes to a
///   backup file first (beside it, else in the user's own state folder), then the file itself
///   is overwritten and flushed, then the backup goes.
/// Where `loaded` is given, the file is the one loaded, and it must still be in that state right
/// before its first change, else nothing is written (someone else wrote it since it was loaded).
/// Where it is not given, the file is one of the run's own making (the test output): where
/// somebody else has put it in a shared folder first, it is not written. A file not there yet is
/// created asking for `new_file_permissions` (the program's own) and the owner's write
/// permission, where the platform has them; the umask or the folder's inherited access list
/// narrow them, as for any new file. Raises the
/// create failure when the file cannot be created or replaced or was changed meanwhile, and the
/// write failure when the bytes cannot be written; on any failure the file at `path` is exactly as
/// it was, or, when not even the old content could be written back, the failure says so and names
/// the backup that holds it. Where the new content is in place but the system cannot say that
/// it is on disk, the write failure says that the file holds the new content.
void ReplaceWholeFile(const Text& path, const FileContent& content,
                      const FileStamp* loaded = nullptr, uint32_t new_file_permissions = 0666);

/// ReplaceWholeFile with content that lies in one piece.
inline void ReplaceWholeFile(const Text& path, std::string_view content,
                             const FileStamp* loaded = nullptr,
                             uint32_t new_file_permissions = 0666) {
  ReplaceWholeFile(path, ContiguousContent(content), loaded, new_file_permissions);
}

/// The absolute form of `path`, relative to the working folder, with "." and ".." folded, as the
/// report names the file: ".." folded only where the system's walk of the path agrees (on POSIX
/// systems, where no symbolic link stands before it). Empty when it cannot be formed.
Text AbsolutePath(const Text& path);
