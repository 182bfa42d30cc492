#include "command_line.h"

#include <string_view>

#include "batch_command.h"
#include "batch_record.h"
#include "quarnel/batch/batch_csv.h"
#include "quarnel/batch/batch_plan.h"
#include "quarnel/batch/file_conversion.h"
#include "quarnel/batch/target_guard.h"
#include "quarnel/file_access_setup.h"
#include "quarnel/target_name.h"
#include "quarnel/version.h"

namespace quarnel::cli {
namespace {

constexpr std::string_view kUsage =
    "Usage: quarnel [OPTIONS] SOURCE [TARGET]\n"
    "       quarnel [OPTIONS] -o DIR PATH...\n"
    "       quarnel [OPTIONS] -b PATH...\n"
    "       quarnel --help | --version\n";

constexpr std::string_view kHelp =
    "\n"
    "Converts a format file made for the KRV110, KRV330, KRV440 or KRV880 total\n"
    "station into one for the QZ21/25/27 family and prints the conversion report.\n"
    "Without TARGET the converted file is QZ_ followed by the source's file name,\n"
    "in the source's folder. Only a completed conversion creates or replaces the\n"
    "target; every other outcome leaves it as it was.\n"
    "\n"
    "With -o or -b, a batch: a PATH that is a file is converted whatever its name;\n"
    "a PATH that is a folder gives its .frt files (the extension in any case),\n"
    "except names beginning with QZ_ (earlier targets) or a dot. Each file is\n"
    "converted as it would be alone; one line per file goes to standard output in\n"
    "the order of the PATHs (a folder's files sorted by name), then a summary to\n"
    "standard error. Two sources with one target stop the batch before anything\n"
    "is written; a source that is another's target (an earlier run's QZ_ file)\n"
    "is skipped.\n"
    "\n"
    "An existing target whose model line names anything but QZ21/25/27 (an\n"
    "original, another instrument's file), or that cannot be read to tell, is\n"
    "not replaced unless --force is given: a batch then stops before anything is\n"
    "written.\n"
    "\n"
    "  -o, --output-dir DIR  batch: write QZ_<name> into DIR, a folder's files at\n"
    "                        their place below it; folders are made as needed\n"
    "  -b, --beside          batch: write QZ_<name> beside each source\n"
    "  -r, --recursive       batch: take the .frt files of sub-folders too\n"
    "  -j, --jobs N          batch: convert N files at a time (default: the cores)\n"
    "  -n, --dry-run         convert in memory and print the outcome; write nothing\n"
    "  -f, --force           replace a target that Quarnel did not write\n"
    "  -q, --quiet           print only failures (to standard error) and the summary\n"
    "  -v, --verbose         batch: print each file's full report under its line\n"
    "      --json            print one JSON object per source, one per line,\n"
    "                        instead of the text\n"
    "      --csv             print the report as CSV (a header row, then a row per\n"
    "                        source), as the dialogs save it\n"
    "      --help            show this help\n"
    "      --version         show the version\n"
    "      --                end of options: a file name may begin with \"-\"\n"
    "\n"
    "Examples:\n"
    "  quarnel job.frt                 convert job.frt into QZ_job.frt beside it\n"
    "  quarnel -b *.frt                convert each file beside itself\n"
    "  quarnel -o out -r jobs          jobs/north/a.frt into out/north/QZ_a.frt\n"
    "  quarnel -n --json -b jobs       what a batch would do, as JSON Lines\n"
    "\n"
    "Exit status: 0 converted, 3 conversion not necessary (the file names another\n"
    "model), 1 conversion failed, 2 wrong arguments or a target that Quarnel did\n"
    "not write, 4 converted, but the report could not be written (with -n, --help\n"
    "or --version: the output could not be written). A batch: 0 no file failed,\n"
    "1 a file failed, 2 wrong arguments, a refused set of sources or targets or an\n"
    "-o folder that cannot be made or written, 4 no file failed, but the output\n"
    "could not be written, 130 stopped by Ctrl+C (the targets of the files printed\n"
    "so far are in place, the others as they were or converted).\n";

// The end of a run whose only product is its output on `out`.
int EndOutput(std::ostream& out, std::ostream& err) {
  out.flush();
  if (out) return kExitCompleted;
  err << ProgramName() << ": cannot write to standard output" << OutputErrorText() << "\n";
  return kExitReportLost;
}

// `text` with the command's name, written "quarnel " at a line's start or
// after a space, as this program is named.
std::string ForThisProgram(std::string_view text) {
  constexpr std::string_view kWritten = "quarnel ";
  std::string named;
  for (std::size_t at = 0; at < text.size();) {
    const bool wordStart = at == 0 || text[at - 1] == ' ' || text[at - 1] == '\n';
    if (wordStart && text.substr(at, kWritten.size()) == kWritten) {
      named += ProgramName();
      named += ' ';
      at += kWritten.size();
    } else {
      named += text[at++];
    }
  }
  return named;
}

int UsageError(std::ostream& err, std::string_view problem) {
  err << ProgramName() << ": " << problem << '\n' << ForThisProgram(kUsage);
  return kExitUsage;
}

int RunOneFile(const CommandOptions& options, std::ostream& out, std::ostream& err) {
  const std::filesystem::path& source = options.paths[0];
  const bool targetGiven = options.paths.size() == 2;
  const std::filesystem::path target = targetGiven ? options.paths[1] : ProposeTargetPath(source);
  // Longer names no file system takes; say why instead of a bare error.
  const std::string nameProblem = targetGiven ? std::string() : TargetNameProblem(source);
  // Two files named on the command line, the second an instrument's own: the
  // user most likely meant a batch.
  if (const std::string problem = options.force || !nameProblem.empty()
                                      ? std::string()
                                      : DescribeForeignTarget(batch::CheckTargetOwner(source, target));
      !problem.empty()) {
    err << ProgramName() << ": " << DisplayName(target) << ": not replaced: " << problem << "\n"
        << ProgramName() << ": " << (targetGiven ? "to convert several files, use -b; " : "")
        << "to replace it anyway, use --force\n";
    return kExitUsage;
  }
  batch::StagedConversion staged =
      !nameProblem.empty()
          ? batch::RefuseFile(nameProblem + "; give a TARGET")
          : batch::StageOneFile(source, target, options.dryRun ? batch::TargetWrite::None : batch::TargetWrite::Synced);
  // A signal ends the run wherever it comes, a stalled reader of the report
  // included: a target whose report was printed is in place; without its
  // report it is as it was or converted.
  if (staged.staged != nullptr) staged.staged->Commit();
  const batch::FileConversion file = batch::SettleConversion(staged);
  if (options.json) {
    out << FormatJsonRecord(source, &target, file);
  } else if (options.csv) {
    out << batch::FormatCsvHeader() << batch::FormatCsvRow(source, &target, file);
  } else if (options.verbosity != Verbosity::Quiet) {
    out << file.summary.report << '\n';
  }
  out.flush();

  if (file.Failed()) {
    err << FormatFailureMessage(source, target, file);
    return ExitStatus(file.summary);
  }
  for (const std::string& note : file.summary.notes) err << ProgramName() << ": " << DisplayName(source) << ": " << note << '\n';
  if (file.summary.outcome == RunOutcome::NotNecessary) return ExitStatus(file.summary);
  // The report says "completed"; the user should not look for the target.
  if (options.dryRun) {
    err << ProgramName() << ": " << DisplayName(target) << ": dry run: nothing written\n";
    return EndOutput(out, err);
  }
  if (!out) {
    err << ProgramName() << ": " << DisplayName(target) << ": converted, but the report could not be written" << OutputErrorText() << "\n";
    return kExitReportLost;
  }
  return kExitCompleted;
}

}  // namespace

int RunQuarnel(const std::vector<Argument>& arguments, std::ostream& out, std::ostream& err) {
  CommandOptions options;
  if (const std::string problem = ParseCommandOptions(arguments, options); !problem.empty())
    return UsageError(err, problem);
  if (options.csv) WriteOutputUnchanged();
  if (options.showHelp || options.showVersion) {
    if (options.showHelp) {
      out << ForThisProgram(kUsage) << ForThisProgram(kHelp);
    } else {
      out << ProgramName() << " " QUARNEL_VERSION_TEXT "\n";
    }
    return EndOutput(out, err);
  }
  if (options.placement == TargetPlacement::Given) return RunOneFile(options, out, err);
  return RunBatchCommand(options, out, err);
}

}  // namespace quarnel::cli
