// A plain, step-by-step chunk walk kept as an oracle for the engine's own.
#pragma once

#include <cstdint>

#include "quarnel/line_dispatcher.h"

namespace quarnel::reference {

ConversionResult ConvertChunk(ConversionState& state, char* chunk, char* output, std::uint32_t& consumed);
ChunkWalk WalkChunk(ConversionState& state, char* chunk, std::size_t length, char* output);

}  // namespace quarnel::reference
