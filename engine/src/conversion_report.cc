#include "quarnel/conversion_report.h"

#include <string>
#include <string_view>

#include "reported_numbers.h"

namespace quarnel {
namespace {

constexpr std::wstring_view kInvalidInputText = L"Format-File Conversion failed due to invalid input!";
constexpr std::wstring_view kInvalidFormatFileText =
    L"Format-File Conversion failed due to invalid format file!";
constexpr std::wstring_view kOtherFailureText = L"Format-File Conversion failed due to unknown error!";
constexpr std::wstring_view kNotNecessaryText = L"Format-File Conversion is not necessary!";
constexpr std::wstring_view kCompletedText = L"Format-File Conversion completed!\n\n";

constexpr std::wstring_view kVariablesHeader =
    L"Following variable in the file must be modified in order to obtain correct result:\n\n";
constexpr std::wstring_view kVariablesTrailer[] = {
    L"\nPlease delete the above mentioned variables from the Export Formatstrings\n",
    L"CORRECTIONS section in the Brenmoor Format Manager and add them into the\n",
    L"MEASUREMENT KRV section.\n\n",
};
constexpr std::wstring_view kApplicationsTrailer[] = {
    L"\nThe application does not exist on Tessolan, thus the entry has been removed from\n",
    L"the Format File .\n\n",
};
constexpr std::wstring_view kClosingWarning = L"Make sure the Format File works correctly before using!";

void AppendEntries(std::wstring& report, const NumberList& list) {
  for (std::size_t slot = 0; slot < ListLength(list); ++slot) {
    if (const ReportedNumber* entry = FindReportedNumber(list[slot]); entry != nullptr) {
      report += std::to_wstring(entry->number);
      report += L": ";
      report += entry->description;
    }
    report += L'\n';
  }
}

}  // namespace

std::wstring ComposeReport(ConversionResult result, ConversionState& state) {
  if (!IsSuccess(result)) {
    state.m_bConversionNeeded = false;
    if (result == ResultInvalidInput) return std::wstring(kInvalidInputText);
    if (result == ResultInvalidFormatFile) return std::wstring(kInvalidFormatFileText);
    return std::wstring(kOtherFailureText);
  }
  if (!state.m_bConversionNeeded) return std::wstring(kNotNecessaryText);

  std::wstring report(kCompletedText);
  const bool hasVariables = ListLength(state.m_aFlaggedVariables) > 0;
  const bool hasApps = ListLength(state.m_aRemovedApps) > 0;
  if (!hasVariables && !hasApps) return report;

  if (hasVariables) {
    report += kVariablesHeader;
    AppendEntries(report, state.m_aFlaggedVariables);
    for (std::wstring_view piece : kVariablesTrailer) report += piece;
  }
  AppendEntries(report, state.m_aRemovedApps);
  if (hasApps) {
    for (std::wstring_view piece : kApplicationsTrailer) report += piece;
  }
  report += kClosingWarning;
  return report;
}

std::string ReportToAscii(const std::wstring& report) {
  std::string text;
  text.reserve(report.size());
  for (wchar_t c : report) text += c < 0x80 ? static_cast<char>(c) : '?';
  return text;
}

}  // namespace quarnel
