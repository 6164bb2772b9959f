#include "program/line_list.h"

#include <bit>

#include "program/line_scan.h"

namespace {

// Lines are encoded in chunks of about this many code units, so that the save needs no second
// copy of the whole text and the platform's converter is called a few times only.
constexpr size_t kEncodeChunk = 1 << 16;

// Room for this many code units per line is reserved before the split. Reserved room that no
// line uses is never touched, so a generous guess costs address space only; a text of shorter
// lines makes the list grow as usual.
constexpr size_t kUnitsPerLineGuess = 12;

// The text lies in memory in the machine's byte order.
constexpr UnitForm kTextForm =
    std::endian::native == std::endian::little ? UnitForm::kUtf16Le : UnitForm::kUtf16Be;

}  // namespace

std::optional<LineList> LineList::FromFile(std::string file, EncodingMark mark) {
  Text text;
  if (!DecodeText(mark.encoding, std::string_view(file).substr(mark.mark_length), &text)) {
    return std::nullopt;
  }
  std::string().swap(file);  // the raw bytes are released before the lines are split
  return LineList(mark.encoding, std::move(text));
}

LineList::LineList(FileEncoding encoding, Text text) : text_(std::move(text)), encoding_(encoding) {
  lines_.reserve(text_.size() / kUnitsPerLineGuess + 1);
  // The same scan that finds the lines in the bytes of a file, on the bytes of the text.
  std::string_view bytes(reinterpret_cast<const char*>(text_.data()), text_.size() * 2);
  ScanLines<kTextForm>(bytes, {}, [&](const ScannedLine& line) {
    lines_.push_back({static_cast<uint32_t>(line.begin / 2),
                      static_cast<uint32_t>((line.end - line.begin) / 2)});
  });
}

void LineList::DeleteMarked(const std::vector<bool>& marked) {
  size_t kept = 0;
  for (size_t i = 0; i < lines_.size(); ++i) {
    // Written either way, so that the loop does not branch on the marks.
    lines_[kept] = lines_[i];
    kept += marked[i] ? 0 : 1;
  }
  lines_.resize(kept);
}

std::string LineList::Encode() const {
  size_t units = 0;
  for (const Span& span : lines_) units += span.length + 2;
  std::string out(ByteOrderMark(encoding_));
  out.reserve(out.size() + (encoding_ == FileEncoding::kAnsi ? units : units * 2));
  Text chunk;
  chunk.reserve(kEncodeChunk);
  for (size_t i = 0; i < lines_.size(); ++i) {
    chunk.append(Get(static_cast<int>(i)));
    chunk.append(u"\r\n");
    if (chunk.size() >= kEncodeChunk) {
      EncodeText(encoding_, chunk, &out);
      chunk.clear();
    }
  }
  EncodeText(encoding_, chunk, &out);
  return out;
}
