// The NC program of a run, as loaded from its file, pruned and saved again.
#pragma once

#include <memory>
#include <string>
#include <variant>

#include "base/text.h"
#include "files/native_file.h"
#include "program/line_list.h"
#include "program/program_bytes.h"

/// The NC program, held in one of two forms that callers never see: as the bytes of its file
/// (ProgramBytes) where its file encoding gives back every byte unchanged, and as a line list of
/// UTF-16 text where it does not (an ANSI code page that is not single-byte or not one to one).
/// Either way it prunes the same lines and saves the same bytes.
class ProgramFile {
 public:
  /// An empty program. Checks the ANSI code page first, before any file is read, and raises the
  /// code page failure where the system does not accept it.
  ProgramFile();

  /// Takes the whole content of a file, byte-order mark included; false, keeping the program as
  /// it was, when the bytes after the mark decode to nothing.
  bool Decode(std::string file);

  /// Replaces the program by the content of the file at `path`. Raises the open failure,
  /// "EReadError" or the decode failure; the program is then unchanged.
  void Load(const Text& path);

  /// The pruning pass (see Prune in prune.h).
  void Prune();

  /// What Save writes: the byte-order mark of the program's file encoding, then every line
  /// followed by CR LF.
  std::unique_ptr<FileContent> Content() const;

  /// Replaces the file at `path` by Content(). Raises the create or the write failure; over the
  /// file it was loaded from, also the create failure when someone else changed that file since
  /// the load.
  void Save(const Text& path) const;

 private:
  std::variant<LineList, ProgramBytes> form_;
  Text loaded_path_;
  FileStamp loaded_stamp_;
};
