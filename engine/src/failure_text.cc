#include "quarnel/failure_text.h"

#include "quarnel/line_dispatcher.h"

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

std::string DescribeFailure(const ConversionOutcome& outcome, const std::string& source,
                            const std::string& target) {
  switch (outcome.fileFailure) {
    case FileFailure::OpenSource:
      return WithSystemMessage(source + ": cannot open the source", outcome.systemMessage);
    case FileFailure::OpenTarget:
      return WithSystemMessage(target + ": cannot create the target", outcome.systemMessage);
    case FileFailure::ReadSource:
      return WithSystemMessage(source + ": cannot read the source", outcome.systemMessage);
    case FileFailure::WriteTarget:
      return WithSystemMessage(target + ": cannot write the target", outcome.systemMessage);
    case FileFailure::ReplaceTarget:
      return WithSystemMessage(target + ": cannot replace the target with the converted file",
                               outcome.systemMessage);
    case FileFailure::SourceIsFolder:
      return source + ": the source is a folder, not a format file";
    case FileFailure::TargetIsFolder:
      return target + ": the target is a folder";
    case FileFailure::TargetReadOnly:
      return target + ": the target is read-only";
    case FileFailure::UnsafeLink:
      return target + ": the target is a link owned by another user in a shared sticky folder; "
                      "it is not followed";
    case FileFailure::DanglingLink:
      return target + ": the target is a link to a file that does not exist";
    case FileFailure::LinkLoop:
      return target + ": the target's links never end at a file";
    case FileFailure::None:
      break;
  }
  if (outcome.result == ResultInvalidFormatFile) {
    return source + ": line " + std::to_string(outcome.failedLine) + ": " +
           FormatFailureReason(outcome.formatFailure);
  }
  return source + ": conversion failed (result " + std::to_string(outcome.result) + ")";
}

std::string DescribeEndMarker(const ConversionOutcome& outcome, const std::string& source) {
  return source + ": line " + std::to_string(outcome.endMarkerLine) +
         ": end marker (byte 0xFF); the " + std::to_string(outcome.bytesBehindEndMarker) +
         (outcome.bytesBehindEndMarker == 1 ? " byte" : " bytes") + " behind it were not converted";
}

}  // namespace quarnel
