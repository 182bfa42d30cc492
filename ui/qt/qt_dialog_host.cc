#include "qt_dialog_host.h"

#include <QFile>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QScreen>
#include <QStringList>
#include <algorithm>
#include <utility>

namespace quarnel::ui {
namespace {

// What a message box needs beside its text: the icon, margins and frame.
constexpr int kMessageBoxFrame = 120;

std::optional<std::wstring> RunFileDialog(QFileDialog& dialog, const FileDialogRequest& request) {
  if (!request.title.empty()) dialog.setWindowTitle(QString::fromStdWString(request.title));
  dialog.setFileMode(request.mustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
  dialog.setDefaultSuffix(QString::fromStdWString(request.defaultExtension));
  if (!request.initialDir.empty()) dialog.setDirectory(QString::fromStdWString(request.initialDir));
  if (!request.initialName.empty()) dialog.selectFile(QString::fromStdWString(request.initialName));
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList picked = dialog.selectedFiles();
  if (picked.isEmpty()) return std::nullopt;
  // The platform dialog the request describes fails on a longer path, counted
  // as the file system counts it (bytes on Linux); so do we.
  if (static_cast<std::size_t>(QFile::encodeName(picked.front()).size()) >= request.maxFile) return std::nullopt;
  return picked.front().toStdWString();
}

}  // namespace

void ShowQtMessageBox(QWidget* parent, const MessageRequest& message) {
  const QMessageBox::Icon icon =
      message.icon == MessageIcon::Exclamation ? QMessageBox::Warning : QMessageBox::NoIcon;
  QMessageBox box(icon, QString::fromStdWString(message.caption), QString::fromStdWString(message.text),
                  QMessageBox::Ok, parent);
  // A report names files and codes; nothing in it is markup.
  box.setTextFormat(Qt::PlainText);
  // The report brings its own line breaks, at most 80 characters apart; the
  // box would wrap them again at about 500 pixels. As wide as the longest
  // line, then, as long as the screen has room for it.
  if (auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"))) {
    int longest = 0;
    for (const QString& line : box.text().split(QLatin1Char('\n')))
      longest = std::max(longest, label->fontMetrics().horizontalAdvance(line));
    const QScreen* screen = parent != nullptr ? parent->screen() : QGuiApplication::primaryScreen();
    const int room = screen != nullptr ? screen->availableGeometry().width() - kMessageBoxFrame : longest;
    label->setMinimumWidth(std::min(longest + 1, room));
  }
  box.exec();
}

std::optional<std::wstring> ShowQtOpenFileDialog(QWidget* parent, const FileDialogRequest& request) {
  QFileDialog dialog(parent);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  return RunFileDialog(dialog, request);
}

std::optional<std::wstring> ShowQtSaveFileDialog(QWidget* parent, const FileDialogRequest& request) {
  QFileDialog dialog(parent);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.overwritePrompt);
  return RunFileDialog(dialog, request);
}

QtDialogHost::QtDialogHost(QWidget& window, QLineEdit& sourceEdit, QLineEdit& targetEdit, QtDialogBoxes boxes)
    : m_window(window), m_sourceEdit(sourceEdit), m_targetEdit(targetEdit), m_boxes(std::move(boxes)) {}

QLineEdit& QtDialogHost::Edit(DialogField field) {
  return field == DialogField::Source ? m_sourceEdit : m_targetEdit;
}

// QString holds UTF-16; toStdWString and fromStdWString turn its surrogate
// pairs into whole code points and back, which is what the dialog class
// encodes as UTF-8 for the file system.
std::wstring QtDialogHost::GetFieldText(DialogField field) { return Edit(field).text().toStdWString(); }

void QtDialogHost::SetFieldText(DialogField field, const std::wstring& text) {
  Edit(field).setText(QString::fromStdWString(text));
}

void QtDialogHost::SetFieldHint(DialogField field, const std::wstring& hint) {
  Edit(field).setPlaceholderText(QString::fromStdWString(hint));
}

std::wstring QtDialogHost::ApplicationName() { return std::wstring(kApplicationName); }

void QtDialogHost::ShowMessage(const MessageRequest& message) { m_boxes.showMessage(&m_window, message); }

std::optional<std::wstring> QtDialogHost::ShowOpenFileDialog(const FileDialogRequest& request) {
  return m_boxes.showOpenFile(&m_window, request);
}

std::optional<std::wstring> QtDialogHost::ShowSaveFileDialog(const FileDialogRequest& request) {
  return m_boxes.showSaveFile(&m_window, request);
}

}  // namespace quarnel::ui
