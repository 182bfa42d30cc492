#include "file_conversion.h"


#include "quarnel/conversion_file.h"
#include "quarnel/conversion_report.h"
#include "quarnel/line_dispatcher.h"

namespace quarnel::cli {
namespace {

std::string WithSystemMessage(std::string text, const std::string& systemMessage) {
  if (!systemMessage.empty()) text += ": " + systemMessage;
  return text;
}

std::string FormatFailureReason(FormatFailure failure) {
  switch (failure) {
    case FormatFailure::MissingFrtTag:
      return "header line of kind t lacks the file-type tag \"FRT\" at positions 4 to 6";
    case FormatFailure::LineTooLong:
      return "header or format line longer than " + std::to_string(kMaxChunkLength) + " characters";
    case FormatFailure::NoTerminator:
      return "header or format line not ended before the end of the file";
    case FormatFailure::NulByte:
      return "NUL byte; a format file holds text only";
    case FormatFailure::Utf16Text:
      return "UTF-16 text, not a single-byte format file";
    case FormatFailure::InPlaceDropsTail:
      return "end marker (byte 0xFF) with more text behind it; converting in place would drop that "
             "text: convert to another file";
    case FormatFailure::None:
      break;
  }
  return "line cannot be converted";
}

void DescribeFailure(const ConversionOutcome& outcome, FileConversion& file) {
  file.failureNamesTarget = outcome.fileFailure != FileFailure::None &&
                            outcome.fileFailure != FileFailure::OpenSource &&
                            outcome.fileFailure != FileFailure::ReadSource &&
                            outcome.fileFailure != FileFailure::SourceIsFolder;
  switch (outcome.fileFailure) {
    case FileFailure::OpenSource:
      file.failureReason = WithSystemMessage("cannot open the source", outcome.systemMessage);
      return;
    case FileFailure::OpenTarget:
      file.failureReason = WithSystemMessage("cannot create the target", outcome.systemMessage);
      return;
    case FileFailure::ReadSource:
      file.failureReason = WithSystemMessage("cannot read the source", outcome.systemMessage);
      return;
    case FileFailure::WriteTarget:
      file.failureReason = WithSystemMessage("cannot write the target", outcome.systemMessage);
      return;
    case FileFailure::ReplaceTarget:
      file.failureReason =
          WithSystemMessage("cannot replace the target with the converted file", outcome.systemMessage);
      return;
    case FileFailure::SourceIsFolder:
      file.failureReason = "the source is a folder, not a format file";
      return;
    case FileFailure::TargetIsFolder:
      file.failureReason = "the target is a folder";
      return;
    case FileFailure::TargetReadOnly:
      file.failureReason = "the target is read-only";
      return;
    case FileFailure::UnsafeLink:
      file.failureReason =
          "the target is a link owned by another user in a shared sticky folder; it is not followed";
      return;
    case FileFailure::DanglingLink:
      file.failureReason = "the target is a link to a file that does not exist";
      return;
    case FileFailure::LinkLoop:
      file.failureReason = "the target's links never end at a file";
      return;
    case FileFailure::None:
      break;
  }
  if (outcome.result == ResultInvalidFormatFile) {
    file.failureLine = outcome.failedLine;
    file.failureReason = FormatFailureReason(outcome.formatFailure);
    return;
  }
  file.failureReason = "conversion failed (result " + std::to_string(outcome.result) + ")";
}

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
  if (file.Failed()) DescribeFailure(outcome, file);
  if (outcome.result == ResultEndMarker && outcome.bytesBehindEndMarker > 0) {
    const std::uint64_t behind = outcome.bytesBehindEndMarker;
    file.notes.push_back("line " + std::to_string(outcome.endMarkerLine) + ": end marker (byte 0xFF); the " +
                         std::to_string(behind) + (behind == 1 ? " byte" : " bytes") +
                         " behind it were not converted");
  }
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

}  // namespace quarnel::cli
