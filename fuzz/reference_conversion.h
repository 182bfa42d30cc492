// The chunk loop written as plainly as possible: the definition of what the
// driver's line walk must do, which the fuzzers and tests hold it to. The
// source is turned into characters first (every line end one LF) and cut
// behind its first end marker, since nothing behind that marker is looked at;
// every chunk is cut afresh from the characters, a full one losing its 2048th
// character, each walked, and the text written as CR LF. A failed run's text
// ends in front of the failing line. For a source whose text stays below one
// write block the driver must give exactly this.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "line_dispatcher.h"
#include "quarnel/conversion_state.h"
#include "quarnel/conversion_types.h"

namespace quarnel::reference {

// The source as the driver reads it: every line end one LF. A CR LF pair is
// one line end, and so is a CR followed by anything but LF or CR, or by the
// end; a CR in front of another CR stays.
inline std::string LineEndsAsLf(std::string_view text) {
  std::string joined;
  joined.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r') {
      joined += text[i];
    } else if (i + 1 < text.size() && text[i + 1] == '\r') {
      joined += '\r';
    } else if (i + 1 == text.size() || text[i + 1] != '\n') {
      joined += '\n';
    }
  }
  return joined;
}

struct Run {
  ConversionResult result = ResultOk;
  FormatFailure failure = FormatFailure::None;
  std::uint64_t failedLine = 0;
  std::uint64_t endMarkerLine = 0;
  std::string target;
};

inline Run Convert(std::string_view source, ConversionState& state) {
  Run run;
  state.m_bModelLineSeen = false;
  if (source.size() >= 2 && ((source[0] == '\xFF' && source[1] == '\xFE') || (source[0] == '\xFE' && source[1] == '\xFF'))) {
    run.result = ResultInvalidFormatFile;
    run.failure = FormatFailure::Utf16Text;
    run.failedLine = 1;
    return run;
  }
  // A run that has nothing to convert reads nothing.
  if (!state.m_bConversionNeeded) {
    run.result = source.empty() ? ResultOk : ResultIncompleteLine;
    return run;
  }
  std::string text = LineEndsAsLf(source);
  // A newline behind the end marker lets every walk reach it, whatever follows it.
  if (const std::size_t marker = text.find('\xFF'); marker != std::string::npos) {
    text.resize(marker + 1);
    text += '\n';
  }
  std::string converted;
  std::size_t position = 0;
  const auto lineOf = [&](const std::string& chunk, std::size_t offset) {
    return static_cast<std::uint64_t>(std::count(text.begin(), text.begin() + position, '\n') +
                                      std::count(chunk.begin(), chunk.begin() + offset, '\n') + 1);
  };
  for (;;) {
    const std::size_t readCount = std::min<std::size_t>(kMaxChunkLength + 1, text.size() - position);
    if (readCount == 0) break;
    const bool full = readCount == kMaxChunkLength + 1;
    std::string chunk = text.substr(position, full ? kMaxChunkLength : readCount);
    const std::size_t nul = chunk.find('\0');
    const bool hasNul = nul != std::string::npos;
    if (hasNul) chunk.resize(nul);
    const bool added = !full && !hasNul && chunk.back() != '\n';
    if (added) chunk += '\n';
    std::vector<char> buffer(chunk.begin(), chunk.end());
    buffer.push_back('\0');
    std::vector<char> output(kOutputCapacity);
    const ChunkWalk walk = WalkChunk(state, buffer.data(), chunk.size(), output.data());
    run.result = walk.result;
    std::string piece(output.data(), walk.produced);
    if (added && walk.consumed == chunk.size() && !piece.empty() && piece.back() == '\n') piece.pop_back();
    converted += piece;
    const std::size_t chunkLength = added ? chunk.size() - 1 : chunk.size();
    if (walk.result == ResultInvalidFormatFile || (hasNul && walk.result != ResultEndMarker && state.m_bConversionNeeded)) {
      const bool cutShort = walk.result != ResultInvalidFormatFile || walk.failure != FormatFailure::MissingFrtTag;
      run.result = ResultInvalidFormatFile;
      run.failure = !cutShort ? FormatFailure::MissingFrtTag
                    : hasNul  ? FormatFailure::NulByte
                    : full    ? FormatFailure::LineTooLong
                              : FormatFailure::NoTerminator;
      run.failedLine = lineOf(chunk, walk.result == ResultInvalidFormatFile ? walk.failedLineStart : chunkLength);
      // Each newline of the source gives one of the target: the failing line
      // begins behind the one in front of it.
      std::size_t kept = 0;
      for (std::uint64_t line = 1; line < run.failedLine; ++line) kept = converted.find('\n', kept) + 1;
      converted.resize(kept);
      break;
    }
    if (walk.result == ResultEndMarker) {
      run.endMarkerLine = lineOf(chunk, walk.consumed);
      break;
    }
    position += walk.consumed;
    if (!full || !state.m_bConversionNeeded) break;
  }
  // A file for another model writes nothing.
  if (!state.m_bConversionNeeded) converted.clear();
  for (const char c : converted) {
    if (c == '\n') run.target += '\r';
    run.target += c;
  }
  return run;
}

}  // namespace quarnel::reference
