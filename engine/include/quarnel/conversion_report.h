// The one message that ends every run.
#pragma once

#include <string>

#include "quarnel/conversion_state.h"

namespace quarnel {

// The longest report the texts can form: all five variables, both applications.
inline constexpr std::size_t kLongestReportLength = 611;

// Composes the report of a run from its final result and the state.
// Failures (every result but ResultOk, ResultEndMarker and
// ResultIncompleteLine) give their one line alone and clear
// m_bConversionNeeded; success gives the not-necessary text when the flag is
// clear, else the completed text followed by the flagged variables, the
// removed applications, their trailers and the closing warning.
std::wstring ComposeReport(ConversionResult result, ConversionState& state);

// The report as single-byte text (all its characters are ASCII), for output
// to a terminal or a file.
std::string ReportToAscii(const std::wstring& report);

}  // namespace quarnel
