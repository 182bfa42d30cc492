#include "file_conversion.h"

#include <utility>

#include "quarnel/conversion_file.h"
#include "quarnel/conversion_report.h"
#include "quarnel/failure_text.h"

namespace quarnel::cli {
namespace {

Outcome OutcomeOf(ConversionResult result, const ConversionState& state) {
  if (IsSuccess(result)) return state.m_bConversionNeeded ? Outcome::Converted : Outcome::NotNecessary;
  if (result == ResultInvalidInput) return Outcome::InvalidInput;
  if (result == ResultInvalidFormatFile) return Outcome::InvalidFormatFile;
  return Outcome::UnknownError;
}

// Fills `file` from a run's outcome and final state.
void Describe(const ConversionOutcome& outcome, ConversionState& state, FileConversion& file) {
  file.report = ReportToAscii(ComposeReport(outcome.result, state));
  file.outcome = OutcomeOf(outcome.result, state);
  if (file.outcome == Outcome::Converted) {
    file.variables = state.m_aFlaggedVariables;
    file.applications = state.m_aRemovedApps;
  }
  if (file.Failed()) {
    FailureDescription failure = DescribeFailure(outcome);
    file.failureLine = failure.line;
    file.failureReason = std::move(failure.reason);
    file.failureNamesTarget = failure.namesTarget;
  }
  file.notes = DescribeNotes(outcome);
}

ConversionOutcome CommitFailureOutcome(const StagedTarget& staged) {
  ConversionOutcome outcome;
  outcome.result = ResultFileError;
  outcome.fileFailure = staged.failure() == FileFailure::None ? FileFailure::ReplaceTarget : staged.failure();
  outcome.systemMessage = staged.failureMessage();
  return outcome;
}

}  // namespace

FileConversion ConvertOneFile(const std::filesystem::path& source, const std::filesystem::path& target,
                              TargetWrite write) {
  ConversionState state;
  FileConversion file;
  if (write == TargetWrite::None) {
    Describe(CheckFormatFile(state, source), state, file);
    return file;
  }
  if (write == TargetWrite::Now) {
    Describe(ConvertFormatFile(target, state, source), state, file);
    // Only a completed conversion creates or replaces the target.
    file.written = file.outcome == Outcome::Converted;
    return file;
  }
  auto staged = std::make_unique<StagedTarget>();
  const ConversionOutcome outcome = StageFormatFile(target, state, source, *staged);
  Describe(outcome, state, file);
  if (file.outcome != Outcome::Converted) return file;
  if (staged->IsStream()) {
    file.written = true;
  } else if (staged->Finish(true)) {
    file.staged = std::move(staged);
  } else {
    ConversionState failed;
    file = {};
    Describe(CommitFailureOutcome(*staged), failed, file);
  }
  return file;
}

void EndCommit(FileConversion& file, bool committed) {
  if (file.staged == nullptr) return;
  if (committed) {
    file.written = true;
  } else {
    ConversionState failed;
    const ConversionOutcome outcome = CommitFailureOutcome(*file.staged);
    file.staged->Abandon();
    FileConversion failure;
    Describe(outcome, failed, failure);
    file = std::move(failure);
  }
  file.staged.reset();
}

FileConversion RefuseFile(std::string reason) {
  ConversionState state;
  FileConversion file;
  file.outcome = Outcome::InvalidInput;
  file.report = ReportToAscii(ComposeReport(ResultInvalidInput, state));
  file.failureReason = std::move(reason);
  return file;
}

FileConversion SkipFile(std::string note) {
  FileConversion file;
  file.outcome = Outcome::Skipped;
  file.notes.push_back(std::move(note));
  return file;
}

}  // namespace quarnel::cli
