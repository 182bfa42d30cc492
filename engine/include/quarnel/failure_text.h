// The words that tell a user why a run failed, or what else to know of it,
// for every front end that shows more than the report. None of them names a
// file: the front end puts the source's or the target's name in front.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "quarnel/conversion_driver.h"

namespace quarnel {

struct FailureDescription {
  // The source's line at fault, counted from 1; 0 when the failure is not about a line.
  std::uint64_t line = 0;
  // "NUL byte; a format file holds text only", "cannot open the source: ..."
  std::string reason;
  // The reason is about the target rather than the source.
  bool namesTarget = false;
};

// Why a failed run failed. For a successful outcome it still describes
// something, which no caller shows.
FailureDescription DescribeFailure(const ConversionOutcome& outcome);

inline constexpr std::string_view kNoModelLineNote = "no model line; is this a format file?";

// Remarks on a run that did not fail: kNoModelLineNote when no model line
// stood before the end of the source or its end marker, then "line 7: end
// marker (byte 0xFF); the 12 bytes behind it were not converted". Empty when
// there are none.
std::vector<std::string> DescribeNotes(const ConversionOutcome& outcome);

// A failure as one line, "job.frt: line 3: NUL byte; ...": the name of the
// file the reason is about, the line if any, the reason.
std::string FailureMessage(const FailureDescription& failure, const std::string& source,
                           const std::string& target);

}  // namespace quarnel
