#include "command_line.h"

#include <string_view>

#include "quarnel/conversion_file.h"
#include "quarnel/conversion_report.h"
#include "quarnel/line_dispatcher.h"
#include "quarnel/target_name.h"
#include "quarnel/version.h"

namespace quarnel::cli {
namespace {

constexpr std::string_view kUsage =
    "Usage: quarnel [--] SOURCE [TARGET]\n"
    "       quarnel --help | --version\n";

constexpr std::string_view kHelp =
    "\n"
    "Converts a format file made for the KRV110, KRV330, KRV440 or KRV880 total\n"
    "station into one for the QZ21/25/27 family and prints the conversion report.\n"
    "Without TARGET the converted file is QZ_ followed by the source's file name,\n"
    "in the source's folder. Only a completed conversion creates or replaces the\n"
    "target; every other outcome leaves it as it was.\n"
    "\n"
    "  --help     show this help\n"
    "  --version  show the version\n"
    "  --         end of options: a SOURCE or TARGET may begin with \"-\"\n"
    "\n"
    "Exit status: 0 converted, 3 conversion not necessary (the file names another\n"
    "model), 1 conversion failed, 2 wrong arguments, 4 converted, but the report\n"
    "could not be written.\n";

int UsageError(std::ostream& err, std::string_view problem) {
  err << "quarnel: " << problem << '\n' << kUsage;
  return kExitUsage;
}

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

// The one line that tells the user which file is at fault and why.
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

// Said when the end marker ended a run with source text behind it.
std::string DescribeEndMarker(const ConversionOutcome& outcome, const std::string& source) {
  return source + ": line " + std::to_string(outcome.endMarkerLine) +
         ": end marker (byte 0xFF); the " + std::to_string(outcome.bytesBehindEndMarker) +
         (outcome.bytesBehindEndMarker == 1 ? " byte" : " bytes") + " behind it were not converted";
}

}  // namespace

std::string EscapeControls(const std::string& text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string escaped;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    // C1 controls reach a UTF-8 terminal as C2 80 to C2 9F.
    const bool c1 = c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                    static_cast<unsigned char>(text[i + 1]) <= 0x9F;
    if (c < 0x20 || c == 0x7F || c1) {
      const std::size_t count = c1 ? 2 : 1;
      for (std::size_t k = 0; k < count; ++k) {
        const auto byte = static_cast<unsigned char>(text[i + k]);
        escaped += "\\x";
        escaped += kHex[byte >> 4];
        escaped += kHex[byte & 0xF];
      }
      i += count - 1;
    } else {
      escaped += text[i];
    }
  }
  return escaped;
}

int RunQuarnel(const std::vector<Argument>& arguments, std::ostream& out, std::ostream& err) {
  std::vector<const Argument*> files;
  bool optionsEnded = false;
  for (const Argument& argument : arguments) {
    // A lone "-" is a file name like any other.
    if (!optionsEnded && argument.text.size() > 1 && argument.text[0] == '-') {
      if (argument.text == "--") {
        optionsEnded = true;
      } else if (argument.text == "--help") {
        out << kUsage << kHelp;
        return kExitCompleted;
      } else if (argument.text == "--version") {
        out << "quarnel " QUARNEL_VERSION_TEXT "\n";
        return kExitCompleted;
      } else {
        return UsageError(err, "unknown option '" + argument.text + "'");
      }
      continue;
    }
    files.push_back(&argument);
  }
  if (files.empty()) return UsageError(err, "missing SOURCE");
  if (files.size() > 2) return UsageError(err, "too many arguments");
  for (const Argument* file : files) {
    if (file->path.empty()) return UsageError(err, "empty file name");
  }

  const std::filesystem::path& source = files[0]->path;
  const std::filesystem::path target = files.size() == 2 ? files[1]->path : ProposeTargetPath(source);
  const std::string sourceShown = EscapeControls(PathForDisplay(source));
  const std::string targetShown = EscapeControls(PathForDisplay(target));

  ConversionState state;
  ConversionOutcome outcome;
  // Longer names than this no file system takes; say why instead of a bare error.
  constexpr std::size_t kMaxNameBytes = 255;
  const bool defaultNameTooLong = files.size() == 1 && target.filename().native().size() > kMaxNameBytes;
  if (defaultNameTooLong) {
    outcome.result = ResultInvalidInput;
  } else {
    outcome = ConvertFormatFile(target, state, source);
  }
  const std::wstring report = ComposeReport(outcome.result, state);
  out << ReportToAscii(report) << '\n' << std::flush;

  if (defaultNameTooLong) {
    err << "quarnel: " << sourceShown << ": the target's name, " << kTargetPrefix
        << " and the source's name, would be longer than " << kMaxNameBytes << " bytes; give a TARGET\n";
    return kExitFailed;
  }
  if (!IsSuccess(outcome.result)) {
    err << "quarnel: " << DescribeFailure(outcome, sourceShown, targetShown) << '\n';
    return kExitFailed;
  }
  if (outcome.result == ResultEndMarker && outcome.bytesBehindEndMarker > 0)
    err << "quarnel: " << DescribeEndMarker(outcome, sourceShown) << '\n';
  if (!state.m_bConversionNeeded) return kExitNotNecessary;
  if (!out) {
    err << "quarnel: " << targetShown << ": converted, but the report could not be written\n";
    return kExitReportLost;
  }
  return kExitCompleted;
}

}  // namespace quarnel::cli
