// The kernel of the line scan: where the line breaks and the needle begin in one block of bytes.
#pragma once

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>

#include "base/simd.h"
#include "program/unit_form.h"

namespace line_scan {

/// The longest needle, in code units, that the block scan looks for.
constexpr size_t kMaxNeedleUnits = 8;

/// A needle's length known only at run time.
constexpr size_t kAnyUnits = ~size_t{0};

/// Finds, in a block of 16 bytes, where CR and LF code units and the needle begin: one bit per
/// byte offset, set only where a code unit begins. `kUnits` is the needle's length in code units
/// where it is known when compiled (the scan then compares without a jump), else kAnyUnits.
template <UnitForm F, size_t kUnits = kAnyUnits>
class BlockMasks {
 public:
  static constexpr size_t kWidth = UnitWidth(F);
  /// Bits of the byte offsets at which code units begin.
  static constexpr uint32_t kUnitStarts = kWidth == 1 ? 0xFFFF : 0x5555;

  /// `needle` is ASCII text in the bytes of this form, at most kMaxNeedleUnits code units.
  explicit BlockMasks(std::string_view needle) : units_(needle.size() / kWidth) {
    assert(units_ <= kMaxNeedleUnits);
    assert(kUnits == kAnyUnits || kUnits == units_);
    cr_ = Broadcast(reinterpret_cast<const unsigned char*>(kWidth == 1 ? "\r" : kCr16));
    lf_ = Broadcast(reinterpret_cast<const unsigned char*>(kWidth == 1 ? "\n" : kLf16));
    for (size_t j = 0; j < std::min(units_, kMaxNeedleUnits); ++j) {
      needle_[j] = Broadcast(reinterpret_cast<const unsigned char*>(needle.data()) + j * kWidth);
    }
  }

  /// The CR and the LF code units of the block at `p`.
  PRUNE_INLINE void Breaks(const unsigned char* p, uint32_t* cr, uint32_t* lf) const {
    simd::Block block = simd::Load(p);
    *cr = simd::ByteTopBits(Equal(block, cr_)) & kUnitStarts;
    *lf = simd::ByteTopBits(Equal(block, lf_)) & kUnitStarts;
  }

  /// Where the needle begins in the block at `p`; reads the needle's length less one code unit
  /// beyond the block.
  PRUNE_INLINE uint32_t Needles(const unsigned char* p) const {
    simd::Block all = simd::EveryByte(0xFF);
    auto unit = [&](size_t j) {
      all = simd::And(all, Equal(simd::Load(p + j * kWidth), needle_[j]));
    };
    if constexpr (kUnits != kAnyUnits) {
      [&]<size_t... j>(std::index_sequence<j...>) { (unit(j), ...); }
      (std::make_index_sequence<kUnits>());
      return simd::ByteTopBits(all) & kUnitStarts;
    }
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
    return simd::ByteTopBits(all) & kUnitStarts;
  }

 private:
  static constexpr char kCr16[] = {F == UnitForm::kUtf16Be ? '\0' : '\r',
                                   F == UnitForm::kUtf16Be ? '\r' : '\0'};
  static constexpr char kLf16[] = {F == UnitForm::kUtf16Be ? '\0' : '\n',
                                   F == UnitForm::kUtf16Be ? '\n' : '\0'};

  /// The code unit whose bytes start at `p`, in every place of a block.
  static simd::Block Broadcast(const unsigned char* p) {
    if constexpr (kWidth == 1) return simd::EveryByte(p[0]);
    uint16_t lane;
    std::memcpy(&lane, p, 2);  // as the block holds it, whatever the byte order of the text
    return simd::EveryLane(lane);
  }
  static simd::Block Equal(simd::Block a, simd::Block b) {
    if constexpr (kWidth == 1) return simd::EqualBytes(a, b);
    return simd::EqualLanes(a, b);
  }

  size_t units_;
  simd::Block cr_, lf_;
  simd::Block needle_[kMaxNeedleUnits];
};

}  // namespace line_scan
