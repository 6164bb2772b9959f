#include "program/program_form.h"

#include "encoding/file_encoding.h"
#include "program/prune.h"

std::optional<ProgramForm> FormOfFile(std::string file) {
  // The mark is found here once and handed on to the form that holds the program.
  EncodingMark mark = DetectEncoding(file);
  if (KeepsEveryByte(mark.encoding)) {
    std::optional<ProgramBytes> bytes = ProgramBytes::FromFile(std::move(file), mark);
    if (!bytes) return std::nullopt;
    return ProgramForm(std::move(*bytes));
  }
  std::optional<LineList> lines = LineList::FromFile(std::move(file), mark);
  if (!lines) return std::nullopt;
  return ProgramForm(std::move(*lines));
}

void PruneForm(ProgramForm& form) {
  std::visit([](auto& held) { Prune(held); }, form);
}

std::unique_ptr<FileContent> SavedContentOf(const ProgramForm& form) {
  return std::visit(
      [](const auto& held) -> std::unique_ptr<FileContent> {
        return std::make_unique<typename std::decay_t<decltype(held)>::SavedContent>(held);
      },
      form);
}
