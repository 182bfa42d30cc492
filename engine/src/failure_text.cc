#include "quarnel/failure_text.h"

#include "quarnel/conversion_driver.h"
#include "quarnel/model_line.h"
#include "quarnel/name_text.h"

namespace quarnel {
namespace {

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

RunFailure DescribeFailure(const ConversionOutcome& outcome) {
  RunFailure failure;
  failure.namesTarget = outcome.fileFailure != FileFailure::None && outcome.fileFailure != FileFailure::OpenSource &&
                        outcome.fileFailure != FileFailure::ReadSource &&
                        outcome.fileFailure != FileFailure::SourceIsFolder &&
                        outcome.fileFailure != FileFailure::SourceChanged;
  switch (outcome.fileFailure) {
    case FileFailure::OpenSource:
      failure.reason = "cannot open the source";
      failure.systemMessage = outcome.systemMessage;
      return failure;
    case FileFailure::OpenTarget:
      failure.reason = "cannot create the target";
      failure.systemMessage = outcome.systemMessage;
      return failure;
    case FileFailure::ReadSource:
      failure.reason = "cannot read the source";
      failure.systemMessage = outcome.systemMessage;
      return failure;
    case FileFailure::WriteTarget:
      failure.reason = "cannot write the target";
      failure.systemMessage = outcome.systemMessage;
      return failure;
    case FileFailure::ReplaceTarget:
      failure.reason = "cannot replace the target with the converted file";
      failure.systemMessage = outcome.systemMessage;
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
      // The file layer's own reason, naming the link and its owner.
      failure.reason = outcome.systemMessage;
      return failure;
    case FileFailure::DanglingLink:
      failure.reason = "the target is a link to a file that does not exist";
      return failure;
    case FileFailure::LinkLoop:
      failure.reason = "the target's links never end at a file";
      return failure;
    case FileFailure::TargetChanged:
      failure.reason = "the target was replaced while it was opened; it is not written";
      return failure;
    case FileFailure::SourceChanged:
      failure.reason = "the source was replaced after its folder was read; it is not read";
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
  if (outcome.result == ResultEndMarker && outcome.bytesBehindUnknown) {
    notes.push_back("line " + std::to_string(outcome.endMarkerLine) +
                    ": end marker (byte 0xFF); text may follow it, which was not read or converted");
  } else if (outcome.result == ResultEndMarker && outcome.bytesBehindEndMarker > 0) {
    const std::uint64_t behind = outcome.bytesBehindEndMarker;
    notes.push_back("line " + std::to_string(outcome.endMarkerLine) + ": end marker (byte 0xFF); the " +
                    std::to_string(behind) + (behind == 1 ? " byte" : " bytes") + " behind it were not converted");
  }
  return notes;
}

std::string NotNecessaryNote(const std::optional<std::string>& model) {
  if (!model.has_value()) return std::string(kNoModelLineAtAllNote);
  // Appended piece by piece: GCC 12 at -O3 warns falsely of overlap in "\"" + name.
  std::string note = "the model line names ";
  if (model->empty()) {
    note += "nothing";
  } else {
    note += '"';
    note += EscapeName(*model);
    note += '"';
  }
  note += ", not ";
  const std::size_t count = std::size(kOldModelNames);
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0) note += i + 1 < count ? ", " : " or ";
    note += kOldModelNames[i];
  }
  return note;
}

std::string FailureReason(const RunFailure& failure) {
  if (failure.systemMessage.empty()) return failure.reason;
  return failure.reason + ": " + failure.systemMessage;
}

std::string FailureText(const RunFailure& failure) {
  std::string text;
  if (failure.line != 0) text = "line " + std::to_string(failure.line) + ": ";
  return text + FailureReason(failure);
}

std::string FailureMessage(const RunFailure& failure, std::string_view source, std::string_view target) {
  return std::string(failure.namesTarget ? target : source) + ": " + FailureText(failure);
}

}  // namespace quarnel
