// The two line converters. Both are called right behind a line's marker ("@"
// or "$"), which the caller has copied and counted itself: by the driver's
// line walk, and by the chunk walk that defines it (line_dispatcher.h).
//
// `line` points behind the marker, `output` behind its copy. A converter
// reports the characters it took up to the line's terminator (a newline or
// the end marker 0xFF), the terminator not included, and the characters it
// wrote to `output`; it writes nothing else. It never reads past the chunk's
// terminating NUL: when the NUL comes before the terminator it stops in front
// of it and gives up. Nor does any step take a character behind the line's
// terminator, so a line converts alike wherever it stands.
#pragma once

#include <cstddef>
#include <cstdint>

#include "format_text.h"
#include "quarnel/conversion_state.h"
#include "quarnel/conversion_types.h"

namespace quarnel {

// What one converter call did.
struct LineConversion {
  // ResultOk (newline), ResultEndMarker (0xFF) or ResultInvalidFormatFile.
  ConversionResult result = ResultOk;
  // For ResultInvalidFormatFile: MissingFrtTag, or NoTerminator when the
  // chunk's end or the length limit came first (the chunk loop knows which
  // of NoTerminator, LineTooLong and NulByte ended the chunk).
  FormatFailure failure = FormatFailure::None;
  std::uint32_t taken = 0;
  std::uint32_t produced = 0;
};

// Rewrites one header line from its kind character on. Kind "i" (model line)
// decides the run: KRV110/330/440/880 at positions 4-9 keep
// m_bConversionNeeded set (m_bWideCodes for KRV880), anything else clears it;
// the line becomes "@i?QZ21/25/27". Kind "l" becomes "@l?QZ21/25/27_Standard"
// (position 3 as far as it stands in front of the terminator). Kind "t" needs
// "FRT" at positions 4-6. Other kinds, and "@" with its terminator behind it,
// are copied; such a line ended by the end marker keeps the marker in its
// output. A model line that the chunk's end cuts off leaves the state alone.
LineConversion ConvertHeaderLine(ConversionState& state, const char* line, char* output);

// Rewrites the rest of one format line into the wide layout: widens narrow
// variable runs and codes, turns code 100 into 107 (in place in `line`, then
// copied), drops the removed applications' codes and records them, and
// records the flagged variables. m_bWideCodes selects the source layout.
// Lines of the usual shape take a one-pass path, which reads several
// characters at once, never more than the `length` in front of the chunk's
// NUL; every other line, and any line the one-pass path gives up on, takes
// the plain scan. Precondition: state.m_bConversionNeeded is set.
LineConversion ConvertFormatLine(ConversionState& state, char* line, std::size_t length, char* output);

// The one-pass path alone: converts a line of the usual shape as
// ConvertFormatLine does and returns true, or returns false for any other
// line, having recorded only numbers that the scan records again and
// rewritten only a code 100 (see format_line.cc). It reads eight characters
// at a time, never more than `length`, and uses nothing behind the line's
// terminator.
bool ConvertUsualFormatLine(ConversionState& state, char* line, std::size_t length, char* output,
                            LineConversion& conversion);

// The plain scan alone: the definition of a format line's conversion, which
// the one-pass path must match on every line (a fuzz target checks that).
LineConversion ScanFormatLine(ConversionState& state, char* line, char* output);

// Adds a variable number to m_aFlaggedVariables when the table of reported
// numbers flags it; ignores every other value.
void RecordFlaggedVariable(std::int16_t value, ConversionState& state);

// Adds a code to m_aRemovedApps and returns true when the table lists it as a
// removed application (also when it is already listed or the list is full);
// returns false for every other value.
bool RecordRemovedApp(std::int16_t value, ConversionState& state);

// Writes 107 as "%0*d" of `width` characters would print it, over the
// characters at `position`. Writes nothing unless the width is 3 to 5.
void WriteReplacementCode(std::uint32_t width, char* position);

}  // namespace quarnel
