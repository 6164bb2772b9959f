#include "program/program_file.h"

#include "base/failure.h"
#include "encoding/code_page.h"
#include "encoding/encoding_failures.h"

ProgramFile::ProgramFile(size_t piece_size) : piece_size_(piece_size) { PrepareAnsiCodePage(); }

bool ProgramFile::Decode(std::string file) {
  std::optional<ProgramForm> form = FormOfFile(std::move(file));
  if (!form) return false;
  form_ = std::move(*form);
  pieces_.reset();
  return true;
}

void ProgramFile::Load(const Text& path) {
  std::unique_ptr<PieceReader> reader = OpenInPieces(path);
  FileStamp stamp;
  std::string file;
  std::unique_ptr<ProgramPieces> pieces;
  if (!reader) {
    file = ReadWholeFile(path, &stamp);
  } else if (stamp = reader->stamp(); reader->size() <= piece_size_) {
    file = reader->ReadWhole();
  } else {
    pieces = std::make_unique<ProgramPieces>(std::move(reader), piece_size_);
    if (!KeepsEveryByte(pieces->encoding())) {
      file = pieces->ReadWhole();
      pieces.reset();
    }
  }
  if (pieces) {
    pieces_ = std::move(pieces);
  } else if (!Decode(std::move(file))) {
    RaiseDecodeFailure();
  }
  loaded_path_ = path;
  loaded_stamp_ = stamp;
}

void ProgramFile::Prune() {
  if (pieces_) return pieces_->Prune();
  PruneForm(form_);
}

std::unique_ptr<FileContent> ProgramFile::Content() {
  if (pieces_) ReadWhole();
  return SavedContentOf(form_);
}

void ProgramFile::Save(const Text& path) {
  // Over the loaded file, the save first makes sure that nobody else wrote it since; a new file
  // is made no more open to others than the program is.
  bool over_loaded = !loaded_path_.empty() && path == loaded_path_;
  const FileStamp* loaded = over_loaded ? &loaded_stamp_ : nullptr;
  // Pieces are read and written once: a program saved before is held whole for another save.
  if (pieces_ && pieces_->written()) ReadWhole();
  std::unique_ptr<FileContent> whole = pieces_ ? nullptr : Content();
  const ContentStream& content = pieces_ ? *pieces_ : static_cast<const ContentStream&>(*whole);
  try {
    ReplaceWholeFile(path, content, loaded, loaded_stamp_.permissions);
  } catch (const Failure&) {
    // The failures of the load come first, as where the whole file was read before the save.
    if (pieces_) pieces_->CheckRest();
    throw;
  }
}

void ProgramFile::ReadWhole() {
  std::unique_ptr<ProgramPieces> pieces = std::move(pieces_);
  form_ = std::move(pieces->WholeForm());
}
