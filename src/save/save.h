// The save's whole interface: the content that it writes, as the slices it lies in, and the one
// call that makes it a file's whole content, all or nothing; one implementation per platform.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string_view>

#include "base/text.h"
#include "files/file_stamp.h"

class FileContent;

/// The bytes that a save writes, handed over in order as slices (views of bytes where they lie),
/// a batch of slices at a time (as many as one gathered write takes), so that they can be
/// written from where they lie without first being gathered into one buffer. Content of this
/// kind may be made while it is written (a program pruned a piece at a time as it is read), and
/// handed over only once; where the save must write in place, it takes the content whole.
class ContentStream {
 public:
  using Slices = std::span<const std::string_view>;
  virtual ~ContentStream() = default;
  /// Hands every slice to `write`, in order, a batch at a time, and stops as soon as `write`
  /// returns false. Tells whether every batch was written. A slice stays valid only until
  /// `write` returns. May raise a failure of its own making (content that cannot be made); the
  /// save then leaves everything as it was.
  virtual bool WriteTo(const std::function<bool(Slices)>& write) const = 0;
  /// Raises a failure of its own where what WriteTo handed over no longer stands for what it was
  /// made from: content read from a file while it was written checks that nobody changed that
  /// file meanwhile. The save calls it after the content is written and flushed, right before
  /// the new file takes its name. Content held whole has nothing to check.
  virtual void CheckSource() const {}
  /// The same content known whole, which the save takes where it writes the file in place (the
  /// old content cannot be overwritten while it is still being read). Content held whole is
  /// that already; content made from a file while it is written reads the file again whole. May
  /// raise a failure of its own making, as WriteTo may.
  virtual const FileContent& Whole() const = 0;
};

/// Content that is known whole before it is written: its size can be told, and it can be
/// handed over as often as a save needs.
class FileContent : public ContentStream {
 public:
  /// The number of bytes in all slices together.
  virtual uint64_t Size() const = 0;
  const FileContent& Whole() const override { return *this; }
};

/// Content that lies in one slice.
class ContiguousContent : public FileContent {
 public:
  explicit ContiguousContent(std::string_view bytes) : bytes_(bytes) {}
  uint64_t Size() const override { return bytes_.size(); }
  bool WriteTo(const std::function<bool(Slices)>& write) const override {
    return write(Slices(&bytes_, 1));
  }

 private:
  std::string_view bytes_;
};

/// Makes `content` the whole content of the file at `path`, all or nothing, by one of two ways:
/// - replace by rename: the bytes go to a new file beside it, which is flushed, given all that
///   the old file has, and renamed over it;
/// - write in place, where a new file would not keep everything: the old content goes to a
///   backup file first (beside it, else in the user's own state folder), then the file itself
///   is overwritten with the content known whole (ContentStream::Whole) and flushed, then the
///   backup goes.
/// Where `loaded` is given, the file is the one loaded, and it must still be in that state right
/// before its first change, else nothing is written (someone else wrote it since it was loaded).
/// Where it is not given, the file is one of the run's own making (the test output): where
/// somebody else has put it in a shared folder first, it is not written. A file not there yet is
/// created asking for `new_file_permissions` (the program's own) and the owner's write
/// permission, where the platform has them; the umask or the folder's inherited access list
/// narrow them, as for any new file. Raises the create failure when the file cannot be created
/// or replaced or was changed meanwhile, and the write failure when the bytes cannot be
/// written; on any failure the file at `path` is exactly as it was, or, when not even the old
/// content could be written back, the failure says so and names the backup that holds it. Where
/// the new content is in place but the system cannot say that it is on disk, the write failure
/// says that the file holds the new content. A failure that the content raises leaves
/// everything as it was and goes on to the caller.
void ReplaceWholeFile(const Text& path, const ContentStream& content,
                      const FileStamp* loaded = nullptr, uint32_t new_file_permissions = 0666);

/// ReplaceWholeFile with content that lies in one slice.
inline void ReplaceWholeFile(const Text& path, std::string_view content,
                             const FileStamp* loaded = nullptr,
                             uint32_t new_file_permissions = 0666) {
  ReplaceWholeFile(path, ContiguousContent(content), loaded, new_file_permissions);
}
