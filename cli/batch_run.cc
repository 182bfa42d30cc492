#include "batch_run.h"

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

#include "batch_plan.h"
#include "batch_record.h"
#include "batch_system.h"
#include "command_line.h"
#include "file_conversion.h"
#include "quarnel/file_access_setup.h"
#include "target_folders.h"
#include "target_guard.h"

namespace quarnel::cli {
namespace {

using Clock = std::chrono::steady_clock;

// The progress line waits this long before it shows, and is redrawn at most this often.
constexpr auto kProgressDelay = std::chrono::seconds(1);
constexpr auto kProgressInterval = std::chrono::milliseconds(100);

std::string DescribeRefusal(const PlanRefusal& refusal) {
  return std::string(ProgramName()) + ": " + DisplayName(refusal.first) + " and " + DisplayName(refusal.second) +
         " would both be converted into " + DisplayName(refusal.target) + "\n";
}

// The progress line on a terminal: drawn over itself with a carriage return,
// and wiped before anything else is printed.
class ProgressLine {
 public:
  ProgressLine(std::ostream& out, std::ostream& err, bool enabled, std::size_t total, Clock::time_point start)
      : out_(out), err_(err), enabled_(enabled), total_(total), start_(start) {}

  void Draw(std::size_t done) {
    const Clock::time_point now = Clock::now();
    if (!enabled_ || now - start_ < kProgressDelay || now - drawn_ < kProgressInterval) return;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, "%zu of %zu files, %.0f files/s", done, total_,
                  static_cast<double>(done) / seconds);
    std::string text(buffer);
    // Spaces cover the rest of a longer line drawn before.
    const std::size_t width = std::max(width_, text.size());
    text.resize(width, ' ');
    out_.flush();
    err_ << '\r' << text << std::flush;
    width_ = width;
    drawn_ = now;
  }

  void Wipe() {
    if (width_ == 0) return;
    out_.flush();
    err_ << '\r' << std::string(width_, ' ') << '\r' << std::flush;
    width_ = 0;
  }

 private:
  std::ostream& out_;
  std::ostream& err_;
  const bool enabled_;
  const std::size_t total_;
  const Clock::time_point start_;
  Clock::time_point drawn_{};
  std::size_t width_ = 0;
};

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
            FolderTree& walked)
      : files(plannedFiles), write(targetWrite), placement(targetPlacement), sourceFolders(walked),
        results(plannedFiles.size()) {
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
  std::size_t mostStaged = kMostStaged;
  std::size_t commitGroup = kCommitGroup;
  std::atomic<std::size_t> next{0};
  bool stopped = false;                                   // guarded by `mutex`: take no more files
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::unique_ptr<FileConversion>> results;  // guarded by `mutex`
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
        if (stopped) return;
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
      auto result = std::make_unique<FileConversion>();
      std::string problem = file.problem;
      FileLocation source;
      FileLocation target;
      if (problem.empty() && file.targetOf.empty()) problem = Locate(file, source, target);
      if (!file.targetOf.empty()) {
        *result = SkipFile("the target of " + DisplayName(file.targetOf) + " in this batch");
      } else {
        *result = problem.empty() ? ConvertOneFile(source, target, write) : RefuseFile(problem);
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
void CommitGroup(std::vector<std::unique_ptr<FileConversion>>& group) {
  std::vector<FileConversion*> waiting;
  for (auto& file : group) {
    if (file->staged != nullptr) waiting.push_back(file.get());
  }
  std::vector<StagedTarget*> targets;
  for (FileConversion* file : waiting) targets.push_back(file->staged.get());
  CommitStagedTargets(targets);
  // One that failed (its rename, or the sync before it) stays as it was.
  for (FileConversion* file : waiting) EndCommit(*file, file->staged->Committed());
}

}  // namespace

int RunBatch(const CommandOptions& options, std::ostream& out, std::ostream& err) {
  const Clock::time_point start = Clock::now();
  FolderTree walked;
  const BatchPlan plan =
      PlanBatch(FindSources(options.paths, options.recursive, walked), options.placement, options.outputFolder);
  if (!plan.refusals.empty()) {
    for (const PlanRefusal& refusal : plan.refusals) err << DescribeRefusal(refusal);
    err << ProgramName() << ": nothing was converted\n";
    return kExitUsage;
  }

  // Every target that Quarnel did not write is named before the batch stops.
  if (!options.force) {
    bool refused = false;
    for (const PlannedFile& file : plan.files) {
      if (file.target.empty() || !file.problem.empty() || !file.targetOf.empty()) continue;
      if (const std::string problem = ForeignTargetProblem(file.source, file.target); !problem.empty()) {
        err << ProgramName() << ": " << DisplayName(file.target) << ": not replaced: " << problem << "\n";
        refused = true;
      }
    }
    if (refused) {
      err << ProgramName() << ": to replace such files anyway, use --force\n" << ProgramName() << ": nothing was converted\n";
      return kExitUsage;
    }
  }

  BatchWork work(plan.files, options.dryRun ? TargetWrite::None : TargetWrite::Staged, options.placement, walked);
  if (options.placement == TargetPlacement::OutputFolder && !options.dryRun) {
    if (const std::string problem = work.folders.MakeOutputFolder(options.outputFolder, plan.files);
        !problem.empty()) {
      work.folders.RemoveEmptyFolders();
      err << ProgramName() << ": " << problem << "\n" << ProgramName() << ": nothing was converted\n";
      return kExitUsage;
    }
  }
  unsigned jobs = options.jobs != 0 ? options.jobs : std::max(1u, std::thread::hardware_concurrency());
  jobs = static_cast<unsigned>(std::min<std::size_t>(jobs, std::max<std::size_t>(plan.files.size(), 1)));
  std::vector<std::thread> workers;
  for (unsigned i = 0; i < jobs; ++i) {
    try {
      workers.emplace_back([&work] { work.Work(); });
    } catch (const std::system_error&) {
      // The system gives no more threads: the batch runs on those it gave,
      // or on this one.
      break;
    }
  }

  ProgressLine progress(out, err, IsErrorTerminal() && !options.json, plan.files.size(), start);
  std::size_t converted = 0;
  std::size_t notNecessary = 0;
  std::size_t failed = 0;
  bool reportLost = false;
  std::size_t skippedCount = 0;
  // A clean-up signal ends the process at once, wherever this thread is (the
  // engine removes every temporary file on the way out): a target whose line
  // was printed is in place, every other is as it was or converted. Targets
  // in place whose lines are not out yet are counted for the note the
  // clean-up writes.
  static std::atomic<std::size_t> unprinted{0};
  static const std::string notePrefix = std::string(ProgramName()) + ": stopped by a signal; ";
  SetCleanupNote(notePrefix.c_str(), &unprinted, " targets converted without a printed line\n");
  for (std::size_t index = 0; index < plan.files.size() && !reportLost;) {
    std::vector<std::unique_ptr<FileConversion>> group;
    {
      std::unique_lock lock(work.mutex);
      std::optional<Clock::time_point> firstReady;
      for (;;) {
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
        progress.Draw(index);
        lock.lock();
      }
    }
    CommitGroup(group);
    std::size_t written = 0;
    for (const auto& result : group) written += result->written ? 1 : 0;
    unprinted.store(written);
    // The group's lines go out in pieces of whole lines, each counted out of
    // `unprinted` once the system has taken it.
    std::string piece;
    std::size_t pieceWritten = 0;
    const auto printPiece = [&] {
      out << piece;
      out.flush();
      if (out) unprinted.fetch_sub(pieceWritten);
      piece.clear();
      pieceWritten = 0;
    };
    for (const auto& result : group) {
      const PlannedFile& file = plan.files[index++];
      const bool skipped = result->skipped;
      const std::filesystem::path* target = file.target.empty() || skipped ? nullptr : &file.target;
      progress.Wipe();
      std::string text;
      if (options.json) {
        text = FormatJsonRecord(file.source, target, *result);
      } else if (options.verbosity == Verbosity::Quiet) {
        if (result->Failed()) err << FormatTextLine(file.source, target, *result);
      } else {
        text = FormatTextLine(file.source, target, *result);
        if (options.verbosity == Verbosity::Verbose && !skipped) text += FormatIndentedReport(result->summary.report);
      }
      if (!piece.empty() && piece.size() + text.size() > kOutputPieceSize) printPiece();
      piece += text;
      pieceWritten += result->written ? 1 : 0;
      if (result->Failed()) {
        ++failed;
      } else if (skipped) {
        ++skippedCount;
      } else if (result->summary.outcome == RunOutcome::Converted) {
        ++converted;
      } else {
        ++notNecessary;
      }
    }
    printPiece();
    // A closed standard output (EPIPE): no more files are taken.
    reportLost = !out;
    progress.Draw(index);
    std::lock_guard lock(work.mutex);
    work.committed = index;
    work.changed.notify_all();
  }
  if (reportLost) work.Stop();
  for (std::thread& worker : workers) worker.join();
  work.folders.RemoveEmptyFolders();
  progress.Wipe();
  out.flush();

  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  char summary[160];
  std::snprintf(summary, sizeof summary, "%zu converted, %zu not necessary, %zu failed in %.2f s", converted,
                notNecessary, failed, seconds);
  if (skippedCount != 0) {
    std::snprintf(summary, sizeof summary, "%zu converted, %zu not necessary, %zu failed, %zu skipped in %.2f s",
                  converted, notNecessary, failed, skippedCount, seconds);
  }
  err << summary << (options.dryRun ? " (dry run: nothing written)\n" : "\n");

  // Said even when a file failed: that file's line may be what was lost.
  if (!out) err << ProgramName() << ": cannot write to standard output" << OutputErrorText() << "\n";
  if (failed != 0) return kExitFailed;
  return out ? kExitCompleted : kExitReportLost;
}

}  // namespace quarnel::cli
