// The NC program of a run, as loaded from its file and saved again.
#pragma once

#include <string>

#include "base/text.h"
#include "files/line_list.h"
#include "files/program_bytes.h"

/// The NC program, held as the bytes of its file (ProgramBytes) where its file encoding gives
/// back every byte unchanged, and as a line list of UTF-16 text where it does not (an ANSI code
/// page that is not single-byte or not one to one). Either way it saves the same bytes.
class ProgramFile {
 public:
  /// An empty program; makes sure the ANSI code page is usable (raises the code page failure).
  ProgramFile() = default;

  /// Takes the whole content of a file, byte-order mark included; false, keeping the program as
  /// it was, when the bytes after the mark decode to nothing.
  bool Decode(std::string file);

  /// Replaces the program by the content of the file at `path`. Raises the open failure,
  /// "EReadError" or the decode failure; the program is then unchanged.
  void Load(const Text& path);

  /// The file content that Save writes.
  std::string Encode() const;

  /// Replaces the file at `path` by the program in its file encoding, with its byte-order mark,
  /// every line followed by CR LF. Raises the create or the write failure.
  void Save(const Text& path) const;

  /// The program as the bytes of its file; null where it is held as a line list.
  ProgramBytes* bytes() { return held_as_bytes_ ? &bytes_ : nullptr; }

  /// The program as a line list, where it is not held as bytes.
  LineList& lines() { return lines_; }

  FileEncoding encoding() const { return held_as_bytes_ ? bytes_.encoding() : lines_.encoding(); }

 private:
  LineList lines_;
  ProgramBytes bytes_;
  bool held_as_bytes_ = false;
};
