#include "batch_record.h"

#include "batch_system.h"
#include "command_line.h"

namespace quarnel::cli {
namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

// Length of the valid UTF-8 sequence at the start of `text`, 0 if none is there.
std::size_t ValidSequenceLength(std::string_view text) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;       // overlong
    if (lead == 0xED) high = 0x9F;      // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;       // overlong
    if (lead == 0xF4) high = 0x8F;      // beyond U+10FFFF
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  if (byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  }
  return length;
}

// Appends `text` as a JSON string. Each byte that is not part of valid UTF-8
// becomes U+FFFD. @return false when there was such a byte.
bool AppendJsonString(std::string& json, std::string_view text) {
  bool valid = true;
  json += '"';
  while (!text.empty()) {
    const std::size_t length = ValidSequenceLength(text);
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

std::string_view OutcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::Converted: return "converted";
    case Outcome::NotNecessary: return "not-necessary";
    case Outcome::Skipped: return "skipped";
    case Outcome::InvalidInput: return "invalid-input";
    case Outcome::InvalidFormatFile: return "invalid-format";
    case Outcome::UnknownError: break;
  }
  return "unknown-error";
}

std::string_view OutcomeText(Outcome outcome) {
  switch (outcome) {
    case Outcome::Converted: return "converted";
    case Outcome::NotNecessary: return "not necessary";
    case Outcome::Skipped: return "skipped";
    case Outcome::InvalidInput: return "invalid input";
    case Outcome::InvalidFormatFile: return "invalid format file";
    case Outcome::UnknownError: break;
  }
  return "unknown error";
}

// An entry's description as the report gives it, on its line "51: Prism Constant, AtmosPPM".
std::string_view EntryDescription(std::string_view report, std::int16_t number) {
  const std::string prefix = std::to_string(number) + ": ";
  std::size_t at = 0;
  while (at < report.size()) {
    const std::size_t end = std::min(report.find('\n', at), report.size());
    const std::string_view line = report.substr(at, end - at);
    if (line.substr(0, prefix.size()) == prefix) return line.substr(prefix.size());
    at = end + 1;
  }
  return {};
}

void AppendEntries(std::string& json, std::string_view field, const NumberList& list, std::string_view report) {
  json += ", \"";
  json += field;
  json += "\": [";
  for (std::size_t slot = 0; slot < ListLength(list); ++slot) {
    if (slot > 0) json += ", ";
    json += "{\"number\": " + std::to_string(list[slot]) + ", \"description\": ";
    AppendJsonString(json, EntryDescription(report, list[slot]));
    json += '}';
  }
  json += ']';
}

std::string Counted(std::size_t count, std::string_view one, std::string_view many) {
  return std::to_string(count) + ' ' + std::string(count == 1 ? one : many);
}

}  // namespace

std::string DisplayName(const std::filesystem::path& path) { return EscapeControls(PathForDisplay(path)); }

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
  json += OutcomeName(file.outcome);
  json += file.written ? "\", \"written\": true" : "\", \"written\": false";
  json += ", \"report\": ";
  AppendJsonString(json, file.report);
  AppendEntries(json, "variables", file.variables, file.report);
  AppendEntries(json, "applications", file.applications, file.report);
  json += ", \"failure\": ";
  if (file.Failed()) {
    json += "{\"line\": ";
    json += file.failureLine == 0 ? std::string("null") : std::to_string(file.failureLine);
    json += ", \"reason\": ";
    AppendJsonString(json, file.failureReason);
    json += '}';
  } else {
    json += "null";
  }
  json += ", \"notes\": [";
  for (std::size_t i = 0; i < file.notes.size(); ++i) {
    if (i > 0) json += ", ";
    AppendJsonString(json, file.notes[i]);
  }
  json += "]}\n";
  return json;
}

std::string FormatTextLine(const std::filesystem::path& source, const std::filesystem::path* target,
                           const FileConversion& file) {
  std::string line = DisplayName(source);
  if (target != nullptr) line += " -> " + DisplayName(*target);
  line += ": ";
  line += OutcomeText(file.outcome);
  if (file.outcome == Outcome::Converted) {
    line += ", " + Counted(ListLength(file.variables), "variable", "variables") + " to move, " +
            Counted(ListLength(file.applications), "application", "applications") + " removed";
  }
  if (file.Failed()) {
    line += ": ";
    if (file.failureLine != 0) line += "line " + std::to_string(file.failureLine) + ": ";
    line += file.failureReason;
  }
  for (const std::string& note : file.notes) line += "; " + note;
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
  std::string message = std::string(ProgramName()) + ": " + DisplayName(file.failureNamesTarget ? target : source) + ": ";
  if (file.failureLine != 0) message += "line " + std::to_string(file.failureLine) + ": ";
  return message + file.failureReason + '\n';
}

}  // namespace quarnel::cli
