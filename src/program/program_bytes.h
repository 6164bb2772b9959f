// The NC program held as the bytes of its file, for file encodings in which decoding the bytes
// and encoding the text again gives back the same bytes.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "base/text.h"
#include "encoding/file_encoding.h"
#include "program/byte_ranges.h"
#include "program/unit_form.h"
#include "save/save.h"

namespace prune_detail {
template <typename Form>
struct LineWalk;
}  // namespace prune_detail

/// Whether a file in `encoding` can be held as its bytes: UTF-8 (once found well-formed) and
/// UTF-16 always, the ANSI encoding where its code page keeps every byte (AnsiKeepsEveryByte).
bool KeepsEveryByte(FileEncoding encoding);

/// The lines of an NC program as they lie in the bytes of its file, found without decoding them;
/// deleting a line only notes its bytes, and the save writes the bytes of the other lines as they
/// are, each followed by CR LF. Line breaks, the marker texts and the blanks that are trimmed are
/// all ASCII, and in these encodings an ASCII character is found in the bytes exactly where it
/// is in the decoded text: every line, and every test on ASCII text, comes out as on the text.
/// The pruning pass walks and deletes its lines (prune_detail::LineWalk).
class ProgramBytes {
 public:
  /// An empty program.
  ProgramBytes() = default;

  /// The program in the whole content of a file, byte-order mark included, whose mark is `mark`
  /// and whose encoding KeepsEveryByte; nothing when the bytes after the mark decode to nothing:
  /// ill-formed UTF-8, or a single byte after a UTF-16 mark. An odd last byte of UTF-16 is no
  /// part of the text.
  static std::optional<ProgramBytes> FromFile(std::string file, EncodingMark mark);

  FileEncoding encoding() const { return encoding_; }

  /// What Save writes: the byte-order mark, then every line that is not deleted, followed by
  /// CR LF; as slices that point into the program's bytes (or, for short ones, gathered into a
  /// buffer), in batches of at most 1024.
  class SavedContent : public FileContent {
   public:
    explicit SavedContent(const ProgramBytes& program) : program_(program) {}
    uint64_t Size() const override;
    bool WriteTo(const std::function<bool(Slices)>& write) const override;

   private:
    const ProgramBytes& program_;
  };

 private:
  friend struct prune_detail::LineWalk<ProgramBytes>;

  std::string_view text() const {
    return std::string_view(file_).substr(text_begin_, text_end_ - text_begin_);
  }

  /// Calls `emit(std::string_view)` with the slices of the saved content, in order.
  template <typename Emit>
  void ForEachSlice(Emit emit) const;

  std::string file_;
  size_t text_begin_ = 0;  // after the byte-order mark
  size_t text_end_ = 0;    // before an odd last byte of UTF-16
  FileEncoding encoding_ = FileEncoding::kAnsi;
  UnitForm form_ = UnitForm::kByte;
  ByteRanges deleted_;
  // Up to here (an offset in the text) every line is known to end in CR LF; set by the walk
  // that deletes lines.
  size_t crlf_until_ = 0;
};
