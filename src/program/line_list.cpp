#include "program/line_list.h"

#include <algorithm>
#include <bit>

#include "base/simd.h"
#include "files/code_page.h"

namespace {

// Lines are encoded in pieces of about this many code units, so that the save needs no second
// copy of the whole text and the platform's converter is called a few times only.
constexpr size_t kEncodeChunk = 1 << 16;

// Room for this many code units per line is reserved before the split. Reserved room that no
// line uses is never touched, so a generous guess costs address space only; a text of shorter
// lines makes the list grow as usual.
constexpr size_t kUnitsPerLineGuess = 12;

// Line breaks are looked for this many code units at a time: the lanes of two blocks.
constexpr size_t kBreakUnits = 2 * simd::kBlockLanes;

/// The positions of CR and LF among the kBreakUnits code units from `p` on, one bit per code
/// unit.
uint32_t LineBreakMask(const char16_t* p) {
  const simd::Block cr = simd::EveryLane(u'\r');
  const simd::Block lf = simd::EveryLane(u'\n');
  simd::Block low = simd::Load(p);
  simd::Block high = simd::Load(p + simd::kBlockLanes);
  low = simd::Or(simd::EqualLanes(low, cr), simd::EqualLanes(low, lf));
  high = simd::Or(simd::EqualLanes(high, cr), simd::EqualLanes(high, lf));
  return simd::LaneTopBits(low, high);
}

/// Calls `visit` with the position of every CR and LF in `text`, in order. Most code units are
/// neither, so they are tested kBreakUnits at a time.
template <typename Visit>
void ForEachLineBreak(TextView text, Visit visit) {
  size_t i = 0;
  for (; i + kBreakUnits <= text.size(); i += kBreakUnits) {
    for (uint32_t mask = LineBreakMask(text.data() + i); mask != 0; mask &= mask - 1) {
      visit(i + std::countr_zero(mask));
    }
  }
  for (; i < text.size(); ++i) {
    if (text[i] == u'\r' || text[i] == u'\n') visit(i);
  }
}

}  // namespace

LineList::LineList(FileEncoding encoding) : encoding_(encoding) { PrepareAnsiCodePage(); }

std::optional<LineList> LineList::FromFile(std::string file, EncodingMark mark) {
  Text text;
  if (!DecodeText(mark.encoding, std::string_view(file).substr(mark.mark_length), &text)) {
    return std::nullopt;
  }
  std::string().swap(file);  // the raw bytes are released before the lines are split
  LineList lines(mark.encoding);
  lines.SetText(std::move(text));
  return lines;
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

void LineList::SetText(Text text) {
  text_ = std::move(text);
  lines_.clear();
  lines_.reserve(text_.size() / kUnitsPerLineGuess + 1);
  const TextView all(text_);
  size_t start = 0;  // where the next line begins
  ForEachLineBreak(all, [&](size_t at) {
    if (at < start) return;  // the LF of a CR LF, which has ended its line already
    lines_.push_back({static_cast<uint32_t>(start), static_cast<uint32_t>(at - start)});
    start = at + 1;
    if (all[at] == u'\r' && start < all.size() && all[start] == u'\n') ++start;
  });
  if (start < all.size()) {
    lines_.push_back({static_cast<uint32_t>(start), static_cast<uint32_t>(all.size() - start)});
  }
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
