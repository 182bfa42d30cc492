// quarnel-gui's window on the offscreen platform: keys, clicks and drops on
// the real widgets, the message boxes and file dialogs answered by the test,
// and the real Qt boxes checked against what the dialog asked of them.
#include <gtest/gtest.h>

#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <ostream>
#include <string>
#include <stdlib.h>
#include <unistd.h>
#include <vector>

#include "qt_dialog_host.h"
#include "quarnel/target_name.h"
#include "quarnel/version.h"
#include "quarnel_window.h"

// Failures show text, not UTF-16 code units.
void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace quarnel::ui {
namespace {

namespace fs = std::filesystem;

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Stands in for the user at the message boxes and file dialogs: records what
// the window asks and answers the file dialogs from a script.
struct ScriptedBoxes {
  QtDialogBoxes Boxes() {
    QtDialogBoxes boxes;
    boxes.showMessage = [this](QWidget*, const MessageRequest& message) { messages.push_back(message); };
    boxes.showOpenFile = [this](QWidget*, const FileDialogRequest& request) {
      openRequests.push_back(request);
      return NextAnswer();
    };
    boxes.showSaveFile = [this](QWidget*, const FileDialogRequest& request) {
      saveRequests.push_back(request);
      return NextAnswer();
    };
    return boxes;
  }

  std::optional<std::wstring> NextAnswer() {
    EXPECT_FALSE(answers.empty()) << "a file dialog opened that the test did not expect";
    if (answers.empty()) return std::nullopt;
    std::optional<std::wstring> answer = answers.front();
    answers.pop_front();
    return answer;
  }

  std::deque<std::optional<std::wstring>> answers;  // nullopt: the user cancels
  std::vector<FileDialogRequest> openRequests;
  std::vector<FileDialogRequest> saveRequests;
  std::vector<MessageRequest> messages;
};

// Acts on the next modal window or popup menu as soon as it is up, from inside
// its event loop. The timer dies with this object, so a window that never
// opened cannot carry the action into a later test.
class WhenModalOpens {
 public:
  explicit WhenModalOpens(std::function<void(QWidget*)> act) : m_act(std::move(act)) {
    QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] {
      QWidget* modal = QApplication::activePopupWidget();
      if (modal == nullptr) modal = QApplication::activeModalWidget();
      if (modal == nullptr) return;
      m_timer.stop();
      m_bActed = true;
      m_act(modal);
    });
    m_timer.start(0);
  }
  bool Acted() const { return m_bActed; }

 private:
  std::function<void(QWidget*)> m_act;
  QTimer m_timer;
  bool m_bActed = false;
};

class QuarnelWindowTest : public ::testing::Test {
 protected:
  QuarnelWindowTest() : window(script.Boxes()) {
    dir = fs::temp_directory_path() /
          ("quarnel-qt-" + std::to_string(::getpid()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
    window.show();
    window.activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
  }
  ~QuarnelWindowTest() override { fs::remove_all(dir); }

  template <typename Widget>
  Widget* Child(const char* name) {
    auto* child = window.findChild<Widget*>(QLatin1String(name));
    EXPECT_NE(child, nullptr) << name;
    return child;
  }
  QLineEdit* SourceEdit() { return Child<QLineEdit>("sourceEdit"); }
  QLineEdit* TargetEdit() { return Child<QLineEdit>("targetEdit"); }

  // Replaces a field's text as the user would: select all, then type.
  static void Type(QLineEdit* edit, const QString& text) {
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(edit, text);
  }

  static QString Q(const fs::path& path) { return QString::fromStdString(path.string()); }

  // A sample of an old model, copied to `name` in the test's folder.
  fs::path CopySample(const fs::path& name) {
    const fs::path copy = dir / name;
    fs::copy_file(fs::path(QUARNEL_SAMPLES_DIR) / "narrow-krv330.frt", copy);
    return copy;
  }
  // A drag of `urls` entered and dropped on `widget`, as the platform
  // delivers it; true when the drop was taken.
  static bool Drop(QWidget* widget, const QList<QUrl>& urls) {
    QMimeData mime;
    mime.setUrls(urls);
    // File managers offer the names as plain text as well.
    QStringList names;
    for (const QUrl& url : urls) names << url.toString();
    mime.setText(names.join('\n'));
    const QPoint centre = widget->rect().center();
    QDragEnterEvent enter(centre, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &enter);
    if (!enter.isAccepted()) return false;
    QDropEvent dropped(centre, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &dropped);
    return dropped.isAccepted();
  }

  static std::string ExpectedTarget() { return ReadBytes(fs::path(QUARNEL_EXPECTED_DIR) / "QZ_narrow-krv330.frt"); }

  ScriptedBoxes script;
  QuarnelWindow window;
  fs::path dir;
};

TEST_F(QuarnelWindowTest, OpensWithTheWindowsDialogsControlsOrderAndFocus) {
  EXPECT_EQ(window.windowTitle(), "Quarnel");
  EXPECT_EQ(SourceEdit()->text(), "");
  EXPECT_EQ(TargetEdit()->text(), "");
  EXPECT_EQ(SourceEdit()->placeholderText(), "Source File");
  EXPECT_EQ(TargetEdit()->placeholderText(), "Target File");
  auto* convert = Child<QPushButton>("convertButton");
  auto* cancel = Child<QPushButton>("cancelButton");
  auto* browseSource = Child<QPushButton>("browseSourceButton");
  auto* browseTarget = Child<QPushButton>("browseTargetButton");
  EXPECT_EQ(convert->text(), "Convert");
  EXPECT_EQ(cancel->text(), "Cancel");
  EXPECT_EQ(browseSource->text(), "Browse");
  EXPECT_EQ(browseTarget->text(), "Browse");
  EXPECT_TRUE(convert->isDefault());
  EXPECT_FALSE(window.windowIcon().isNull());

  QStringList labels;
  for (const QLabel* label : window.findChildren<QLabel*>()) labels << label->text();
  EXPECT_EQ(labels, QStringList({"Select source file:", "Select target file:"}));

  // Template order: the first tab stop, Convert, has the focus at start.
  EXPECT_EQ(QApplication::focusWidget(), convert);
  const QWidget* expectedOrder[] = {cancel, SourceEdit(), TargetEdit(), browseSource, browseTarget, convert};
  for (const QWidget* expected : expectedOrder) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), expected) << expected->objectName().toStdString();
  }

  // The artefact a reviewer looks at.
  QDir().mkpath(QUARNEL_ARTIFACT_DIR);
  EXPECT_TRUE(window.grab().save(QUARNEL_ARTIFACT_DIR "/quarnel-gui.png"));
}

TEST_F(QuarnelWindowTest, KeepsItsLayoutAtAnyFontSize) {
  for (int pointSize : {6, 10, 24}) {
    SCOPED_TRACE(pointSize);
    QFont font = window.font();
    font.setPointSize(pointSize);
    QuarnelWindow scaled(script.Boxes());
    scaled.setFont(font);
    scaled.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&scaled));
    auto at = [&scaled](const char* name) { return scaled.findChild<QWidget*>(QLatin1String(name))->geometry(); };
    const QRect source = at("sourceEdit"), target = at("targetEdit");
    const QRect browseSource = at("browseSourceButton"), browseTarget = at("browseTargetButton");
    const QRect convert = at("convertButton"), cancel = at("cancelButton");
    EXPECT_LT(source.bottom(), target.top());
    EXPECT_LT(target.bottom(), convert.top());
    EXPECT_LT(source.right(), browseSource.left());
    EXPECT_LT(target.right(), browseTarget.left());
    EXPECT_LT(convert.right(), cancel.left());
    EXPECT_TRUE(scaled.rect().contains(browseTarget));
    EXPECT_TRUE(scaled.rect().contains(cancel));
    // No button text is cut off.
    for (const QPushButton* button : scaled.findChildren<QPushButton*>()) {
      EXPECT_GE(button->width(), button->sizeHint().width()) << button->objectName().toStdString();
    }
  }
}

TEST_F(QuarnelWindowTest, EnterInEitherFieldConvertsAndShowsTheReport) {
  const fs::path source = CopySample("job.frt");
  const fs::path target = dir / "out.frt";
  Type(SourceEdit(), Q(source));
  Type(TargetEdit(), Q(target));
  QTest::keyClick(TargetEdit(), Qt::Key_Return);

  ASSERT_EQ(script.messages.size(), 1u);
  EXPECT_EQ(script.messages[0].caption, L"Quarnel");
  EXPECT_EQ(script.messages[0].icon, MessageIcon::Exclamation);
  EXPECT_EQ(script.messages[0].text.rfind(L"Format-File Conversion completed!", 0), 0u);
  EXPECT_EQ(ReadBytes(target), ExpectedTarget());
  EXPECT_TRUE(window.isVisible()) << "Convert never ends the dialog";

  // Enter on the keypad, in the other field, and the button itself.
  QTest::keyClick(SourceEdit(), Qt::Key_Enter, Qt::KeypadModifier);
  QTest::mouseClick(Child<QPushButton>("convertButton"), Qt::LeftButton);
  ASSERT_EQ(script.messages.size(), 3u);
  EXPECT_EQ(script.messages[2].text, script.messages[0].text);
}

TEST_F(QuarnelWindowTest, AnEmptyFieldIsRefusedWithFileIsNotSelected) {
  const fs::path target = dir / "out.frt";
  for (QLineEdit* empty : {SourceEdit(), TargetEdit()}) {
    Type(SourceEdit(), Q(CopySample(fs::path("in-") += empty->objectName().toStdString())));
    Type(TargetEdit(), Q(target));
    empty->clear();
    QTest::keyClick(empty, Qt::Key_Return);
  }
  ASSERT_EQ(script.messages.size(), 2u);
  for (const MessageRequest& message : script.messages) {
    EXPECT_EQ(message.text, L"File is not selected!");
    EXPECT_EQ(message.caption, L"Quarnel");
    EXPECT_EQ(message.icon, MessageIcon::Exclamation);
  }
  EXPECT_FALSE(fs::exists(target));
}

TEST_F(QuarnelWindowTest, BrowseFillsTheFieldsAndProposesTheTarget) {
  script.answers = {L"/data/surveys/job.frt", std::nullopt, L"/data/out/new.frt"};
  QTest::mouseClick(Child<QPushButton>("browseSourceButton"), Qt::LeftButton);
  EXPECT_EQ(SourceEdit()->text(), "/data/surveys/job.frt");
  EXPECT_EQ(TargetEdit()->text(), "/data/surveys/QZ_job.frt");

  // Typing a source proposes over the proposal, key by key.
  Type(SourceEdit(), "/data/other/site.frt");
  EXPECT_EQ(TargetEdit()->text(), "/data/other/QZ_site.frt");
  // A cancelled save dialog keeps what was typed; typing then leaves it.
  Type(TargetEdit(), "typed");
  QTest::mouseClick(Child<QPushButton>("browseTargetButton"), Qt::LeftButton);
  EXPECT_EQ(TargetEdit()->text(), "typed");
  Type(SourceEdit(), "/data/third.frt");
  EXPECT_EQ(TargetEdit()->text(), "typed");

  QTest::mouseClick(Child<QPushButton>("browseTargetButton"), Qt::LeftButton);
  EXPECT_EQ(TargetEdit()->text(), "/data/out/new.frt");

  ASSERT_EQ(script.openRequests.size(), 1u);
  EXPECT_TRUE(script.openRequests[0].mustExist);
  ASSERT_EQ(script.saveRequests.size(), 2u);
  EXPECT_EQ(script.saveRequests[0].initialName, L"QZ_site.frt");
  EXPECT_EQ(script.saveRequests[0].initialDir, L"/data/other/");
  EXPECT_EQ(script.saveRequests[0].title, L"Save As");
  EXPECT_EQ(script.saveRequests[0].defaultExtension, L"frt");
  EXPECT_TRUE(script.saveRequests[0].overwritePrompt);
}

TEST_F(QuarnelWindowTest, ADroppedFileBecomesTheSource) {
  const fs::path source = CopySample("dropped.frt");
  EXPECT_FALSE(Drop(&window, {QUrl("https://example.org/job.frt")}));
  EXPECT_EQ(SourceEdit()->text(), "");

  // The first local file counts, as on Windows.
  EXPECT_TRUE(Drop(&window, {QUrl("https://example.org/job.frt"), QUrl::fromLocalFile(Q(source)),
                             QUrl::fromLocalFile("/tmp/second.frt")}));
  EXPECT_EQ(SourceEdit()->text(), Q(source));
  EXPECT_EQ(TargetEdit()->text(), Q(dir / "QZ_dropped.frt"));
  // A drop on a field reaches the window too, instead of the field taking
  // the URL as text.
  const fs::path other = CopySample("other.frt");
  EXPECT_TRUE(Drop(TargetEdit(), {QUrl::fromLocalFile(Q(other))}));
  EXPECT_EQ(SourceEdit()->text(), Q(other));
  EXPECT_EQ(TargetEdit()->text(), Q(dir / "QZ_other.frt"));

  QTest::keyClick(SourceEdit(), Qt::Key_Return);
  EXPECT_EQ(ReadBytes(dir / "QZ_other.frt"), ExpectedTarget());
}

TEST_F(QuarnelWindowTest, AFileNamedAtStartBecomesTheSource) {
  // quarnel-gui FILE, FILE relative to the working folder.
  const fs::path source = CopySample("started.frt");
  const QString before = QDir::currentPath();
  QDir::setCurrent(Q(dir));
  window.OpenSourceFile("started.frt");
  QDir::setCurrent(before);
  EXPECT_EQ(SourceEdit()->text(), Q(source));
  EXPECT_EQ(TargetEdit()->text(), Q(dir / "QZ_started.frt"));
  QTest::keyClick(SourceEdit(), Qt::Key_Return);
  EXPECT_EQ(ReadBytes(dir / "QZ_started.frt"), ExpectedTarget());
}

// Six nested project folders make a path longer than Windows' 260
// characters; Linux takes it, and so must the dialog, through the real open
// dialog as through the field.
TEST_F(QuarnelWindowTest, APathLongerThanWindowsTakesIsConverted) {
  fs::path folder = dir;
  for (int level = 0; level < 6; ++level) folder /= "project-" + std::to_string(level) + "-" + std::string(20, 'p');
  const std::size_t nameLength = 313 - (folder.string().size() + 1);
  ASSERT_GT(nameLength, 4u) << "the test's folder is too long already";
  const fs::path name = std::string(nameLength - 4, 'j') + ".frt";
  fs::create_directories(folder);
  const fs::path source = folder / name;
  fs::copy_file(fs::path(QUARNEL_SAMPLES_DIR) / "narrow-krv330.frt", source);
  ASSERT_EQ(source.string().size(), 313u);
  const fs::path target = folder / (std::string("QZ_") + name.string());

  FileDialogRequest request;
  request.mustExist = true;
  WhenModalOpens open([&](QWidget* modal) {
    auto* fileDialog = qobject_cast<QFileDialog*>(modal);
    ASSERT_NE(fileDialog, nullptr);
    fileDialog->setDirectory(Q(folder));
    fileDialog->selectFile(Q(name));
    QMetaObject::invokeMethod(fileDialog, "accept");
  });
  EXPECT_EQ(ShowQtOpenFileDialog(nullptr, request), source.wstring());
  EXPECT_TRUE(open.Acted());

  Type(SourceEdit(), Q(source));
  EXPECT_EQ(TargetEdit()->text(), Q(target));
  QTest::keyClick(SourceEdit(), Qt::Key_Return);
  ASSERT_EQ(script.messages.size(), 1u);
  const std::wstring& message = script.messages[0].text;
  EXPECT_EQ(message.rfind(L"Format-File Conversion completed!", 0), 0u);
  EXPECT_TRUE(message.ends_with(L"\n\nconverted into " + target.wstring())) << target;
  EXPECT_EQ(ReadBytes(target), ExpectedTarget());
}

// On Linux a backslash is a character of a name: the dialog proposes the
// target the command line names, not one in a folder "a".
TEST_F(QuarnelWindowTest, ABackslashNameIsProposedAsTheCommandLineProposesIt) {
  const fs::path source = CopySample("a\\b.frt");
  Type(SourceEdit(), Q(source));
  EXPECT_EQ(TargetEdit()->text(), Q(ProposeTargetPath(source)));
  EXPECT_EQ(TargetEdit()->text(), Q(dir / "QZ_a\\b.frt"));
  QTest::keyClick(SourceEdit(), Qt::Key_Return);
  EXPECT_EQ(ReadBytes(dir / "QZ_a\\b.frt"), ExpectedTarget());
}

TEST(QuarnelGuiProgramTest, HelpAndVersionPrintAndExit) {
  struct Case {
    const char* argument;
    QString firstLine;
  };
  const Case cases[] = {{"--help", "Usage: quarnel-gui [FILE]"}, {"--version", "quarnel-gui " QUARNEL_VERSION_TEXT}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.argument);
    QProcess program;
    program.start(QUARNEL_GUI_PROGRAM, {c.argument});
    ASSERT_TRUE(program.waitForFinished(30000));
    EXPECT_EQ(program.exitCode(), 0);
    EXPECT_EQ(QString::fromUtf8(program.readAllStandardOutput()).section('\n', 0, 0), c.firstLine);
  }
}

TEST_F(QuarnelWindowTest, NamesOutsideAsciiReachTheDiskUnchanged) {
  // Latin, CJK and a character beyond the Basic Multilingual Plane, which
  // QString holds as a surrogate pair and wchar_t as one code point.
  const fs::path name = fs::path(u8"Grüße-測量-\U0001F4D0.frt");
  const fs::path source = CopySample(name);
  const QString typed = Q(source);
  ASSERT_TRUE(typed.contains(QChar::highSurrogate(0x1F4D0)));

  EXPECT_TRUE(Drop(&window, {QUrl::fromLocalFile(typed)}));
  EXPECT_EQ(SourceEdit()->text(), typed);
  const fs::path proposed = dir / fs::path(u8"QZ_Grüße-測量-\U0001F4D0.frt");
  EXPECT_EQ(TargetEdit()->text(), Q(proposed));

  QTest::keyClick(TargetEdit(), Qt::Key_Return);
  ASSERT_EQ(script.messages.size(), 1u);
  EXPECT_EQ(script.messages[0].text.rfind(L"Format-File Conversion completed!", 0), 0u);
  EXPECT_EQ(ReadBytes(proposed), ExpectedTarget());
}

TEST_F(QuarnelWindowTest, EscapeCancelAndCloseEndTheDialog) {
  const std::function<void()> ways[] = {
      [this] { QTest::keyClick(SourceEdit(), Qt::Key_Escape); },
      [this] { QTest::mouseClick(Child<QPushButton>("cancelButton"), Qt::LeftButton); },
      [this] { window.close(); },
  };
  for (const auto& end : ways) {
    // exec() makes the window modal only when it shows it.
    window.hide();
    WhenModalOpens ender([&end](QWidget*) { end(); });
    EXPECT_EQ(window.exec(), QDialog::Rejected);
    EXPECT_TRUE(ender.Acted());
    EXPECT_FALSE(window.isVisible());
  }
  EXPECT_TRUE(script.messages.empty());
}

TEST_F(QuarnelWindowTest, TheAboutBoxOpensFromTheContextMenuAndF1) {
  QStringList menuEntries;
  {
    WhenModalOpens menu([&menuEntries](QWidget* popup) {
      for (const QAction* action : popup->actions()) menuEntries << action->text();
      popup->close();
    });
    QWidget* label = window.findChild<QLabel*>();
    QContextMenuEvent rightClick(QContextMenuEvent::Mouse, QPoint(2, 2), label->mapToGlobal(QPoint(2, 2)));
    QApplication::sendEvent(label, &rightClick);
    EXPECT_TRUE(menu.Acted());
  }
  EXPECT_EQ(menuEntries, QStringList({"&About Quarnel"}));
  QAction* about = window.actions().value(0);
  ASSERT_NE(about, nullptr);
  EXPECT_EQ(about->iconText(), "About Quarnel");

  struct Seen {
    QString title, version, notice, build;
    bool hasIcon = false;
  };
  auto openAbout = [](const std::function<void()>& open) {
    Seen seen;
    WhenModalOpens box([&seen](QWidget* modal) {
      seen.title = modal->windowTitle();
      seen.version = modal->findChild<QLabel*>("versionLabel")->text();
      seen.notice = modal->findChild<QLabel*>("noticeLabel")->text();
      seen.build = modal->findChild<QLabel*>("buildLabel")->text();
      for (const QLabel* label : modal->findChildren<QLabel*>()) seen.hasIcon |= !label->pixmap().isNull();
      QDir().mkpath(QUARNEL_ARTIFACT_DIR);
      EXPECT_TRUE(modal->grab().save(QUARNEL_ARTIFACT_DIR "/quarnel-gui-about.png"));
      QTest::keyClick(modal, Qt::Key_Return);
    });
    open();
    EXPECT_TRUE(box.Acted());
    return seen;
  };
  for (const Seen& seen : {openAbout([about] { about->trigger(); }),
                           openAbout([this] {
                             window.activateWindow();
                             ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
                             QTest::keyClick(SourceEdit(), Qt::Key_F1);
                           })}) {
    EXPECT_EQ(seen.title, "About Quarnel");
    EXPECT_EQ(seen.version, "Quarnel Ver. 1.0");
    EXPECT_EQ(seen.notice, "Copyright (C) 2008 Quarnel");
    EXPECT_EQ(seen.build, "Version " QUARNEL_VERSION_TEXT);
    EXPECT_TRUE(seen.hasIcon);
  }
  EXPECT_TRUE(window.isVisible());
}

// The real boxes behind the host, set up as the dialog's requests say.
TEST(QtDialogBoxesTest, MessageBoxHasOneOkButtonTheCaptionAndTheIcon) {
  struct Case {
    MessageIcon icon;
    QMessageBox::Icon shown;
  };
  for (const Case c : {Case{MessageIcon::Exclamation, QMessageBox::Warning}, Case{MessageIcon::None, QMessageBox::NoIcon}}) {
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::Critical;
    QMessageBox::StandardButtons buttons;
    WhenModalOpens box([&](QWidget* modal) {
      auto* messageBox = qobject_cast<QMessageBox*>(modal);
      ASSERT_NE(messageBox, nullptr);
      title = messageBox->windowTitle();
      text = messageBox->text();
      icon = messageBox->icon();
      buttons = messageBox->standardButtons();
      messageBox->button(QMessageBox::Ok)->click();
    });
    // A report line that looks like markup is shown as it stands.
    ShowQtMessageBox(nullptr, MessageRequest{L"<b>File</b> is not selected!", L"Quarnel", c.icon});
    EXPECT_TRUE(box.Acted());
    EXPECT_EQ(title, "Quarnel");
    EXPECT_EQ(text, "<b>File</b> is not selected!");
    EXPECT_EQ(icon, c.shown);
    EXPECT_EQ(buttons, QMessageBox::Ok);
  }
}

TEST(QtDialogBoxesTest, ReportBoxKeepsTheReportsOwnLineBreaks) {
  const QString report =
      "Please delete the above mentioned variables from the Export Formatstrings\n"
      "CORRECTIONS section in the Brenmoor Format Manager and add them into the\n"
      "MEASUREMENT KRV section.";
  int labelWidth = 0, longestLine = 0;
  WhenModalOpens box([&](QWidget* modal) {
    auto* label = modal->findChild<QLabel*>("qt_msgbox_label");
    ASSERT_NE(label, nullptr);
    labelWidth = label->width();
    for (const QString& line : report.split('\n'))
      longestLine = std::max(longestLine, label->fontMetrics().horizontalAdvance(line));
    qobject_cast<QMessageBox*>(modal)->button(QMessageBox::Ok)->click();
  });
  ShowQtMessageBox(nullptr, MessageRequest{report.toStdWString(), L"Quarnel", MessageIcon::Exclamation});
  EXPECT_TRUE(box.Acted());
  EXPECT_GE(labelWidth, longestLine);
}

TEST(QtDialogBoxesTest, SaveDialogAddsTheDefaultExtensionAndAsksBeforeOverwriting) {
  const fs::path dir = fs::temp_directory_path() / ("quarnel-qt-save-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  FileDialogRequest request;
  request.initialName = L"QZ_job.frt";
  request.title = L"Save As";
  request.defaultExtension = L"frt";
  request.overwritePrompt = true;

  QString title, initialName;
  bool asksBeforeOverwriting = false;
  QFileDialog::FileMode mode = QFileDialog::Directory;
  WhenModalOpens dialog([&](QWidget* modal) {
    auto* fileDialog = qobject_cast<QFileDialog*>(modal);
    ASSERT_NE(fileDialog, nullptr);
    title = fileDialog->windowTitle();
    initialName = fileDialog->selectedFiles().value(0);
    asksBeforeOverwriting = !fileDialog->testOption(QFileDialog::DontConfirmOverwrite);
    mode = fileDialog->fileMode();
    fileDialog->setDirectory(QString::fromStdString(dir.string()));
    fileDialog->selectFile("typed-without-extension");
    QMetaObject::invokeMethod(fileDialog, "accept");
  });
  const std::optional<std::wstring> picked = ShowQtSaveFileDialog(nullptr, request);
  EXPECT_TRUE(dialog.Acted());
  EXPECT_EQ(title, "Save As");
  EXPECT_TRUE(initialName.endsWith("/QZ_job.frt")) << initialName.toStdString();
  EXPECT_TRUE(asksBeforeOverwriting);
  EXPECT_EQ(mode, QFileDialog::AnyFile);
  EXPECT_EQ(picked, (dir / "typed-without-extension.frt").wstring());
  fs::remove_all(dir);
}

TEST(QuarnelIconTest, TheBuiltInIconIsTheWindowsIcon) {
  // Both are rendered from one drawing; a new .ico without new PNGs (or the
  // reverse) would show another icon on one of the systems.
  const QImage png = QuarnelIcon().pixmap(32, 32).toImage().convertToFormat(QImage::Format_ARGB32);
  QImage ico(QUARNEL_ICON_ICO);
  ASSERT_FALSE(ico.isNull()) << "Qt's ICO reader is missing";
  EXPECT_EQ(png, ico.convertToFormat(QImage::Format_ARGB32));
}

}  // namespace
}  // namespace quarnel::ui

int main(int argc, char* argv[]) {
  // Real widgets, but never on the user's screen: CTest sets the same.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // The file dialogs remember their folders in the settings; those of the
  // tests, and of quarnel-gui started by them, go to a folder of their own,
  // never into the user's.
  std::string settings = (std::filesystem::temp_directory_path() / "quarnel-qt-settings-XXXXXX").string();
  if (mkdtemp(settings.data()) == nullptr) return 1;
  qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(settings));
  ::testing::InitGoogleTest(&argc, argv);
  int status = 0;
  {
    QApplication app(argc, argv);
    status = RUN_ALL_TESTS();
  }
  std::filesystem::remove_all(settings);
  return status;
}
