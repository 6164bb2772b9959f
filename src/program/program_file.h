// The NC program of a run, as loaded from its file, pruned and saved again.
#pragma once

#include <memory>
#include <string>

#include "base/text.h"
#include "files/read.h"
#include "program/program_form.h"
#include "program/program_pieces.h"
#include "save/save.h"

/// The NC program, held in one of two forms that callers never see: as the bytes of its file
/// (ProgramBytes) where its file encoding gives back every byte unchanged, and as a line list of
/// UTF-16 text where it does not (an ANSI code page that is not single-byte or not one to one).
/// Either way it prunes the same lines and saves the same bytes. A file larger than a piece, in
/// an encoding that keeps every byte, is held as its pieces (ProgramPieces) where the platform
/// saves that way: it is then read, pruned and written while it is saved, or read again whole
/// where the save must write in place.
class ProgramFile {
 public:
  /// An empty program. Checks the ANSI code page first, before any file is read, and raises the
  /// code page failure where the system does not accept it.
  ProgramFile() : ProgramFile(kPieceSize) {}

  /// An empty program that loads a file larger than `piece_size` bytes in pieces of that size.
  explicit ProgramFile(size_t piece_size);

  /// Takes the whole content of a file, byte-order mark included; false, keeping the program as
  /// it was, when the bytes after the mark decode to nothing.
  bool Decode(std::string file);

  /// Replaces the program by the content of the file at `path`. Raises the open failure,
  /// "EReadError" or the decode failure; the program is then unchanged. Of a program loaded in
  /// pieces, only the first piece is read here, and the save raises the failures of the rest
  /// before its own.
  void Load(const Text& path);

  /// The pruning pass (see Prune in prune.h).
  void Prune();

  /// What Save writes: the byte-order mark of the program's file encoding, then every line
  /// followed by CR LF. A program loaded in pieces is read whole first.
  std::unique_ptr<FileContent> Content();

  /// Replaces the file at `path` by what Content() gives, with one call of the save. Raises the
  /// create or the write failure; over the file it was loaded from, also the create failure when
  /// someone else changed that file since the load. A program loaded in pieces raises the
  /// failures of its load first: where the save fails, the rest of the file is read and checked.
  void Save(const Text& path);

 private:
  /// Holds a program loaded in pieces whole, pruned where it was to be.
  void ReadWhole();

  ProgramForm form_;
  std::unique_ptr<ProgramPieces> pieces_;
  size_t piece_size_;
  Text loaded_path_;
  FileStamp loaded_stamp_;
};
