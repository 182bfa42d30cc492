#include "batch_record.h"

#include <algorithm>

#include "batch_system.h"
#include "command_output.h"
#include "quarnel/failure_text.h"

namespace quarnel::cli {
namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

// Appends `text` as a JSON string. Each byte that is not part of valid UTF-8
// becomes U+FFFD. @return false when there was such a byte.
bool AppendJsonString(std::string& json, std::string_view text) {
  bool valid = true;
  json += '"';
  while (!text.empty()) {
    const std::size_t length = Utf8SequenceLength(text);
    if (length == 0) {
      json += "\xEF\xBF\xBD";
      valid = false;
      text.remove_prefix(1);
      continue;
    }
    const unsigned char c = static_cast<unsigned char>(text[0]);
    if (c == '"' || c == '\\') {
      json += '\\';
      json += static_cast<char>(c);
    } else if (c == '\n') {
      json += "\\n";
    } else if (c == '\r') {
      json += "\\r";
    } else if (c == '\t') {
      json += "\\t";
    } else if (c < 0x20) {
      json += "\\u00";
      json += kHexDigits[c >> 4];
      json += kHexDigits[c & 0xF];
    } else {
      json.append(text.substr(0, length));
    }
    text.remove_prefix(length);
  }
  json += '"';
  return valid;
}

std::string Hex(std::string_view bytes) {
  std::string hex;
  for (unsigned char c : bytes) {
    hex += kHexDigits[c >> 4];
    hex += kHexDigits[c & 0xF];
  }
  return hex;
}

// "name": "...", and "nameHex": "..." when the name is not valid UTF-8.
void AppendNameFields(std::string& json, std::string_view field, const std::filesystem::path& path) {
  const std::string bytes = PathBytes(path);
  json += '"';
  json += field;
  json += "\": ";
  if (AppendJsonString(json, bytes)) return;
  json += ", \"";
  json += field;
  json += "Hex\": \"" + Hex(bytes) + '"';
}

std::string_view OutcomeName(RunOutcome outcome) {
  switch (outcome) {
    case RunOutcome::Converted: return "converted";
    case RunOutcome::NotNecessary: return "not-necessary";
    case RunOutcome::InvalidInput: return "invalid-input";
    case RunOutcome::InvalidFormatFile: return "invalid-format";
    case RunOutcome::UnknownError: break;
  }
  return "unknown-error";
}

std::string_view OutcomeText(RunOutcome outcome) {
  switch (outcome) {
    case RunOutcome::Converted: return "converted";
    case RunOutcome::NotNecessary: return "not necessary";
    case RunOutcome::InvalidInput: return "invalid input";
    case RunOutcome::InvalidFormatFile: return "invalid format file";
    case RunOutcome::UnknownError: break;
  }
  return "unknown error";
}

void AppendEntries(std::string& json, std::string_view field, const std::vector<ReportedEntry>& entries) {
  json += ", \"";
  json += field;
  json += "\": [";
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (i > 0) json += ", ";
    json += "{\"number\": " + std::to_string(entries[i].number) + ", \"description\": ";
    AppendJsonString(json, entries[i].description);
    json += '}';
  }
  json += ']';
}

std::string Counted(std::size_t count, std::string_view one, std::string_view many) {
  return std::to_string(count) + ' ' + std::string(count == 1 ? one : many);
}

}  // namespace

std::string FormatJsonRecord(const std::filesystem::path& source, const std::filesystem::path* target,
                             const FileConversion& file) {
  std::string json = "{";
  AppendNameFields(json, "source", source);
  json += ", ";
  if (target != nullptr) {
    AppendNameFields(json, "target", *target);
  } else {
    json += "\"target\": null";
  }
  json += ", \"outcome\": \"";
  const ConversionSummary& summary = file.summary;
  json += file.skipped ? "skipped" : OutcomeName(summary.outcome);
  json += file.written ? "\", \"written\": true" : "\", \"written\": false";
  json += ", \"model\": ";
  if (summary.model.has_value() && !summary.model->empty()) {
    AppendJsonString(json, *summary.model);
  } else {
    json += "null";
  }
  json += ", \"report\": ";
  AppendJsonString(json, summary.report);
  AppendEntries(json, "variables", summary.variables);
  AppendEntries(json, "applications", summary.applications);
  json += ", \"failure\": ";
  if (summary.Failed()) {
    json += "{\"line\": ";
    json += summary.failure.line == 0 ? std::string("null") : std::to_string(summary.failure.line);
    json += ", \"reason\": ";
    AppendJsonString(json, FailureReason(summary.failure));
    json += '}';
  } else {
    json += "null";
  }
  json += ", \"notes\": [";
  for (std::size_t i = 0; i < summary.notes.size(); ++i) {
    if (i > 0) json += ", ";
    AppendJsonString(json, summary.notes[i]);
  }
  json += "]}\n";
  return json;
}

std::string FormatTextLine(const std::filesystem::path& source, const std::filesystem::path* target,
                           const FileConversion& file) {
  std::string line = DisplayName(source);
  if (target != nullptr) line += " -> " + DisplayName(*target);
  line += ": ";
  const ConversionSummary& summary = file.summary;
  line += file.skipped ? "skipped" : OutcomeText(summary.outcome);
  if (summary.outcome == RunOutcome::Converted) {
    line += ", " + Counted(summary.variables.size(), "variable", "variables") + " to move, " +
            Counted(summary.applications.size(), "application", "applications") + " removed";
  }
  if (summary.Failed()) line += ": " + FailureText(summary.failure);
  for (const std::string& note : summary.notes) line += "; " + note;
  return line + '\n';
}

std::string FormatIndentedReport(std::string_view report) {
  std::string text;
  std::size_t at = 0;
  while (at <= report.size()) {
    const std::size_t end = std::min(report.find('\n', at), report.size());
    if (end > at) text += "    ";
    text.append(report.substr(at, end - at));
    text += '\n';
    at = end + 1;
  }
  return text + '\n';
}

std::string FormatFailureMessage(const std::filesystem::path& source, const std::filesystem::path& target,
                                 const FileConversion& file) {
  return std::string(ProgramName()) + ": " + FailureMessage(file.summary.failure, DisplayName(source), DisplayName(target)) + '\n';
}

}  // namespace quarnel::cli
