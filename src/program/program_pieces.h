// The NC program of a large file, read, pruned and written a piece at a time through one buffer
// that every piece uses again, so that the run never touches a buffer as large as the file: the
// save writes each piece while the next one is still to be read.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "encoding/file_encoding.h"
#include "files/read.h"
#include "program/program_form.h"
#include "program/unit_form.h"
#include "save/save.h"

/// The bytes of a piece. Every page of a fresh buffer costs a fault at its first touch, so the
/// piece is small: measured on programs of 200,000 and 2,000,000 lines, pieces of 64 KiB to
/// 1 MiB ran within a few per cent of each other and 4 MiB pieces took a fifth longer on the
/// large program and twice as long on the small one.
inline constexpr size_t kPieceSize = size_t{256} << 10;

/// A program in a file whose encoding keeps every byte (KeepsEveryByte), held as the reader of
/// its file and the piece read last. Written (WriteTo), it reads the file to its end a piece at
/// a time and hands the save each piece's lines as ProgramBytes would save them, pruned where
/// Prune was called: the same bytes, with every whole line of a piece checked to decode and the
/// pruning rule fed the lines in order across the pieces' edges. Known whole (Whole), it is the
/// file read again whole, decoded and pruned, as a program loaded whole is.
class ProgramPieces : public ContentStream {
 public:
  /// Reads the first piece of `piece_size` bytes (more where the first line is longer) from
  /// `reader`, which gives at least as many. Raises "EReadError", and the decode failure where
  /// the file is a UTF-16 mark and a single byte.
  ProgramPieces(std::unique_ptr<PieceReader> reader, size_t piece_size);

  /// The encoding that the byte-order mark announces.
  FileEncoding encoding() const { return mark_.encoding; }

  /// Makes the write prune the program.
  void Prune() { prune_ = true; }
  bool pruned() const { return prune_; }

  /// Whether WriteTo read the file a piece at a time: the reader is then used up.
  bool written() const { return written_; }

  /// Reads and prunes the rest of the file, writing a piece at a time; once only. Raises the
  /// decode failure where a line does not decode, and "EReadError". Once the program is known
  /// whole, writes that.
  bool WriteTo(const std::function<bool(Slices)>& write) const override;

  /// Raises the "changed meanwhile" failure for the file read where another program wrote,
  /// replaced or removed it since it was opened: the pieces written may then mix two versions.
  void CheckSource() const override;

  /// The program known whole: what a save of WholeForm writes.
  const FileContent& Whole() const override;

  /// The program read again whole from its file, decoded, and pruned where Prune was called, in
  /// the form that holds it; read once, no more reads after it. Raises the decode failure and
  /// "EReadError".
  ProgramForm& WholeForm() const;

  /// Raises the failure that the load of the whole file would have raised for what WriteTo has
  /// not read and checked yet: the decode failure or "EReadError". Does nothing after a failure
  /// that the content raised, or once the program is known whole.
  void CheckRest() const;

  /// The whole file again, from its start (ReadWhole); no more reads after it.
  std::string ReadWhole() const;

 private:
  /// The bytes of the text read and kept so far, after the byte-order mark.
  std::string_view text() const {
    return std::string_view(buffer_.get() + text_from_, used_ - text_from_);
  }
  /// Reads the next bytes after those kept, with more room where the buffer is full.
  void Fill() const;
  /// Keeps the bytes of the text from `from` on, at the start of the buffer.
  void KeepFrom(size_t from) const;
  /// Raises the decode failure unless `bytes` decode.
  void CheckDecodes(std::string_view bytes) const;

  template <typename Examine>
  bool Write(const std::function<bool(Slices)>& write, std::string_view needle,
             Examine examine) const;

  mutable std::unique_ptr<PieceReader> reader_;
  mutable std::unique_ptr<char[]> buffer_;
  mutable size_t capacity_ = 0;
  mutable size_t used_ = 0;       // bytes of the buffer that hold what was read
  mutable size_t text_from_ = 0;  // where the text begins in the buffer: after the mark
  mutable size_t checked_ = 0;    // the text before this offset is known to decode
  mutable bool at_end_ = false;   // whether the reader gave the whole file
  mutable bool written_ = false;
  mutable bool failed_ = false;                 // whether the content raised a failure
  mutable std::optional<ProgramForm> whole_;    // the program known whole, once read
  mutable std::unique_ptr<FileContent> saved_;  // what a save of `whole_` writes
  EncodingMark mark_;
  UnitForm form_;
  size_t piece_size_;
  bool prune_ = false;
};
