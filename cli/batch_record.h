// What the command prints about one converted file: the JSON Lines record,
// the text line of a batch, and the failure message of the one-file form.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "file_conversion.h"

namespace quarnel::cli {

// One JSON object on one line, ended by a newline:
//   {"source": "...", "target": "..." | null, "outcome": "converted" |
//    "not-necessary" | "invalid-input" | "invalid-format" | "unknown-error" | "skipped",
//    "written": bool, "model": "TS9200" | null, "report": "...", "variables": [{"number": 51,
//    "description": "Prism Constant, AtmosPPM"}, ...], "applications": [...],
//    "failure": null | {"line": N | null, "reason": "..."}, "notes": ["..."]}
// "model" is what the source's model line names, null where it names
// nothing or there is none. A name that is not valid UTF-8 carries U+FFFD for each bad byte, and the
// record gains "sourceHex" or "targetHex" with the name's bytes in hex.
// `target` is nullptr when no legal target name could be made.
std::string FormatJsonRecord(const std::filesystem::path& source, const std::filesystem::path* target,
                             const FileConversion& file);

// A batch's line for one file, newline ended, names escaped for the terminal:
//   "jobs/a.frt -> out/QZ_a.frt: converted, 5 variables to move, 2 applications removed"
//   "jobs/b.frt -> out/QZ_b.frt: invalid format file: line 3: <reason>"
std::string FormatTextLine(const std::filesystem::path& source, const std::filesystem::path* target,
                           const FileConversion& file);

// The report under a file's line (-v), each line indented, then a blank line.
std::string FormatIndentedReport(std::string_view report);

// The one-file form's line on standard error for a failure:
//   "quarnel: NAME: [line N: ]REASON", NAME being the file the reason is about.
std::string FormatFailureMessage(const std::filesystem::path& source, const std::filesystem::path& target,
                                 const FileConversion& file);

}  // namespace quarnel::cli
