// The file system as loading and saving an NC program file needs it; one implementation per
// platform.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "base/text.h"
#include "files/file_content.h"

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

/// A regular file opened for reading, read front to back a piece at a time, so that a large
/// program never needs a buffer as large as itself. Others may read the file meanwhile; an
/// in-place save by another run waits until the reader is gone.
class PieceReader {
 public:
  virtual ~PieceReader() = default;
  /// The file's state when it was opened.
  virtual const FileStamp& stamp() const = 0;
  /// The file's size when it was opened: the bytes that the reads give.
  uint64_t size() const { return stamp().size; }
  /// Reads the next bytes, up to `room`, into `buffer` and gives their number: less than `room`
  /// only at the end of the file (its size when it was opened), 0 there. Raises "EReadError"
  /// when a read fails or the file ends before that size.
  virtual size_t Read(char* buffer, size_t room) = 0;
  /// The whole content, read again from its start with one request into one buffer, as
  /// ReadWholeFile reads it; the file is closed afterwards, and the reader reads no more. Raises
  /// as Read does.
  virtual std::string ReadWhole() = 0;
  /// Raises the "changed meanwhile" failure for the file read where its name no longer names the
  /// file opened, in the state it had then (its size, its times, which file it is): another
  /// program wrote, replaced or removed it while it was read, so the bytes read may mix two
  /// versions. Raises the create failure where that cannot be told.
  virtual void CheckUnchanged() const = 0;
};

/// The regular file at `path`, opened for a read in pieces where the platform saves a new file
/// while its content is made (ReplaceByNewFile); null where it does not (the file is then read
/// whole with ReadWholeFile). Raises the failures of ReadWholeFile's open.
std::unique_ptr<PieceReader> OpenInPieces(const Text& path);

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

/// ReplaceWholeFile for content that is made while it is written (a program pruned a piece at a
/// time as it is read), where the save can take the way by rename: the same, and true. False,
/// with nothing changed, where the file must be written in place or the platform saves no such
/// content: the caller then gives the whole content to ReplaceWholeFile. A failure that the
/// content raises leaves everything as it was and goes on to the caller.
bool ReplaceByNewFile(const Text& path, const ContentStream& content,
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
