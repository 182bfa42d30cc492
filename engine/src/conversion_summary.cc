#include "quarnel/conversion_summary.h"

#include <utility>
#include <vector>

#include "quarnel/conversion_report.h"
#include "quarnel/failure_text.h"
#include "reported_numbers.h"

namespace quarnel {
namespace {

RunOutcome OutcomeOf(ConversionResult result, const ConversionState& state) {
  if (IsSuccess(result)) return state.m_bConversionNeeded ? RunOutcome::Converted : RunOutcome::NotNecessary;
  if (result == ResultInvalidInput) return RunOutcome::InvalidInput;
  if (result == ResultInvalidFormatFile) return RunOutcome::InvalidFormatFile;
  return RunOutcome::UnknownError;
}

std::vector<ReportedEntry> Entries(const NumberList& list) {
  std::vector<ReportedEntry> entries;
  for (std::size_t slot = 0; slot < ListLength(list); ++slot) {
    ReportedEntry entry{list[slot], {}};
    if (const ReportedNumber* known = FindReportedNumber(list[slot]); known != nullptr)
      entry.description = ReportToAscii(std::wstring(known->description));
    entries.push_back(std::move(entry));
  }
  return entries;
}

}  // namespace

ConversionSummary SummarizeConversion(const ConversionOutcome& outcome, ConversionState& state) {
  ConversionSummary summary;
  summary.report = ReportToAscii(ComposeReport(outcome.result, state));
  summary.outcome = OutcomeOf(outcome.result, state);
  if (summary.outcome == RunOutcome::Converted) {
    summary.variables = Entries(state.m_aFlaggedVariables);
    summary.applications = Entries(state.m_aRemovedApps);
  }
  if (state.m_bModelLineSeen) summary.model = state.m_strModelName;
  if (summary.Failed()) summary.failure = DescribeFailure(outcome);
  summary.notes = DescribeNotes(outcome);
  // What the file names instead comes first: it is why nothing was converted.
  if (summary.outcome == RunOutcome::NotNecessary)
    summary.notes.insert(summary.notes.begin(), NotNecessaryNote(summary.model));
  return summary;
}

ConversionSummary RefuseConversion(std::string reason) {
  ConversionState state;
  ConversionSummary summary;
  summary.outcome = RunOutcome::InvalidInput;
  summary.report = ReportToAscii(ComposeReport(ResultInvalidInput, state));
  summary.failure.reason = std::move(reason);
  return summary;
}

int ExitStatus(const ConversionSummary& summary) {
  if (summary.Failed()) return kExitFailed;
  return summary.outcome == RunOutcome::NotNecessary ? kExitNotNecessary : kExitCompleted;
}

}  // namespace quarnel
