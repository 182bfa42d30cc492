// Seeded, reproducible format files for benchmarks and tests: the same shape,
// size and seed give the same bytes on every platform and compiler.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quarnel::bench {

enum class FileShape : std::uint8_t {
  // KRV330 model line, kind l and t headers, then narrow format lines (3-digit
  // codes, 9-character variable runs) with now and then a remark or another header.
  Narrow,
  // The same content for a KRV880: wide format lines (5-digit codes, 11-character runs).
  Wide,
  // Plain text lines of 1900 to 2045 characters, close to what one chunk holds.
  LongOtherLines,
  // Kind-l header lines "@l0X": 6 bytes that become 24, the largest growth.
  ShortKindLLines,
  // Plain text lines of 3 to 12 KB, longer than a chunk, which the walk crosses
  // one character per chunk.
  OverlongOtherLines,
};

inline constexpr FileShape kAllShapes[] = {FileShape::Narrow, FileShape::Wide, FileShape::LongOtherLines,
                                            FileShape::ShortKindLLines, FileShape::OverlongOtherLines};

// The name used on command lines and in benchmark names: "narrow", "wide",
// "long-other", "short-kind-l", "overlong-other".
std::string_view ShapeName(FileShape shape);
std::optional<FileShape> ParseShape(std::string_view name);

// The header lines every file of `shape` begins with; a request for fewer
// bytes gets them alone.
std::size_t MinimumFileSize(FileShape shape);

// A format file of exactly `bytes` bytes (or MinimumFileSize(shape) if that
// is larger) with CR LF line ends and no NUL or end-marker byte. It converts
// completely: every line is whole and the model line names an old model.
std::string GenerateFormatFile(FileShape shape, std::size_t bytes, std::uint32_t seed);

}  // namespace quarnel::bench
