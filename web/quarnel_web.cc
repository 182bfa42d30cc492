// The engine's face towards the page: plain C functions over the module's own
// memory. The page asks for room, copies a file's name and bytes into it,
// converts, and reads the report, the failure line and the target back. Each
// conversion is a fresh run with a fresh state, as in the command line's batch.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "quarnel/change_list.h"
#include "quarnel/conversion_driver.h"
#include "quarnel/conversion_report.h"
#include "quarnel/conversion_summary.h"
#include "quarnel/target_prefix.h"

namespace {

// The results of the last run. They live in the module until the next run,
// since the page reads them through pointers into this memory.
struct LastRun {
  std::string input;  // the source's name, then its bytes
  std::size_t nameSize = 0;
  std::string targetName;
  std::string target;
  std::string report;
  std::string messages;  // what the command line prints on stderr, one line each
  std::string note;      // why the run was not necessary, if it was not
  bool completed = false;
  bool wideCodes = false;
  std::optional<quarnel::ChangeList> changeList;  // worked out when first asked for
  std::string changes;   // a part of the change list as JSON
  std::string numbers;   // the flagged variables and removed applications as JSON
};

// Bytes as JSON string characters from U+0000 to U+00FF, so that the page
// gets every byte back as it was, whatever the file's code page.
void AppendJsonString(std::string& json, std::string_view bytes) {
  constexpr char kHex[] = "0123456789abcdef";
  json += '"';
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte >= 0x7F || c == '"' || c == '\\') {
      json += "\\u00";
      json += kHex[byte >> 4];
      json += kHex[byte & 15];
    } else {
      json += c;
    }
  }
  json += '"';
}

std::string NumbersAsJson(const std::vector<quarnel::ReportedEntry>& entries) {
  std::string json = "[";
  for (const quarnel::ReportedEntry& entry : entries) {
    if (json.size() > 1) json += ',';
    json += std::to_string(entry.number);
  }
  return json + "]";
}

std::string ChangesAsJson(const quarnel::ChangeList& list, std::size_t first, std::size_t count) {
  constexpr const char* kLineKinds[] = {"header", "format", "other"};
  constexpr const char* kEditKinds[] = {"header", "widened", "code107", "removed", "rewritten"};
  std::string json = "{\"lineCount\":" + std::to_string(list.lineCount) +
                     ",\"lastLineEnded\":" + (list.lastLineEnded ? "true" : "false") +
                     ",\"endMarker\":" +
                     (list.endMarkerLine ? "[" + std::to_string(list.endMarkerLine) + "," +
                                               std::to_string(list.endMarkerColumn) + "]"
                                         : std::string("null")) +
                     ",\"total\":" + std::to_string(list.lines.size()) + ",\"lines\":[";
  first = std::min(first, list.lines.size());
  count = std::min(count, list.lines.size() - first);
  for (const quarnel::LineChange& change : std::span(list.lines).subspan(first, count)) {
    if (json.back() != '[') json += ',';
    json += "{\"line\":" + std::to_string(change.line) + ",\"kind\":\"" +
            kLineKinds[static_cast<int>(change.kind)] + "\",\"edits\":[";
    for (const quarnel::LineEdit& edit : change.edits) {
      if (json.back() != '[') json += ',';
      json += "[" + std::to_string(edit.start) + "," + std::to_string(edit.length) + ",";
      AppendJsonString(json, edit.text);
      json += std::string(",\"") + kEditKinds[static_cast<int>(edit.kind)] + "\"," + std::to_string(edit.number) + "]";
    }
    json += "],\"flagged\":[";
    for (const quarnel::FlaggedVariable& flagged : change.flagged) {
      if (json.back() != '[') json += ',';
      json += "[" + std::to_string(flagged.number) + "," + std::to_string(flagged.start) + "," +
              std::to_string(flagged.length) + "]";
    }
    json += "]}";
  }
  return json + "]}";
}

LastRun& Run() {
  static LastRun run;
  return run;
}

// A name the page asks about and the answer, apart from the last run, which
// the page's change view still reads.
struct NameQuery {
  std::string name;
  std::string answer;
};

NameQuery& Query() {
  static NameQuery query;
  return query;
}

bool IsReservedDeviceName(std::string_view component) {
  // Windows takes the part before the first dot, blanks at its end ignored,
  // as the device whatever the extension: "con.frt" and "CON .txt" too.
  std::string_view base = component.substr(0, component.find('.'));
  while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
  std::string upper;
  for (const char c : base) upper += c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  if (upper == "CON" || upper == "PRN" || upper == "AUX" || upper == "NUL") return true;
  return upper.size() == 4 && (upper.starts_with("COM") || upper.starts_with("LPT")) && upper[3] >= '1' &&
         upper[3] <= '9';
}

// `path` ("/" between its components) as a zip entry that Windows extractors
// write where it says: the characters Windows refuses in a name or reads as a
// separator, ASCII control characters, and a dot or blank at a component's
// end (Windows drops them) become "_"; a device name gets "_" in front. Names
// that are not ASCII pass as they are.
std::string ZipEntryName(std::string_view path) {
  constexpr std::string_view kRefused = "\\:*?\"<>|";
  std::string entry;
  std::size_t start = 0;
  while (start <= path.size()) {
    const std::size_t end = std::min(path.find('/', start), path.size());
    std::string component(path.substr(start, end - start));
    for (char& c : component) {
      const auto byte = static_cast<unsigned char>(c);
      if (byte < 0x20 || byte == 0x7F || kRefused.find(c) != std::string_view::npos) c = '_';
    }
    if (!component.empty() && (component.back() == '.' || component.back() == ' ')) component.back() = '_';
    if (IsReservedDeviceName(component)) component.insert(0, 1, '_');
    if (start > 0) entry += '/';
    entry += component;
    start = end + 1;
  }
  return entry;
}

}  // namespace

#define QUARNEL_EXPORT(name) extern "C" __attribute__((export_name(#name)))

// Room for a source: `nameSize` bytes of its file name (UTF-8) followed by
// `sourceSize` bytes of its content. Forgets the previous run's results.
QUARNEL_EXPORT(quarnel_prepare) char* QuarnelPrepare(std::size_t nameSize, std::size_t sourceSize) {
  LastRun& run = Run();
  run = LastRun{};
  run.nameSize = nameSize;
  run.input.resize(nameSize + sourceSize);
  return run.input.data();
}

// Converts the prepared source. @return 0 completed, 3 not necessary (the
// file names another model; no target is offered), 1 failed.
QUARNEL_EXPORT(quarnel_convert) int QuarnelConvert() {
  LastRun& run = Run();
  const std::string name = run.input.substr(0, run.nameSize);
  const std::string_view source = std::string_view(run.input).substr(run.nameSize);
  run.targetName = quarnel::ProposeTargetName(name);

  quarnel::ConversionState state;
  const quarnel::ConversionSummary summary =
      quarnel::SummarizeConversion(quarnel::ConvertFormatBytes(source, state, run.target), state);
  run.report = summary.report;
  if (summary.Failed()) {
    run.messages = "quarnel: " + quarnel::FailureMessage(summary.failure, name, run.targetName) + "\n";
  } else {
    for (const std::string& note : summary.notes) run.messages += "quarnel: " + name + ": " + note + "\n";
  }
  // The summary names why first among its notes.
  if (summary.outcome == quarnel::RunOutcome::NotNecessary) run.note = summary.notes.front();
  if (summary.outcome != quarnel::RunOutcome::Converted) {
    run.target.clear();
    return quarnel::ExitStatus(summary);
  }
  run.completed = true;
  run.numbers = "[" + NumbersAsJson(summary.variables) + "," + NumbersAsJson(summary.applications) + "]";
  run.wideCodes = state.m_bWideCodes;
  return quarnel::ExitStatus(summary);
}

// The report of a run that failed for no known reason, which the page shows
// when the module itself stopped part way. Read once, while the module is sound.
QUARNEL_EXPORT(quarnel_unknown_error_report) const char* QuarnelUnknownErrorReport() {
  static const std::string report = [] {
    quarnel::ConversionState state;
    // A failure of no kind the report names: its text is the unknown error's.
    return quarnel::ReportToAscii(quarnel::ComposeReport(quarnel::ResultFileError, state));
  }();
  return report.c_str();
}

// The status of a failed run, which goes with that report.
QUARNEL_EXPORT(quarnel_failed_status) int QuarnelFailedStatus() { return quarnel::kExitFailed; }

// Part of the change list of the last run, if it completed, as JSON:
// {"lineCount", "lastLineEnded", "endMarker": [line, column] or null,
// "total": changed lines in all, "lines": [{"line", "kind", "edits": [[start,
// length, text, kind, number]], "flagged": [[number, start, length]]}]} with
// `count` changed lines from the `first` one on. Texts hold one character per
// byte. Empty when the last run did not complete. The list is worked out once
// per run, so that a page of a large file's changes costs little.
QUARNEL_EXPORT(quarnel_changes) const char* QuarnelChanges(std::size_t first, std::size_t count) {
  LastRun& run = Run();
  run.changes.clear();
  if (run.completed) {
    if (!run.changeList) {
      const std::string_view source = std::string_view(run.input).substr(run.nameSize);
      run.changeList = quarnel::ListChanges(source, run.target, run.wideCodes);
    }
    run.changes = ChangesAsJson(*run.changeList, first, count);
  }
  return run.changes.data();
}
QUARNEL_EXPORT(quarnel_changes_size) std::size_t QuarnelChangesSize() { return Run().changes.size(); }

// The flagged variables and the removed applications of the last run, if it
// completed, as JSON: [[variables], [applications]]. Empty otherwise.
QUARNEL_EXPORT(quarnel_numbers) const char* QuarnelNumbers() { return Run().numbers.data(); }
QUARNEL_EXPORT(quarnel_numbers_size) std::size_t QuarnelNumbersSize() { return Run().numbers.size(); }

// Room for a file name (UTF-8) that the next name call reads.
QUARNEL_EXPORT(quarnel_name_room) char* QuarnelNameRoom(std::size_t size) {
  Query().name.resize(size);
  return Query().name.data();
}

// @return 1 when a folder walk takes a file of the name in the room, else 0.
QUARNEL_EXPORT(quarnel_is_source_name) int QuarnelIsSourceName() { return quarnel::IsSourceName(Query().name); }

// Makes the answer the converted file's name for the source's file name in the room.
QUARNEL_EXPORT(quarnel_propose_target_name) void QuarnelProposeTargetName() {
  Query().answer = quarnel::ProposeTargetName(Query().name);
}

// Makes the answer the zip entry for the path in the room. @return 1 when
// the entry differs from the path, else 0.
QUARNEL_EXPORT(quarnel_zip_entry_name) int QuarnelZipEntryName() {
  Query().answer = ZipEntryName(Query().name);
  return Query().answer != Query().name;
}
QUARNEL_EXPORT(quarnel_name_answer) const char* QuarnelNameAnswer() { return Query().answer.data(); }
QUARNEL_EXPORT(quarnel_name_answer_size) std::size_t QuarnelNameAnswerSize() { return Query().answer.size(); }

QUARNEL_EXPORT(quarnel_report) const char* QuarnelReport() { return Run().report.data(); }
QUARNEL_EXPORT(quarnel_report_size) std::size_t QuarnelReportSize() { return Run().report.size(); }
QUARNEL_EXPORT(quarnel_messages) const char* QuarnelMessages() { return Run().messages.data(); }
QUARNEL_EXPORT(quarnel_messages_size) std::size_t QuarnelMessagesSize() { return Run().messages.size(); }
// Why the last run was not necessary, the model line's name in it escaped;
// empty for any other outcome.
QUARNEL_EXPORT(quarnel_note) const char* QuarnelNote() { return Run().note.data(); }
QUARNEL_EXPORT(quarnel_note_size) std::size_t QuarnelNoteSize() { return Run().note.size(); }
QUARNEL_EXPORT(quarnel_target_name) const char* QuarnelTargetName() { return Run().targetName.data(); }
QUARNEL_EXPORT(quarnel_target_name_size) std::size_t QuarnelTargetNameSize() { return Run().targetName.size(); }
QUARNEL_EXPORT(quarnel_target) const char* QuarnelTarget() { return Run().target.data(); }
QUARNEL_EXPORT(quarnel_target_size) std::size_t QuarnelTargetSize() { return Run().target.size(); }
