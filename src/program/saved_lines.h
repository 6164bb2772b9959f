// How the save writes the lines of a program held as the bytes of its file: each line that is
// kept with CR LF after it, handed to the save in batches of slices.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "encoding/file_encoding.h"
#include "program/line_scan.h"
#include "program/unit_form.h"
#include "save/save.h"

/// How the code units of a file in `encoding` lie in its bytes.
UnitForm FormOf(FileEncoding encoding);

/// The line break that the save writes, in the bytes of `form`.
std::string_view CrLf(UnitForm form);

/// Calls `emit(std::string_view)` with the bytes from `from` up to `to` of `text` (whole lines of
/// form `form`) as the save writes them: the lines before `crlf_until`, which end in CR LF
/// already, as they are; each later line with CR LF for whatever ending it has.
template <typename Emit>
void EmitLines(UnitForm form, std::string_view text, size_t from, size_t to, size_t crlf_until,
               Emit emit) {
  size_t as_they_are = std::min(to, std::max(from, crlf_until));
  emit(text.substr(from, as_they_are - from));
  if (as_they_are == to) return;
  const std::string_view crlf = CrLf(form);
  std::string_view rest = text.substr(as_they_are, to - as_they_are);
  ScanLinesOf(form, rest, {}, [&](const ScannedLine& line) {
    if (line.next - line.end == crlf.size()) {
      emit(rest.substr(line.begin, line.next - line.begin));
    } else {
      emit(rest.substr(line.begin, line.end - line.begin));
      emit(crlf);
    }
  });
}

/// Hands slices to a gathered write in batches. A slice that continues the one before in memory
/// joins it; short slices are copied together into a buffer, which the write takes as one slice,
/// since a write costs much more for every slice than for every byte.
class Batcher {
 public:
  explicit Batcher(const std::function<bool(ContentStream::Slices)>& write);

  void Add(std::string_view slice) {
    if (slice.empty() || !ok_) return;
    // Room for the slice first: a flush empties the buffer, so it must come before the slice is
    // copied into it.
    bool gathered = slice.size() < kShortSlice;
    if (count_ == kBatch || (gathered && buffer_.size() + slice.size() > kBuffer)) Flush();
    if (gathered) {
      const char* at = buffer_.data() + buffer_.size();
      buffer_.append(slice);
      slice = std::string_view(at, slice.size());
    }
    if (count_ > 0) {
      std::string_view& last = slices_[count_ - 1];
      if (last.data() + last.size() == slice.data()) {
        last = std::string_view(last.data(), last.size() + slice.size());
        return;
      }
    }
    slices_[count_++] = slice;
  }

  /// Writes what was added so far, so that the memory the slices lie in may be used again;
  /// tells whether every batch was written.
  bool Flush();

 private:
  // Slices are handed to the save this many at a time, as many as one gathered write takes.
  static constexpr size_t kBatch = 1024;
  // Slices shorter than this are copied into a buffer of kBuffer bytes rather than written from
  // where they lie: measured on a pruned program of kept slices of some 70 bytes, gathering
  // them takes half the time of handing each to the write.
  static constexpr size_t kShortSlice = 4096;
  static constexpr size_t kBuffer = 256 * 1024;

  const std::function<bool(ContentStream::Slices)>& write_;
  std::array<std::string_view, kBatch> slices_;
  size_t count_ = 0;
  std::string buffer_;
  bool ok_ = true;
};
