#include "quarnel/batch/batch_run.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "batch_system.h"
#include "quarnel/file_access_setup.h"
#include "target_folders.h"

namespace quarnel::batch {
namespace {

using Clock = std::chrono::steady_clock;

// How often a waiting batch reports its progress and looks at its cancel token.
constexpr auto kProgressInterval = std::chrono::milliseconds(100);

// Finished files wait for their commit in groups of up to this many: one
// sync of the file system for the group, then the renames. Workers stay at
// most kMostStaged files ahead of the last commit, which bounds the open
// folders and temporary files.
constexpr std::size_t kCommitGroup = 256;
constexpr std::size_t kMostStaged = 2 * kCommitGroup;
// How long finished files may wait for more to join their group.
constexpr auto kGroupWait = std::chrono::milliseconds(50);

// What the workers share with the thread that commits and prints.
struct BatchWork {
  BatchWork(const std::vector<PlannedFile>& plannedFiles, TargetWrite targetWrite, TargetPlacement targetPlacement,
            FolderTree& walked, const NameFunction& name, const CancelToken& token)
      : files(plannedFiles), write(targetWrite), placement(targetPlacement), sourceFolders(walked), displayName(name),
        cancel(token), results(plannedFiles.size()), folders(name) {
    // A staged file holds its folder and (on Linux) its unnamed file open;
    // the rest of the limit is left for sources, workers and the streams.
    const std::size_t limit = OpenFileLimit();
    if (limit / 4 < mostStaged) mostStaged = std::max<std::size_t>(limit / 4, 1);
    commitGroup = std::min(commitGroup, mostStaged);
  }

  const std::vector<PlannedFile>& files;
  const TargetWrite write;
  const TargetPlacement placement;
  FolderTree& sourceFolders;  // the folders the walk listed
  const NameFunction& displayName;
  const CancelToken& cancel;
  std::size_t mostStaged = kMostStaged;
  std::size_t commitGroup = kCommitGroup;
  std::atomic<std::size_t> next{0};
  bool stopped = false;                                   // guarded by `mutex`: take no more files
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::unique_ptr<StagedConversion>> results;  // guarded by `mutex`
  std::size_t committed = 0;                              // guarded by `mutex`: files done and printed
  TargetFolders folders;

  void Work() {
    // A signal is handled by the thread that commits and prints, never while
    // it renames and prints, so a worker never sees one.
    BlockCleanupSignalsInThisThread();
    for (;;) {
      const std::size_t index = next.fetch_add(1);
      if (index >= files.size()) return;
      {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return stopped || index < committed + mostStaged; });
        if (stopped || cancel.IsCancelled()) return;
      }
      Convert(index);
    }
  }

  // For a batch without workers: the next file, if any is left.
  bool ConvertNext() {
    const std::size_t index = next.fetch_add(1);
    if (index >= files.size()) return false;
    Convert(index);
    return true;
  }

  void Convert(std::size_t index) {
    {
      const PlannedFile& file = files[index];
      auto result = std::make_unique<StagedConversion>();
      std::string problem = file.problem;
      FileLocation source;
      FileLocation target;
      if (problem.empty() && file.targetOf.empty()) problem = Locate(file, source, target);
      if (!file.targetOf.empty()) {
        *result = SkipFile("the target of " + displayName(file.targetOf) + " in this batch");
      } else {
        *result = problem.empty() ? StageOneFile(source, target, write) : RefuseFile(problem);
      }
      std::lock_guard lock(mutex);
      results[index] = std::move(result);
      // The thread that commits wakes for the first file of its next group
      // and for a full group (or the last file); between them it looks by
      // itself, so a file costs no hand-off between threads.
      if (index == committed || index + 1 == committed + commitGroup || index + 1 == files.size())
        changed.notify_all();
    }
  }

  // Where the file's source and target are opened: a walked source in the
  // folder it was listed in, a target in its -o folder or (beside a walked
  // source) in the source's folder; any other by its path.
  // @return "" or the reason the file fails.
  std::string Locate(const PlannedFile& file, FileLocation& source, FileLocation& target) {
    source.path = file.source;
    target.path = file.target;
    std::string problem;
    if (file.folder) {
      source.folder = sourceFolders.Open(*file.folder, problem);
      if (source.folder == nullptr) return problem;
      source.name = file.source.filename();
      source.seen = file.seen;
      source.seenThroughLink = file.seenThroughLink;
    }
    if (write == TargetWrite::None) return {};
    if (placement == TargetPlacement::OutputFolder) {
      target.folder = folders.FolderFor(file.targetFolderBelow, problem);
      if (target.folder == nullptr) return problem;
    } else if (file.folder) {
      target.folder = source.folder;
    }
    if (target.folder != nullptr) target.name = file.target.filename();
    return {};
  }

  void Stop() {
    std::lock_guard lock(mutex);
    stopped = true;
    changed.notify_all();
  }
};

// Commits the group's staged files in order, sharing one sync where it can.
// One that fails (its rename, or the sync before it) stays as it was, and
// its file settles as a failure.
std::vector<FileConversion> CommitGroup(std::vector<std::unique_ptr<StagedConversion>>& group) {
  std::vector<StagedTarget*> targets;
  for (auto& file : group) {
    if (file->staged != nullptr) targets.push_back(file->staged.get());
  }
  CommitStagedTargets(targets);
  std::vector<FileConversion> settled;
  settled.reserve(group.size());
  for (auto& file : group) settled.push_back(SettleConversion(*file));
  return settled;
}

void Count(const FileConversion& file, BatchCounts& counts) {
  if (file.Failed()) {
    ++counts.failed;
  } else if (file.skipped) {
    ++counts.skipped;
  } else if (file.summary.outcome == RunOutcome::Converted) {
    ++counts.converted;
  } else {
    ++counts.notNecessary;
  }
}

}  // namespace

std::string PlainName(const std::filesystem::path& path) {
  try {
    const std::u8string name = path.u8string();
    return std::string(name.begin(), name.end());
  } catch (const std::exception&) {
    // A wide name that is no text (an unpaired surrogate): its characters one by one.
    std::string name;
    for (const auto c : path.native()) name += static_cast<unsigned>(c) < 0x80 ? static_cast<char>(c) : '?';
    return name;
  }
}

std::string FormatBatchCounts(const BatchCounts& counts) {
  std::string text = std::to_string(counts.converted) + " converted, " + std::to_string(counts.notNecessary) +
                     " not necessary, " + std::to_string(counts.failed) + " failed";
  if (counts.skipped != 0) text += ", " + std::to_string(counts.skipped) + " skipped";
  return text;
}

BatchOutcome RunBatch(const BatchOptions& options, const BatchCallbacks& callbacks, const CancelToken& cancel) {
  BatchOutcome outcome;
  FolderTree walked;
  const BatchPlan plan =
      PlanBatch(FindSources(options.paths, options.recursive, walked), options.placement, options.outputFolder);
  outcome.total = plan.files.size();
  if (!plan.refusals.empty()) {
    outcome.end = BatchEnd::Refused;
    outcome.refusals = plan.refusals;
    return outcome;
  }
  // Every target that Quarnel did not write is named before the batch stops.
  if (!options.force) {
    for (const PlannedFile& file : plan.files) {
      if (file.target.empty() || !file.problem.empty() || !file.targetOf.empty()) continue;
      TargetCheck check = CheckTargetOwner(file.source, file.target);
      if (check.owner != TargetOwner::Replaceable) outcome.foreignTargets.push_back({file.target, std::move(check)});
    }
    if (!outcome.foreignTargets.empty()) {
      outcome.end = BatchEnd::ForeignTargets;
      return outcome;
    }
  }

  BatchWork work(plan.files, options.dryRun ? TargetWrite::None : TargetWrite::Staged, options.placement, walked,
                 options.displayName, cancel);
  if (options.placement == TargetPlacement::OutputFolder && !options.dryRun) {
    if (std::string problem = work.folders.MakeOutputFolder(options.outputFolder, plan.files); !problem.empty()) {
      work.folders.RemoveEmptyFolders();
      outcome.end = BatchEnd::FolderFailed;
      outcome.problem = std::move(problem);
      return outcome;
    }
  }
  if (callbacks.onPlanned) callbacks.onPlanned(plan.files.size());
  auto progress = [&](std::size_t done) {
    if (callbacks.onProgress) callbacks.onProgress(done, plan.files.size());
  };
  unsigned jobs = options.jobs != 0 ? options.jobs : std::max(1u, std::thread::hardware_concurrency());
  jobs = static_cast<unsigned>(std::min<std::size_t>(jobs, std::max<std::size_t>(plan.files.size(), 1)));
  std::vector<std::thread> workers;
  for (unsigned i = 0; i < jobs && !cancel.IsCancelled(); ++i) {
    try {
      workers.emplace_back([&work] { work.Work(); });
    } catch (const std::system_error&) {
      // The system gives no more threads: the batch runs on those it gave,
      // or on this one.
      break;
    }
  }

  // A clean-up signal ends the process at once, wherever this thread is (the
  // engine removes every temporary file on the way out): a target whose
  // record was handed over is in place, every other is as it was or
  // converted.
  for (std::size_t index = 0; index < plan.files.size();) {
    std::vector<std::unique_ptr<StagedConversion>> group;
    {
      std::unique_lock lock(work.mutex);
      std::optional<Clock::time_point> firstReady;
      for (;;) {
        if (cancel.IsCancelled()) break;
        std::size_t ready = 0;
        while (ready < work.commitGroup && index + ready < plan.files.size() && work.results[index + ready] != nullptr)
          ++ready;
        if (ready > 0 && !firstReady) firstReady = Clock::now();
        // A full group, the end of the batch, or a short group that has waited long enough.
        if (ready == work.commitGroup || index + ready == plan.files.size() ||
            (ready > 0 && Clock::now() - *firstReady >= kGroupWait)) {
          for (std::size_t i = 0; i < ready; ++i) group.push_back(std::move(work.results[index + i]));
          break;
        }
        if (workers.empty()) {
          lock.unlock();
          work.ConvertNext();
          lock.lock();
          continue;
        }
        work.changed.wait_for(lock, ready > 0 ? kGroupWait : kProgressInterval);
        lock.unlock();
        progress(index);
        lock.lock();
      }
    }
    // A cancel seen before the group's commit leaves the group uncommitted:
    // its staged targets are abandoned with it.
    if (group.empty()) {
      outcome.end = BatchEnd::Cancelled;
      break;
    }
    const std::vector<FileConversion> settled = CommitGroup(group);
    if (callbacks.onCommitted) {
      std::size_t written = 0;
      for (const FileConversion& conversion : settled) written += conversion.written ? 1 : 0;
      callbacks.onCommitted(written);
    }
    for (const FileConversion& conversion : settled) {
      Count(conversion, outcome.counts);
      if (callbacks.onRecord) callbacks.onRecord(FileRecord{index, plan.files[index], conversion});
      ++index;
    }
    const bool goOn = callbacks.onGroupDone ? callbacks.onGroupDone() : true;
    progress(index);
    std::lock_guard lock(work.mutex);
    work.committed = index;
    work.changed.notify_all();
    if (!goOn) {
      outcome.end = BatchEnd::Stopped;
      break;
    }
  }
  if (outcome.end != BatchEnd::Finished) work.Stop();
  for (std::thread& worker : workers) worker.join();
  // Files converted but never committed take their temporary files with them.
  work.results.clear();
  work.folders.RemoveEmptyFolders();
  return outcome;
}

}  // namespace quarnel::batch
