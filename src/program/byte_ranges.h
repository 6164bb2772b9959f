// An ordered set of byte ranges, held compactly: a few bytes a range, however far apart.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

/// Ranges of byte offsets, added in order; a range that starts where the last one ends extends
/// it. Each range is kept as two variable-length numbers (its distance from the end of the range
/// before, and its length), so that a range costs two or three bytes rather than sixteen.
class ByteRanges {
 public:
  struct Range {
    size_t begin, end;
  };

  /// Adds [begin, end); `begin` is not before the end of the last range added. An empty range
  /// adds nothing.
  void Add(size_t begin, size_t end) {
    if (begin == end) return;
    if (open_ && begin == last_.end) {
      last_.end = end;
      return;
    }
    Close();
    last_ = {begin, end};
    open_ = true;
  }

  void Clear() { *this = ByteRanges(); }

  /// Calls `visit(Range)` for every range, in order.
  template <typename Visit>
  void ForEach(Visit visit) const {
    size_t at = 0;  // the end of the range before
    for (size_t i = 0; i < packed_.size();) {
      size_t begin = at + Unpack(&i);
      at = begin + Unpack(&i);
      visit(Range{begin, at});
    }
    if (open_) visit(last_);
  }

 private:
  void Close() {
    if (!open_) return;
    Pack(last_.begin - packed_end_);
    Pack(last_.end - last_.begin);
    packed_end_ = last_.end;
  }
  void Pack(size_t value) {
    for (; value >= 0x80; value >>= 7) packed_.push_back(static_cast<char>(0x80 | (value & 0x7F)));
    packed_.push_back(static_cast<char>(value));
  }
  size_t Unpack(size_t* i) const {
    size_t value = 0;
    for (int shift = 0;; shift += 7) {
      auto byte = static_cast<unsigned char>(packed_[(*i)++]);
      value |= size_t{byte & 0x7Fu} << shift;
      if (byte < 0x80) return value;
    }
  }

  std::string packed_;     // the ranges before the last
  size_t packed_end_ = 0;  // the end of the last of them
  Range last_{0, 0};       // the last range, which may still grow
  bool open_ = false;
};
