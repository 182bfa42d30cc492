// The dialog's behaviour against a scripted host: what the fields show, what
// the file dialogs are asked, which messages appear, and real conversions.
#include "quarnel/ui/quarnel_dlg.h"

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace quarnel::ui {
namespace {

namespace fs = std::filesystem;

// Plays the window system: fields the test can type into, file dialogs that
// answer from a script, and a record of every request and message.
class FakeHost : public DialogHost {
 public:
  std::wstring GetFieldText(DialogField field) override { return Field(field); }
  void SetFieldText(DialogField field, const std::wstring& text) override { Field(field) = text; }
  std::wstring ApplicationName() override { return L"Quarnel"; }
  void ShowMessage(const MessageRequest& message) override { messages.push_back(message); }
  std::optional<std::wstring> ShowOpenFileDialog(const FileDialogRequest& request) override {
    openRequests.push_back(request);
    return NextAnswer();
  }
  std::optional<std::wstring> ShowSaveFileDialog(const FileDialogRequest& request) override {
    saveRequests.push_back(request);
    return NextAnswer();
  }

  std::wstring& Field(DialogField field) { return field == DialogField::Source ? source : target; }

  std::wstring source;
  std::wstring target;
  std::deque<std::optional<std::wstring>> answers;  // nullopt: the user cancels
  std::vector<FileDialogRequest> openRequests;
  std::vector<FileDialogRequest> saveRequests;
  std::vector<MessageRequest> messages;

 private:
  std::optional<std::wstring> NextAnswer() {
    EXPECT_FALSE(answers.empty()) << "a file dialog opened that the test did not expect";
    if (answers.empty()) return std::nullopt;
    std::optional<std::wstring> answer = answers.front();
    answers.pop_front();
    return answer;
  }
};

class DialogTest : public ::testing::Test {
 protected:
  DialogTest() { dialog.OnInitDialog(); }

  void PickSource(std::optional<std::wstring> answer) {
    host.answers.push_back(std::move(answer));
    dialog.OnBrowseSource();
  }
  void PickTarget(std::optional<std::wstring> answer) {
    host.answers.push_back(std::move(answer));
    dialog.OnBrowseTarget();
  }
  void Type(const std::wstring& source, const std::wstring& target) {
    host.source = source;
    host.target = target;
  }

  FakeHost host;
  CQuarnelDlg dialog{host};
};

TEST_F(DialogTest, OpensWithTheInitialTextsAndAFreshState) {
  EXPECT_EQ(host.source, L"Source File");
  EXPECT_EQ(host.target, L"Target File");
  EXPECT_TRUE(dialog.State().m_bConversionNeeded);
  EXPECT_FALSE(dialog.State().m_bWideCodes);
  EXPECT_EQ(dialog.State().m_aFlaggedVariables, ConversionState::EmptyList());
  EXPECT_EQ(dialog.State().m_aRemovedApps, ConversionState::EmptyList());
}

TEST_F(DialogTest, ProposesTheTargetBesideThePickedSource) {
  struct Case {
    std::wstring picked, dir, name, target, saveName;
  };
  const Case cases[] = {
      {L"C:\\data\\job.frt", L"C:\\data\\", L"job.frt", L"C:\\data\\QZ_job.frt", L"QZ_job.frt"},
      {L"D:\\job.frt", L"D:\\", L"job.frt", L"D:\\QZ_job.frt", L"QZ_job.frt"},
      // The source's extension stays; "frt" is the save dialog's to add.
      {L"C:\\data\\job", L"C:\\data\\", L"job", L"C:\\data\\QZ_job", L"QZ_job"},
      {L"C:\\data\\job.txt", L"C:\\data\\", L"job.txt", L"C:\\data\\QZ_job.txt", L"QZ_job.txt"},
      // A dot in a folder name is no extension.
      {L"C:\\v1.2\\job", L"C:\\v1.2\\", L"job", L"C:\\v1.2\\QZ_job", L"QZ_job"},
      // A Linux front end hands over '/' paths.
      {L"/home/ann/job.frt", L"/home/ann/", L"job.frt", L"/home/ann/QZ_job.frt", L"QZ_job.frt"},
      // No separator at all: no folder, the whole path is the name.
      {L"job.frt", L"", L"job.frt", L"QZ_job.frt", L"QZ_job.frt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.picked));
    PickSource(c.picked);
    EXPECT_EQ(host.source, c.picked);
    EXPECT_EQ(host.target, c.target);
    EXPECT_EQ(dialog.SourceDir(), c.dir);
    EXPECT_EQ(dialog.SourceName(), c.name);

    PickTarget(std::nullopt);
    EXPECT_EQ(host.saveRequests.back().initialName, c.saveName);
    EXPECT_EQ(host.target, c.target) << "a cancelled save dialog keeps the proposal";
  }
}

TEST_F(DialogTest, AsksTheOpenAndSaveDialogsForWhatEachNeeds) {
  PickSource(L"C:\\data\\job.frt");
  PickTarget(L"C:\\out\\new.frt");
  ASSERT_EQ(host.openRequests.size(), 1u);
  ASSERT_EQ(host.saveRequests.size(), 1u);
  const FileDialogRequest& open = host.openRequests[0];
  EXPECT_EQ(open.initialName, L"");
  EXPECT_EQ(open.maxFile, 259u);
  EXPECT_EQ(open.title, L"");
  EXPECT_EQ(open.defaultExtension, L"");
  EXPECT_TRUE(open.mustExist);
  EXPECT_FALSE(open.overwritePrompt);
  // The target may be a new file, and an existing one is replaced only after
  // the user has confirmed it.
  const FileDialogRequest& save = host.saveRequests[0];
  EXPECT_EQ(save.maxFile, 259u);
  EXPECT_EQ(save.title, L"Save As");
  EXPECT_EQ(save.defaultExtension, L"frt");
  EXPECT_FALSE(save.mustExist);
  EXPECT_TRUE(save.overwritePrompt);
  EXPECT_EQ(host.target, L"C:\\out\\new.frt");
}

TEST_F(DialogTest, ProposesNothingBeforeASourceWasPicked) {
  Type(L"C:\\typed\\job.frt", L"Target File");
  PickTarget(std::nullopt);
  EXPECT_EQ(host.saveRequests.back().initialName, L"") << "a typed source is never proposed from";
  EXPECT_EQ(host.source, L"Source File");
}

TEST_F(DialogTest, CancelledSourcePickForgetsTheNameButKeepsTheFields) {
  PickSource(L"C:\\data\\job.frt");
  PickSource(std::nullopt);
  EXPECT_EQ(host.source, L"C:\\data\\job.frt");
  EXPECT_EQ(host.target, L"C:\\data\\QZ_job.frt");
  EXPECT_EQ(dialog.SourceName(), L"");
  EXPECT_EQ(dialog.SourceDir(), L"");
  EXPECT_TRUE(dialog.SourceBrowsed());
  PickTarget(std::nullopt);
  EXPECT_EQ(host.saveRequests.back().initialName, L"QZ_");
}

TEST_F(DialogTest, CancelShowsTheStoredStringsAgain) {
  Type(L"typed source", L"typed target");
  PickSource(std::nullopt);
  EXPECT_EQ(host.source, L"Source File");
  EXPECT_EQ(host.target, L"Target File");

  PickSource(L"C:\\data\\job.frt");
  Type(L"typed source", L"typed target");
  PickTarget(std::nullopt);
  EXPECT_EQ(host.source, L"C:\\data\\job.frt");
  EXPECT_EQ(host.target, L"C:\\data\\QZ_job.frt");
}

TEST_F(DialogTest, EachPickReplacesTheTargetBeforeIt) {
  PickSource(L"C:\\data\\job.frt");
  PickTarget(L"E:\\elsewhere\\mine.frt");
  EXPECT_EQ(host.target, L"E:\\elsewhere\\mine.frt");
  // The proposal still comes from the browsed source, not from the target.
  PickTarget(std::nullopt);
  EXPECT_EQ(host.saveRequests.back().initialName, L"QZ_job.frt");
  PickSource(L"C:\\other\\site.frt");
  EXPECT_EQ(host.target, L"C:\\other\\QZ_site.frt");
}

TEST_F(DialogTest, NeverProposesAPathLongerThanItsBuffer) {
  const std::wstring dir = L"C:\\" + std::wstring(200, L'd') + L"\\";  // 204 characters
  struct Case {
    std::size_t nameLength;
    bool proposed;
  };
  // Source path = 204 + name; the proposal adds 3 and must stay within 259.
  const Case cases[] = {{52, true}, {53, false}, {54, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.nameLength);
    const std::wstring name(c.nameLength, L'n');
    Type(L"Source File", L"C:\\kept.frt");
    dialog.UpdateData(true);
    PickSource(dir + name);
    EXPECT_EQ(host.source, dir + name);
    EXPECT_EQ(dialog.SourceName(), name);
    if (c.proposed) {
      EXPECT_EQ(host.target, dir + L"QZ_" + name);
      EXPECT_EQ(host.target.size(), 259u);
    } else {
      EXPECT_EQ(host.target, L"C:\\kept.frt") << "no cut proposal replaces the target";
    }
  }
}

TEST_F(DialogTest, NeverOpensTheSaveDialogWithANameLongerThanItsBuffer) {
  // Names without a folder, so the name alone decides: "QZ_" + 256 is 259.
  PickSource(std::wstring(256, L'n'));
  PickTarget(std::nullopt);
  EXPECT_EQ(host.saveRequests.back().initialName, L"QZ_" + std::wstring(256, L'n'));
  PickSource(std::wstring(257, L'n'));
  PickTarget(std::nullopt);
  EXPECT_EQ(host.saveRequests.back().initialName, L"");
}

TEST_F(DialogTest, PathsTheFileDialogsCannotReturnCountAsCancelled) {
  // 258 characters and the terminator fill nMaxFile = 259; one more does not fit.
  const std::wstring longest = L"C:\\" + std::wstring(255, L'n');
  const std::wstring tooLong = longest + L"x";
  PickSource(tooLong);
  EXPECT_EQ(host.source, L"Source File");
  EXPECT_FALSE(dialog.SourceBrowsed());
  PickTarget(tooLong);
  EXPECT_EQ(host.target, L"Target File");
  PickSource(longest);
  EXPECT_EQ(host.source, longest);
  PickTarget(longest);
  EXPECT_EQ(host.target, longest);
}

TEST_F(DialogTest, DroppedFileIsTakenLikeAPickedSource) {
  Type(L"typed", L"typed");
  dialog.OnDropFiles(L"C:\\data\\job.frt");
  EXPECT_TRUE(host.openRequests.empty()) << "a drop opens no dialog";
  EXPECT_EQ(host.source, L"C:\\data\\job.frt");
  EXPECT_EQ(host.target, L"C:\\data\\QZ_job.frt");
  EXPECT_TRUE(dialog.SourceBrowsed());
  PickTarget(std::nullopt);
  EXPECT_EQ(host.saveRequests.back().initialName, L"QZ_job.frt");

  // A path no file dialog could return changes nothing but the forgotten name,
  // as a cancelled pick does.
  dialog.OnDropFiles(L"C:\\" + std::wstring(260, L'n'));
  EXPECT_EQ(host.source, L"C:\\data\\job.frt");
  EXPECT_EQ(dialog.SourceName(), L"");
}

TEST_F(DialogTest, RefusesAnEmptyFieldAfterResettingTheState) {
  struct Case {
    std::wstring source, target;
  };
  const Case cases[] = {{L"", L"C:\\t.frt"}, {L"C:\\s.frt", L""}, {L"", L""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.source + L"|" + c.target));
    host.messages.clear();
    // A missing source leaves the flag cleared by its failure report.
    Type(L"/nonexistent/quarnel/source.frt", L"/nonexistent/quarnel/target.frt");
    dialog.OnConvert();
    ASSERT_FALSE(dialog.State().m_bConversionNeeded);

    Type(c.source, c.target);
    dialog.OnConvert();
    ASSERT_EQ(host.messages.size(), 2u);
    const MessageRequest& refusal = host.messages[1];
    EXPECT_EQ(refusal.text, L"File is not selected!");
    EXPECT_EQ(refusal.caption, L"Quarnel");
    EXPECT_EQ(refusal.icon, MessageIcon::Exclamation);
    EXPECT_TRUE(dialog.State().m_bConversionNeeded);
    EXPECT_EQ(dialog.SourceFile(), c.source);
    EXPECT_EQ(dialog.TargetFile(), c.target);
  }
}

// Real conversions in a folder of their own.
class ConvertTest : public DialogTest {
 protected:
  ConvertTest() {
    folder = fs::temp_directory_path() /
             ("quarnel-dlg-" + std::to_string(std::random_device{}()) + "-" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder);
    fs::create_directories(folder);
  }
  ~ConvertTest() override { fs::remove_all(folder); }

  // Writes a file of `name` and returns its path as a field holds it (for an
  // ASCII name; others are widened byte by byte).
  std::wstring Write(const std::string& name, const std::string& bytes) {
    std::ofstream(folder / name, std::ios::binary) << bytes;
    return folder.wstring() + L"/" + std::wstring(name.begin(), name.end());
  }
  std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  // Converts `source` into `target` as a user would and returns the report.
  std::wstring Convert(const std::wstring& source, const std::wstring& target) {
    Type(source, target);
    host.messages.clear();
    dialog.OnConvert();
    EXPECT_EQ(host.messages.size(), 1u);
    if (host.messages.empty()) return L"";
    EXPECT_EQ(host.messages[0].caption, L"Quarnel");
    EXPECT_EQ(host.messages[0].icon, MessageIcon::Exclamation);
    return host.messages[0].text;
  }

  fs::path folder;
};

constexpr char kCompleted[] = "Format-File Conversion completed!\n\n";

TEST_F(ConvertTest, ReportOfARunReachesTheMessageBox) {
  const std::wstring source = Write("job.frt", "@i KRV110\n$\"A\";120\n");
  const std::wstring target = (folder / "QZ_job.frt").wstring();
  EXPECT_EQ(Convert(source, target),
            L"Format-File Conversion completed!\n\n"
            L"120: \"Line Adjustment\" Application\n"
            L"\nThe application does not exist on Tessolan, thus the entry has been removed from\n"
            L"the Format File .\n\n"
            L"Make sure the Format File works correctly before using!");
  EXPECT_EQ(Read(folder / "QZ_job.frt"), "@i QZ21/25/27\r\n$\"A\";\r\n");

  EXPECT_EQ(Convert((folder / "missing.frt").wstring(), target),
            L"Format-File Conversion failed due to invalid input!");
}

TEST_F(ConvertTest, BlanksArePassedOnAsAPath) {
  // "  " is not empty: the engine is asked to open it, and cannot.
  EXPECT_EQ(Convert(L"  ", (folder / "out.frt").wstring()), L"Format-File Conversion failed due to invalid input!");
  EXPECT_EQ(dialog.SourceFile(), L"  ");
  EXPECT_FALSE(fs::exists(folder / "out.frt"));
}

TEST_F(ConvertTest, NonAsciiPathsReachTheFileSystemAsTyped) {
  // The dialog names both files; the folder listing, read as UTF-8, shows
  // what the file system received.
  const std::wstring source = Write("job.frt", "@i KRV880\n");
  const std::wstring first = folder.wstring() + L"/Messung-\u00FC.frt";
  const std::wstring second = folder.wstring() + L"/QZ_Messung-\u00FC-\u00E9.frt";
  EXPECT_EQ(Convert(source, first), L"Format-File Conversion completed!\n\n");
  EXPECT_EQ(Convert(source, second), L"Format-File Conversion completed!\n\n");
  // Read back through its non-ASCII name: it names the new family already, so
  // the target stays as it was.
  EXPECT_EQ(Convert(first, second), L"Format-File Conversion is not necessary!");

  std::set<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    const std::u8string name = entry.path().filename().u8string();
    names.insert(std::string(name.begin(), name.end()));
    if (name == u8"QZ_Messung-\u00FC-\u00E9.frt") {
      EXPECT_EQ(Read(entry.path()), "@i QZ21/25/27\r\n");
    }
  }
  EXPECT_EQ(names, (std::set<std::string>{"job.frt", "Messung-\xC3\xBC.frt", "QZ_Messung-\xC3\xBC-\xC3\xA9.frt"}));
}

TEST_F(ConvertTest, LayoutOfTheLastModelLineCarriesOverToTheNextRun) {
  // Read narrow, ";12000" is code 120 (removed) and a code "00"; read wide it
  // is one code, 12000, kept as it stands.
  const std::string formatLine = "$\"A\";12000\n";
  const std::wstring noModel = Write("no-model-line.frt", formatLine);
  const std::wstring wideSource = Write("krv880.frt", "@i KRV880\n" + formatLine);
  const std::wstring narrowSource = Write("krv110.frt", "@i KRV110\n" + formatLine);
  const std::wstring target = (folder / "out.frt").wstring();
  const std::string wideLine = "$\"A\";12000\r\n";
  const std::string narrowLine = "$\"A\";0000\r\n";

  Convert(noModel, target);
  EXPECT_EQ(Read(target), narrowLine) << "the first run of a dialog reads narrow";

  EXPECT_EQ(Convert(wideSource, target), L"Format-File Conversion completed!\n\n");
  EXPECT_EQ(Read(target), "@i QZ21/25/27\r\n" + wideLine);
  EXPECT_EQ(Convert(noModel, target), L"Format-File Conversion completed!\n\n");
  EXPECT_EQ(Read(target), wideLine);
  EXPECT_TRUE(dialog.State().m_bWideCodes);

  const std::wstring narrowReport = Convert(narrowSource, target);
  EXPECT_EQ(narrowReport.rfind(std::wstring(std::begin(kCompleted), std::end(kCompleted) - 1) + L"120: ", 0), 0u)
      << ::testing::PrintToString(narrowReport);
  EXPECT_EQ(Convert(noModel, target), narrowReport) << "the lists were emptied between the runs";
  EXPECT_EQ(Read(target), narrowLine);
}

}  // namespace
}  // namespace quarnel::ui
