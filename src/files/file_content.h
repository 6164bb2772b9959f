// The content that a save writes, as the pieces it lies in.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string_view>

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
