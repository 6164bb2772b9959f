// The NC program as a list of lines, with its file encoding.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/text.h"
#include "files/file_encoding.h"

/// An ordered list of lines, numbered from 0. The lines are views into one text buffer; a line
/// holds no CR or LF. Remembers the file encoding that the load found, for the save.
class LineList {
 public:
  /// An empty list in `encoding`; makes sure the ANSI code page is usable (raises the code page
  /// failure).
  explicit LineList(FileEncoding encoding = FileEncoding::kAnsi);

  /// The lines of the whole content of a file, byte-order mark included, whose mark is `mark`,
  /// in the mark's encoding; nothing when the bytes after the mark decode to nothing. The bytes
  /// of the file are released before the lines are split.
  static std::optional<LineList> FromFile(std::string file, EncodingMark mark);

  int Count() const { return static_cast<int>(lines_.size()); }
  TextView Get(int index) const {
    const Span& span = lines_[index];
    return TextView(text_.data() + span.start, span.length);
  }

  /// Removes every line whose entry in `marked` is set, in one pass.
  void DeleteMarked(const std::vector<bool>& marked);

  /// Replaces the lines by those of `text`, split at CR LF, lone LF and lone CR.
  void SetText(Text text);

  /// The file content of the lines in the file encoding: its byte-order mark, then every line
  /// followed by CR LF.
  std::string Encode() const;

  FileEncoding encoding() const { return encoding_; }

 private:
  struct Span {
    uint32_t start;
    uint32_t length;
  };

  Text text_;
  std::vector<Span> lines_;
  FileEncoding encoding_;
};
