// Blocks of 16 bytes for the scanners that go through text a block at a time: SSE2 where the
// compiler offers it, otherwise plain loops over the same bytes with the same results. A block is
// seen as 16 bytes or as 8 lanes of 16 bits in the machine's byte order, as a char16_t array
// holds them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

/// Asks for a function or a lambda to be inlined where it is called once per line or block.
#if defined(__GNUC__)
#define PRUNE_INLINE __attribute__((always_inline))
#else
#define PRUNE_INLINE
#endif

namespace simd {

/// The number of bytes of a block.
constexpr size_t kBlockBytes = 16;
/// The number of 16-bit lanes of a block.
constexpr size_t kBlockLanes = kBlockBytes / 2;

#if defined(__SSE2__)

using Block = __m128i;

/// The block of bytes at `p`, which need not be aligned.
inline Block Load(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }
/// Writes `block` to the bytes at `p`, which need not be aligned.
inline void Store(void* p, Block block) { _mm_storeu_si128(static_cast<__m128i*>(p), block); }
/// `value` in every byte.
inline Block EveryByte(uint8_t value) { return _mm_set1_epi8(static_cast<char>(value)); }
/// `value` in every lane.
inline Block EveryLane(uint16_t value) { return _mm_set1_epi16(static_cast<short>(value)); }
inline Block And(Block a, Block b) { return _mm_and_si128(a, b); }
inline Block Or(Block a, Block b) { return _mm_or_si128(a, b); }
/// All ones in every byte in which `a` and `b` are equal, zeros elsewhere.
inline Block EqualBytes(Block a, Block b) { return _mm_cmpeq_epi8(a, b); }
/// All ones in every lane in which `a` and `b` are equal, zeros elsewhere.
inline Block EqualLanes(Block a, Block b) { return _mm_cmpeq_epi16(a, b); }
/// The top bit of every byte: bit k is that of byte k.
inline uint32_t ByteTopBits(Block block) { return static_cast<uint32_t>(_mm_movemask_epi8(block)); }
/// The top bit of every lane of `low` and then of `high`: bit k is that of lane k of the two.
inline uint32_t LaneTopBits(Block low, Block high) {
  // Packing with signed saturation keeps the sign, which is the top bit.
  return static_cast<uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(low, high)));
}
/// The first eight bytes of `block` as the eight lanes of a block.
inline Block WidenLow(Block block) { return _mm_unpacklo_epi8(block, _mm_setzero_si128()); }
/// The last eight bytes of `block` as the eight lanes of a block.
inline Block WidenHigh(Block block) { return _mm_unpackhi_epi8(block, _mm_setzero_si128()); }
/// The lanes of `low` and then of `high` as the bytes of one block; every lane is below 0x100.
inline Block Narrow(Block low, Block high) { return _mm_packus_epi16(low, high); }

#else

/// The same operations on 16 plain bytes.
struct Block {
  uint8_t bytes[kBlockBytes];

  uint16_t Lane(size_t k) const {
    uint16_t lane;
    std::memcpy(&lane, bytes + 2 * k, 2);
    return lane;
  }
  void SetLane(size_t k, uint16_t lane) { std::memcpy(bytes + 2 * k, &lane, 2); }
};

inline Block Load(const void* p) {
  Block block;
  std::memcpy(block.bytes, p, kBlockBytes);
  return block;
}
inline void Store(void* p, Block block) { std::memcpy(p, block.bytes, kBlockBytes); }
inline Block EveryByte(uint8_t value) {
  Block block;
  std::memset(block.bytes, value, kBlockBytes);
  return block;
}
inline Block EveryLane(uint16_t value) {
  Block block;
  for (size_t k = 0; k < kBlockLanes; ++k) block.SetLane(k, value);
  return block;
}
inline Block And(Block a, Block b) {
  for (size_t k = 0; k < kBlockBytes; ++k) a.bytes[k] &= b.bytes[k];
  return a;
}
inline Block Or(Block a, Block b) {
  for (size_t k = 0; k < kBlockBytes; ++k) a.bytes[k] |= b.bytes[k];
  return a;
}
inline Block EqualBytes(Block a, Block b) {
  for (size_t k = 0; k < kBlockBytes; ++k) a.bytes[k] = a.bytes[k] == b.bytes[k] ? 0xFF : 0;
  return a;
}
inline Block EqualLanes(Block a, Block b) {
  for (size_t k = 0; k < kBlockLanes; ++k) a.SetLane(k, a.Lane(k) == b.Lane(k) ? 0xFFFF : 0);
  return a;
}
inline uint32_t ByteTopBits(Block block) {
  uint32_t bits = 0;
  for (size_t k = 0; k < kBlockBytes; ++k) bits |= static_cast<uint32_t>(block.bytes[k] >> 7) << k;
  return bits;
}
inline uint32_t LaneTopBits(Block low, Block high) {
  uint32_t bits = 0;
  for (size_t k = 0; k < kBlockLanes; ++k) {
    bits |= static_cast<uint32_t>(low.Lane(k) >> 15) << k;
    bits |= static_cast<uint32_t>(high.Lane(k) >> 15) << (k + kBlockLanes);
  }
  return bits;
}
inline Block WidenLow(Block block) {
  Block wide;
  for (size_t k = 0; k < kBlockLanes; ++k) wide.SetLane(k, block.bytes[k]);
  return wide;
}
inline Block WidenHigh(Block block) {
  Block wide;
  for (size_t k = 0; k < kBlockLanes; ++k) wide.SetLane(k, block.bytes[k + kBlockLanes]);
  return wide;
}
inline Block Narrow(Block low, Block high) {
  Block narrow;
  for (size_t k = 0; k < kBlockLanes; ++k) {
    narrow.bytes[k] = static_cast<uint8_t>(low.Lane(k));
    narrow.bytes[k + kBlockLanes] = static_cast<uint8_t>(high.Lane(k));
  }
  return narrow;
}

#endif

}  // namespace simd
