// Finding the lines of a text in the bytes that hold it, without decoding them: for text of one
// byte a code unit and for UTF-16 of either byte order, by vector compares of 16 bytes at a time.
#pragma once

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

/// Asks for a lambda to be inlined where it is called once per line.
#if defined(__GNUC__)
#define PRUNE_INLINE __attribute__((always_inline))
#else
#define PRUNE_INLINE
#endif

/// How the code units of a text lie in its bytes.
enum class UnitForm { kByte, kUtf16Le, kUtf16Be };

/// The number of bytes of one code unit.
constexpr size_t UnitWidth(UnitForm form) { return form == UnitForm::kByte ? 1 : 2; }

/// The code unit whose bytes start at `p`.
template <UnitForm F>
char16_t UnitAt(const unsigned char* p) {
  if constexpr (F == UnitForm::kByte) return p[0];
  if constexpr (F == UnitForm::kUtf16Le) return static_cast<char16_t>(p[0] | (p[1] << 8));
  return static_cast<char16_t>((p[0] << 8) | p[1]);
}

/// One line as found in the bytes; the offsets count bytes from the start of the text.
struct ScannedLine {
  size_t begin;     ///< the first byte of the line
  size_t end;       ///< the first byte of its ending (CR LF, LF or CR), or the end of the text
  size_t next;      ///< the first byte after its ending: where the next line begins
  bool has_needle;  ///< whether the needle occurs in the line
};

namespace line_scan {

constexpr size_t kBlock = 16;

/// The longest needle, in code units, that the block scan looks for.
constexpr size_t kMaxNeedleUnits = 8;

/// Finds, in a block of 16 bytes, where CR and LF code units and the needle begin: one bit per
/// byte offset, set only where a code unit begins.
template <UnitForm F>
class BlockMasks {
 public:
  static constexpr size_t kWidth = UnitWidth(F);
  /// Bits of the byte offsets at which code units begin.
  static constexpr uint32_t kUnitStarts = kWidth == 1 ? 0xFFFF : 0x5555;

  /// `needle` is ASCII text in the bytes of this form, at most kMaxNeedleUnits code units.
  explicit BlockMasks(std::string_view needle) : units_(needle.size() / kWidth) {
    assert(units_ <= kMaxNeedleUnits);
#if defined(__SSE2__)
    cr_ = Broadcast(reinterpret_cast<const unsigned char*>(kWidth == 1 ? "\r" : kCr16));
    lf_ = Broadcast(reinterpret_cast<const unsigned char*>(kWidth == 1 ? "\n" : kLf16));
    for (size_t j = 0; j < std::min(units_, kMaxNeedleUnits); ++j) {
      needle_[j] = Broadcast(reinterpret_cast<const unsigned char*>(needle.data()) + j * kWidth);
    }
#else
    needle_ = needle;
#endif
  }

  /// The CR and the LF code units of the block at `p`.
  PRUNE_INLINE void Breaks(const unsigned char* p, uint32_t* cr, uint32_t* lf) const {
#if defined(__SSE2__)
    __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    *cr = _mm_movemask_epi8(Equal(block, cr_)) & kUnitStarts;
    *lf = _mm_movemask_epi8(Equal(block, lf_)) & kUnitStarts;
#else
    *cr = *lf = 0;
    for (size_t k = 0; k < kBlock; k += kWidth) {
      char16_t unit = UnitAt<F>(p + k);
      *cr |= uint32_t{unit == u'\r'} << k;
      *lf |= uint32_t{unit == u'\n'} << k;
    }
#endif
  }

  /// Where the needle begins in the block at `p`; reads the needle's length less one code unit
  /// beyond the block.
  PRUNE_INLINE uint32_t Needles(const unsigned char* p) const {
#if defined(__SSE2__)
    __m128i all = _mm_set1_epi8(-1);
    auto unit = [&](size_t j) {
      __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + j * kWidth));
      all = _mm_and_si128(all, Equal(block, needle_[j]));
    };
    // Straight code for the needle's length, which is the same for every block.
    switch (units_) {
      case 8:
        unit(7);
        [[fallthrough]];
      case 7:
        unit(6);
        [[fallthrough]];
      case 6:
        unit(5);
        [[fallthrough]];
      case 5:
        unit(4);
        [[fallthrough]];
      case 4:
        unit(3);
        [[fallthrough]];
      case 3:
        unit(2);
        [[fallthrough]];
      case 2:
        unit(1);
        [[fallthrough]];
      default:
        unit(0);
    }
    return _mm_movemask_epi8(all) & kUnitStarts;
#else
    uint32_t found = 0;
    for (size_t k = 0; k < kBlock; k += kWidth) {
      found |= uint32_t{std::memcmp(p + k, needle_.data(), needle_.size()) == 0} << k;
    }
    return found;
#endif
  }

 private:
  static constexpr char kCr16[] = {F == UnitForm::kUtf16Be ? '\0' : '\r',
                                   F == UnitForm::kUtf16Be ? '\r' : '\0'};
  static constexpr char kLf16[] = {F == UnitForm::kUtf16Be ? '\0' : '\n',
                                   F == UnitForm::kUtf16Be ? '\n' : '\0'};
  size_t units_;
#if defined(__SSE2__)
  /// The code unit whose bytes start at `p`, in every place of a vector.
  static __m128i Broadcast(const unsigned char* p) {
    if constexpr (kWidth == 1) return _mm_set1_epi8(static_cast<char>(p[0]));
    uint16_t lane;
    std::memcpy(&lane, p, 2);  // as the vector holds it, whatever the byte order of the text
    return _mm_set1_epi16(static_cast<short>(lane));
  }
  static __m128i Equal(__m128i a, __m128i b) {
    if constexpr (kWidth == 1) return _mm_cmpeq_epi8(a, b);
    return _mm_cmpeq_epi16(a, b);
  }
  __m128i cr_, lf_;
  __m128i needle_[kMaxNeedleUnits];
#else
  std::string_view needle_;
#endif
};

}  // namespace line_scan

/// Calls `visit(const ScannedLine&)` for every line of `text`, in order, as the line splitting
/// defines them: a line ends at the first CR or LF code unit, and its ending is that CR or LF,
/// or a CR and the LF right after it; the last line may lack an ending, and the empty text has
/// no line. `text` holds whole code units of form `F`. Tells of each line whether `needle` (ASCII
/// text in the same form, without CR, LF or NUL, at most 8 code units; empty for none) occurs in
/// it. Returns `visit`, which the scan holds by value, so that its state can stay in registers.
template <UnitForm F, typename Visit>
Visit ScanLines(std::string_view text, std::string_view needle, Visit visit) {
  using line_scan::kBlock;
  constexpr size_t w = UnitWidth(F);
  // Four blocks give one 64-bit word of each mask: the loop over the line ends of a word ends
  // after a number of turns that cannot be foreseen, which costs a mispredicted jump once a word
  // rather than once a block.
  constexpr size_t kWord = 64;
  auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const size_t size = text.size() / w * w;
  const line_scan::BlockMasks<F> masks(needle);
  const bool has_needle = !needle.empty();
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
    for (; ends != 0; ends &= ends - 1) {
      size_t k = std::countr_zero(ends);
      size_t next = i + k + w + w * ((pairs >> k) & 1);
      uint64_t in_line = ~uint64_t{0} << (begin > i ? begin - i : 0) & ((uint64_t{1} << k) - 1);
      visit(ScannedLine{begin, i + k, next, carried || (needles & in_line) != 0});
      begin = next;
      carried = false;
    }
    // The line that goes on into the next word: its needles so far (it may begin beyond this
    // word, after a CR LF that straddles the two).
    uint64_t in_line = begin <= i          ? ~uint64_t{0}
                       : begin - i < kWord ? ~uint64_t{0} << (begin - i)
                                           : 0;
    carried = carried || (needles & in_line) != 0;
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
