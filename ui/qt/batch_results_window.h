// The results window of a batch on Qt: a row per source, the summary, each
// row's report on a double-click or Enter, "Save report…" and "Open folder".
#pragma once

#include <QCoreApplication>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <functional>
#include <optional>
#include <string>

#include "quarnel/ui/batch_results.h"
#include "quarnel/ui/quarnel_dlg.h"

namespace quarnel::ui {

struct QtDialogBoxes;

class BatchResultsWindow : public QDialog {
  Q_DECLARE_TR_FUNCTIONS(BatchResultsWindow)

 public:
  // `boxes` shows the report boxes and the save dialog and opens the folder;
  // both must outlive the window.
  BatchResultsWindow(const BatchResults& results, const QtDialogBoxes& boxes, QWidget* parent);

  // The row's report in a message box, as the one-file dialog shows it.
  void ShowRowReport(int row);
  // Asks where, then writes the CSV report there; a failure says why.
  void SaveReport();
  void OpenFolder();

 private:
  const BatchResults& m_results;
  const QtDialogBoxes& m_boxes;
  QTreeWidget* m_pRows;
  QLabel* m_pSummary;
  QPushButton* m_pSaveButton;
  QPushButton* m_pOpenFolderButton;
  QPushButton* m_pCloseButton;
};

}  // namespace quarnel::ui
