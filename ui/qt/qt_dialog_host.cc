#include "qt_dialog_host.h"

#include <QDesktopServices>
#include <QFile>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QScreen>
#include <QStringList>
#include <QUrl>
#include <algorithm>
#include <utility>

#include "batch_results_window.h"

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

bool AskQtYesNo(QWidget* parent, const MessageRequest& question) {
  QMessageBox box(QMessageBox::Question, QString::fromStdWString(question.caption),
                  QString::fromStdWString(question.text), QMessageBox::Yes | QMessageBox::No, parent);
  box.setTextFormat(Qt::PlainText);
  // Enter must not replace an instrument's file by accident.
  box.setDefaultButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
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

std::vector<std::wstring> ShowQtOpenFilesDialog(QWidget* parent, const FileDialogRequest& request) {
  QFileDialog dialog(parent);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFiles);
  if (!request.title.empty()) dialog.setWindowTitle(QString::fromStdWString(request.title));
  if (!request.initialDir.empty()) dialog.setDirectory(QString::fromStdWString(request.initialDir));
  std::vector<std::wstring> picked;
  if (dialog.exec() != QDialog::Accepted) return picked;
  for (const QString& file : dialog.selectedFiles()) picked.push_back(file.toStdWString());
  return picked;
}

std::optional<std::wstring> ShowQtFolderDialog(QWidget* parent, const FileDialogRequest& request) {
  const QString folder = QFileDialog::getExistingDirectory(parent, QString::fromStdWString(request.title),
                                                           QString::fromStdWString(request.initialDir));
  if (folder.isEmpty()) return std::nullopt;
  return folder.toStdWString();
}

void RunQtResultsWindow(BatchResultsWindow& window) { window.exec(); }

void OpenQtFolder(const std::wstring& folder) {
  QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdWString(folder)));
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

bool QtDialogHost::AskYesNo(const MessageRequest& question) { return m_boxes.askYesNo(&m_window, question); }

std::optional<std::wstring> QtDialogHost::ShowOpenFileDialog(const FileDialogRequest& request) {
  return m_boxes.showOpenFile(&m_window, request);
}

std::optional<std::wstring> QtDialogHost::ShowSaveFileDialog(const FileDialogRequest& request) {
  return m_boxes.showSaveFile(&m_window, request);
}

std::vector<std::wstring> QtDialogHost::ShowOpenFilesDialog(const FileDialogRequest& request) {
  return m_boxes.showOpenFiles(&m_window, request);
}

std::optional<std::wstring> QtDialogHost::ShowFolderDialog(const FileDialogRequest& request) {
  return m_boxes.showFolder(&m_window, request);
}

void QtDialogHost::SetFieldReadOnly(DialogField field, bool readOnly) { Edit(field).setReadOnly(readOnly); }

// Queued to the window's object: run by its event loop, and dropped with it.
void QtDialogHost::PostToWindow(std::function<void()> task) {
  QMetaObject::invokeMethod(&m_window, std::move(task), Qt::QueuedConnection);
}

void QtDialogHost::ShowBatchRunning(bool running) {
  if (m_batchView.showRunning) m_batchView.showRunning(running);
}

void QtDialogHost::ShowBatchProgress(std::size_t done, std::size_t total) {
  if (m_batchView.showProgress) m_batchView.showProgress(done, total);
}

void QtDialogHost::ShowBatchResults(const BatchResults& results) {
  BatchResultsWindow window(results, m_boxes, &m_window);
  m_boxes.runResults(window);
}

}  // namespace quarnel::ui
