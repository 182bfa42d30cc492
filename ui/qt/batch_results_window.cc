#include "batch_results_window.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QVBoxLayout>

#include "qt_dialog_host.h"

namespace quarnel::ui {
namespace {

QString Q(const std::wstring& text) { return QString::fromStdWString(text); }

constexpr int kMeasuredRows = 100;

}  // namespace

BatchResultsWindow::BatchResultsWindow(const BatchResults& results, const QtDialogBoxes& boxes, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_results(results),
      m_boxes(boxes),
      m_pRows(new QTreeWidget(this)),
      m_pSummary(new QLabel(Q(results.summary), this)),
      m_pSaveButton(new QPushButton(tr("Save report…"), this)),
      m_pOpenFolderButton(new QPushButton(tr("Open folder"), this)),
      m_pCloseButton(new QPushButton(tr("Close"), this)) {
  setWindowTitle(Q(std::wstring(kResultsTitle)));
  m_pRows->setObjectName(QStringLiteral("resultRows"));
  m_pSummary->setObjectName(QStringLiteral("summaryLabel"));
  m_pSummary->setTextFormat(Qt::PlainText);
  m_pSaveButton->setObjectName(QStringLiteral("saveReportButton"));
  m_pOpenFolderButton->setObjectName(QStringLiteral("openFolderButton"));
  m_pCloseButton->setObjectName(QStringLiteral("closeButton"));

  m_pRows->setHeaderLabels(
      {tr("File"), tr("Outcome"), tr("Variables to move"), tr("Applications removed"), tr("Reason or note")});
  m_pRows->setRootIsDecorated(false);
  m_pRows->setUniformRowHeights(true);
  m_pRows->setAllColumnsShowFocus(true);
  QList<QTreeWidgetItem*> items;
  items.reserve(static_cast<qsizetype>(results.rows.size()));
  for (const BatchRow& row : results.rows) {
    items.append(new QTreeWidgetItem(
        QStringList{Q(row.file), Q(row.outcome), Q(row.variables), Q(row.applications), Q(row.reason)}));
  }
  m_pRows->addTopLevelItems(items);
  // Column widths from the first rows only: measuring every row of a large
  // batch would hold the window's thread for the better part of a second.
  m_pRows->header()->setResizeContentsPrecision(kMeasuredRows);
  m_pRows->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  m_pRows->header()->setStretchLastSection(true);
  if (!items.isEmpty()) m_pRows->setCurrentItem(items.front());
  // Double-click and Enter both activate a row.
  connect(m_pRows, &QTreeWidget::itemActivated, this,
          [this](QTreeWidgetItem* item) { ShowRowReport(m_pRows->indexOfTopLevelItem(item)); });

  connect(m_pSaveButton, &QPushButton::clicked, this, &BatchResultsWindow::SaveReport);
  connect(m_pOpenFolderButton, &QPushButton::clicked, this, &BatchResultsWindow::OpenFolder);
  connect(m_pCloseButton, &QPushButton::clicked, this, &QDialog::accept);
  // Enter belongs to the rows; no button is the default.
  for (QPushButton* button : {m_pSaveButton, m_pOpenFolderButton, m_pCloseButton}) button->setAutoDefault(false);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(m_pSaveButton);
  buttons->addWidget(m_pOpenFolderButton);
  buttons->addStretch();
  buttons->addWidget(m_pCloseButton);
  auto* page = new QVBoxLayout(this);
  page->addWidget(m_pRows);
  page->addWidget(m_pSummary);
  page->addLayout(buttons);
  resize(720, 400);
  m_pRows->setFocus();
}

void BatchResultsWindow::ShowRowReport(int row) {
  if (row < 0 || static_cast<std::size_t>(row) >= m_results.rows.size()) return;
  m_boxes.showMessage(this, MessageRequest{m_results.rows[static_cast<std::size_t>(row)].report,
                                           std::wstring(kApplicationName), MessageIcon::Exclamation});
}

void BatchResultsWindow::SaveReport() {
  FileDialogRequest request;
  request.title = kSaveReportTitle;
  request.defaultExtension = kReportExtension;
  request.initialDir = m_results.folder;
  request.initialName = m_results.reportName;
  request.overwritePrompt = true;
  request.maxFile = std::wstring::npos;
  const std::optional<std::wstring> path = m_boxes.showSaveFile(this, request);
  if (!path) return;
  const std::wstring problem = SaveBatchReport(m_results, *path);
  if (problem.empty()) return;
  m_boxes.showMessage(this, MessageRequest{L"Cannot save the report to " + *path + L": " + problem,
                                           std::wstring(kApplicationName), MessageIcon::Exclamation});
}

void BatchResultsWindow::OpenFolder() { m_boxes.openFolder(m_results.folder); }

}  // namespace quarnel::ui
