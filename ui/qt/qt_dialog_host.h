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

#include "quarnel/ui/quarnel_dlg.h"

namespace quarnel::ui {

// The caption of every message box and the window's title.
inline constexpr std::wstring_view kApplicationName = L"Quarnel";

using MessageBoxFunction = std::function<void(QWidget* parent, const MessageRequest& message)>;
using FileDialogFunction =
    std::function<std::optional<std::wstring>(QWidget* parent, const FileDialogRequest& request)>;

// The real boxes: a QMessageBox with one OK button, and QFileDialog set up as
// the request says.
void ShowQtMessageBox(QWidget* parent, const MessageRequest& message);
std::optional<std::wstring> ShowQtOpenFileDialog(QWidget* parent, const FileDialogRequest& request);
std::optional<std::wstring> ShowQtSaveFileDialog(QWidget* parent, const FileDialogRequest& request);

struct QtDialogBoxes {
  MessageBoxFunction showMessage = ShowQtMessageBox;
  FileDialogFunction showOpenFile = ShowQtOpenFileDialog;
  FileDialogFunction showSaveFile = ShowQtSaveFileDialog;
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
  std::optional<std::wstring> ShowOpenFileDialog(const FileDialogRequest& request) override;
  std::optional<std::wstring> ShowSaveFileDialog(const FileDialogRequest& request) override;

 private:
  QLineEdit& Edit(DialogField field);

  QWidget& m_window;
  QLineEdit& m_sourceEdit;
  QLineEdit& m_targetEdit;
  QtDialogBoxes m_boxes;
};

}  // namespace quarnel::ui
