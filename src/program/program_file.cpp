#include "program/program_file.h"

#include "base/failure.h"
#include "encoding/code_page.h"
#include "encoding/encoding_failures.h"
#include "program/prune.h"

ProgramFile::ProgramFile(size_t piece_size) : piece_size_(piece_size) { PrepareAnsiCodePage(); }

bool ProgramFile::Decode(std::string file) {
  // The mark is found here once and handed on to the form that holds the program.
  EncodingMark mark = DetectEncoding(file);
  if (KeepsEveryByte(mark.encoding)) {
    std::optional<ProgramBytes> bytes = ProgramBytes::FromFile(std::move(file), mark);
    if (!bytes) return false;
    form_ = std::move(*bytes);
  } else {
    std::optional<LineList> lines = LineList::FromFile(std::move(file), mark);
    if (!lines) return false;
    form_ = std::move(*lines);
  }
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
  std::visit([](auto& form) { ::Prune(form); }, form_);
}

std::unique_ptr<FileContent> ProgramFile::Content() {
  if (pieces_) ReadWhole();
  return std::visit(
      [](const auto& form) -> std::unique_ptr<FileContent> {
        return std::make_unique<typename std::decay_t<decltype(form)>::SavedContent>(form);
      },
      form_);
}

void ProgramFile::Save(const Text& path) {
  // Over the loaded file, the save first makes sure that nobody else wrote it since; a new file
  // is made no more open to others than the program is.
  bool over_loaded = !loaded_path_.empty() && path == loaded_path_;
  const FileStamp* loaded = over_loaded ? &loaded_stamp_ : nullptr;
  if (pieces_ && !pieces_->written() && SaveInPieces(path, loaded)) return;
  ReplaceWholeFile(path, *Content(), loaded, loaded_stamp_.permissions);
}

bool ProgramFile::SaveInPieces(const Text& path, const FileStamp* loaded) {
  try {
    return ReplaceByNewFile(path, *pieces_, loaded, loaded_stamp_.permissions);
  } catch (const Failure&) {
    // The failures of the load come first, as where the whole file was read before the save.
    pieces_->CheckRest();
    throw;
  }
}

void ProgramFile::ReadWhole() {
  std::unique_ptr<ProgramPieces> pieces = std::move(pieces_);
  if (!Decode(pieces->ReadWhole())) RaiseDecodeFailure();
  if (pieces->pruned()) Prune();
}
