// How the driver's walk took the lines of one run, for the tests that hold the
// common case to the common path.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "quarnel/conversion_driver.h"

namespace quarnel {

// Every piece of text the walk takes is one of these. A line of the usual
// kind (a plain, header or format line ending in a newline, whole in the
// window) is Whole; each other case is a named exception of the same walk.
enum class LineTaking : std::uint8_t {
  Whole,                 // a line up to its newline, converted or copied where it stands
  MarkerInsideLine,      // the text in front of a "$" or "@" that does not begin its line
  CarriageReturnInLine,  // the text up to a CR that another CR follows: a character of its line
  LongOtherLine,         // a piece of an other line that no line stop ends within the piece
  UnterminatedLastLine,  // the source's last line, without a line end
  EndMarker,             // the text in front of the end marker, which ends the run
  NulByte,               // a line holding a NUL byte, which fails the run
  LineTooLong,           // a header or format line whose terminator stands too far behind its marker
  FailedLine,            // a header or format line its converter rejected (kind t without its tag)
  AnotherModel,          // a model line naming another model, which ends the run
};
inline constexpr std::size_t kLineTakings = static_cast<std::size_t>(LineTaking::AnotherModel) + 1;

struct LineTally {
  std::array<std::uint64_t, kLineTakings> counts{};
  std::uint64_t operator[](LineTaking taking) const { return counts[static_cast<std::size_t>(taking)]; }
};

// ConvertFormatBytes, also counting how each piece of text was taken.
ConversionOutcome ConvertFormatBytesTallied(std::string_view source, ConversionState& state, std::string& target,
                                            LineTally& tally, std::size_t maxRead = 0);

}  // namespace quarnel
