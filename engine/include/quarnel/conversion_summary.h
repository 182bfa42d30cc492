// The result of a run as every front end shows it (ConversionSummary in
// conversion_types.h), and the exit status it gives.
#pragma once

#include <string>

#include "quarnel/conversion_driver.h"
#include "quarnel/conversion_state.h"
#include "quarnel/conversion_types.h"
#include "quarnel/failure_text.h"

namespace quarnel {

// The exit statuses of a run, the same for the command line and the page.
inline constexpr int kExitCompleted = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitNotNecessary = 3;

// The result of a run from its outcome and final state. Composes the report
// as ComposeReport does, so a failure clears m_bConversionNeeded.
ConversionSummary SummarizeConversion(const ConversionOutcome& outcome, ConversionState& state);

// A file refused before its run began: invalid input for `reason`.
ConversionSummary RefuseConversion(std::string reason);

// kExitCompleted, kExitNotNecessary or kExitFailed.
int ExitStatus(const ConversionSummary& summary);

}  // namespace quarnel
