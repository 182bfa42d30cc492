// The numbers a conversion reports, with the description each one has in the
// report (behind "NUMBER: "):
// the variables the user must move by hand and the applications whose codes
// are removed. The converter, the report and the fuzz targets all read this
// one table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quarnel {

enum class ReportedKind : std::uint8_t { FlaggedVariable, RemovedApp };

struct ReportedNumber {
  std::int16_t number;
  ReportedKind kind;
  std::wstring_view description;
};

inline constexpr ReportedNumber kReportedNumbers[] = {
    {51, ReportedKind::FlaggedVariable, L"Prism Constant, AtmosPPM"},
    {58, ReportedKind::FlaggedVariable, L"Prism Constant"},
    {652, ReportedKind::FlaggedVariable, L"EDM Type"},
    {653, ReportedKind::FlaggedVariable, L"Prism Type"},
    {656, ReportedKind::FlaggedVariable, L"EDM Mode"},
    {120, ReportedKind::RemovedApp, L"\"Line Adjustment\" Application"},
    {123, ReportedKind::RemovedApp, L"\"Height Transfer\" Application"},
};

// The table's entry for `number`, or nullptr.
constexpr const ReportedNumber* FindReportedNumber(std::int16_t number) {
  for (const ReportedNumber& entry : kReportedNumbers) {
    if (entry.number == number) return &entry;
  }
  return nullptr;
}

constexpr bool IsReported(std::int16_t number, ReportedKind kind) {
  const ReportedNumber* entry = FindReportedNumber(number);
  return entry != nullptr && entry->kind == kind;
}

}  // namespace quarnel
