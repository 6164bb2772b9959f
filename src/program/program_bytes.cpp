#include "program/program_bytes.h"

#include <cstdint>

#include "encoding/code_page.h"
#include "program/saved_lines.h"

uint64_t ProgramBytes::SavedContent::Size() const {
  uint64_t size = 0;
  program_.ForEachSlice([&](std::string_view slice) { size += slice.size(); });
  return size;
}

bool ProgramBytes::SavedContent::WriteTo(const std::function<bool(Slices)>& write) const {
  Batcher batcher(write);
  program_.ForEachSlice([&](std::string_view slice) { batcher.Add(slice); });
  return batcher.Flush();
}

bool KeepsEveryByte(FileEncoding encoding) {
  return encoding != FileEncoding::kAnsi || AnsiKeepsEveryByte();
}

std::optional<ProgramBytes> ProgramBytes::FromFile(std::string file, EncodingMark mark) {
  std::string_view text = std::string_view(file).substr(mark.mark_length);
  UnitForm form = FormOf(mark.encoding);
  if (mark.encoding == FileEncoding::kUtf8 && !IsDecodableUtf8(text)) return std::nullopt;
  if (UnitWidth(form) == 2 && text.size() == 1) return std::nullopt;
  ProgramBytes program;
  program.text_begin_ = mark.mark_length;
  program.text_end_ = mark.mark_length + text.size() / UnitWidth(form) * UnitWidth(form);
  program.file_ = std::move(file);
  program.encoding_ = mark.encoding;
  program.form_ = form;
  return program;
}

template <typename Emit>
void ProgramBytes::ForEachSlice(Emit emit) const {
  emit(ByteOrderMark(encoding_));
  const std::string_view all = text();
  auto keep = [&](size_t from, size_t to) { EmitLines(form_, all, from, to, crlf_until_, emit); };
  size_t kept_from = 0;
  deleted_.ForEach([&](ByteRanges::Range range) {
    keep(kept_from, range.begin);
    kept_from = range.end;
  });
  keep(kept_from, all.size());
}
