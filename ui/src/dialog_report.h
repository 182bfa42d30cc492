// The text of a run's report box, shared by the one-file flow and a batch's
// results window.
#pragma once

#include <string>
#include <vector>

#include "quarnel/batch/batch_run.h"
#include "quarnel/conversion_types.h"

namespace quarnel::ui {

// The report as the engine composed it, then what it does not say: where a
// converted file went, "converted into TARGET", why a run failed, "FILE:
// [line N: ]reason", and the notes on a run that did not.
std::wstring MessageOfRun(const ConversionSummary& summary, const std::wstring& source, const std::wstring& target);

// The question before Convert replaces targets that Quarnel did not write:
// "TARGET is a format file that Quarnel did not write (its model line names
// KRV880). Replace it?", one such sentence a line for several targets.
std::wstring ForeignTargetQuestion(const std::vector<batch::ForeignTarget>& targets);

}  // namespace quarnel::ui
