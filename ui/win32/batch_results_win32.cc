#include "batch_results_win32.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>

#include <array>
#include <vector>

#include "resource.h"

namespace quarnel::win32 {
namespace {

struct Column {
  const wchar_t* title;
  int width;  // in pixels at 96 dpi
  std::wstring ui::BatchRow::*text;
};

const Column kColumns[] = {
    {L"File", 250, &ui::BatchRow::file},
    {L"Outcome", 100, &ui::BatchRow::outcome},
    {L"Variables to move", 110, &ui::BatchRow::variables},
    {L"Applications removed", 120, &ui::BatchRow::applications},
    {L"Reason or note", 300, &ui::BatchRow::reason},
};

}  // namespace

CBatchResultsDlg::CBatchResultsDlg(HINSTANCE instance, const ui::BatchResults& results, std::wstring applicationName)
    : CModalDialog(instance, IDD_BATCH_RESULTS), m_results(results), m_strAppName(std::move(applicationName)) {}

BOOL CBatchResultsDlg::OnInitDialog() {
  HWND list = GetDlgItem(m_hWnd, IDC_RESULT_LIST);
  ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT);
  for (int i = 0; i < static_cast<int>(std::size(kColumns)); ++i) {
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH;
    column.pszText = const_cast<wchar_t*>(kColumns[i].title);
    column.cx = kColumns[i].width;
    SendMessageW(list, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
  }
  for (std::size_t row = 0; row < m_results.rows.size(); ++row) {
    const ui::BatchRow& entry = m_results.rows[row];
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = static_cast<int>(row);
    item.pszText = const_cast<wchar_t*>(entry.file.c_str());
    SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    for (int i = 1; i < static_cast<int>(std::size(kColumns)); ++i) {
      item.iSubItem = i;
      item.pszText = const_cast<wchar_t*>((entry.*kColumns[i].text).c_str());
      SendMessageW(list, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
    }
  }
  if (!m_results.rows.empty()) ListView_SetItemState(list, 0, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  SetDlgItemTextW(m_hWnd, IDC_RESULT_SUMMARY, m_results.summary.c_str());
  SetFocus(list);
  return FALSE;
}

bool CBatchResultsDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) {
  if (message == WM_NOTIFY) {
    const auto* header = reinterpret_cast<const NMHDR*>(lParam);
    if (header->idFrom == IDC_RESULT_LIST && (header->code == NM_DBLCLK || header->code == LVN_ITEMACTIVATE)) {
      ShowRowReport();
      result = 0;
      return true;
    }
    return false;
  }
  if (message != WM_COMMAND || HIWORD(wParam) != BN_CLICKED) return false;
  if (LOWORD(wParam) == IDC_SAVE_REPORT) {
    SaveReport();
    return true;
  }
  if (LOWORD(wParam) == IDC_OPEN_FOLDER) {
    OpenFolder();
    return true;
  }
  return false;
}

void CBatchResultsDlg::ShowRowReport() {
  const int row = ListView_GetNextItem(GetDlgItem(m_hWnd, IDC_RESULT_LIST), -1, LVNI_SELECTED);
  if (row < 0 || static_cast<std::size_t>(row) >= m_results.rows.size()) return;
  MessageBoxW(m_hWnd, m_results.rows[static_cast<std::size_t>(row)].report.c_str(), m_strAppName.c_str(),
              MB_OK | MB_ICONEXCLAMATION);
}

void CBatchResultsDlg::SaveReport() {
  std::vector<wchar_t> file(32768, L'\0');
  m_results.reportName.copy(file.data(), std::min(m_results.reportName.size(), file.size() - 1));
  const std::wstring title(ui::kSaveReportTitle);
  const std::wstring extension(ui::kReportExtension);
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof(dialog);
  dialog.hwndOwner = m_hWnd;
  dialog.lpstrFile = file.data();
  dialog.nMaxFile = static_cast<DWORD>(file.size());
  dialog.lpstrInitialDir = m_results.folder.empty() ? nullptr : m_results.folder.c_str();
  dialog.lpstrTitle = title.c_str();
  dialog.lpstrDefExt = extension.c_str();
  dialog.Flags = OFN_OVERWRITEPROMPT | OFN_EXPLORER;
  if (!GetSaveFileNameW(&dialog)) return;
  const std::wstring path(file.data());
  const std::wstring problem = ui::SaveBatchReport(m_results, path);
  if (problem.empty()) return;
  const std::wstring text = L"Cannot save the report to " + path + L": " + problem;
  MessageBoxW(m_hWnd, text.c_str(), m_strAppName.c_str(), MB_OK | MB_ICONEXCLAMATION);
}

void CBatchResultsDlg::OpenFolder() {
  ShellExecuteW(m_hWnd, L"open", m_results.folder.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

}  // namespace quarnel::win32
