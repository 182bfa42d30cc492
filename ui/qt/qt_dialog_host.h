// The dialog's host on Qt: the two path fields of the window, and Qt's
// message box and file dialogs. The modal boxes are function objects so a
// test can answer them instead of a user.
#pragma once

#include <QLineEdit>
#include <QWidget>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "quarnel/ui/quarnel_dlg.h"

namespace quarnel::ui {

// The caption of every message box and the window's title.
inline constexpr std::wstring_view kApplicationName = L"Quarnel";

using MessageBoxFunction = std::function<void(QWidget* parent, const MessageRequest& message)>;
using QuestionBoxFunction = std::function<bool(QWidget* parent, const MessageRequest& question)>;
using FileDialogFunction =
    std::function<std::optional<std::wstring>(QWidget* parent, const FileDialogRequest& request)>;
using FilesDialogFunction =
    std::function<std::vector<std::wstring>(QWidget* parent, const FileDialogRequest& request)>;
class BatchResultsWindow;
// Runs the results window, built and filled; the real one is modal.
using ResultsWindowFunction = std::function<void(BatchResultsWindow& window)>;
using OpenFolderFunction = std::function<void(const std::wstring& folder)>;

// The real boxes: a QMessageBox with one OK button, and QFileDialog set up as
// the request says.
void ShowQtMessageBox(QWidget* parent, const MessageRequest& message);
// A QMessageBox with Yes and No, No the default. @return true for Yes.
bool AskQtYesNo(QWidget* parent, const MessageRequest& question);
std::optional<std::wstring> ShowQtOpenFileDialog(QWidget* parent, const FileDialogRequest& request);
std::optional<std::wstring> ShowQtSaveFileDialog(QWidget* parent, const FileDialogRequest& request);
std::vector<std::wstring> ShowQtOpenFilesDialog(QWidget* parent, const FileDialogRequest& request);
std::optional<std::wstring> ShowQtFolderDialog(QWidget* parent, const FileDialogRequest& request);
void RunQtResultsWindow(BatchResultsWindow& window);
// The folder in the desktop's file manager.
void OpenQtFolder(const std::wstring& folder);

struct QtDialogBoxes {
  MessageBoxFunction showMessage = ShowQtMessageBox;
  QuestionBoxFunction askYesNo = AskQtYesNo;
  FileDialogFunction showOpenFile = ShowQtOpenFileDialog;
  FileDialogFunction showSaveFile = ShowQtSaveFileDialog;
  FilesDialogFunction showOpenFiles = ShowQtOpenFilesDialog;
  FileDialogFunction showFolder = ShowQtFolderDialog;
  ResultsWindowFunction runResults = RunQtResultsWindow;
  OpenFolderFunction openFolder = OpenQtFolder;
};

// What the window shows of a running batch.
struct QtBatchView {
  std::function<void(bool running)> showRunning;
  std::function<void(std::size_t done, std::size_t total)> showProgress;
};

class QtDialogHost final : public DialogHost {
 public:
  // The window and both fields must outlive the host.
  QtDialogHost(QWidget& window, QLineEdit& sourceEdit, QLineEdit& targetEdit, QtDialogBoxes boxes);

  std::wstring GetFieldText(DialogField field) override;
  void SetFieldText(DialogField field, const std::wstring& text) override;
  void SetFieldHint(DialogField field, const std::wstring& hint) override;
  std::wstring ApplicationName() override;
  void ShowMessage(const MessageRequest& message) override;
  bool AskYesNo(const MessageRequest& question) override;
  std::optional<std::wstring> ShowOpenFileDialog(const FileDialogRequest& request) override;
  std::optional<std::wstring> ShowSaveFileDialog(const FileDialogRequest& request) override;
  std::vector<std::wstring> ShowOpenFilesDialog(const FileDialogRequest& request) override;
  std::optional<std::wstring> ShowFolderDialog(const FileDialogRequest& request) override;
  void SetFieldReadOnly(DialogField field, bool readOnly) override;
  void PostToWindow(std::function<void()> task) override;
  void ShowBatchRunning(bool running) override;
  void ShowBatchProgress(std::size_t done, std::size_t total) override;
  void ShowBatchResults(const BatchResults& results) override;

  void SetBatchView(QtBatchView view) { m_batchView = std::move(view); }

 private:
  QLineEdit& Edit(DialogField field);

  QWidget& m_window;
  QLineEdit& m_sourceEdit;
  QLineEdit& m_targetEdit;
  QtDialogBoxes m_boxes;
  QtBatchView m_batchView;
};

}  // namespace quarnel::ui
