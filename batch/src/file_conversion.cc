#include "quarnel/batch/file_conversion.h"

#include <utility>

#include "quarnel/conversion_file.h"
#include "quarnel/conversion_summary.h"

namespace quarnel::batch {
namespace {

ConversionOutcome CommitFailureOutcome(const StagedTarget& staged) {
  ConversionOutcome outcome;
  outcome.result = ResultFileError;
  outcome.fileFailure = staged.failure() == FileFailure::None ? FileFailure::ReplaceTarget : staged.failure();
  outcome.systemMessage = staged.failureMessage();
  return outcome;
}

StagedConversion Settled(FileConversion file) {
  StagedConversion staged;
  staged.settled = std::make_unique<FileConversion>(std::move(file));
  return staged;
}

}  // namespace

StagedConversion StageOneFile(const std::filesystem::path& source, const std::filesystem::path& target,
                              TargetWrite write) {
  FileLocation sourceLocation;
  sourceLocation.path = source;
  FileLocation targetLocation;
  targetLocation.path = target;
  return StageOneFile(sourceLocation, targetLocation, write);
}

StagedConversion StageOneFile(const FileLocation& source, const FileLocation& target, TargetWrite write) {
  StagedConversion file;
  if (write == TargetWrite::None) {
    file.outcome = CheckFormatFile(file.state, source);
    return file;
  }
  auto staged = std::make_unique<StagedTarget>();
  file.outcome = StageFormatFile(target, file.state, source, *staged);
  if (!IsSuccess(file.outcome.result) || !file.state.m_bConversionNeeded) return file;
  if (staged->IsStream()) {
    file.written = true;
  } else if (staged->Finish(write == TargetWrite::Staged)) {
    file.staged = std::move(staged);
  } else {
    file.outcome = CommitFailureOutcome(*staged);
    file.state = ConversionState{};
  }
  return file;
}

FileConversion SettleConversion(StagedConversion& file) {
  if (file.settled != nullptr) return std::move(*file.settled);
  FileConversion settled;
  settled.written = file.written;
  if (file.staged != nullptr) {
    if (file.staged->Committed()) {
      settled.written = true;
    } else {
      // Its rename, or the sync before it, failed or was never tried.
      file.outcome = CommitFailureOutcome(*file.staged);
      file.state = ConversionState{};
      file.staged->Abandon();
    }
    file.staged.reset();
  }
  settled.summary = SummarizeConversion(file.outcome, file.state);
  return settled;
}

StagedConversion RefuseFile(std::string reason) {
  FileConversion file;
  file.summary = RefuseConversion(std::move(reason));
  return Settled(std::move(file));
}

StagedConversion SkipFile(std::string note) {
  FileConversion file;
  file.skipped = true;
  file.summary.outcome = RunOutcome::NotNecessary;
  file.summary.notes.push_back(std::move(note));
  return Settled(std::move(file));
}

namespace {

// Each outcome's name in records (JSON, CSV) and its words in text.
struct OutcomeWords {
  std::string_view name;
  std::string_view text;
};

OutcomeWords WordsFor(const FileConversion& file) {
  if (file.skipped) return {"skipped", "skipped"};
  switch (file.summary.outcome) {
    case RunOutcome::Converted: return {"converted", "converted"};
    case RunOutcome::NotNecessary: return {"not-necessary", "not necessary"};
    case RunOutcome::InvalidInput: return {"invalid-input", "invalid input"};
    case RunOutcome::InvalidFormatFile: return {"invalid-format", "invalid format file"};
    case RunOutcome::UnknownError: break;
  }
  return {"unknown-error", "unknown error"};
}

}  // namespace

std::string_view OutcomeName(const FileConversion& file) { return WordsFor(file).name; }

std::string_view OutcomeText(const FileConversion& file) { return WordsFor(file).text; }

}  // namespace quarnel::batch
