// The engine's face towards the page: plain C functions over the module's own
// memory. The page asks for room, copies a file's name and bytes into it,
// converts, and reads the report, the failure line and the target back. Each
// conversion is a fresh run with a fresh state, as in the command line's batch.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "quarnel/conversion_driver.h"
#include "quarnel/conversion_report.h"
#include "quarnel/conversion_summary.h"
#include "quarnel/target_prefix.h"

namespace {

// The results of the last run. They live in the module until the next run,
// since the page reads them through pointers into this memory.
struct LastRun {
  std::string input;  // the source's name, then its bytes
  std::size_t nameSize = 0;
  std::string targetName;
  std::string target;
  std::string report;
  std::string messages;  // what the command line prints on stderr, one line each
};

LastRun& Run() {
  static LastRun run;
  return run;
}

}  // namespace

#define QUARNEL_EXPORT(name) extern "C" __attribute__((export_name(#name)))

// Room for a source: `nameSize` bytes of its file name (UTF-8) followed by
// `sourceSize` bytes of its content. Forgets the previous run's results.
QUARNEL_EXPORT(quarnel_prepare) char* QuarnelPrepare(std::size_t nameSize, std::size_t sourceSize) {
  LastRun& run = Run();
  run = LastRun{};
  run.nameSize = nameSize;
  run.input.resize(nameSize + sourceSize);
  return run.input.data();
}

// Converts the prepared source. @return 0 completed, 3 not necessary (the
// file names another model; no target is offered), 1 failed.
QUARNEL_EXPORT(quarnel_convert) int QuarnelConvert() {
  LastRun& run = Run();
  const std::string name = run.input.substr(0, run.nameSize);
  const std::string_view source = std::string_view(run.input).substr(run.nameSize);
  run.targetName = std::string(quarnel::kTargetPrefix) + name;

  quarnel::ConversionState state;
  const quarnel::ConversionSummary summary =
      quarnel::SummarizeConversion(quarnel::ConvertFormatFileBytes(source, state, run.target), state);
  run.report = summary.report;
  if (summary.Failed()) {
    run.messages = "quarnel: " + quarnel::FailureMessage(summary.failure, name, run.targetName) + "\n";
  } else {
    for (const std::string& note : summary.notes) run.messages += "quarnel: " + name + ": " + note + "\n";
  }
  if (summary.outcome != quarnel::RunOutcome::Converted) run.target.clear();
  return quarnel::ExitStatus(summary);
}

// The report of a run that failed for no known reason, which the page shows
// when the module itself stopped part way. Read once, while the module is sound.
QUARNEL_EXPORT(quarnel_unknown_error_report) const char* QuarnelUnknownErrorReport() {
  static const std::string report = [] {
    quarnel::ConversionState state;
    // A failure of no kind the report names: its text is the unknown error's.
    return quarnel::ReportToAscii(quarnel::ComposeReport(quarnel::ResultFileError, state));
  }();
  return report.c_str();
}

// The status of a failed run, which goes with that report.
QUARNEL_EXPORT(quarnel_failed_status) int QuarnelFailedStatus() { return quarnel::kExitFailed; }

QUARNEL_EXPORT(quarnel_report) const char* QuarnelReport() { return Run().report.data(); }
QUARNEL_EXPORT(quarnel_report_size) std::size_t QuarnelReportSize() { return Run().report.size(); }
QUARNEL_EXPORT(quarnel_messages) const char* QuarnelMessages() { return Run().messages.data(); }
QUARNEL_EXPORT(quarnel_messages_size) std::size_t QuarnelMessagesSize() { return Run().messages.size(); }
QUARNEL_EXPORT(quarnel_target_name) const char* QuarnelTargetName() { return Run().targetName.data(); }
QUARNEL_EXPORT(quarnel_target_name_size) std::size_t QuarnelTargetNameSize() { return Run().targetName.size(); }
QUARNEL_EXPORT(quarnel_target) const char* QuarnelTarget() { return Run().target.data(); }
QUARNEL_EXPORT(quarnel_target_size) std::size_t QuarnelTargetSize() { return Run().target.size(); }
