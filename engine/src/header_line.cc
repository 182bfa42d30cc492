// Header lines: "@", a kind character, one free character, then the kind's field.
// Positions count from 1 at the "@"; `line` points at position 2.
#include <cstring>

#include "line_converters.h"
#include "quarnel/model_line.h"

namespace quarnel {
namespace {

constexpr char kNewModel[] = "QZ21/25/27";
constexpr char kNewStandard[] = "QZ21/25/27_Standard";
constexpr const char* kOldModels[] = {"KRV110", "KRV330", "KRV440", "KRV880"};
constexpr const char* kWideModel = "KRV880";

// Position (counted from 1 at the "@") of line[index].
constexpr std::uint32_t PositionOf(std::uint32_t index) { return index + 2; }

// Positions at which the terminator walk gives up: a kind-t or other line may
// hold as many characters behind its marker as any line, a model or kind-l
// line two more.
constexpr std::uint32_t kGiveUpPlain = PositionOf(kMaxLineTaken);
constexpr std::uint32_t kGiveUpRewritten = kGiveUpPlain + 2;

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

LineConversion GiveUp(std::uint32_t taken, std::uint32_t produced,
                      FormatFailure failure = FormatFailure::NoTerminator) {
  return LineConversion{ResultInvalidFormatFile, failure, taken, produced};
}

// Walks from line[index] to the terminator without copying; every character
// walked over is taken. Stops in front of a NUL or at the give-up position.
LineConversion DropToTerminator(const char* line, std::uint32_t index, std::uint32_t produced) {
  for (;; ++index) {
    const char c = line[index];
    if (c == '\0' || PositionOf(index) >= kGiveUpRewritten) break;
    if (IsTerminator(c)) return LineConversion{c == '\n' ? ResultOk : ResultEndMarker, {}, index, produced};
  }
  return GiveUp(index, produced);
}

// Copies from line[index] to the terminator. A newline is left to the walk,
// which copies it as the next character; an end marker ends the walk, and the
// line keeps it in its output.
LineConversion CopyToTerminator(const char* line, char* output, std::uint32_t index) {
  for (;; ++index) {
    const char c = line[index];
    if (c == '\0' || PositionOf(index) >= kGiveUpPlain) break;
    if (c == '\n') return LineConversion{ResultOk, {}, index, index};
    output[index] = c;
    if (IsEndMarker(c)) return LineConversion{ResultEndMarker, {}, index, index + 1};
  }
  return GiveUp(index, index);
}

// What the model line at `line` names, read as every front end reads it. The
// "@" stands in front of `line`; the name ends at position 9, so the text
// needs no more than the two positions behind it (a CR LF pair).
std::string ModelNameOf(const char* line) {
  constexpr std::size_t kRead = 2 + kModelNameLength + 3;
  const char* text = line - 1;
  std::size_t length = 0;
  while (length < kRead && text[length] != '\0') ++length;
  return ReadModelName(std::string_view(text, length)).value_or(std::string());
}

LineConversion ConvertModelLine(ConversionState& state, const char* line, char* output) {
  // line[0] is the kind character, line[1] position 3, line[2..7] positions 4 to 9.
  state.m_strModelName = ModelNameOf(line);
  bool reachedEnd = false;
  bool matched = false;
  bool wide = false;
  for (const char* model : kOldModels) {
    if (MatchesUpToChunkEnd(line + 2, model, kModelNameLength, reachedEnd)) {
      matched = true;
      wide = std::strcmp(model, kWideModel) == 0;
      break;
    }
    if (reachedEnd) {
      // A line whose terminator stands in front of the chunk's end is whole and
      // names no old model; only a line that the chunk's end cuts off fails.
      // The model field begins at position 4; the walk tests from position 5.
      if (!HasTerminatorBeforeEnd(line + 2, 1)) return GiveUp(2, 2);
      break;
    }
  }
  state.m_bConversionNeeded = matched;
  if (matched) state.m_bWideCodes = wide;

  std::memcpy(output + 2, kNewModel, sizeof kNewModel - 1);
  // Position 4 is taken untested; the walk for the terminator starts at position 5.
  return DropToTerminator(line, 3, 2 + sizeof kNewModel - 1);
}

}  // namespace

bool HeaderLineStandsAlone(const char* line, std::size_t terminator) {
  switch (line[0]) {
    case 'i':  // decides the run
    case 't':  // may lack its tag
      return false;
    case 'l':  // reads positions 3 and 4, then walks from position 5 to the terminator
      return terminator >= 3;
    default:  // copies from position 3 to the terminator
      return terminator >= 1;
  }
}

LineConversion ConvertHeaderLine(ConversionState& state, const char* line, char* output) {
  const char kind = line[0];
  if (kind == '\0') return GiveUp(0, 0);
  output[0] = kind;
  if (kind != 'i' && kind != 'l' && kind != 't') return CopyToTerminator(line, output, 1);

  if (line[1] == '\0') return GiveUp(1, 1);
  output[1] = line[1];
  switch (kind) {
    case 'i':
      state.m_bModelLineSeen = true;
      return ConvertModelLine(state, line, output);
    case 'l':
      std::memcpy(output + 2, kNewStandard, sizeof kNewStandard - 1);
      if (line[2] == '\0') return GiveUp(2, 2 + sizeof kNewStandard - 1);
      return DropToTerminator(line, 3, 2 + sizeof kNewStandard - 1);
    default: {
      if (line[2] == '\0') return GiveUp(2, 2);
      output[2] = line[2];
      bool reachedEnd = false;
      if (!MatchesUpToChunkEnd(line + 2, "FRT", 3, reachedEnd)) {
        // Only a line that ends right behind position 4 is cut off before its
        // tag could be read; any other line lacks it.
        return GiveUp(3, 3, line[3] == '\0' ? FormatFailure::NoTerminator : FormatFailure::MissingFrtTag);
      }
      return CopyToTerminator(line, output, 3);
    }
  }
}

}  // namespace quarnel
