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

/// The whole content of the regular file at `path`, read with one request into one buffer.
/// While it reads, others may read the file but not write it, where the platform can say so.
/// Raises the open failure when the file cannot be opened (or is no regular file), and
/// "EReadError" when it is 2 GiB or larger or the read delivers less than its size.
std::string ReadWholeFile(const Text& path);

/// Makes `content` the whole content of the file at `path`, all or nothing: the bytes go to a
/// new file beside it that replaces it only once they are completely written. Raises the create
/// failure when the file cannot be created or replaced and the write failure when the bytes
/// cannot be written; on any failure the file at `path` is exactly as it was.
void ReplaceWholeFile(const Text& path, const FileContent& content);

/// ReplaceWholeFile with content that lies in one piece.
inline void ReplaceWholeFile(const Text& path, std::string_view content) {
  ReplaceWholeFile(path, ContiguousContent(content));
}

/// The absolute form of `path` as the platform forms it, without looking at the file system:
/// relative to the working folder, "." and ".." folded. Empty when it cannot be formed.
Text AbsolutePath(const Text& path);
