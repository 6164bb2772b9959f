// Reading an NC program file, whole or a piece at a time; one implementation per platform.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "base/text.h"
#include "files/file_stamp.h"

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
/// while its content is made; null where it does not (the file is then read whole with
/// ReadWholeFile). Raises the failures of ReadWholeFile's open.
std::unique_ptr<PieceReader> OpenInPieces(const Text& path);
