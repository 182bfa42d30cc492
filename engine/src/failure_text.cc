#include "quarnel/failure_text.h"

#include "quarnel/conversion_driver.h"

namespace quarnel {
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

}  // namespace

FailureDescription DescribeFailure(const ConversionOutcome& outcome) {
  FailureDescription failure;
  failure.namesTarget = outcome.fileFailure != FileFailure::None && outcome.fileFailure != FileFailure::OpenSource &&
                        outcome.fileFailure != FileFailure::ReadSource &&
                        outcome.fileFailure != FileFailure::SourceIsFolder;
  switch (outcome.fileFailure) {
    case FileFailure::OpenSource:
      failure.reason = WithSystemMessage("cannot open the source", outcome.systemMessage);
      return failure;
    case FileFailure::OpenTarget:
      failure.reason = WithSystemMessage("cannot create the target", outcome.systemMessage);
      return failure;
    case FileFailure::ReadSource:
      failure.reason = WithSystemMessage("cannot read the source", outcome.systemMessage);
      return failure;
    case FileFailure::WriteTarget:
      failure.reason = WithSystemMessage("cannot write the target", outcome.systemMessage);
      return failure;
    case FileFailure::ReplaceTarget:
      failure.reason = WithSystemMessage("cannot replace the target with the converted file", outcome.systemMessage);
      return failure;
    case FileFailure::SourceIsFolder:
      failure.reason = "the source is a folder, not a format file";
      return failure;
    case FileFailure::TargetIsFolder:
      failure.reason = "the target is a folder";
      return failure;
    case FileFailure::TargetReadOnly:
      failure.reason = "the target is read-only";
      return failure;
    case FileFailure::UnsafeLink:
      failure.reason = "the target is a link owned by another user in a shared sticky folder; it is not followed";
      return failure;
    case FileFailure::DanglingLink:
      failure.reason = "the target is a link to a file that does not exist";
      return failure;
    case FileFailure::LinkLoop:
      failure.reason = "the target's links never end at a file";
      return failure;
    case FileFailure::None:
      break;
  }
  if (outcome.result == ResultInvalidFormatFile) {
    failure.line = outcome.failedLine;
    failure.reason = FormatFailureReason(outcome.formatFailure);
    return failure;
  }
  failure.reason = "conversion failed (result " + std::to_string(outcome.result) + ")";
  return failure;
}

std::vector<std::string> DescribeNotes(const ConversionOutcome& outcome) {
  std::vector<std::string> notes;
  // Such a file converts (the format has no rule against it), but an empty
  // file or any other text does so too.
  if (IsSuccess(outcome.result) && !outcome.modelLineSeen) notes.emplace_back(kNoModelLineNote);
  if (outcome.result == ResultEndMarker && outcome.bytesBehindEndMarker > 0) {
    const std::uint64_t behind = outcome.bytesBehindEndMarker;
    notes.push_back("line " + std::to_string(outcome.endMarkerLine) + ": end marker (byte 0xFF); the " +
                    std::to_string(behind) + (behind == 1 ? " byte" : " bytes") + " behind it were not converted");
  }
  return notes;
}

std::string FailureMessage(const FailureDescription& failure, const std::string& source,
                           const std::string& target) {
  std::string message = (failure.namesTarget ? target : source) + ": ";
  if (failure.line != 0) message += "line " + std::to_string(failure.line) + ": ";
  return message + failure.reason;
}

}  // namespace quarnel
