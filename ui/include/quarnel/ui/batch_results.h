// What a batch run from the dialog came to, as its results window shows it
// and as its report is saved: a row per source, the summary line, and the
// CSV text that `quarnel --csv` prints for the same sources.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quarnel::ui {

inline constexpr std::wstring_view kResultsTitle = L"Results";
inline constexpr std::wstring_view kSaveReportTitle = L"Save report";
inline constexpr std::wstring_view kReportExtension = L"csv";

// One source: the columns of the results window, and its report.
struct BatchRow {
  std::wstring file;          // the source as the batch named it
  std::wstring target;        // empty when the record names none
  std::wstring outcome;       // "converted", "not necessary", "invalid format file", "skipped"...
  std::wstring variables;     // the variables to move, "51 58 652"
  std::wstring applications;  // the applications removed, "120 123"
  std::wstring reason;        // why it failed, else its notes joined by " | "
  std::wstring report;        // the full report, as the one-file dialog shows it
};

struct BatchResults {
  std::vector<BatchRow> rows;
  // "28 converted, 1 not necessary, 1 failed", and why it ended early.
  std::wstring summary;
  // The saved report: the byte-order mark, the header row, a row per source.
  std::string csv;
  // What "Open folder" shows: the output folder, or the first source's.
  std::wstring folder;
  // Where "Save report…" proposes to write, in that folder.
  std::wstring reportName;
};

// Writes `results.csv` into `path`, replacing what was there.
// @return "" or the system's message.
std::wstring SaveBatchReport(const BatchResults& results, const std::wstring& path);

}  // namespace quarnel::ui
