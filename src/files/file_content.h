// The content that a save writes, as the pieces it lies in.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string_view>

/// The bytes that a save writes, handed over in order as batches of pieces, so that they can be
/// written from where they lie without first being gathered into one buffer. Content of this
/// kind may be made while it is written, and handed over only once: only a save that writes a
/// new file takes it (ReplaceByNewFile).
class ContentStream {
 public:
  using Pieces = std::span<const std::string_view>;
  virtual ~ContentStream() = default;
  /// Hands every piece to `write`, in order, a batch at a time, and stops as soon as `write`
  /// returns false. Tells whether every batch was written. A piece stays valid only until
  /// `write` returns. May raise a failure of its own making (content that cannot be made); the
  /// save then leaves everything as it was.
  virtual bool WriteTo(const std::function<bool(Pieces)>& write) const = 0;
  /// Raises a failure of its own where what WriteTo handed over no longer stands for what it was
  /// made from: content read from a file while it was written checks that nobody changed that
  /// file meanwhile. The save calls it after the content is written and flushed, right before
  /// the new file takes its name. Content held whole has nothing to check.
  virtual void CheckSource() const {}
};

/// Content that is known whole before it is written: its size can be told, and it can be
/// handed over as often as a save needs.
class FileContent : public ContentStream {
 public:
  /// The number of bytes in all pieces together.
  virtual uint64_t Size() const = 0;
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
