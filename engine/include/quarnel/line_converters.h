// The two line converters and their helpers. Both are called by the chunk
// walk right behind a line's marker ("@" or "$"), which the walk has copied
// and counted itself.
//
// Converter contract: `line` points behind the marker, `output` behind its
// copy. The converter adds to `lineCount` the characters it took up to the
// line's terminator (a newline or the end marker 0xFF), the terminator not
// included, and to `producedCount` the output characters to keep. It never
// reads past the chunk's terminating NUL; when the NUL comes before the
// terminator it stops in front of it with ResultInvalidFormatFile.
#pragma once

#include <cstdint>

#include "quarnel/conversion_state.h"

namespace quarnel {

inline constexpr unsigned char kEndMarker = 0xFF;
// A line gives up when this many characters behind its marker hold no terminator.
inline constexpr std::uint32_t kMaxLineTaken = 2048;

// Rewrites one header line from its kind character on. Kind "i" (model line)
// decides the run: KRV110/330/440/880 at positions 4-9 keep
// m_bConversionNeeded set (m_bWideCodes for KRV880), anything else clears it;
// the line becomes "@i?QZ21/25/27". Kind "l" becomes "@l?QZ21/25/27_Standard".
// Kind "t" needs "FRT" at positions 4-6. Other kinds are copied.
// @return ResultOk (newline), ResultEndMarker (0xFF), ResultInvalidFormatFile
//         (kind t without its tag, or no terminator before the chunk's end).
ConversionResult ConvertHeaderLine(ConversionState& state, char* line, char* output,
                                   std::uint32_t& lineCount, std::uint32_t& producedCount);

// Rewrites the rest of one format line into the wide layout: widens narrow
// variable runs and codes, turns code 100 into 107 (in place in `line`, then
// copied), drops codes 120 and 123 and records them, and records the flagged
// variables 51, 58, 652, 653 and 656. m_bWideCodes selects the source layout.
// Precondition: state.m_bConversionNeeded is set.
// @return ResultOk (newline), ResultEndMarker (0xFF), ResultInvalidFormatFile
//         (no terminator before the chunk's end or within kMaxLineTaken characters).
ConversionResult ConvertFormatLine(ConversionState& state, char* line, char* output,
                                   std::uint32_t& lineCount, std::uint32_t& producedCount);

// Adds 51, 58, 652, 653 or 656 to m_aFlaggedVariables; ignores every other value.
void RecordFlaggedVariable(std::int16_t value, ConversionState& state);

// Adds 120 or 123 to m_aRemovedApps and returns true (also when already listed
// or the list is full); returns false for every other value.
bool RecordRemovedApp(std::int16_t value, ConversionState& state);

// Writes 107 as "%0*d" of `width` characters over the characters at
// `position`. Writes nothing and returns false unless the width is 3 or 5.
bool WriteReplacementCode(std::int16_t width, char* position);

}  // namespace quarnel
