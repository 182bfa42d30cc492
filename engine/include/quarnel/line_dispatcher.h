// The chunk walk: one chunk of a format file in, its converted text out.
#pragma once

#include <cstddef>
#include <cstdint>

#include "quarnel/conversion_state.h"

namespace quarnel {

// A chunk holds at most this many characters in front of its terminating NUL.
// Lines of the format file that a chunk does not hold whole are not converted.
inline constexpr std::size_t kMaxChunkLength = 2047;
// Bytes of a chunk buffer: the characters and room for the terminating NUL,
// plus one for the newline the driver adds behind a source's unterminated last line.
inline constexpr std::size_t kChunkCapacity = kMaxChunkLength + 2;

// Longest converted text that a chunk of `chunkLength` characters can give.
// A kind-l header line of 5 characters grows to 23, so text can grow almost
// fivefold; an unterminated kind-l line that begins a chunk adds a few more.
constexpr std::size_t ConvertedChunkBound(std::size_t chunkLength) { return 5 * chunkLength + 32; }

// Bytes of an output buffer that can take any chunk's text and its terminating NUL.
inline constexpr std::size_t kOutputCapacity = ConvertedChunkBound(kChunkCapacity - 1) + 1;

// Converts one NUL-terminated chunk into `output` and sets `consumed` to the
// number of chunk characters taken. Header lines ("@") and format lines ("$")
// are rewritten while state.m_bConversionNeeded is set; every other character
// is copied. The walk stops in front of the first line the chunk does not hold
// whole, so the caller restarts the next chunk at chunk + consumed.
//
// `chunk` is writable: a code 100 is rewritten in place before it is copied.
// `output` must be zero-filled and hold at least ConvertedChunkBound(strlen(chunk)) + 1
// bytes; the converted text is what stands in front of its first NUL.
// Allocates nothing.
//
// @return ResultOk            the chunk is empty
//         ResultIncompleteLine the usual end: no newline stands behind `consumed`
//         ResultEndMarker     the walk met the end marker 0xFF (not copied, not counted)
//         ResultInvalidFormatFile a line converter gave up (text so far stays in `output`)
ConversionResult ConvertChunk(ConversionState& state, char* chunk, char* output,
                              std::uint32_t& consumed);

// The same walk with what the driver needs besides: the chunk's length (so a
// NUL inside the chunk need not be searched for again) and, for a failure,
// the offset of the marker that began the failing line.
struct ChunkWalk {
  ConversionResult result = ResultOk;
  std::uint32_t consumed = 0;
  std::uint32_t failedLineStart = 0;
};
ChunkWalk WalkChunk(ConversionState& state, char* chunk, std::size_t length, char* output);

}  // namespace quarnel
