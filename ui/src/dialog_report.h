// The text of a run's report box, shared by the one-file flow and a batch's
// results window.
#pragma once

#include <string>

#include "quarnel/conversion_types.h"

namespace quarnel::ui {

// The report as the engine composed it, then what it does not say: why a run
// failed, "FILE: [line N: ]reason", or the notes on a run that did not.
std::wstring MessageOfRun(const ConversionSummary& summary, const std::wstring& source, const std::wstring& target);

}  // namespace quarnel::ui
