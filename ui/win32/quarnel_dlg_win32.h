// The main dialog on Win32: the window, its system menu, icon and drops, and
// the DialogHost through which CQuarnelDlg reaches fields, message boxes and
// the common file dialogs.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "modal_dialog_win32.h"
#include "quarnel/ui/quarnel_dlg.h"

namespace quarnel::win32 {

class CQuarnelDlgHost : public CModalDialog, public ui::DialogHost {
 public:
  // `applicationName` is every message box's caption; `sourceFile`, named on
  // the command line, is taken as a picked source once the dialog is up.
  // `sourceFiles`, named on the command line, are taken as picked once the
  // dialog is up: one as a source, more as a batch.
  CQuarnelDlgHost(HINSTANCE instance, std::wstring applicationName, std::vector<std::wstring> sourceFiles = {});

  std::wstring GetFieldText(ui::DialogField field) override;
  void SetFieldText(ui::DialogField field, const std::wstring& text) override;
  void SetFieldHint(ui::DialogField field, const std::wstring& hint) override;
  std::wstring ApplicationName() override { return m_strAppName; }
  void ShowMessage(const ui::MessageRequest& message) override;
  bool AskYesNo(const ui::MessageRequest& question) override;
  std::optional<std::wstring> ShowOpenFileDialog(const ui::FileDialogRequest& request) override;
  std::optional<std::wstring> ShowSaveFileDialog(const ui::FileDialogRequest& request) override;
  std::vector<std::wstring> ShowOpenFilesDialog(const ui::FileDialogRequest& request) override;
  std::optional<std::wstring> ShowFolderDialog(const ui::FileDialogRequest& request) override;
  void SetFieldReadOnly(ui::DialogField field, bool readOnly) override;
  void PostToWindow(std::function<void()> task) override;
  void ShowBatchRunning(bool running) override;
  void ShowBatchProgress(std::size_t done, std::size_t total) override;
  void ShowBatchResults(const ui::BatchResults& results) override;

 protected:
  BOOL OnInitDialog() override;
  // Convert: never ends the dialog; only IDCANCEL does.
  void OnOK() override { m_dialog.OnConvert(); }
  // Cancel, Escape, Close: during a batch they stop it instead.
  void OnCancel() override {
    if (m_dialog.OnCancel()) CModalDialog::OnCancel();
  }
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;

 private:
  void AddAboutEntry();
  // Each returns false to leave the message to the platform.
  bool OnSysCommand(WPARAM command);
  bool OnPaint();
  void OnDropFiles(HDROP drop);
  void RunPostedTasks();
  std::optional<std::wstring> ShowFileDialog(const ui::FileDialogRequest& request, bool save);

  std::wstring m_strAppName;
  std::vector<std::wstring> m_aStartFiles;
  std::mutex m_postedMutex;
  std::deque<std::function<void()>> m_aPosted;  // guarded by m_postedMutex
  HICON m_hIcon;
  ui::CQuarnelDlg m_dialog{*this};
};

}  // namespace quarnel::win32
