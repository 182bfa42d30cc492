// Helpers shared by the engine tests: running converters on literal text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "quarnel/conversion_state.h"
#include "quarnel/line_dispatcher.h"

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
  std::string output;  // the output buffer up to its first NUL
  std::uint32_t lineCount;
  std::uint32_t producedCount;
  std::string chunkAfter;  // the input after the call (code 100 is rewritten in place)
};

template <typename Converter>
LineRun RunConverter(Converter convert, ConversionState& state, const std::string& line) {
  std::vector<char> input(line.begin(), line.end());
  input.push_back('\0');
  std::vector<char> output(ConvertedChunkBound(line.size()) + 1, '\0');
  LineRun run{};
  run.result = convert(state, input.data(), output.data(), run.lineCount, run.producedCount);
  run.output = output.data();
  run.chunkAfter.assign(input.data(), line.size());
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
  std::vector<char> output(kOutputCapacity > ConvertedChunkBound(chunk.size()) + 1
                               ? kOutputCapacity
                               : ConvertedChunkBound(chunk.size()) + 1,
                           '\0');
  ChunkRun run{};
  run.result = ConvertChunk(state, input.data(), output.data(), run.consumed);
  run.output = output.data();
  return run;
}

}  // namespace quarnel::testing
