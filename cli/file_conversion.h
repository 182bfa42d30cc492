// One file converted through the engine, with what the command prints about
// it: the outcome, the report, and a failure's line and reason.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "quarnel/conversion_state.h"
#include "quarnel/staged_target.h"

namespace quarnel::cli {

// Skipped: left alone by a batch, as the target of another of its sources.
enum class Outcome : std::uint8_t { Converted, NotNecessary, InvalidInput, InvalidFormatFile, UnknownError, Skipped };

struct FileConversion {
  Outcome outcome = Outcome::Converted;
  // The report exactly as the engine composed it.
  std::string report;
  // Variables to move and removed applications as the report lists them;
  // empty unless converted.
  NumberList variables = ConversionState::EmptyList();
  NumberList applications = ConversionState::EmptyList();
  // The target was created or replaced.
  bool written = false;
  // A failure's line in the source (0: not about a line) and its reason
  // without the file's name.
  std::uint64_t failureLine = 0;
  std::string failureReason;
  // The reason is about the target rather than the source.
  bool failureNamesTarget = false;
  // Remarks on a run that did not fail, such as text left behind the end marker.
  std::vector<std::string> notes;
  // With TargetWrite::Staged: the completed text, finished (its sync deferred)
  // and waiting for CommitStagedTargets; then EndCommit.
  std::unique_ptr<StagedTarget> staged;

  bool Failed() const {
    return outcome != Outcome::Converted && outcome != Outcome::NotNecessary && outcome != Outcome::Skipped;
  }
};

// What becomes of the converted text.
enum class TargetWrite : std::uint8_t {
  Now,     // the target is replaced (and synced) before the call returns
  Staged,  // a completed conversion waits in FileConversion::staged
  None,    // converted in memory and thrown away; the target is not touched
};

// Converts `source` into `target` exactly as the one-file command does, with
// a fresh state and the same rules for the target.
FileConversion ConvertOneFile(const std::filesystem::path& source, const std::filesystem::path& target,
                              TargetWrite write);

// After CommitStagedTargets: a committed file counts as written; one that
// could not be committed becomes a failure (its target as it was).
void EndCommit(FileConversion& file, bool committed);

// A file refused before its conversion began: invalid input for `reason`.
FileConversion RefuseFile(std::string reason);

// A file a batch leaves alone, with the note that says why; no report.
FileConversion SkipFile(std::string note);

}  // namespace quarnel::cli
