// The chunk walk: one chunk of a format file in, its converted text out. The
// driver cuts no chunks; this walk, run chunk by chunk by the reference loop
// (fuzz/reference_conversion.h), is the definition its line walk is held to.
#pragma once

#include <cstddef>
#include <cstdint>

#include "format_text.h"
#include "quarnel/conversion_state.h"
#include "quarnel/conversion_types.h"

namespace quarnel {

// Longest converted text that a chunk of `chunkLength` characters can give.
// A kind-l header line of 5 characters grows to 23, so text can grow almost
// fivefold; an unterminated kind-l line that begins a chunk adds a few more.
constexpr std::size_t ConvertedChunkBound(std::size_t chunkLength) { return 5 * chunkLength + 32; }

// Bytes of an output buffer that can take any chunk's text.
inline constexpr std::size_t kOutputCapacity = ConvertedChunkBound(kChunkCapacity - 1);

struct ChunkWalk {
  // ResultOk            the chunk is empty
  // ResultIncompleteLine the usual end: no newline stands behind `consumed`
  // ResultEndMarker     the walk met the end marker 0xFF (not consumed)
  // ResultInvalidFormatFile a line converter gave up (the text so far is produced)
  ConversionResult result = ResultOk;
  // For ResultInvalidFormatFile, why the converter gave up (see LineConversion).
  FormatFailure failure = FormatFailure::None;
  std::uint32_t consumed = 0;   // chunk characters taken
  std::uint32_t produced = 0;   // characters written to the output
  std::uint32_t failedLineStart = 0;  // offset of the failing line's marker
};

// Converts one chunk of `length` characters, followed by a NUL, into `output`,
// which must hold ConvertedChunkBound(length) bytes. Header lines ("@") and
// format lines ("$") are rewritten while state.m_bConversionNeeded is set;
// every other character is copied. The walk stops in front of the first line
// the chunk does not hold whole, so the caller restarts the next chunk at
// chunk + consumed. `chunk` is writable: a code 100 is rewritten in place
// before it is copied. Allocates nothing.
ChunkWalk WalkChunk(ConversionState& state, char* chunk, std::size_t length, char* output);

}  // namespace quarnel
