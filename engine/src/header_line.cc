// Header lines: "@", a kind character, one free character, then the kind's field.
// Positions count from 1 at the "@"; `line` points at position 2.
#include <cstring>

#include "quarnel/line_converters.h"

namespace quarnel {
namespace {

constexpr char kNewModel[] = "QZ21/25/27";
constexpr char kNewStandard[] = "QZ21/25/27_Standard";
constexpr const char* kOldModels[] = {"KRV110", "KRV330", "KRV440", "KRV880"};
constexpr std::size_t kModelNameLength = 6;

// Positions at which the terminator walk gives up: a kind-t or other line may
// hold 2048 characters behind its marker, a model or kind-l line two more.
constexpr std::uint32_t kGiveUpPlain = 2050;
constexpr std::uint32_t kGiveUpRewritten = 2052;

bool IsTerminator(char c) { return c == '\n' || static_cast<unsigned char>(c) == kEndMarker; }

// Position (counted from 1 at the "@") of line[index].
constexpr std::uint32_t PositionOf(std::uint32_t index) { return index + 2; }

// Compares `count` characters at `text` with `expected`. A NUL among them is
// the chunk's end: `reachedEnd` is set and the comparison fails.
bool MatchesUpToChunkEnd(const char* text, const char* expected, std::size_t count, bool& reachedEnd) {
  for (std::size_t i = 0; i < count; ++i) {
    if (text[i] == '\0') {
      reachedEnd = true;
      return false;
    }
  }
  return std::memcmp(text, expected, count) == 0;
}

// Whether a terminator stands at text[firstTested] or behind it, in front of
// the chunk's NUL. The NUL may come earlier: the scan never passes it.
bool HasTerminatorBeforeEnd(const char* text, std::size_t firstTested) {
  for (std::size_t i = 0; text[i] != '\0'; ++i) {
    if (i >= firstTested && IsTerminator(text[i])) return true;
  }
  return false;
}

// Walks from line[index] to the terminator without copying; every character
// walked over is taken. Stops in front of a NUL or at the give-up position.
ConversionResult DropToTerminator(const char* line, std::uint32_t index, std::uint32_t giveUp,
                                  std::uint32_t& lineCount) {
  for (;; ++index) {
    const char c = line[index];
    if (c == '\0' || PositionOf(index) >= giveUp) break;
    if (IsTerminator(c)) {
      lineCount = index;
      return c == '\n' ? ResultOk : ResultEndMarker;
    }
  }
  lineCount = index;
  return ResultInvalidFormatFile;
}

// Copies from line[index] to the terminator. The terminator is copied one
// place behind the kept output, uncounted: a newline there is overwritten by
// the walk's own copy, an end marker stays in the output.
ConversionResult CopyToTerminator(const char* line, char* output, std::uint32_t index,
                                  std::uint32_t& lineCount, std::uint32_t& producedCount) {
  for (;; ++index) {
    const char c = line[index];
    if (c == '\0' || PositionOf(index) >= kGiveUpPlain) break;
    output[index] = c;
    if (IsTerminator(c)) {
      lineCount = producedCount = index;
      return c == '\n' ? ResultOk : ResultEndMarker;
    }
  }
  lineCount = producedCount = index;
  return ResultInvalidFormatFile;
}

ConversionResult ConvertModelLine(ConversionState& state, const char* line, char* output,
                                  std::uint32_t& lineCount, std::uint32_t& producedCount) {
  // line[0] is the kind character, line[1] position 3, line[2..7] positions 4 to 9.
  bool reachedEnd = false;
  bool matched = false;
  bool wide = false;
  for (const char* model : kOldModels) {
    if (MatchesUpToChunkEnd(line + 2, model, kModelNameLength, reachedEnd)) {
      matched = true;
      wide = std::strcmp(model, "KRV880") == 0;
      break;
    }
    if (reachedEnd) {
      // A line whose terminator stands in front of the chunk's end is whole and
      // names no old model; only a line that the chunk's end cuts off fails.
      // The model field begins at position 4; the walk tests from position 5.
      if (!HasTerminatorBeforeEnd(line + 2, 1)) {
        lineCount = producedCount = 2;
        return ResultInvalidFormatFile;
      }
      break;
    }
  }
  state.m_bConversionNeeded = matched;
  if (matched) state.m_bWideCodes = wide;

  std::memcpy(output + 2, kNewModel, sizeof kNewModel - 1);
  producedCount = 2 + sizeof kNewModel - 1;
  // Position 4 is taken untested; the walk for the terminator starts at position 5.
  return DropToTerminator(line, 3, kGiveUpRewritten, lineCount);
}

}  // namespace

ConversionResult ConvertHeaderLine(ConversionState& state, char* line, char* output,
                                   std::uint32_t& lineCount, std::uint32_t& producedCount) {
  const char kind = line[0];
  if (kind == '\0') return ResultInvalidFormatFile;
  output[0] = kind;
  std::uint32_t taken = 1;
  std::uint32_t produced = 1;

  ConversionResult result = ResultInvalidFormatFile;
  if (kind == 'i' || kind == 'l' || kind == 't') {
    if (line[1] == '\0') {
      lineCount += taken;
      producedCount += produced;
      return ResultInvalidFormatFile;
    }
    output[1] = line[1];
    taken = produced = 2;
  }

  switch (kind) {
    case 'i':
      result = ConvertModelLine(state, line, output, taken, produced);
      break;
    case 'l':
      std::memcpy(output + 2, kNewStandard, sizeof kNewStandard - 1);
      produced = 2 + sizeof kNewStandard - 1;
      if (line[2] == '\0') break;
      result = DropToTerminator(line, 3, kGiveUpRewritten, taken);
      break;
    case 't': {
      if (line[2] == '\0') break;
      output[2] = line[2];
      taken = produced = 3;
      bool reachedEnd = false;
      if (!MatchesUpToChunkEnd(line + 2, "FRT", 3, reachedEnd)) break;
      result = CopyToTerminator(line, output, 3, taken, produced);
      break;
    }
    default:
      result = CopyToTerminator(line, output, 1, taken, produced);
      break;
  }
  lineCount += taken;
  producedCount += produced;
  return result;
}

}  // namespace quarnel
