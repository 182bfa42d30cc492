// Header lines: "@", a kind character, one free character, then the kind's field.
// Positions count from 1 at the "@"; `line` points at position 2.
#include <cstring>

#include "line_converters.h"
#include "quarnel/model_line.h"

namespace quarnel {
namespace {

constexpr char kNewStandard[] = "QZ21/25/27_Standard";
constexpr char kTag[] = "FRT";
constexpr std::string_view kWideModel = "KRV880";

// Position (counted from 1 at the "@") of line[index].
constexpr std::uint32_t PositionOf(std::uint32_t index) { return index + 2; }

// Positions at which the terminator walk gives up: a kind-t or other line may
// hold as many characters behind its marker as any line, a model or kind-l
// line two more.
constexpr std::uint32_t kGiveUpPlain = PositionOf(kMaxLineTaken);
constexpr std::uint32_t kGiveUpRewritten = kGiveUpPlain + 2;

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

// Whether a terminator stands in front of the chunk's NUL from line[from] on.
bool IsWhole(const char* line, std::uint32_t from) {
  for (const char* c = line + from; *c != '\0'; ++c) {
    if (IsTerminator(*c)) return true;
  }
  return false;
}

// Writes position 3 as far as it stands in front of the terminator, then
// `designation`, and drops the rest of the line. line[0] is the kind character.
LineConversion ConvertDesignatedLine(const char* line, char* output, const char* designation, std::size_t length) {
  std::uint32_t kept = 1;
  if (!IsTerminator(line[1])) output[kept++] = line[1];
  std::memcpy(output + kept, designation, length);
  return DropToTerminator(line, kept, kept + static_cast<std::uint32_t>(length));
}

// What the whole model line at `line` names, read as every front end reads
// it: the line as far as its terminator or position 9, whichever comes first.
// `line` starts behind the "@", which is not read from the caller's buffer.
std::string ModelNameOf(const char* line) {
  constexpr std::size_t kRead = 3 + kModelNameLength;
  std::string text(1, '@');
  for (std::size_t at = 0; text.size() < kRead && line[at] != '\0'; ++at) {
    text += line[at];
    if (IsTerminator(line[at])) break;
  }
  return ReadModelName(text).value_or(std::string());
}

LineConversion ConvertModelLine(ConversionState& state, const char* line, char* output) {
  // A model line the chunk's end cuts off decides nothing.
  if (!IsWhole(line, 1)) return GiveUp(1, 1);
  state.m_bModelLineSeen = true;
  state.m_strModelName = ModelNameOf(line);
  // The model name stands at positions 4 to 9 (line[2..7]); one that a
  // terminator cuts short matches no old model.
  bool matched = false;
  bool wide = false;
  if (!IsTerminator(line[1])) {
    std::size_t standing = 0;
    while (standing < kModelNameLength && !IsTerminator(line[2 + standing])) ++standing;
    const std::string_view name(line + 2, standing);
    matched = IsOldModelName(name);
    wide = name == kWideModel;
  }
  state.m_bConversionNeeded = matched;
  if (matched) state.m_bWideCodes = wide;
  return ConvertDesignatedLine(line, output, kNewModelDesignation.data(), kNewModelDesignation.size());
}

// Kind t: the tag "FRT" at positions 4 to 6; a terminator at position 3 or 4
// leaves no room for it, and the next line never lends it.
LineConversion ConvertTaggedLine(const char* line, char* output) {
  for (std::uint32_t index = 1; index < 3; ++index) {
    if (line[index] == '\0') return GiveUp(index, index);
    if (IsTerminator(line[index])) return GiveUp(index, index, FormatFailure::MissingFrtTag);
    output[index] = line[index];
  }
  // Compared up to the first character that differs, which a terminator does.
  for (std::uint32_t index = 2; index < 2 + sizeof kTag - 1; ++index) {
    if (line[index] == '\0') return GiveUp(3, 3);
    if (line[index] != kTag[index - 2]) return GiveUp(3, 3, FormatFailure::MissingFrtTag);
  }
  return CopyToTerminator(line, output, 3);
}

}  // namespace

LineConversion ConvertHeaderLine(ConversionState& state, const char* line, char* output) {
  const char kind = line[0];
  if (kind == '\0') return GiveUp(0, 0);
  // A terminator right behind the "@" ends a line of no kind, copied as it stands.
  if (IsTerminator(kind)) return CopyToTerminator(line, output, 0);
  output[0] = kind;
  switch (kind) {
    case 'i':
      return ConvertModelLine(state, line, output);
    case 'l':
      if (line[1] == '\0') return GiveUp(1, 1);
      return ConvertDesignatedLine(line, output, kNewStandard, sizeof kNewStandard - 1);
    case 't':
      return ConvertTaggedLine(line, output);
    default:
      return CopyToTerminator(line, output, 1);
  }
}

}  // namespace quarnel
