#include "batch_run.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <system_error>
#include <thread>
#include <vector>

#include "batch_plan.h"
#include "batch_record.h"
#include "batch_system.h"
#include "command_line.h"
#include "file_conversion.h"

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
  BatchWork(const std::vector<PlannedFile>& plannedFiles, TargetWrite targetWrite)
      : files(plannedFiles), write(targetWrite), results(plannedFiles.size()) {}

  const std::vector<PlannedFile>& files;
  const TargetWrite write;
  std::atomic<std::size_t> next{0};
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::unique_ptr<FileConversion>> results;  // guarded by `mutex`
  std::size_t committed = 0;                              // guarded by `mutex`: files done and printed
  std::set<std::filesystem::path> foldersMade;            // guarded by `mutex`

  // -o creates the folders below it as needed, once each.
  std::string MakeFolderFor(const std::filesystem::path& target) {
    const std::filesystem::path folder = target.parent_path();
    if (folder.empty()) return {};
    std::lock_guard lock(mutex);
    if (foldersMade.count(folder) != 0) return {};
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) return "cannot create the folder " + DisplayName(folder) + ": " + error.message();
    foldersMade.insert(folder);
    return {};
  }

  void Work() {
    for (;;) {
      const std::size_t index = next.fetch_add(1);
      if (index >= files.size()) return;
      {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return index < committed + kMostStaged; });
      }
      const PlannedFile& file = files[index];
      auto result = std::make_unique<FileConversion>();
      std::string problem = file.problem;
      if (problem.empty() && file.targetOf.empty() && write != TargetWrite::None) problem = MakeFolderFor(file.target);
      if (!file.targetOf.empty()) {
        *result = SkipFile("the target of " + DisplayName(file.targetOf) + " in this batch");
      } else {
        *result = problem.empty() ? ConvertOneFile(file.source, file.target, write) : RefuseFile(problem);
      }
      std::lock_guard lock(mutex);
      results[index] = std::move(result);
      changed.notify_all();
    }
  }
};

// Commits the group's staged files in order, sharing one sync where it can.
void CommitGroup(std::vector<std::unique_ptr<FileConversion>>& group) {
  std::vector<FileConversion*> waiting;
  for (auto& file : group) {
    if (file->staged != nullptr) waiting.push_back(file.get());
  }
  std::size_t from = 0;
  while (from < waiting.size()) {
    std::vector<StagedTarget*> targets;
    for (std::size_t i = from; i < waiting.size(); ++i) targets.push_back(waiting[i]->staged.get());
    const std::size_t count = CommitStagedTargets(targets);
    for (std::size_t i = 0; i < count; ++i) EndCommit(*waiting[from + i], true);
    from += count;
    // The next one failed (its rename, or the sync before it): it stays as it was; the rest try again.
    if (from < waiting.size()) EndCommit(*waiting[from++], false);
  }
}

}  // namespace

int RunBatch(const CommandOptions& options, std::ostream& out, std::ostream& err) {
  const Clock::time_point start = Clock::now();
  const BatchPlan plan =
      PlanBatch(FindSources(options.paths, options.recursive), options.placement, options.outputFolder);
  if (!plan.refusals.empty()) {
    for (const PlanRefusal& refusal : plan.refusals) err << DescribeRefusal(refusal);
    err << ProgramName() << ": nothing was converted\n";
    return kExitUsage;
  }

  BatchWork work(plan.files, options.dryRun ? TargetWrite::None : TargetWrite::Staged);
  unsigned jobs = options.jobs != 0 ? options.jobs : std::max(1u, std::thread::hardware_concurrency());
  jobs = static_cast<unsigned>(std::min<std::size_t>(jobs, std::max<std::size_t>(plan.files.size(), 1)));
  std::vector<std::thread> workers;
  for (unsigned i = 0; i < jobs; ++i) workers.emplace_back([&work] { work.Work(); });

  ProgressLine progress(out, err, IsErrorTerminal() && !options.json, plan.files.size(), start);
  std::size_t converted = 0;
  std::size_t notNecessary = 0;
  std::size_t failed = 0;
  std::size_t skippedCount = 0;
  // Ctrl+C ends the process at once (the engine removes every temporary file
  // on the way out), so each file is printed only once its target is in place.
  for (std::size_t index = 0; index < plan.files.size();) {
    std::vector<std::unique_ptr<FileConversion>> group;
    {
      std::unique_lock lock(work.mutex);
      std::optional<Clock::time_point> firstReady;
      for (;;) {
        std::size_t ready = 0;
        while (ready < kCommitGroup && index + ready < plan.files.size() && work.results[index + ready] != nullptr)
          ++ready;
        if (ready > 0 && !firstReady) firstReady = Clock::now();
        // A full group, the end of the batch, or a short group that has waited long enough.
        if (ready == kCommitGroup || index + ready == plan.files.size() ||
            (ready > 0 && Clock::now() - *firstReady >= kGroupWait)) {
          for (std::size_t i = 0; i < ready; ++i) group.push_back(std::move(work.results[index + i]));
          break;
        }
        out.flush();
        work.changed.wait_for(lock, ready > 0 ? kGroupWait : kProgressInterval);
        lock.unlock();
        progress.Draw(index);
        lock.lock();
      }
    }
    CommitGroup(group);
    for (const auto& result : group) {
      const PlannedFile& file = plan.files[index++];
      const bool skipped = result->outcome == Outcome::Skipped;
      const std::filesystem::path* target = file.target.empty() || skipped ? nullptr : &file.target;
      progress.Wipe();
      if (options.json) {
        out << FormatJsonRecord(file.source, target, *result);
      } else if (options.verbosity == Verbosity::Quiet) {
        if (result->Failed()) err << FormatTextLine(file.source, target, *result);
      } else {
        out << FormatTextLine(file.source, target, *result);
        if (options.verbosity == Verbosity::Verbose && !skipped) out << FormatIndentedReport(result->report);
      }
      if (result->Failed()) {
        ++failed;
      } else if (skipped) {
        ++skippedCount;
      } else if (result->outcome == Outcome::Converted) {
        ++converted;
      } else {
        ++notNecessary;
      }
    }
    progress.Draw(index);
    std::lock_guard lock(work.mutex);
    work.committed = index;
    work.changed.notify_all();
  }
  for (std::thread& worker : workers) worker.join();
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

  if (failed != 0) return kExitFailed;
  if (!out) {
    err << ProgramName() << ": cannot write to standard output\n";
    return kExitReportLost;
  }
  return kExitCompleted;
}

}  // namespace quarnel::cli
