// The main window of the Qt front end: the same fields, buttons and tab order
// as the Windows dialog, with CQuarnelDlg doing everything the buttons mean.
#pragma once

#include <QCoreApplication>
#include <QDialog>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStringList>

#include "qt_dialog_host.h"
#include "quarnel/ui/quarnel_dlg.h"

class QDragEnterEvent;
class QDropEvent;

namespace quarnel::ui {

// Our icon, 32 x 32, built into the program.
QIcon QuarnelIcon();

class QuarnelWindow : public QDialog {
  Q_DECLARE_TR_FUNCTIONS(QuarnelWindow)

 public:
  // `boxes` shows the message boxes and file dialogs; tests pass their own.
  explicit QuarnelWindow(QtDialogBoxes boxes = {}, QWidget* parent = nullptr);

  // A file named on the command line: taken as a picked source, a relative
  // name from the working folder.
  void OpenSourceFile(const QString& path);
  // Files named on the command line: one as OpenSourceFile takes it, more
  // (or a folder) as a batch.
  void OpenSourceFiles(const QStringList& paths);

  // The About box, modal to this window; returns when it is closed.
  void ShowAboutBox();

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  // Cancel, Escape and Close: during a batch they stop it instead.
  void reject() override;

 private:
  void LayOutControls();
  void ShowBatchRunning(bool running);
  void ShowBatchProgress(std::size_t done, std::size_t total);

  // Created before the host, which keeps references to the two fields; the
  // window owns them as their Qt parent.
  QLabel* m_pSourceLabel;
  QLineEdit* m_pSourceEdit;
  QPushButton* m_pBrowseSourceButton;
  QPushButton* m_pBrowseFolderButton;
  QLabel* m_pTargetLabel;
  QLineEdit* m_pTargetEdit;
  QPushButton* m_pBrowseTargetButton;
  QPushButton* m_pConvertButton;
  QPushButton* m_pCancelButton;
  QProgressBar* m_pProgressBar;
  QtDialogHost m_host;
  CQuarnelDlg m_dlg;
};

}  // namespace quarnel::ui
