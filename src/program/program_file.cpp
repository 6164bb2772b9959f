#include "program/program_file.h"

#include "files/file_failures.h"
#include "files/native_file.h"
#include "program/prune.h"

bool ProgramFile::Decode(std::string file) {
  // The mark is found here once and handed on to the form that holds the program.
  EncodingMark mark = DetectEncoding(file);
  if (ProgramBytes::Holds(mark.encoding)) {
    std::optional<ProgramBytes> bytes = ProgramBytes::FromFile(std::move(file), mark);
    if (!bytes) return false;
    form_ = std::move(*bytes);
  } else {
    std::optional<LineList> lines = LineList::FromFile(std::move(file), mark);
    if (!lines) return false;
    form_ = std::move(*lines);
  }
  return true;
}

void ProgramFile::Load(const Text& path) {
  FileStamp stamp;
  if (!Decode(ReadWholeFile(path, &stamp))) RaiseDecodeFailure();
  loaded_path_ = path;
  loaded_stamp_ = stamp;
}

void ProgramFile::Prune() {
  std::visit([](auto& form) { ::Prune(form); }, form_);
}

std::string ProgramFile::Encode() const {
  return std::visit([](const auto& form) { return form.Encode(); }, form_);
}

void ProgramFile::Save(const Text& path) const {
  struct Saver {
    const Text& path;
    const FileStamp* loaded;
    void operator()(const ProgramBytes& bytes) const {
      ReplaceWholeFile(path, ProgramBytes::SavedContent(bytes), loaded);
    }
    void operator()(const LineList& lines) const { ReplaceWholeFile(path, lines.Encode(), loaded); }
  };
  // Over the loaded file, the save first makes sure that nobody else wrote it since.
  bool over_loaded = !loaded_path_.empty() && path == loaded_path_;
  std::visit(Saver{path, over_loaded ? &loaded_stamp_ : nullptr}, form_);
}

FileEncoding ProgramFile::encoding() const {
  return std::visit([](const auto& form) { return form.encoding(); }, form_);
}
