#include "quarnel_window.h"

#include <QAction>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QMimeData>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <climits>
#include <initializer_list>
#include <utility>
#include <vector>

#include "about_box.h"

namespace quarnel::ui {
namespace {

// The Windows dialog measures in dialog units: a quarter of the average
// character width across, an eighth of the font's height down. Its fields
// are 180 units wide, Convert and Cancel 50 units with 30 between them, and
// the gaps above the target group and above the buttons 20 and 30 units high.
constexpr int kFieldWidthUnits = 180;
constexpr int kButtonWidthUnits = 50;
constexpr int kButtonSpacingUnits = 30;
constexpr int kGroupGapUnits = 20;
constexpr int kButtonGapUnits = 30;

int HorizontalUnits(const QFontMetrics& metrics, int units) { return metrics.averageCharWidth() * units / 4; }
int VerticalUnits(const QFontMetrics& metrics, int units) { return metrics.height() * units / 8; }

// The local files and folders among the dropped URLs.
std::vector<std::wstring> LocalFiles(const QMimeData* mime) {
  std::vector<std::wstring> files;
  if (mime == nullptr || !mime->hasUrls()) return files;
  for (const QUrl& url : mime->urls()) {
    if (url.isLocalFile()) files.push_back(url.toLocalFile().toStdWString());
  }
  return files;
}

}  // namespace

// Every size rendered from the drawing, so the desktop picks a sharp one.
QIcon QuarnelIcon() {
  QIcon icon;
  for (const int size : {16, 32, 48, 256})
    icon.addFile(QStringLiteral(":/quarnel/icons/quarnel-%1.png").arg(size), QSize(size, size));
  return icon;
}

QuarnelWindow::QuarnelWindow(QtDialogBoxes boxes, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_pSourceLabel(new QLabel(tr("Select source file:"), this)),
      m_pSourceEdit(new QLineEdit(this)),
      m_pBrowseSourceButton(new QPushButton(tr("Browse"), this)),
      m_pBrowseFolderButton(new QPushButton(tr("Folder…"), this)),
      m_pTargetLabel(new QLabel(tr("Select target file:"), this)),
      m_pTargetEdit(new QLineEdit(this)),
      m_pBrowseTargetButton(new QPushButton(tr("Browse"), this)),
      m_pConvertButton(new QPushButton(tr("Convert"), this)),
      m_pCancelButton(new QPushButton(tr("Cancel"), this)),
      m_pProgressBar(new QProgressBar(this)),
      m_host(*this, *m_pSourceEdit, *m_pTargetEdit, std::move(boxes)),
      m_dlg(m_host) {
  setWindowTitle(QString::fromStdWString(std::wstring(kApplicationName)));
  setWindowIcon(QuarnelIcon());
  m_pSourceEdit->setObjectName(QStringLiteral("sourceEdit"));
  m_pTargetEdit->setObjectName(QStringLiteral("targetEdit"));
  m_pBrowseSourceButton->setObjectName(QStringLiteral("browseSourceButton"));
  m_pBrowseFolderButton->setObjectName(QStringLiteral("browseFolderButton"));
  m_pProgressBar->setObjectName(QStringLiteral("progressBar"));
  m_pProgressBar->setRange(0, 1);
  m_pProgressBar->setValue(0);
  m_pProgressBar->setTextVisible(false);
  m_pBrowseTargetButton->setObjectName(QStringLiteral("browseTargetButton"));
  m_pConvertButton->setObjectName(QStringLiteral("convertButton"));
  m_pCancelButton->setObjectName(QStringLiteral("cancelButton"));
  LayOutControls();

  // Enter in either field presses Convert, which never closes the window;
  // Cancel, Escape and the title bar's close button are the only ways out.
  m_pConvertButton->setDefault(true);
  connect(m_pConvertButton, &QPushButton::clicked, this, [this] { m_dlg.OnConvert(); });
  connect(m_pCancelButton, &QPushButton::clicked, this, &QDialog::reject);
  connect(m_pBrowseSourceButton, &QPushButton::clicked, this, [this] { m_dlg.OnBrowseSource(); });
  connect(m_pBrowseTargetButton, &QPushButton::clicked, this, [this] { m_dlg.OnBrowseTarget(); });
  connect(m_pBrowseFolderButton, &QPushButton::clicked, this, [this] { m_dlg.OnBrowseFolder(); });
  m_host.SetBatchView({[this](bool running) { ShowBatchRunning(running); },
                       [this](std::size_t done, std::size_t total) { ShowBatchProgress(done, total); }});
  // textEdited, unlike textChanged, comes from the user only.
  connect(m_pSourceEdit, &QLineEdit::textEdited, this, [this] { m_dlg.OnEditSource(); });
  connect(m_pTargetEdit, &QLineEdit::textEdited, this, [this] { m_dlg.OnEditTarget(); });

  // Tab order of the Windows dialog's template: the buttons first.
  setTabOrder(m_pConvertButton, m_pCancelButton);
  setTabOrder(m_pCancelButton, m_pSourceEdit);
  setTabOrder(m_pSourceEdit, m_pTargetEdit);
  setTabOrder(m_pTargetEdit, m_pBrowseSourceButton);
  setTabOrder(m_pBrowseSourceButton, m_pBrowseFolderButton);
  setTabOrder(m_pBrowseFolderButton, m_pBrowseTargetButton);

  // Linux window managers have no menu for a program to add to, so the About
  // entry lives in the window's context menu, and on F1.
  auto* aboutAction = new QAction(tr("&About Quarnel"), this);
  aboutAction->setObjectName(QStringLiteral("aboutAction"));
  aboutAction->setShortcut(QKeySequence(Qt::Key_F1));
  aboutAction->setShortcutContext(Qt::WindowShortcut);
  connect(aboutAction, &QAction::triggered, this, &QuarnelWindow::ShowAboutBox);
  addAction(aboutAction);
  setContextMenuPolicy(Qt::ActionsContextMenu);

  // Files may be dropped anywhere on the window. The fields pass drags on to
  // it instead of taking the dropped URL as text.
  setAcceptDrops(true);
  m_pSourceEdit->setAcceptDrops(false);
  m_pTargetEdit->setAcceptDrops(false);

  if (m_dlg.OnInitDialog()) m_pConvertButton->setFocus();
}

void QuarnelWindow::LayOutControls() {
  const QFontMetrics metrics = fontMetrics();
  m_pSourceEdit->setMinimumWidth(HorizontalUnits(metrics, kFieldWidthUnits));
  m_pTargetEdit->setMinimumWidth(HorizontalUnits(metrics, kFieldWidthUnits));
  // Only the fields take extra width; the window keeps its height.
  m_pSourceLabel->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
  m_pTargetLabel->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);

  auto* fields = new QGridLayout;
  fields->addWidget(m_pSourceLabel, 0, 0, 1, 3);
  fields->addWidget(m_pSourceEdit, 1, 0);
  fields->addWidget(m_pBrowseSourceButton, 1, 1);
  fields->addWidget(m_pBrowseFolderButton, 1, 2);
  fields->setRowMinimumHeight(2, VerticalUnits(metrics, kGroupGapUnits) - fields->verticalSpacing());
  fields->addWidget(m_pTargetLabel, 3, 0, 1, 3);
  fields->addWidget(m_pTargetEdit, 4, 0);
  fields->addWidget(m_pBrowseTargetButton, 4, 1);
  fields->setColumnStretch(0, 1);

  m_pConvertButton->setMinimumWidth(HorizontalUnits(metrics, kButtonWidthUnits));
  m_pCancelButton->setMinimumWidth(HorizontalUnits(metrics, kButtonWidthUnits));
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(m_pConvertButton);
  buttons->addSpacing(HorizontalUnits(metrics, kButtonSpacingUnits));
  buttons->addWidget(m_pCancelButton);
  buttons->addStretch();

  auto* page = new QVBoxLayout(this);
  page->addLayout(fields);
  page->addSpacing(VerticalUnits(metrics, kButtonGapUnits) / 2);
  page->addWidget(m_pProgressBar);
  page->addSpacing(VerticalUnits(metrics, kButtonGapUnits) / 2);
  page->addLayout(buttons);
  page->setSizeConstraint(QLayout::SetMinAndMaxSize);
}

// A full path, as the open dialog would return it, so the proposal names a folder.
void QuarnelWindow::OpenSourceFile(const QString& path) {
  m_dlg.OpenSourceFile(QFileInfo(path).absoluteFilePath().toStdWString());
}

void QuarnelWindow::OpenSourceFiles(const QStringList& paths) {
  std::vector<std::wstring> files;
  for (const QString& path : paths) files.push_back(QFileInfo(path).absoluteFilePath().toStdWString());
  m_dlg.OpenSourceFiles(files);
}

void QuarnelWindow::reject() {
  if (m_dlg.OnCancel()) QDialog::reject();
}

void QuarnelWindow::ShowBatchRunning(bool running) {
  for (QWidget* control : std::initializer_list<QWidget*>{m_pSourceEdit, m_pTargetEdit, m_pBrowseSourceButton,
                                                          m_pBrowseFolderButton, m_pBrowseTargetButton,
                                                          m_pConvertButton})
    control->setEnabled(!running);
  setAcceptDrops(!running);
  if (running) {
    m_pCancelButton->setFocus();
  } else {
    m_pConvertButton->setFocus();
  }
}

void QuarnelWindow::ShowBatchProgress(std::size_t done, std::size_t total) {
  // An unknown total (the folders are still being walked) shows a busy bar.
  m_pProgressBar->setRange(0, static_cast<int>(std::min<std::size_t>(total, INT_MAX)));
  m_pProgressBar->setValue(static_cast<int>(std::min<std::size_t>(done, INT_MAX)));
}

void QuarnelWindow::ShowAboutBox() {
  AboutBox about(this);
  about.exec();
}

void QuarnelWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (!LocalFiles(event->mimeData()).empty()) event->acceptProposedAction();
}

void QuarnelWindow::dropEvent(QDropEvent* event) {
  const std::vector<std::wstring> files = LocalFiles(event->mimeData());
  if (files.empty()) return;
  event->acceptProposedAction();
  m_dlg.OnDropFiles(files);
}

}  // namespace quarnel::ui
