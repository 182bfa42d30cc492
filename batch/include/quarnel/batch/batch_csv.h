// The saved report of a batch: CSV as RFC 4180 writes it (CR LF line ends,
// a field quoted where it holds a comma, a quote or a line break, its quotes
// doubled), UTF-8 behind a byte-order mark so that spreadsheet programs read
// it as such. One header row, one row per source. The dialogs save it and
// `quarnel --csv` prints it, row for row the same.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "quarnel/batch/file_conversion.h"

namespace quarnel::batch {

inline constexpr std::string_view kCsvByteOrderMark = "\xEF\xBB\xBF";

// The byte-order mark and the header row:
// "source,target,outcome,model,variables,applications,reason,notes".
std::string FormatCsvHeader();

// A source's cells, unquoted, in the columns' order.
struct ReportCells {
  std::string source;
  std::string target;
  std::string outcome;
  std::string model;
  std::string variables;
  std::string applications;
  std::string reason;
  std::string notes;
};

// One source's cells. `target` is nullptr when the record names none. The
// numbers of the variables and applications stand in one cell each,
// separated by blanks ("51 58 652"); the notes are joined by " | "; the
// reason is the failure's "[line N: ]REASON", empty unless the file failed.
// The report text is left out: it is the same for every converted file.
ReportCells ReportCellsOf(const std::filesystem::path& source, const std::filesystem::path* target,
                          const FileConversion& file);

// The cells as one row, CR LF ended.
std::string FormatCsvRow(const ReportCells& cells);
std::string FormatCsvRow(const std::filesystem::path& source, const std::filesystem::path* target,
                         const FileConversion& file);

// `field` as one CSV field: quoted when it holds a comma, a double quote, a
// CR or an LF (or begins or ends with a blank, which some readers trim).
std::string CsvField(std::string_view field);

}  // namespace quarnel::batch
