// The results window of a batch on Win32: a list view with a row per source,
// the summary, each row's report on a double-click or Enter, "Save report…"
// and "Open folder".
#pragma once

#include <windows.h>

#include <string>

#include "modal_dialog_win32.h"
#include "quarnel/ui/batch_results.h"

namespace quarnel::win32 {

class CBatchResultsDlg : public CModalDialog {
 public:
  // `results` must outlive the dialog; `applicationName` captions its boxes.
  CBatchResultsDlg(HINSTANCE instance, const ui::BatchResults& results, std::wstring applicationName);

 protected:
  BOOL OnInitDialog() override;
  // Enter: the selected row's report; the window stays.
  void OnOK() override { ShowRowReport(); }
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;

 private:
  void ShowRowReport();
  void SaveReport();
  void OpenFolder();

  const ui::BatchResults& m_results;
  std::wstring m_strAppName;
};

}  // namespace quarnel::win32
