// The four encodings of an NC program file, told apart by their byte-order marks.
#pragma once

#include <cstddef>
#include <string>

#include "base/text.h"

enum class FileEncoding { kAnsi, kUtf8, kUtf16Le, kUtf16Be };

/// The encoding that the byte-order mark at the start of `bytes` announces, and the mark's length
/// (the ANSI encoding, with no mark, when none matches).
struct EncodingMark {
  FileEncoding encoding;
  size_t mark_length;
};
EncodingMark DetectEncoding(std::string_view bytes);

/// The byte-order mark that a save writes in front of the text.
std::string_view ByteOrderMark(FileEncoding encoding);

/// Appends `bytes` (without a mark) decoded; false when they are not empty but decode to nothing.
bool DecodeText(FileEncoding encoding, std::string_view bytes, Text* out);

/// Appends `text` encoded, without a mark; never fails.
void EncodeText(FileEncoding encoding, TextView text, std::string* out);
