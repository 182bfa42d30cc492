#include "command_line.h"

#include <string_view>

#include "quarnel/conversion_driver.h"
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
    "in the source's folder. An existing target is overwritten.\n"
    "\n"
    "  --help     show this help\n"
    "  --version  show the version\n"
    "  --         end of options: a SOURCE or TARGET may begin with \"-\"\n"
    "\n"
    "Exit status: 0 converted, 3 conversion not necessary (the file names another\n"
    "model), 1 conversion failed, 2 wrong arguments.\n";

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
    case FileFailure::None:
      break;
  }
  if (outcome.result == ResultInvalidFormatFile) {
    return source + ": line " + std::to_string(outcome.failedLine) + ": " +
           FormatFailureReason(outcome.formatFailure);
  }
  return source + ": conversion failed (result " + std::to_string(outcome.result) + ")";
}

}  // namespace

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

  ConversionState state;
  const ConversionOutcome outcome = ConvertFormatFile(target, state, source);
  const std::wstring report = ComposeReport(outcome.result, state);
  out << ReportToAscii(report) << '\n' << std::flush;

  if (!IsSuccess(outcome.result)) {
    err << "quarnel: " << DescribeFailure(outcome, PathForDisplay(source), PathForDisplay(target)) << '\n';
    return kExitFailed;
  }
  if (!out) {
    err << "quarnel: cannot write the report to standard output\n";
    return kExitFailed;
  }
  return state.m_bConversionNeeded ? kExitCompleted : kExitNotNecessary;
}

}  // namespace quarnel::cli
