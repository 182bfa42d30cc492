// The words that tell a user why a run failed, or what else to know of it,
// for every front end that shows more than the report. None of them names a
// file: the front end puts the source's or the target's name in front.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "quarnel/conversion_driver.h"
#include "quarnel/conversion_types.h"

namespace quarnel {

// Why a failed run failed. For a successful outcome it still describes
// something, which no caller shows.
RunFailure DescribeFailure(const ConversionOutcome& outcome);

inline constexpr std::string_view kNoModelLineNote = "no model line; is this a format file?";

// Remarks on a run that did not fail: kNoModelLineNote when no model line
// stood before the end of the source or its end marker, then "line 7: end
// marker (byte 0xFF); the 12 bytes behind it were not converted". Empty when
// there are none.
std::vector<std::string> DescribeNotes(const ConversionOutcome& outcome);

inline constexpr std::string_view kNoModelLineAtAllNote = "the file has no model line";

// Why a run was not necessary, from what its model line named (`model`, as
// ConversionSummary::model holds it): `the model line names "TS9200", not
// KRV110, KRV330, KRV440 or KRV880`, the name escaped as EscapeName escapes
// names, "names nothing" for an empty one; kNoModelLineAtAllNote without
// a model line.
std::string NotNecessaryNote(const std::optional<std::string>& model);

// The reason with the system's message behind it, if any:
// "cannot open the source: No such file or directory".
std::string FailureReason(const RunFailure& failure);

// The one form of a failure every front end shows: "[line N: ]REASON", the
// reason as FailureReason gives it.
std::string FailureText(const RunFailure& failure);

// A failure as one line, "job.frt: line 3: NUL byte; ...": the name of the
// file the reason is about (`source` or `target`, as the front end shows
// names), then FailureText.
std::string FailureMessage(const RunFailure& failure, std::string_view source, std::string_view target);

}  // namespace quarnel
