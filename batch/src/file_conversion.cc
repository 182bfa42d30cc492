#include "file_conversion.h"

#include <utility>

#include "quarnel/conversion_file.h"
#include "quarnel/conversion_summary.h"

namespace quarnel::cli {
namespace {

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
  FileLocation sourceLocation;
  sourceLocation.path = source;
  FileLocation targetLocation;
  targetLocation.path = target;
  return ConvertOneFile(sourceLocation, targetLocation, write);
}

FileConversion ConvertOneFile(const FileLocation& source, const FileLocation& target, TargetWrite write) {
  ConversionState state;
  FileConversion file;
  if (write == TargetWrite::None) {
    file.summary = SummarizeConversion(CheckFormatFile(state, source), state);
    return file;
  }
  auto staged = std::make_unique<StagedTarget>();
  const ConversionOutcome outcome = StageFormatFile(target, state, source, *staged);
  file.summary = SummarizeConversion(outcome, state);
  if (file.summary.outcome != RunOutcome::Converted) return file;
  if (staged->IsStream()) {
    file.written = true;
  } else if (staged->Finish(write == TargetWrite::Staged)) {
    file.staged = std::move(staged);
  } else {
    ConversionState failed;
    file = {};
    file.summary = SummarizeConversion(CommitFailureOutcome(*staged), failed);
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
    failure.summary = SummarizeConversion(outcome, failed);
    file = std::move(failure);
  }
  file.staged.reset();
}

FileConversion RefuseFile(std::string reason) {
  FileConversion file;
  file.summary = RefuseConversion(std::move(reason));
  return file;
}

FileConversion SkipFile(std::string note) {
  FileConversion file;
  file.skipped = true;
  file.summary.outcome = RunOutcome::NotNecessary;
  file.summary.notes.push_back(std::move(note));
  return file;
}

}  // namespace quarnel::cli
