// The NC program held as the bytes of its file, for file encodings in which decoding the bytes
// and encoding the text again gives back the same bytes.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "base/simd.h"
#include "base/text.h"
#include "program/byte_ranges.h"
#include "files/file_encoding.h"
#include "program/line_scan.h"
#include "files/native_file.h"

/// The lines of an NC program as they lie in the bytes of its file, found without decoding them;
/// deleting a line only notes its bytes, and the save writes the bytes of the other lines as they
/// are, each followed by CR LF. Line breaks, the marker texts and the blanks that are trimmed are
/// all ASCII, and in these encodings an ASCII character is found in the bytes exactly where it
/// is in the decoded text: every line, and every test on ASCII text, comes out as on the text.
class ProgramBytes {
 public:
  using Line = ScannedLine;

  /// Whether a file in `encoding` can be held as its bytes: UTF-8 (once found well-formed) and
  /// UTF-16 always, the ANSI encoding where its code page keeps every byte (AnsiKeepsEveryByte).
  static bool Holds(FileEncoding encoding);

  /// An empty program.
  ProgramBytes() = default;

  /// The program in the whole content of a file, byte-order mark included, whose mark is `mark`
  /// and whose encoding Holds; nothing when the bytes after the mark decode to nothing:
  /// ill-formed UTF-8, or a single byte after a UTF-16 mark. An odd last byte of UTF-16 is no
  /// part of the text.
  static std::optional<ProgramBytes> FromFile(std::string file, EncodingMark mark);

  FileEncoding encoding() const { return encoding_; }

  /// Calls `visit(const Line&)` for every line of the file, in order, telling of each whether
  /// `needle` (ASCII text without CR or LF, at most 8 characters) occurs in it, and deletes the
  /// line before it, with its ending, where `visit` returns true. The lines are those of the
  /// file: a call forgets the deletions of an earlier one.
  template <typename Visit>
  void DeletePreviousWhere(TextView needle, Visit visit);

  /// The bytes of `line`, without its ending.
  std::string_view BytesOf(const Line& line) const {
    return std::string_view(file_.data() + text_begin_ + line.begin, line.end - line.begin);
  }

  /// The bytes of the first line, without its ending; empty when there is none.
  std::string_view FirstLine() const;

  /// The code unit whose bytes begin at offset `at` of `bytes`.
  char16_t UnitAt(std::string_view bytes, size_t at) const;

  /// The number of bytes of a code unit.
  size_t unit_width() const { return UnitWidth(form_); }

  /// ASCII text as the bytes of this program hold it.
  std::string Encoded(TextView ascii) const;

  /// The file content that Save writes: the byte-order mark, then every line that is not
  /// deleted, followed by CR LF.
  std::string Encode() const;

  /// The same content as the save hands it to the file: pieces that point into the program's
  /// bytes (or, for short ones, gathered into a buffer), in batches of at most 1024.
  class SavedContent : public FileContent {
   public:
    explicit SavedContent(const ProgramBytes& program) : program_(program) {}
    uint64_t Size() const override;
    bool WriteTo(const std::function<bool(Pieces)>& write) const override;

   private:
    const ProgramBytes& program_;
  };

 private:
  std::string_view text() const {
    return std::string_view(file_).substr(text_begin_, text_end_ - text_begin_);
  }

  /// Calls `emit(std::string_view)` with the pieces of the saved content, in order.
  template <typename Emit>
  void ForEachPiece(Emit emit) const;

  std::string file_;
  size_t text_begin_ = 0;  // after the byte-order mark
  size_t text_end_ = 0;    // before an odd last byte of UTF-16
  FileEncoding encoding_ = FileEncoding::kAnsi;
  UnitForm form_ = UnitForm::kByte;
  ByteRanges deleted_;
  // Up to here (an offset in the text) every line is known to end in CR LF; set by
  // DeletePreviousWhere.
  size_t crlf_until_ = 0;
};

namespace program_bytes {

/// What DeletePreviousWhere keeps while it scans: the visitor, where the lines begin to end
/// otherwise than in CR LF, and the deletions. Deletions are frequent and hard to foresee, so they
/// are noted without jumps: the range of deleted bytes that may still grow stays open, and a range
/// that closes goes to a small table whether it is the last one or not (the table only moves on
/// when it is). Held by value in the scan, so that all of it can stay in registers.
template <typename Visit>
struct DeletingScan {
  static constexpr size_t kClosed = 256;

  Visit visit;
  size_t crlf;  // the bytes of CR LF
  ByteRanges* deleted;
  size_t crlf_until = 0;
  bool all_crlf = true;
  ScannedLine previous{};
  size_t open_begin = 0, open_end = 0;
  size_t count = 0;
  ByteRanges::Range closed[kClosed] = {};

  PRUNE_INLINE void operator()(const ScannedLine& line) {
    if (all_crlf && line.next - line.end != crlf) [[unlikely]] {
      all_crlf = false;
      crlf_until = line.begin;
    }
    bool deletes = visit(line);
    bool starts = deletes & (previous.begin != open_end);
    closed[count] = {open_begin, open_end};
    count += starts;
    open_begin = starts ? previous.begin : open_begin;
    open_end = deletes ? previous.next : open_end;
    if (count == kClosed) [[unlikely]]
      Flush();
    previous = line;
  }

  void Flush() {
    for (size_t i = 0; i < count; ++i) deleted->Add(closed[i].begin, closed[i].end);
    count = 0;
  }
};

}  // namespace program_bytes

template <typename Visit>
void ProgramBytes::DeletePreviousWhere(TextView needle, Visit visit) {
  deleted_.Clear();
  auto scan = ScanLinesOf(form_, text(), Encoded(needle),
                          program_bytes::DeletingScan<Visit>{visit, 2 * unit_width(), &deleted_});
  scan.Flush();
  deleted_.Add(scan.open_begin, scan.open_end);
  crlf_until_ = scan.all_crlf ? text().size() : scan.crlf_until;
}
