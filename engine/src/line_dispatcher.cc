#include "line_dispatcher.h"

#include <cstring>

#include "line_converters.h"

namespace quarnel {
namespace {

// What the walk must stop at: the end marker always, "$" and "@" while
// m_bConversionNeeded is set.
constexpr unsigned char kStopsWalk = 1;
constexpr unsigned char kStopsMarker = 2;

struct WalkStops {
  unsigned char kinds[256];
  constexpr WalkStops() : kinds() {
    kinds[kEndMarker] = kStopsWalk;
    kinds[static_cast<unsigned char>('$')] = kStopsMarker;
    kinds[static_cast<unsigned char>('@')] = kStopsMarker;
  }
};
constexpr WalkStops kWalkStops;

// Whether the line at `line` has its terminator in the chunk: a newline in
// front of the chunk's last one, or an end marker anywhere in front of the NUL.
bool HoldsTerminator(const char* line, std::size_t beforeLastNewline, std::size_t length) {
  if (beforeLastNewline > 0) return true;
  return std::memchr(line, static_cast<char>(kEndMarker), length) != nullptr;
}

}  // namespace

ChunkWalk WalkChunk(ConversionState& state, char* chunk, std::size_t length, char* output) {
  ChunkWalk walk;
  if (length == 0) return walk;

  // The walk ends in front of any line that has no newline left in the chunk.
  // Finding the last newline once makes that check constant-time per character.
  std::size_t walkEnd = length;
  while (walkEnd > 0 && chunk[walkEnd - 1] != '\n') --walkEnd;

  std::size_t in = 0;
  std::size_t out = 0;
  for (;;) {
    const char current = chunk[in];
    if (IsEndMarker(current)) {
      walk.result = ResultEndMarker;
      break;
    }
    output[out++] = current;
    ++in;

    if (state.m_bConversionNeeded && (current == '$' || current == '@')) {
      // A line the chunk does not hold whole is not converted, whatever it holds.
      if (!HoldsTerminator(chunk + in, walkEnd > in ? walkEnd - in : 0, length - in)) {
        walk.result = ResultInvalidFormatFile;
        walk.failure = FormatFailure::NoTerminator;
        walk.failedLineStart = static_cast<std::uint32_t>(in - 1);
        break;
      }
      LineConversion line = current == '$' ? ConvertFormatLine(state, chunk + in, length - in, output + out)
                                           : ConvertHeaderLine(state, chunk + in, output + out);
      in += line.taken;
      out += line.produced;
      // Format lines mostly follow one another: a newline with a "$" right
      // behind it, in front of the chunk's last newline, is copied here and
      // the next line converted at once, as the steps below would do.
      while (line.result == ResultOk && current == '$' && in + 1 < walkEnd && chunk[in + 1] == '$') {
        output[out] = '\n';
        output[out + 1] = '$';
        in += 2;
        out += 2;
        line = ConvertFormatLine(state, chunk + in, length - in, output + out);
        in += line.taken;
        out += line.produced;
      }
      if (line.result == ResultInvalidFormatFile) {
        walk.failedLineStart = static_cast<std::uint32_t>(in - line.taken - 1);
        walk.failure = line.failure;
      }
      if (line.result != ResultOk) {
        walk.result = line.result;
        break;
      }
      // A model line of another model ends the run: nothing behind it is looked at.
      if (!state.m_bConversionNeeded) {
        walk.result = ResultIncompleteLine;
        break;
      }
    }

    // The characters up to the next one that the steps above act on are
    // copied as they stand.
    const unsigned char stopMask = state.m_bConversionNeeded ? kStopsWalk | kStopsMarker : kStopsWalk;
    while (in < walkEnd && (kWalkStops.kinds[static_cast<unsigned char>(chunk[in])] & stopMask) == 0)
      output[out++] = chunk[in++];
    if (in >= walkEnd) {
      walk.result = ResultIncompleteLine;
      break;
    }
  }
  walk.consumed = static_cast<std::uint32_t>(in);
  walk.produced = static_cast<std::uint32_t>(out);
  return walk;
}

}  // namespace quarnel
