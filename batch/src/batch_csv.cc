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

std::string FormatCsvRow(const std::filesystem::path& source, const std::filesystem::path* target,
                         const FileConversion& file) {
  const ConversionSummary& summary = file.summary;
  std::string notes;
  for (const std::string& note : summary.notes) notes += (notes.empty() ? "" : " | ") + note;
  const std::string fields[] = {
      PlainName(source),
      target != nullptr ? PlainName(*target) : std::string(),
      std::string(OutcomeName(file)),
      std::string(),  // the model line's name
      Numbers(summary.variables),
      Numbers(summary.applications),
      summary.Failed() ? FailureText(summary.failure) : std::string(),
      notes,
  };
  std::string row;
  for (const std::string& field : fields) {
    if (!row.empty() || &field != &fields[0]) row += ',';
    row += CsvField(field);
  }
  return row + "\r\n";
}

}  // namespace quarnel::batch
