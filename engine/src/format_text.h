// Characters and limits every part of the walk shares.
#pragma once

#include <cstddef>
#include <cstdint>

#include "quarnel/conversion_types.h"

namespace quarnel {

// The byte that ends a format file's data wherever it stands.
inline constexpr unsigned char kEndMarker = 0xFF;

// Bytes of a chunk buffer: the characters and room for the terminating NUL,
// plus one for the newline the chunk loop adds behind a source's unterminated last line.
inline constexpr std::size_t kChunkCapacity = kMaxChunkLength + 2;

// A line gives up when this many characters behind its marker hold no
// terminator: as many as a chunk buffer holds in front of its NUL, so within a
// chunk only the chunk's end makes a line give up.
inline constexpr std::uint32_t kMaxLineTaken = static_cast<std::uint32_t>(kChunkCapacity - 1);

// A header or format line fails when its terminator stands further than this
// behind its marker, so that the line with its terminator fits a chunk; the
// source's last line, without a line end, may end one character later.
inline constexpr std::size_t kMaxTerminatorDistance = kMaxChunkLength - 1;

constexpr bool IsEndMarker(char c) { return static_cast<unsigned char>(c) == kEndMarker; }
// A newline or the end marker ends a header or format line.
constexpr bool IsTerminator(char c) { return c == '\n' || IsEndMarker(c); }
constexpr bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace quarnel
