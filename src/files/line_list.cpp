#include "files/line_list.h"

#include <algorithm>

#include "files/code_page.h"
#include "files/file_failures.h"
#include "files/native_file.h"

namespace {

// Lines are encoded in pieces of about this many code units, so that the save needs no second
// copy of the whole text and the platform's converter is called a few times only.
constexpr size_t kEncodeChunk = 1 << 16;

}  // namespace

LineList::LineList() { PrepareAnsiCodePage(); }

TextView LineList::Get(int index) const {
  const Span& span = lines_[index];
  return TextView(text_).substr(span.start, span.length);
}

void LineList::Delete(int index) { lines_.erase(lines_.begin() + index); }

void LineList::DeleteMarked(const std::vector<bool>& marked) {
  size_t kept = 0;
  for (size_t i = 0; i < lines_.size(); ++i) {
    if (!marked[i]) lines_[kept++] = lines_[i];
  }
  lines_.resize(kept);
}

void LineList::SetText(Text text) {
  text_ = std::move(text);
  lines_.clear();
  const char16_t* begin = text_.data();
  const char16_t* end = begin + text_.size();
  const char16_t* p = begin;
  while (p < end) {
    const char16_t* line_end = p;
    while (line_end < end && *line_end != u'\r' && *line_end != u'\n') ++line_end;
    lines_.push_back({static_cast<uint32_t>(p - begin), static_cast<uint32_t>(line_end - p)});
    p = line_end;
    if (p < end && *p == u'\r') ++p;
    if (p < end && *p == u'\n') ++p;
  }
  lines_.shrink_to_fit();
}

void LineList::Load(const Text& path) {
  Text text;
  FileEncoding encoding;
  {
    std::string bytes = ReadWholeFile(path);
    EncodingMark mark = DetectEncoding(bytes);
    encoding = mark.encoding;
    if (!DecodeText(encoding, std::string_view(bytes).substr(mark.mark_length), &text)) {
      RaiseDecodeFailure();
    }
  }  // the raw bytes are released before the lines are split
  encoding_ = encoding;
  SetText(std::move(text));
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

void LineList::Save(const Text& path) const { ReplaceWholeFile(path, Encode()); }
