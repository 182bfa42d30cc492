// One file converted through the engine, with what a batch or the command
// line reports about it: the engine's summary and whether the target was
// written. The summary is made once, when the target's fate is known.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "quarnel/conversion_state.h"
#include "quarnel/conversion_types.h"
#include "quarnel/staged_target.h"

namespace quarnel::batch {

struct FileConversion {
  // What the engine made of the file: outcome, report, entries, failure, notes.
  ConversionSummary summary;
  // The target was created or replaced.
  bool written = false;
  // Left alone by a batch, as the target of another of its sources; the note
  // says which.
  bool skipped = false;

  bool Failed() const { return summary.Failed(); }
};

// What becomes of the converted text.
enum class TargetWrite : std::uint8_t {
  Synced,  // a completed conversion, its data synced, waits in StagedConversion::staged for its Commit
  Staged,  // a completed conversion waits in StagedConversion::staged, its sync deferred
  None,    // converted in memory and thrown away; the target is not touched
};

// A file whose run is over but whose target may still wait for its commit.
// SettleConversion turns it into the one FileConversion it comes to.
struct StagedConversion {
  ConversionOutcome outcome;
  ConversionState state;
  // With TargetWrite::Staged: the completed text, finished (its sync
  // deferred) and waiting for CommitStagedTargets; with TargetWrite::Synced,
  // finished and waiting for its Commit. Null for every other outcome.
  std::unique_ptr<StagedTarget> staged;
  // Already written where it stands (a stream target such as /dev/stdout).
  bool written = false;
  // Set for a file refused or skipped before its run: its conversion as is.
  std::unique_ptr<FileConversion> settled;
};

// Converts `source` into `target` exactly as the one-file command does, with
// a fresh state and the same rules for the target.
StagedConversion StageOneFile(const std::filesystem::path& source, const std::filesystem::path& target,
                              TargetWrite write);
// The same for files in folders held open (a batch's walked sources, its -o folders).
StagedConversion StageOneFile(const FileLocation& source, const FileLocation& target, TargetWrite write);

// The file's one outcome, after Commit or CommitStagedTargets has been tried
// (or never, for a run that staged nothing): a committed file counts as
// written; a staged one that was not committed is a failure (its target as
// it was, its temporary file removed).
FileConversion SettleConversion(StagedConversion& file);

// A file refused before its conversion began: invalid input for `reason`.
StagedConversion RefuseFile(std::string reason);

// A file a batch leaves alone, with the note that says why; no report.
StagedConversion SkipFile(std::string note);

// The record's name for the outcome: "converted", "not-necessary",
// "invalid-input", "invalid-format", "unknown-error" or "skipped".
std::string_view OutcomeName(const FileConversion& file);

// The same in words, as a batch's line and the results window show it:
// "converted", "not necessary", "invalid input", "invalid format file",
// "unknown error" or "skipped".
std::string_view OutcomeText(const FileConversion& file);

}  // namespace quarnel::batch
