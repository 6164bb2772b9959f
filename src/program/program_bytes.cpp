#include "program/program_bytes.h"

#include <array>
#include <cstdint>

#include "encoding/code_page.h"
#include "program/line_scan.h"

namespace {

// Pieces are handed to the save this many at a time, as many as one gathered write takes.
constexpr size_t kBatch = 1024;

// Pieces shorter than this are copied into a buffer of kBuffer bytes rather than written from
// where they lie: measured on a pruned program of kept stretches of some 70 bytes, gathering
// them takes half the time of handing each to the write.
constexpr size_t kShortPiece = 4096;
constexpr size_t kBuffer = 256 * 1024;

UnitForm FormOf(FileEncoding encoding) {
  switch (encoding) {
    case FileEncoding::kUtf16Le:
      return UnitForm::kUtf16Le;
    case FileEncoding::kUtf16Be:
      return UnitForm::kUtf16Be;
    case FileEncoding::kAnsi:
    case FileEncoding::kUtf8:
      break;
  }
  return UnitForm::kByte;
}

/// The line break that the save writes, in the bytes of `form`.
std::string_view CrLf(UnitForm form) {
  using namespace std::string_view_literals;
  switch (form) {
    case UnitForm::kUtf16Le:
      return "\r\0\n\0"sv;
    case UnitForm::kUtf16Be:
      return "\0\r\0\n"sv;
    case UnitForm::kByte:
      break;
  }
  return "\r\n"sv;
}

/// Hands the pieces to a gathered write in batches. A piece that continues the one before in
/// memory joins it; short pieces are copied together into a buffer, which the write takes as
/// one piece, since a write costs much more for every piece than for every byte.
class Batcher {
 public:
  explicit Batcher(const std::function<bool(FileContent::Pieces)>& write) : write_(write) {
    buffer_.reserve(kBuffer);
  }

  void Add(std::string_view piece) {
    if (piece.empty() || !ok_) return;
    // Room for the piece first: a flush empties the buffer, so it must come before the piece is
    // copied into it.
    bool gathered = piece.size() < kShortPiece;
    if (count_ == kBatch || (gathered && buffer_.size() + piece.size() > kBuffer)) Flush();
    if (gathered) {
      const char* at = buffer_.data() + buffer_.size();
      buffer_.append(piece);
      piece = std::string_view(at, piece.size());
    }
    if (count_ > 0) {
      std::string_view& last = pieces_[count_ - 1];
      if (last.data() + last.size() == piece.data()) {
        last = std::string_view(last.data(), last.size() + piece.size());
        return;
      }
    }
    pieces_[count_++] = piece;
  }

  /// Writes what is left; tells whether every batch was written.
  bool Finish() {
    Flush();
    return ok_;
  }

 private:
  void Flush() {
    if (count_ > 0 && ok_) ok_ = write_(FileContent::Pieces(pieces_.data(), count_));
    count_ = 0;
    buffer_.clear();
  }

  const std::function<bool(FileContent::Pieces)>& write_;
  std::array<std::string_view, kBatch> pieces_;
  size_t count_ = 0;
  std::string buffer_;
  bool ok_ = true;
};

}  // namespace

uint64_t ProgramBytes::SavedContent::Size() const {
  uint64_t size = 0;
  program_.ForEachPiece([&](std::string_view piece) { size += piece.size(); });
  return size;
}

bool ProgramBytes::SavedContent::WriteTo(const std::function<bool(Pieces)>& write) const {
  Batcher batcher(write);
  program_.ForEachPiece([&](std::string_view piece) { batcher.Add(piece); });
  return batcher.Finish();
}

bool KeepsEveryByte(FileEncoding encoding) {
  return encoding != FileEncoding::kAnsi || AnsiKeepsEveryByte();
}

std::optional<ProgramBytes> ProgramBytes::FromFile(std::string file, EncodingMark mark) {
  std::string_view text = std::string_view(file).substr(mark.mark_length);
  UnitForm form = FormOf(mark.encoding);
  if (mark.encoding == FileEncoding::kUtf8 && !IsDecodableUtf8(text)) return std::nullopt;
  if (UnitWidth(form) == 2 && text.size() == 1) return std::nullopt;
  ProgramBytes program;
  program.text_begin_ = mark.mark_length;
  program.text_end_ = mark.mark_length + text.size() / UnitWidth(form) * UnitWidth(form);
  program.file_ = std::move(file);
  program.encoding_ = mark.encoding;
  program.form_ = form;
  return program;
}

template <typename Emit>
void ProgramBytes::ForEachPiece(Emit emit) const {
  emit(ByteOrderMark(encoding_));
  const std::string_view all = text();
  const std::string_view crlf = CrLf(form_);
  // Lines before crlf_until_ end in CR LF already and go as they are; after it, each line is
  // looked at, and one without that ending gets it.
  auto keep = [&](size_t from, size_t to) {
    size_t as_they_are = std::min(to, std::max(from, crlf_until_));
    emit(all.substr(from, as_they_are - from));
    if (as_they_are == to) return;
    std::string_view rest = all.substr(as_they_are, to - as_they_are);
    ScanLinesOf(form_, rest, {}, [&](const ScannedLine& line) {
      if (line.next - line.end == crlf.size()) {
        emit(rest.substr(line.begin, line.next - line.begin));
      } else {
        emit(rest.substr(line.begin, line.end - line.begin));
        emit(crlf);
      }
    });
  };
  size_t kept_from = 0;
  deleted_.ForEach([&](ByteRanges::Range range) {
    keep(kept_from, range.begin);
    kept_from = range.end;
  });
  keep(kept_from, all.size());
}
