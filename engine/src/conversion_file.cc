// File-to-file conversion. The converted text goes to a staged target that
// takes the target's place only after a completed conversion; every other
// outcome abandons it, so the target stays as it was.
#include "quarnel/conversion_file.h"

#include <string>
#include <utility>

#include "file_access.h"
#include "quarnel/staged_target.h"

namespace quarnel {
namespace fs = std::filesystem;
namespace {

ConversionOutcome FileFailureOutcome(ConversionResult result, FileFailure failure, std::string message) {
  ConversionOutcome outcome;
  outcome.result = result;
  outcome.fileFailure = failure;
  outcome.systemMessage = std::move(message);
  return outcome;
}

ConversionOutcome FormatFailureOutcome(FormatFailure failure, std::uint64_t line) {
  ConversionOutcome outcome;
  outcome.result = ResultInvalidFormatFile;
  outcome.formatFailure = failure;
  outcome.failedLine = line;
  return outcome;
}

class DiscardingSink : public ByteSink {
 public:
  IoResult Write(const char*, std::size_t count) override { return {count, {}}; }
};

// Runs the conversion of an open source into `sink`, then closes the source.
// `inPlace`: the sink replaces the source itself.
ConversionOutcome ConvertSource(SourceFile& sourceFile, ConversionState& state, ByteSink& sink, bool inPlace) {
  ConversionOutcome outcome = ConvertFormatStream(sourceFile, state, sink);
  // A stray 0xFF would otherwise cut the user's only copy short.
  if (inPlace && outcome.result == ResultEndMarker && outcome.bytesBehindEndMarker > 0) {
    const std::uint64_t line = outcome.endMarkerLine;
    outcome = FormatFailureOutcome(FormatFailure::InPlaceDropsTail, line);
  }
  sourceFile.Close();
  return outcome;
}

}  // namespace

ConversionOutcome StageFormatFile(const fs::path& target, ConversionState& state, const fs::path& source,
                                  StagedTarget& staged) {
  FileLocation targetLocation;
  targetLocation.path = target;
  FileLocation sourceLocation;
  sourceLocation.path = source;
  return StageFormatFile(targetLocation, state, sourceLocation, staged);
}

ConversionOutcome StageFormatFile(const FileLocation& target, ConversionState& state, const FileLocation& source,
                                  StagedTarget& staged) {
  SourceFile sourceFile;
  FileFailure openFailure = FileFailure::None;
  std::string message;
  if (!sourceFile.Open(source, openFailure, message))
    return FileFailureOutcome(ResultInvalidInput, openFailure, std::move(message));

  if (!staged.Open(target, sourceFile.mode)) {
    const FileFailure failure = staged.failure();
    return FileFailureOutcome(ResultInvalidInput, failure, staged.failureMessage());
  }
  const bool inPlace = sourceFile.isRegular && staged.ReplacesFile(sourceFile.identity, source.path);
  ConversionOutcome outcome = ConvertSource(sourceFile, state, staged.Sink(), inPlace);

  if (staged.IsStream()) {
    // A device or pipe cannot be replaced; what was written stays written.
    if (!staged.Finish() && outcome.result != ResultFileError)
      outcome = FileFailureOutcome(ResultFileError, FileFailure::WriteTarget, staged.failureMessage());
    return outcome;
  }
  if (!IsSuccess(outcome.result) || !state.m_bConversionNeeded) staged.Abandon();
  return outcome;
}

ConversionOutcome CheckFormatFile(ConversionState& state, const fs::path& source) {
  FileLocation location;
  location.path = source;
  return CheckFormatFile(state, location);
}

ConversionOutcome CheckFormatFile(ConversionState& state, const FileLocation& source) {
  SourceFile sourceFile;
  FileFailure openFailure = FileFailure::None;
  std::string message;
  if (!sourceFile.Open(source, openFailure, message))
    return FileFailureOutcome(ResultInvalidInput, openFailure, std::move(message));
  DiscardingSink sink;
  return ConvertSource(sourceFile, state, sink, false);
}

ConversionOutcome ConvertFormatFile(const fs::path& target, ConversionState& state, const fs::path& source) {
  StagedTarget staged;
  const ConversionOutcome outcome = StageFormatFile(target, state, source, staged);
  if (staged.IsStream() || !IsSuccess(outcome.result) || !state.m_bConversionNeeded) return outcome;
  if (!staged.Finish() || !staged.Commit()) {
    const FileFailure failure = staged.failure();
    return FileFailureOutcome(ResultFileError, failure, staged.failureMessage());
  }
  return outcome;
}

}  // namespace quarnel
