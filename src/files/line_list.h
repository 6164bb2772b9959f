// The NC program as a list of lines, with its file encoding.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/text.h"
#include "files/file_encoding.h"

/// An ordered list of lines, numbered from 0. The lines are views into one text buffer; a line
/// holds no CR or LF. Remembers the file encoding that the load found, for the save.
class LineList {
 public:
  /// An empty list; makes sure the ANSI code page is usable (raises the code page failure).
  LineList();

  int Count() const { return static_cast<int>(lines_.size()); }
  TextView Get(int index) const {
    const Span& span = lines_[index];
    return TextView(text_.data() + span.start, span.length);
  }

  /// Removes the line at `index`; every later line moves up by one.
  void Delete(int index);

  /// Removes every line whose entry in `marked` is set, in one pass.
  void DeleteMarked(const std::vector<bool>& marked);

  /// Replaces the lines by those of `text`, split at CR LF, lone LF and lone CR.
  void SetText(Text text);

  /// Replaces the lines by those of the whole content of a file, byte-order mark included, and
  /// takes over the file encoding that its mark announces. False, leaving the lines and the
  /// encoding unchanged, when the bytes after the mark decode to nothing.
  bool Decode(std::string file);

  /// Replaces the lines by those of the file at `path` and takes over its file encoding.
  /// Raises the open failure, "EReadError" or the decode failure; the lines are then unchanged.
  void Load(const Text& path);

  /// Replaces the file at `path` by the lines in the file encoding, with its byte-order mark,
  /// every line followed by CR LF. Raises the create or the write failure.
  void Save(const Text& path) const;

  /// The file content that Save writes.
  std::string Encode() const;

  FileEncoding encoding() const { return encoding_; }
  void set_encoding(FileEncoding encoding) { encoding_ = encoding; }

 private:
  struct Span {
    uint32_t start;
    uint32_t length;
  };

  Text text_;
  std::vector<Span> lines_;
  FileEncoding encoding_ = FileEncoding::kAnsi;
};
