// For tests: the two forms of a program straight from the content of a file, the line list being
// the reference that the bytes are held to.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/text.h"
#include "files/file_encoding.h"
#include "program/line_list.h"
#include "program/program_bytes.h"

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

/// The lines of `list`, in order.
inline std::vector<Text> LinesOf(const LineList& list) {
  std::vector<Text> lines;
  for (int i = 0; i < list.Count(); ++i) lines.emplace_back(list.Get(i));
  return lines;
}
