// For tests: the two forms of a program straight from the content of a file, the line list being
// the reference that the bytes are held to.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/text.h"
#include "encoding/file_encoding.h"
#include "program/line_list.h"
#include "program/program_bytes.h"
#include "program/program_file.h"
#include "save/save.h"

/// Whole files whose bytes after the byte-order mark decode to nothing: one byte after a UTF-16
/// mark, and ill-formed UTF-8 (an overlong form, a surrogate, a sequence cut off at the end).
inline const std::string kUndecodableFiles[] = {
    "\xFF\xFE"
    "A",
    "\xFE\xFF"
    "A",
    "\xEF\xBB\xBFG01 A1\r\n\xC0\x80\r\n",
    "\xEF\xBB\xBF\xED\xA0\x80",
    "\xEF\xBB\xBF" + std::string(100, 'x') + "\xC3",
};

/// The lines of a file's whole content, byte-order mark included, decoded into UTF-16 by its
/// mark; nothing where they decode to nothing.
inline std::optional<LineList> LinesOfFile(std::string file) {
  EncodingMark mark = DetectEncoding(file);
  return LineList::FromFile(std::move(file), mark);
}

/// A file's whole content held as its bytes; its encoding must be one that ProgramBytes holds.
inline std::optional<ProgramBytes> BytesOfFile(std::string file) {
  EncodingMark mark = DetectEncoding(file);
  return ProgramBytes::FromFile(std::move(file), mark);
}

/// The lines of `text` in a list whose file encoding is `encoding`, as a file of that text in that
/// encoding loads; `text` must come back from that encoding unchanged (UTF-16 keeps every text).
inline LineList ListOfText(const Text& text, FileEncoding encoding = FileEncoding::kUtf16Le) {
  std::string file(ByteOrderMark(encoding));
  EncodeText(encoding, text, &file);
  return *LinesOfFile(std::move(file));
}

/// The bytes that `content` hands to the save, gathered from its batches as the save gets them.
inline std::string SavedBytes(const FileContent& content) {
  std::string bytes;
  content.WriteTo([&](FileContent::Slices slices) {
    for (std::string_view slice : slices) bytes.append(slice);
    return true;
  });
  return bytes;
}

/// The bytes that a save of each form writes.
inline std::string SavedBytes(ProgramFile& program) { return SavedBytes(*program.Content()); }
inline std::string SavedBytes(const LineList& lines) {
  return SavedBytes(LineList::SavedContent(lines));
}
inline std::string SavedBytes(const ProgramBytes& program) {
  return SavedBytes(ProgramBytes::SavedContent(program));
}

/// The lines of `list`, in order.
inline std::vector<Text> LinesOf(const LineList& list) {
  std::vector<Text> lines;
  for (int i = 0; i < list.Count(); ++i) lines.emplace_back(list.Get(i));
  return lines;
}
