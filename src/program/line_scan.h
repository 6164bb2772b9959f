// Finding the lines of a text in the bytes that hold it, without decoding them: for text of one
// byte a code unit and for UTF-16 of either byte order, by vector compares of 16 bytes at a time.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "base/simd.h"
#include "program/block_masks.h"
#include "program/unit_form.h"

/// One line as found in the bytes; the offsets count bytes from the start of the text.
struct ScannedLine {
  size_t begin;     ///< the first byte of the line
  size_t end;       ///< the first byte of its ending (CR LF, LF or CR), or the end of the text
  size_t next;      ///< the first byte after its ending: where the next line begins
  bool has_needle;  ///< whether the needle occurs in the line
};

/// Calls `visit(const ScannedLine&)` for every line of `text`, in order, as the line splitting
/// defines them: a line ends at the first CR or LF code unit, and its ending is that CR or LF,
/// or a CR and the LF right after it; the last line may lack an ending, and the empty text has
/// no line. `text` holds whole code units of form `F`. Tells of each line whether `needle` (ASCII
/// text in the same form, without CR, LF or NUL, at most 8 code units; empty for none) occurs in
/// it. Returns `visit`, which the scan holds by value, so that its state can stay in registers.
template <UnitForm F, size_t kNeedleUnits, typename Visit>
Visit ScanLinesFor(std::string_view text, std::string_view needle, Visit visit);

template <UnitForm F, typename Visit>
Visit ScanLines(std::string_view text, std::string_view needle, Visit visit) {
  // The move pattern has five code units: its scan knows that when compiled.
  switch (needle.size() / UnitWidth(F)) {
    case 0:
      return ScanLinesFor<F, 0>(text, needle, visit);
    case 5:
      return ScanLinesFor<F, 5>(text, needle, visit);
    default:
      return ScanLinesFor<F, line_scan::kAnyUnits>(text, needle, visit);
  }
}

/// ScanLines for a needle of `kNeedleUnits` code units (line_scan::kAnyUnits: any).
template <UnitForm F, size_t kNeedleUnits, typename Visit>
Visit ScanLinesFor(std::string_view text, std::string_view needle, Visit visit) {
  constexpr size_t kBlock = simd::kBlockBytes;
  constexpr size_t w = UnitWidth(F);
  // Four blocks give one 64-bit word of each mask: the loop over the line ends of a word ends
  // after a number of turns that cannot be foreseen, which costs a mispredicted jump once a word
  // rather than once a block.
  constexpr size_t kWord = 64;
  auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const size_t size = text.size() / w * w;
  const line_scan::BlockMasks<F, kNeedleUnits> masks(needle);
  const bool has_needle = kNeedleUnits != 0 && !needle.empty();
  // Finding the needle in a word reads this far beyond it.
  const size_t reach = has_needle ? needle.size() - w : 0;
  // The last words are scanned from a copy padded with zeros, which hold no line break and no
  // needle.
  unsigned char padded[2 * kWord];

  size_t begin = 0;        // where the current line begins
  bool carried = false;    // whether the needle begins in the current line before the word
  uint64_t cr_before = 0;  // whether the word before ends in a CR
  for (size_t i = 0; i < size; i += kWord) {
    const unsigned char* word = p + i;
    if (i + kWord + reach > size) [[unlikely]] {
      size_t rest = std::min(size - i, sizeof padded);
      std::memcpy(padded, word, rest);
      std::memset(padded + rest, 0, sizeof padded - rest);
      word = padded;
    }
    uint64_t cr = 0, lf = 0, needles = 0;
    for (size_t b = 0; b < kWord; b += kBlock) {
      uint32_t block_cr, block_lf;
      masks.Breaks(word + b, &block_cr, &block_lf);
      cr |= uint64_t{block_cr} << b;
      lf |= uint64_t{block_lf} << b;
      if (has_needle) needles |= uint64_t{masks.Needles(word + b)} << b;
    }
    // A line ends at every CR and at every LF that no CR stands right before; a CR with an LF
    // right after it (maybe in the next word) ends its line with both.
    uint64_t cr_last = (cr >> (kWord - w)) & 1;
    uint64_t lf_next = cr_last && i + kWord < size && UnitAt<F>(p + i + kWord) == u'\n';
    uint64_t pairs = cr & ((lf >> w) | (lf_next << (kWord - w)));
    uint64_t ends = cr | (lf & ~((cr << w) | cr_before));
    cr_before = cr_last;
    // The needles of the lines still to end in this word: no needle begins on a line break, so
    // those below a line's end lie in that line, and those of a line go with its end.
    uint64_t ahead = needles;
    for (; ends != 0; ends &= ends - 1) {
      const uint64_t end = ends & -ends;
      const size_t k = std::countr_zero(ends);
      const size_t next = i + k + w + w * ((pairs >> k) & 1);
      visit(ScannedLine{begin, i + k, next, carried || (ahead & (end - 1)) != 0});
      ahead &= ~((end << 1) - 1);
      begin = next;
      carried = false;
    }
    // The line that goes on into the next word: its needles so far.
    carried = carried || ahead != 0;
  }
  if (begin < size) visit(ScannedLine{begin, size, size, carried});
  return visit;
}

/// ScanLines for text of the form `form`, chosen at run time.
template <typename Visit>
Visit ScanLinesOf(UnitForm form, std::string_view text, std::string_view needle, Visit visit) {
  switch (form) {
    case UnitForm::kByte:
      return ScanLines<UnitForm::kByte>(text, needle, visit);
    case UnitForm::kUtf16Le:
      return ScanLines<UnitForm::kUtf16Le>(text, needle, visit);
    case UnitForm::kUtf16Be:
      return ScanLines<UnitForm::kUtf16Be>(text, needle, visit);
  }
  return visit;
}
