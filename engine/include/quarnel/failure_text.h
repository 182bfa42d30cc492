// The words that tell a user why a run failed, shared by every front end that
// shows more than the report.
#pragma once

#include <string>

#include "quarnel/conversion_driver.h"

namespace quarnel {

// One line naming the file at fault and the reason: "job.frt: line 3: NUL
// byte; ...". `source` and `target` are the names as the user knows them.
// For a successful outcome it still returns a line, which no caller shows.
std::string DescribeFailure(const ConversionOutcome& outcome, const std::string& source,
                            const std::string& target);

// The note after an end marker with source bytes behind it: its line and how
// many bytes were not converted.
std::string DescribeEndMarker(const ConversionOutcome& outcome, const std::string& source);

}  // namespace quarnel
