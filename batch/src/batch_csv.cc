#include "quarnel/batch/batch_csv.h"

#include <vector>

#include "quarnel/batch/batch_run.h"
#include "quarnel/failure_text.h"

namespace quarnel::batch {
namespace {

std::string Numbers(const std::vector<ReportedEntry>& entries) {
  std::string text;
  for (const ReportedEntry& entry : entries) {
    if (!text.empty()) text += ' ';
    text += std::to_string(entry.number);
  }
  return text;
}

}  // namespace

std::string CsvField(std::string_view field) {
  const bool quoted = field.find_first_of(",\"\r\n") != std::string_view::npos ||
                      (!field.empty() && (field.front() == ' ' || field.back() == ' '));
  if (!quoted) return std::string(field);
  std::string text = "\"";
  for (const char c : field) {
    if (c == '"') text += '"';
    text += c;
  }
  return text + '"';
}

std::string FormatCsvHeader() {
  return std::string(kCsvByteOrderMark) + "source,target,outcome,model,variables,applications,reason,notes\r\n";
}

ReportCells ReportCellsOf(const std::filesystem::path& source, const std::filesystem::path* target,
                          const FileConversion& file) {
  const ConversionSummary& summary = file.summary;
  ReportCells cells;
  cells.source = PlainName(source);
  if (target != nullptr) cells.target = PlainName(*target);
  cells.outcome = OutcomeName(file);
  if (summary.model) cells.model = *summary.model;
  cells.variables = Numbers(summary.variables);
  cells.applications = Numbers(summary.applications);
  if (summary.Failed()) cells.reason = FailureText(summary.failure);
  for (const std::string& note : summary.notes) cells.notes += (cells.notes.empty() ? "" : " | ") + note;
  return cells;
}

std::string FormatCsvRow(const ReportCells& cells) {
  const std::string* const fields[] = {&cells.source,    &cells.target,       &cells.outcome, &cells.model,
                                       &cells.variables, &cells.applications, &cells.reason,  &cells.notes};
  std::string row;
  for (const std::string* field : fields) {
    if (field != fields[0]) row += ',';
    row += CsvField(*field);
  }
  return row + "\r\n";
}

std::string FormatCsvRow(const std::filesystem::path& source, const std::filesystem::path* target,
                         const FileConversion& file) {
  return FormatCsvRow(ReportCellsOf(source, target, file));
}

}  // namespace quarnel::batch
