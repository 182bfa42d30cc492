// A batch: many sources, each converted as the one-file command converts it,
// in parallel, each file's record handed over in the order of the sources.
// Free of any window system and of the process's signals: the command line
// and both dialogs run the same batch.
#pragma once

#include <atomic>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "quarnel/batch/batch_plan.h"
#include "quarnel/batch/file_conversion.h"
#include "quarnel/batch/target_guard.h"

namespace quarnel::batch {

// Asks a running batch to stop. Safe from any thread, and from a signal
// handler (one lock-free store).
class CancelToken {
 public:
  void Cancel() { m_bCancelled.store(true, std::memory_order_relaxed); }
  bool IsCancelled() const { return m_bCancelled.load(std::memory_order_relaxed); }

 private:
  std::atomic<bool> m_bCancelled{false};
};
static_assert(std::atomic<bool>::is_always_lock_free);

// How a message or note writes a file's name ("the target of NAME in this
// batch"): the command line escapes it for the terminal.
using NameFunction = std::function<std::string(const std::filesystem::path&)>;

// A name as UTF-8 where the system's names are wide, as stored elsewhere.
std::string PlainName(const std::filesystem::path& path);

struct BatchOptions {
  std::vector<std::filesystem::path> paths;
  // Beside each source, or below `outputFolder`.
  TargetPlacement placement = TargetPlacement::Beside;
  std::filesystem::path outputFolder;
  // A folder's sub-folders are walked too.
  bool recursive = false;
  // Converted in memory; nothing is written.
  bool dryRun = false;
  // Replace targets that Quarnel did not write (CheckTargetOwner).
  bool force = false;
  // Files converted at a time; 0: as many as the machine has cores.
  unsigned jobs = 0;
  NameFunction displayName = PlainName;
};

// One source's result, handed over once its target is in place (or its
// outcome is known without one).
struct FileRecord {
  std::size_t index;  // in the plan's order, from 0
  const PlannedFile& file;
  const FileConversion& conversion;
  // The target a record names: none when no legal name could be made or the
  // file was skipped.
  const std::filesystem::path* Target() const {
    return file.target.empty() || conversion.skipped ? nullptr : &file.target;
  }
};

// What the batch tells its caller, always on the thread that called
// RunBatch; a window's host moves them to its own thread.
struct BatchCallbacks {
  // Once, after the plan and before any file is converted: how many files
  // the batch holds.
  std::function<void(std::size_t total)> onPlanned;
  // After each group's commit, before its records: how many of its targets
  // were put in place (a signal may end the process before they are told).
  std::function<void(std::size_t written)> onCommitted;
  // Each file in the order of the sources, just after its group's commit.
  std::function<void(const FileRecord& record)> onRecord;
  // After each group's records. @return false to stop taking files (the
  // output they go to is lost); the batch then ends as Stopped.
  std::function<bool()> onGroupDone;
  // Now and then while files convert, and after each group: files done of
  // the total.
  std::function<void(std::size_t done, std::size_t total)> onProgress;
};

enum class BatchEnd : std::uint8_t {
  Finished,      // every file was taken
  Refused,       // two sources share a target: nothing was written (`refusals`)
  ForeignTargets,  // without `force`, targets that Quarnel did not write: nothing was written (`foreignTargets`)
  FolderFailed,  // the output folder cannot be made or written: nothing was written (`problem`)
  Cancelled,     // the token was set: files reported so far are in place, every other as it was
  Stopped,       // onGroupDone asked to stop, with the same promise
};

struct BatchCounts {
  std::size_t converted = 0;
  std::size_t notNecessary = 0;
  std::size_t failed = 0;
  std::size_t skipped = 0;
};

// A target the batch would replace that Quarnel did not write.
struct ForeignTarget {
  std::filesystem::path target;
  TargetCheck check;
};

struct BatchOutcome {
  BatchEnd end = BatchEnd::Finished;
  std::vector<PlanRefusal> refusals;
  std::vector<ForeignTarget> foreignTargets;  // every one, in the order of the sources
  std::string problem;  // with FolderFailed, without the program's name
  std::size_t total = 0;  // files in the plan
  BatchCounts counts;     // of the files reported
};

// Finds the sources, plans their targets (refusing collisions, and without
// `options.force` targets that Quarnel did not write, before anything is
// written), converts them with `options.jobs` workers and hands
// each file's record to `callbacks.onRecord` in the order of the sources.
// The targets are committed in groups that share one sync of the file
// system, and a file's outcome is settled once, after its commit. A set
// `cancel` is seen within a tenth of a second: the files whose records were
// handed over keep their targets, every other target stays as it was, and
// no temporary file remains. A signal that ends the process is never held
// back: the targets of a group just committed may then be in place without
// their records (onCommitted counts them).
BatchOutcome RunBatch(const BatchOptions& options, const BatchCallbacks& callbacks, const CancelToken& cancel);

// "28 converted, 1 not necessary, 1 failed", and ", 2 skipped" when any were.
std::string FormatBatchCounts(const BatchCounts& counts);

}  // namespace quarnel::batch
