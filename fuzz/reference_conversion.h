// The chunk loop written as plainly as possible, for the fuzzers and tests to
// hold the streaming driver to: the source turned into characters first
// (every line end one LF), every chunk cut afresh from them, a full one
// losing its 2048th character, each walked, and the text written as CR LF.
// For a source whose text stays below one write block the driver must give
// exactly this.
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
  const std::string text = LineEndsAsLf(source);
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
