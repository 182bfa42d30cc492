// The words the engine's layers share: why a run failed, how long a chunk
// may be, and the result of a run as every front end reads it. The driver,
// the converters, the walk and the file layer take these from here; this
// header includes none of theirs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quarnel {

// Why a run ended on the source's content with ResultInvalidFormatFile.
enum class FormatFailure : std::uint8_t {
  None,
  MissingFrtTag,    // a kind-t header line without "FRT" at positions 4 to 6
  LineTooLong,      // a header or format line longer than a chunk holds
  NoTerminator,     // a header or format line without a terminator before the end
  NulByte,          // a NUL byte in the source; nothing behind it is read
  Utf16Text,        // the source begins with a UTF-16 byte-order mark
  InPlaceDropsTail, // converting a file onto itself would drop what stands behind its end marker
};

// Which file operation failed, for ResultInvalidInput and ResultFileError.
enum class FileFailure : std::uint8_t {
  None,
  OpenSource,     // ResultInvalidInput
  OpenTarget,     // ResultInvalidInput: the target's folder refused a new file
  ReadSource,     // ResultFileError
  WriteTarget,    // ResultFileError
  ReplaceTarget,  // ResultFileError: the finished text could not take the target's place
  SourceIsFolder, // ResultInvalidInput
  TargetIsFolder, // ResultInvalidInput
  TargetReadOnly, // ResultInvalidInput: the caller may not write the existing target
  UnsafeLink,     // ResultInvalidInput: a link in the target's path owned by neither the caller nor root
  DanglingLink,   // ResultInvalidInput: the target is a link to nothing
  LinkLoop,       // ResultInvalidInput: the target's links never end at a file
  TargetChanged,  // ResultInvalidInput: the target opened was not the file checked
  SourceChanged,  // ResultInvalidInput: the source opened was not the regular file a folder walk saw
};

// A chunk holds at most this many characters in front of its terminating NUL.
// Header and format lines that a chunk does not hold whole are not converted.
inline constexpr std::size_t kMaxChunkLength = 2047;

// What a run came to. A failure is told by its report's kind.
enum class RunOutcome : std::uint8_t { Converted, NotNecessary, InvalidInput, InvalidFormatFile, UnknownError };

// A flagged variable or a removed application: its number and its
// description as the report lists it, "51: Prism Constant, AtmosPPM" giving
// 51 and "Prism Constant, AtmosPPM".
struct ReportedEntry {
  std::int16_t number = 0;
  std::string description;
};

// Why a run failed, without the name of the file it is about.
struct RunFailure {
  // The source's line at fault, counted from 1; 0 when the failure is not about a line.
  std::uint64_t line = 0;
  // "NUL byte; a format file holds text only", "cannot open the source"
  std::string reason;
  // The operating system's message, else empty: "No such file or directory".
  std::string systemMessage;
  // The reason is about the target rather than the source.
  bool namesTarget = false;
};

// The result of one run, the one value every front end shows: built by
// SummarizeConversion (conversion_summary.h).
struct ConversionSummary {
  RunOutcome outcome = RunOutcome::Converted;
  // The report exactly as the engine composed it, as single-byte text.
  std::string report;
  // Variables to move and removed applications in the report's order; empty
  // unless converted.
  std::vector<ReportedEntry> variables;
  std::vector<ReportedEntry> applications;
  // What the source's model line named, its bytes as they stand
  // (ConversionState::m_strModelName); unset when the run met no model line.
  std::optional<std::string> model;
  // Set when the run failed.
  RunFailure failure;
  // Remarks on a run that did not fail, one line each, without a file's name:
  // "line 7: end marker (byte 0xFF); the 12 bytes behind it were not converted".
  std::vector<std::string> notes;

  bool Failed() const { return outcome != RunOutcome::Converted && outcome != RunOutcome::NotNecessary; }
};

}  // namespace quarnel
