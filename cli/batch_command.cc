#include "batch_command.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>

#include "batch_record.h"
#include "command_output.h"
#include "quarnel/batch/batch_csv.h"
#include "quarnel/batch/batch_run.h"
#include "quarnel/file_access_setup.h"

namespace quarnel::cli {
namespace {

using Clock = std::chrono::steady_clock;

// The progress line waits this long before it shows, and is redrawn at most this often.
constexpr auto kProgressDelay = std::chrono::seconds(1);
constexpr auto kProgressInterval = std::chrono::milliseconds(100);

std::string DescribeRefusal(const batch::PlanRefusal& refusal) {
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

}  // namespace

int RunBatchCommand(const CommandOptions& options, std::ostream& out, std::ostream& err) {
  const Clock::time_point start = Clock::now();
  batch::BatchOptions batchOptions;
  batchOptions.paths = options.paths;
  batchOptions.placement = options.placement;
  batchOptions.outputFolder = options.outputFolder;
  batchOptions.recursive = options.recursive;
  batchOptions.dryRun = options.dryRun;
  batchOptions.force = options.force;
  batchOptions.jobs = options.jobs;
  batchOptions.displayName = DisplayName;

  // A clean-up signal ends the process at once, wherever this thread is:
  // a target whose line was printed is in place, every other is as it was or
  // converted. Targets in place whose lines are not out yet are counted for
  // the note the clean-up writes.
  static std::atomic<std::size_t> unprinted{0};
  static const std::string notePrefix = std::string(ProgramName()) + ": stopped by a signal; ";
  SetCleanupNote(notePrefix.c_str(), &unprinted, " targets converted without a printed line\n");
  // A group's lines go out in pieces of whole lines, each counted out of
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

  std::optional<ProgressLine> progress;
  batch::BatchCallbacks callbacks;
  callbacks.onPlanned = [&](std::size_t total) {
    progress.emplace(out, err, IsErrorTerminal() && !options.json && !options.csv, total, start);
    if (options.csv) out << batch::FormatCsvHeader();
  };
  callbacks.onProgress = [&](std::size_t done, std::size_t) { progress->Draw(done); };
  callbacks.onCommitted = [&](std::size_t written) { unprinted.store(written); };
  callbacks.onRecord = [&](const batch::FileRecord& record) {
    const batch::FileConversion& result = record.conversion;
    const std::filesystem::path& source = record.file.source;
    const std::filesystem::path* target = record.Target();
    progress->Wipe();
    std::string text;
    if (options.json) {
      text = FormatJsonRecord(source, target, result);
    } else if (options.csv) {
      text = batch::FormatCsvRow(source, target, result);
    } else if (options.verbosity == Verbosity::Quiet) {
      if (result.Failed()) err << FormatTextLine(source, target, result);
    } else {
      text = FormatTextLine(source, target, result);
      if (options.verbosity == Verbosity::Verbose && !result.skipped) text += FormatIndentedReport(result.summary.report);
    }
    if (!piece.empty() && piece.size() + text.size() > kOutputPieceSize) printPiece();
    piece += text;
    pieceWritten += result.written ? 1 : 0;
  };
  // A closed standard output (EPIPE): no more files are taken.
  callbacks.onGroupDone = [&] {
    printPiece();
    return static_cast<bool>(out);
  };

  const batch::CancelToken never;
  const batch::BatchOutcome outcome = batch::RunBatch(batchOptions, callbacks, never);
  if (outcome.end == batch::BatchEnd::Refused) {
    for (const batch::PlanRefusal& refusal : outcome.refusals) err << DescribeRefusal(refusal);
    err << ProgramName() << ": nothing was converted\n";
    return kExitUsage;
  }
  if (outcome.end == batch::BatchEnd::ForeignTargets) {
    for (const batch::ForeignTarget& foreign : outcome.foreignTargets)
      err << ProgramName() << ": " << DisplayName(foreign.target) << ": not replaced: " << DescribeForeignTarget(foreign.check)
          << "\n";
    err << ProgramName() << ": to replace such files anyway, use --force\n" << ProgramName() << ": nothing was converted\n";
    return kExitUsage;
  }
  if (outcome.end == batch::BatchEnd::FolderFailed) {
    err << ProgramName() << ": " << outcome.problem << "\n" << ProgramName() << ": nothing was converted\n";
    return kExitUsage;
  }
  if (progress) progress->Wipe();
  out.flush();

  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  char elapsed[48];
  std::snprintf(elapsed, sizeof elapsed, " in %.2f s", seconds);
  err << batch::FormatBatchCounts(outcome.counts) << elapsed << (options.dryRun ? " (dry run: nothing written)\n" : "\n");

  // Said even when a file failed: that file's line may be what was lost.
  if (!out) err << ProgramName() << ": cannot write to standard output" << OutputErrorText() << "\n";
  if (outcome.counts.failed != 0) return kExitFailed;
  return out ? kExitCompleted : kExitReportLost;
}

}  // namespace quarnel::cli
