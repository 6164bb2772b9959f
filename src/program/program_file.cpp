#include "program/program_file.h"

#include "encoding/code_page.h"
#include "encoding/encoding_failures.h"
#include "program/prune.h"

ProgramFile::ProgramFile() { PrepareAnsiCodePage(); }

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

std::unique_ptr<FileContent> ProgramFile::Content() const {
  return std::visit(
      [](const auto& form) -> std::unique_ptr<FileContent> {
        return std::make_unique<typename std::decay_t<decltype(form)>::SavedContent>(form);
      },
      form_);
}

void ProgramFile::Save(const Text& path) const {
  // Over the loaded file, the save first makes sure that nobody else wrote it since; a new file
  // is made no more open to others than the program is.
  bool over_loaded = !loaded_path_.empty() && path == loaded_path_;
  ReplaceWholeFile(path, *Content(), over_loaded ? &loaded_stamp_ : nullptr,
                   loaded_stamp_.permissions);
}
