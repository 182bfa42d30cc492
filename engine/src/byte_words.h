// Eight characters at a time: the text loops that run over every byte of a
// file look at whole 64-bit words and fall back to single characters only
// where a word holds a character they act on.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace quarnel {

inline constexpr std::size_t kWordSize = sizeof(std::uint64_t);

inline std::uint64_t LoadWord(const char* text) {
  std::uint64_t word;
  std::memcpy(&word, text, kWordSize);
  return word;
}

inline void StoreWord(char* text, std::uint64_t word) { std::memcpy(text, &word, kWordSize); }

constexpr std::uint64_t EveryByte(unsigned char c) { return 0x0101010101010101ull * c; }

// The high bit of every byte of `word` that is zero, and of no other byte.
// Exact per byte (no carry crosses a byte), so it serves either byte order.
constexpr std::uint64_t ZeroBytes(std::uint64_t word) {
  constexpr std::uint64_t kLow7 = EveryByte(0x7F);
  return ~(((word & kLow7) + kLow7) | word | kLow7);
}

// The high bit of every byte of `word` that equals `c`.
constexpr std::uint64_t BytesEqual(std::uint64_t word, unsigned char c) { return ZeroBytes(word ^ EveryByte(c)); }

// Index in memory order of the first byte that `flags` (from ZeroBytes) marks.
inline std::size_t FirstFlaggedByte(std::uint64_t flags) {
  if constexpr (std::endian::native == std::endian::little) return std::countr_zero(flags) / 8;
  return std::countl_zero(flags) / 8;
}

}  // namespace quarnel
