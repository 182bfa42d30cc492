// One file converted through the engine, with what the command prints about
// it: the engine's summary and whether the target was written.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "quarnel/conversion_types.h"
#include "quarnel/staged_target.h"

namespace quarnel::cli {

struct FileConversion {
  // What the engine made of the file: outcome, report, entries, failure, notes.
  ConversionSummary summary;
  // The target was created or replaced.
  bool written = false;
  // Left alone by a batch, as the target of another of its sources; the note
  // says which.
  bool skipped = false;
  // With TargetWrite::Staged: the completed text, finished (its sync deferred)
  // and waiting for CommitStagedTargets; with TargetWrite::Synced, finished
  // and waiting for its Commit; then EndCommit.
  std::unique_ptr<StagedTarget> staged;

  bool Failed() const { return summary.Failed(); }
};

// What becomes of the converted text.
enum class TargetWrite : std::uint8_t {
  Synced,  // a completed conversion, its data synced, waits in FileConversion::staged for its Commit
  Staged,  // a completed conversion waits in FileConversion::staged, its sync deferred
  None,    // converted in memory and thrown away; the target is not touched
};

// Converts `source` into `target` exactly as the one-file command does, with
// a fresh state and the same rules for the target.
FileConversion ConvertOneFile(const std::filesystem::path& source, const std::filesystem::path& target,
                              TargetWrite write);
// The same for files in folders held open (a batch's walked sources, its -o folders).
FileConversion ConvertOneFile(const FileLocation& source, const FileLocation& target, TargetWrite write);

// After CommitStagedTargets or Commit: a committed file counts as written; one that
// could not be committed becomes a failure (its target as it was).
void EndCommit(FileConversion& file, bool committed);

// A file refused before its conversion began: invalid input for `reason`.
FileConversion RefuseFile(std::string reason);

// A file a batch leaves alone, with the note that says why; no report.
FileConversion SkipFile(std::string note);

}  // namespace quarnel::cli
