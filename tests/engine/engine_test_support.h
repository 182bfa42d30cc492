// Helpers shared by the engine tests: running converters on literal text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "quarnel/conversion_state.h"
#include "line_converters.h"
#include "line_dispatcher.h"

namespace quarnel::testing {

inline constexpr char kEnd = '\xFF';

// A state as a run has it after a model line of an old model.
inline ConversionState NarrowState() {
  ConversionState state;
  state.m_bWideCodes = false;
  return state;
}
inline ConversionState WideState() {
  ConversionState state;
  state.m_bWideCodes = true;
  return state;
}

inline std::vector<std::int16_t> Listed(const NumberList& list) {
  return std::vector<std::int16_t>(list.begin(), list.begin() + static_cast<long>(ListLength(list)));
}

// What one converter call did with a line.
struct LineRun {
  ConversionResult result;
  std::string output;  // the text the converter reports as written
  std::uint32_t lineCount;
  std::uint32_t producedCount;
  std::string chunkAfter;  // the input after the call (code 100 is rewritten in place)
  FormatFailure failure;
};

// A header-line converter, or the format-line converter handed the line's length.
inline LineConversion ConvertLine(LineConversion (*convert)(ConversionState&, const char*, char*),
                                  ConversionState& state, char* line, std::size_t, char* output) {
  return convert(state, line, output);
}
// The format line's plain scan, which needs no length.
inline LineConversion ConvertLine(LineConversion (*convert)(ConversionState&, char*, char*), ConversionState& state,
                                  char* line, std::size_t, char* output) {
  return convert(state, line, output);
}
inline LineConversion ConvertLine(LineConversion (*convert)(ConversionState&, char*, std::size_t, char*),
                                  ConversionState& state, char* line, std::size_t length, char* output) {
  return convert(state, line, length, output);
}

template <typename Converter>
LineRun RunConverter(Converter convert, ConversionState& state, const std::string& line) {
  std::vector<char> input(line.begin(), line.end());
  input.push_back('\0');
  std::vector<char> output(ConvertedChunkBound(line.size()), '\0');
  const LineConversion conversion = ConvertLine(convert, state, input.data(), line.size(), output.data());
  LineRun run{conversion.result, std::string(output.data(), conversion.produced), conversion.taken,
              conversion.produced, std::string(input.data(), line.size()), conversion.failure};
  return run;
}

// What one chunk walk did.
struct ChunkRun {
  ConversionResult result;
  std::string output;
  std::uint32_t consumed;
};

inline ChunkRun RunChunk(ConversionState& state, const std::string& chunk) {
  std::vector<char> input(chunk.begin(), chunk.end());
  input.push_back('\0');
  std::vector<char> output(ConvertedChunkBound(chunk.size()));
  const ChunkWalk walk = WalkChunk(state, input.data(), chunk.size(), output.data());
  return ChunkRun{walk.result, std::string(output.data(), walk.produced), walk.consumed};
}

}  // namespace quarnel::testing
