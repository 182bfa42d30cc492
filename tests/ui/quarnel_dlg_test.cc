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

// Windows ends a folder at '\\' too; on Linux a name may hold one.
const bool kBackslashSeparates = fs::path::preferred_separator == L'\\';

// A folder path of exactly `length` characters, "/ddd.../ddd/", its names
// no longer than any file system takes.
std::wstring LongFolder(std::size_t length) {
  std::wstring folder = L"/";
  while (folder.size() < length) {
    const std::size_t name = std::min<std::size_t>(200, length - folder.size() - 1);
    folder += std::wstring(name, L'd') + L"/";
  }
  return folder;
}

// Plays the window system: fields the test can type into, file dialogs that
// answer from a script, and a record of every request and message.
class FakeHost : public DialogHost {
 public:
  std::wstring GetFieldText(DialogField field) override { return Field(field); }
  // Like a Win32 edit control, reports the change while the text is set.
  void SetFieldText(DialogField field, const std::wstring& text) override {
    Field(field) = text;
    if (dialog == nullptr) return;
    if (field == DialogField::Source) dialog->OnEditSource();
    else dialog->OnEditTarget();
  }
  void SetFieldHint(DialogField field, const std::wstring& hint) override {
    (field == DialogField::Source ? sourceHint : targetHint) = hint;
  }
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

  CQuarnelDlg* dialog = nullptr;
  std::wstring source;
  std::wstring target;
  std::wstring sourceHint;
  std::wstring targetHint;
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
  DialogTest() {
    host.dialog = &dialog;
    dialog.OnInitDialog();
  }

  void PickSource(std::optional<std::wstring> answer) {
    host.answers.push_back(std::move(answer));
    dialog.OnBrowseSource();
  }
  void PickTarget(std::optional<std::wstring> answer) {
    host.answers.push_back(std::move(answer));
    dialog.OnBrowseTarget();
  }
  // The user types into a field; the front end reports the edit.
  void TypeSource(const std::wstring& text) {
    host.source = text;
    dialog.OnEditSource();
  }
  void TypeTarget(const std::wstring& text) {
    host.target = text;
    dialog.OnEditTarget();
  }
  void Type(const std::wstring& source, const std::wstring& target) {
    TypeSource(source);
    TypeTarget(target);
  }

  FakeHost host;
  CQuarnelDlg dialog{host};
};

TEST_F(DialogTest, OpensWithEmptyFieldsShowingHintsAndAFreshState) {
  EXPECT_EQ(host.source, L"");
  EXPECT_EQ(host.target, L"");
  EXPECT_EQ(host.sourceHint, L"Source File");
  EXPECT_EQ(host.targetHint, L"Target File");
  EXPECT_TRUE(dialog.State().m_bConversionNeeded);
  EXPECT_FALSE(dialog.State().m_bWideCodes);
  EXPECT_EQ(dialog.State().m_aFlaggedVariables, ConversionState::EmptyList());
  EXPECT_EQ(dialog.State().m_aRemovedApps, ConversionState::EmptyList());
}

TEST_F(DialogTest, ProposesTheTargetBesideThePickedSource) {
  struct Case {
    std::wstring picked, dir, name, target, saveName;
  };
  std::vector<Case> cases = {
      {L"/home/ann/job.frt", L"/home/ann/", L"job.frt", L"/home/ann/QZ_job.frt", L"QZ_job.frt"},
      {L"/job.frt", L"/", L"job.frt", L"/QZ_job.frt", L"QZ_job.frt"},
      // The source's extension stays; "frt" is the save dialog's to add.
      {L"/data/job", L"/data/", L"job", L"/data/QZ_job", L"QZ_job"},
      {L"/data/job.txt", L"/data/", L"job.txt", L"/data/QZ_job.txt", L"QZ_job.txt"},
      // A dot in a folder name is no extension.
      {L"/v1.2/job", L"/v1.2/", L"job", L"/v1.2/QZ_job", L"QZ_job"},
      // No separator at all: no folder, the whole path is the name.
      {L"job.frt", L"", L"job.frt", L"QZ_job.frt", L"QZ_job.frt"},
  };
  if (kBackslashSeparates) {
    cases.push_back({L"C:\\data\\job.frt", L"C:\\data\\", L"job.frt", L"C:\\data\\QZ_job.frt", L"QZ_job.frt"});
    cases.push_back({L"D:\\job.frt", L"D:\\", L"job.frt", L"D:\\QZ_job.frt", L"QZ_job.frt"});
  } else {
    // As the command line proposes it: a Linux name may hold a backslash.
    cases.push_back({L"/home/u/a\\b.frt", L"/home/u/", L"a\\b.frt", L"/home/u/QZ_a\\b.frt", L"QZ_a\\b.frt"});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.picked));
    PickSource(c.picked);
    EXPECT_EQ(host.source, c.picked);
    EXPECT_EQ(host.target, c.target);
    EXPECT_EQ(dialog.SourceDir(), c.dir);
    EXPECT_EQ(dialog.SourceName(), c.name);

    PickTarget(std::nullopt);
    EXPECT_EQ(host.saveRequests.back().initialName, c.saveName);
    EXPECT_EQ(host.saveRequests.back().initialDir, c.dir);
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
  EXPECT_EQ(open.maxFile, kMaxFileChars);
  EXPECT_EQ(open.title, L"");
  EXPECT_EQ(open.defaultExtension, L"");
  EXPECT_TRUE(open.mustExist);
  EXPECT_FALSE(open.overwritePrompt);
  // The target may be a new file, and an existing one is replaced only after
  // the user has confirmed it.
  const FileDialogRequest& save = host.saveRequests[0];
  EXPECT_EQ(save.maxFile, kMaxFileChars);
  EXPECT_EQ(save.title, L"Save As");
  EXPECT_EQ(save.defaultExtension, L"frt");
  EXPECT_FALSE(save.mustExist);
  EXPECT_TRUE(save.overwritePrompt);
  EXPECT_EQ(host.target, L"C:\\out\\new.frt");
}

TEST_F(DialogTest, EditsProposeOnlyOverTheDialogsOwnTarget) {
  // One step of what the user does: type into a field, or answer a file
  // dialog (nullopt: cancel).
  enum class Act { TypeSource, TypeTarget, PickSource, PickTarget };
  struct Step {
    Act act;
    std::optional<std::wstring> text;
  };
  struct Case {
    const char* name;
    std::vector<Step> steps;
    std::wstring source, target;
  };
  const std::wstring tooLong = L"/b/" + std::wstring(300, L'n');
  const Case cases[] = {
      {"typing after a proposal", {{Act::PickSource, L"/a/narrow.frt"}, {Act::TypeSource, L"/b/wide.frt"}},
       L"/b/wide.frt", L"/b/QZ_wide.frt"},
      {"typing into a fresh dialog", {{Act::TypeSource, L"/b/wide.frt"}}, L"/b/wide.frt", L"/b/QZ_wide.frt"},
      {"typing after an edited target",
       {{Act::PickSource, L"/a/narrow.frt"}, {Act::TypeTarget, L"/x/mine.frt"}, {Act::TypeSource, L"/b/wide.frt"}},
       L"/b/wide.frt", L"/x/mine.frt"},
      {"typing after Save As",
       {{Act::PickSource, L"/a/narrow.frt"}, {Act::PickTarget, L"/x/saved.frt"}, {Act::TypeSource, L"/b/w.frt"}},
       L"/b/w.frt", L"/x/saved.frt"},
      {"an emptied source takes its proposal along",
       {{Act::PickSource, L"/a/narrow.frt"}, {Act::TypeSource, L""}}, L"", L""},
      {"a source too long to propose from takes its proposal along",
       {{Act::PickSource, L"/a/narrow.frt"}, {Act::TypeSource, tooLong}}, tooLong, L""},
      {"an emptied target takes proposals again",
       {{Act::PickSource, L"/a/n.frt"}, {Act::TypeTarget, L"/x"}, {Act::TypeTarget, L""}, {Act::TypeSource, L"/b/w.frt"}},
       L"/b/w.frt", L"/b/QZ_w.frt"},
      // No file dialog brings back an older name over typed text.
      {"a cancelled source pick after typing",
       {{Act::PickSource, L"/a/n.frt"}, {Act::TypeSource, L"/b/w.frt"}, {Act::TypeTarget, L"/x/t.frt"},
        {Act::PickSource, std::nullopt}},
       L"/b/w.frt", L"/x/t.frt"},
      {"a cancelled Save As after typing",
       {{Act::PickSource, L"/a/n.frt"}, {Act::TypeTarget, L"/x/t.frt"}, {Act::PickTarget, std::nullopt}},
       L"/a/n.frt", L"/x/t.frt"},
      {"Save As replaces a typed target", {{Act::TypeTarget, L"/x/t.frt"}, {Act::PickTarget, L"/y/s.frt"}}, L"",
       L"/y/s.frt"},
      {"a picked source replaces a typed target",
       {{Act::TypeTarget, L"/x/t.frt"}, {Act::PickSource, L"/a/n.frt"}}, L"/a/n.frt", L"/a/QZ_n.frt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeHost fresh;
    CQuarnelDlg dlg(fresh);
    fresh.dialog = &dlg;
    dlg.OnInitDialog();
    for (const Step& step : c.steps) {
      switch (step.act) {
        case Act::TypeSource:
          fresh.source = *step.text;
          dlg.OnEditSource();
          break;
        case Act::TypeTarget:
          fresh.target = *step.text;
          dlg.OnEditTarget();
          break;
        case Act::PickSource:
          fresh.answers.push_back(step.text);
          dlg.OnBrowseSource();
          break;
        case Act::PickTarget:
          fresh.answers.push_back(step.text);
          dlg.OnBrowseTarget();
          break;
      }
    }
    EXPECT_EQ(fresh.source, c.source);
    EXPECT_EQ(fresh.target, c.target);
    // What Convert would use is what the fields show.
    dlg.UpdateData(true);
    EXPECT_EQ(dlg.TargetFile(), c.target);
  }
}

TEST_F(DialogTest, SaveAsStartsFromTheTypedSource) {
  PickSource(L"/data/job.frt");
  TypeSource(L"/typed/site.frt");
  PickSource(std::nullopt);
  PickTarget(std::nullopt);
  EXPECT_EQ(host.saveRequests.back().initialName, L"QZ_site.frt");
  EXPECT_EQ(host.saveRequests.back().initialDir, L"/typed/");
  TypeSource(L"");
  PickTarget(std::nullopt);
  EXPECT_EQ(host.saveRequests.back().initialName, L"") << "an emptied source proposes nothing";
}

TEST_F(DialogTest, EachPickReplacesTheTargetBeforeIt) {
  PickSource(L"/data/job.frt");
  PickTarget(L"/elsewhere/mine.frt");
  EXPECT_EQ(host.target, L"/elsewhere/mine.frt");
  // The proposal still comes from the browsed source, not from the target.
  PickTarget(std::nullopt);
  EXPECT_EQ(host.saveRequests.back().initialName, L"QZ_job.frt");
  PickSource(L"/other/site.frt");
  EXPECT_EQ(host.target, L"/other/QZ_site.frt");
}

TEST_F(DialogTest, NeverProposesAPathLongerThanItsBuffer) {
  // The proposal adds "QZ_" to the source: with a name of 52 it is as long as
  // the platform's paths may be (259 characters on Windows, 4,095 bytes on Linux).
  const std::wstring dir = LongFolder(kPathCapacity - 1 - 3 - 52);
  struct Case {
    std::size_t nameLength;
    bool proposed;
  };
  const Case cases[] = {{52, true}, {53, false}, {54, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.nameLength);
    const std::wstring name(c.nameLength, L'n');
    Type(L"", L"/kept.frt");
    PickSource(dir + name);
    EXPECT_EQ(host.source, dir + name);
    EXPECT_EQ(dialog.SourceName(), name);
    if (c.proposed) {
      EXPECT_EQ(host.target, dir + L"QZ_" + name);
      EXPECT_EQ(host.target.size(), kPathCapacity - 1);
    } else {
      EXPECT_EQ(host.target, L"/kept.frt") << "no cut proposal replaces the target";
    }
  }
}

TEST_F(DialogTest, NeverProposesANameLongerThanTheFileSystemsTake) {
  // "QZ_" and the name must fit the longest name, as the command line's
  // proposal must; the save dialog opens empty rather than with a cut name.
  // Names without a folder, which on Windows would push the path past its limit.
  const std::wstring longest(kLongestFileName - 3, L'n');
  PickSource(longest);
  EXPECT_EQ(host.target, L"QZ_" + longest);
  PickTarget(std::nullopt);
  EXPECT_EQ(host.saveRequests.back().initialName, L"QZ_" + longest);
  Type(L"", L"");
  PickSource(longest + L"n");
  EXPECT_EQ(host.target, L"");
  PickTarget(std::nullopt);
  EXPECT_EQ(host.saveRequests.back().initialName, L"");
}

TEST_F(DialogTest, PathsTheFileDialogsCannotReturnCountAsCancelled) {
  // The longest path and its terminator fill the dialog's kMaxFileChars; one
  // more does not fit.
  const std::wstring longest = LongFolder(kMaxFileChars - 1 - 10) + std::wstring(10, L'n');
  const std::wstring tooLong = longest + L"x";
  PickSource(tooLong);
  EXPECT_EQ(host.source, L"");
  EXPECT_FALSE(dialog.SourceBrowsed());
  PickTarget(tooLong);
  EXPECT_EQ(host.target, L"");
  PickSource(longest);
  EXPECT_EQ(host.source, longest);
  PickTarget(longest);
  EXPECT_EQ(host.target, longest);
}

TEST_F(DialogTest, DroppedFileIsTakenLikeAPickedSource) {
  Type(L"typed", L"typed");
  dialog.OnDropFiles(L"/data/job.frt");
  EXPECT_TRUE(host.openRequests.empty()) << "a drop opens no dialog";
  EXPECT_EQ(host.source, L"/data/job.frt");
  EXPECT_EQ(host.target, L"/data/QZ_job.frt");
  EXPECT_TRUE(dialog.SourceBrowsed());
  PickTarget(std::nullopt);
  EXPECT_EQ(host.saveRequests.back().initialName, L"QZ_job.frt");

  // A path no file dialog could return changes nothing, as a cancelled pick.
  dialog.OnDropFiles(LongFolder(kMaxFileChars) + L"n.frt");
  EXPECT_EQ(host.source, L"/data/job.frt");
  EXPECT_EQ(dialog.SourceName(), L"job.frt");
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
            L"Make sure the Format File works correctly before using!\n\n"
            L"converted into " + target);
  EXPECT_EQ(Read(folder / "QZ_job.frt"), "@i QZ21/25/27\r\n$\"A\";\r\n");
}

TEST_F(ConvertTest, UnderTheReportStandsWhyItFailedOrWhatToKnow) {
  const std::wstring dir = folder.wstring() + L"/";
  const std::wstring good = Write("job.frt", "@i KRV110\n");
  fs::create_directory(folder / "sub");
  struct Case {
    const char* name;
    std::wstring source, target, message;
    bool systemMessage = false;  // the system's own words follow `message`
  };
  const Case cases[] = {
      // The name goes to the engine's text and back unchanged, beyond ASCII too.
      {"missing source", dir + L"missing-\u00FC\U0001F600.frt", dir + L"out.frt",
       L"Format-File Conversion failed due to invalid input!\n\n" + dir +
           L"missing-\u00FC\U0001F600.frt: cannot open the source: ",
       true},
      {"target is a folder", good, dir + L"sub",
       L"Format-File Conversion failed due to invalid input!\n\n" + dir + L"sub: the target is a folder"},
      // Not "nul.frt": Windows takes that for its NUL device.
      {"NUL byte", Write("nul-byte.frt", std::string("@i KRV110\n$\"A\0\";\n", 17)), dir + L"out.frt",
       L"Format-File Conversion failed due to invalid format file!\n\n" + dir +
           L"nul-byte.frt: line 2: NUL byte; a format file holds text only"},
      {"no model line", Write("hello.txt", "hello\n"), dir + L"out.frt",
       L"Format-File Conversion completed!\n\nconverted into " + dir + L"out.frt\nno model line; is this a format file?"},
      {"another instrument", Write("ts9200.frt", "@i1TS9200 Total Station\r\n"), dir + L"out.frt",
       L"Format-File Conversion is not necessary!\n\n"
       L"the model line names \"TS9200\", not KRV110, KRV330, KRV440 or KRV880"},
      {"end marker", Write("marker.frt", "@i KRV110\n\xFFtail"), dir + L"out.frt",
       L"Format-File Conversion completed!\n\nconverted into " + dir + L"out.frt\nline 2: end marker (byte 0xFF); the 4 bytes behind it were not "
       L"converted"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::wstring message = Convert(c.source, c.target);
    if (c.systemMessage) {
      EXPECT_EQ(message.substr(0, c.message.size()), c.message);
      EXPECT_GT(message.size(), c.message.size());
    } else {
      EXPECT_EQ(message, c.message);
    }
  }
}

TEST_F(ConvertTest, BlanksArePassedOnAsAPath) {
  // "  " is not empty: the engine is asked to open it, and cannot.
  EXPECT_EQ(Convert(L"  ", (folder / "out.frt").wstring()).rfind(
                L"Format-File Conversion failed due to invalid input!\n\n  : cannot open the source: ", 0),
            0u);
  EXPECT_EQ(dialog.SourceFile(), L"  ");
  EXPECT_FALSE(fs::exists(folder / "out.frt"));
}

TEST_F(ConvertTest, NonAsciiPathsReachTheFileSystemAsTyped) {
  // The dialog names both files; the folder listing, read as UTF-8, shows
  // what the file system received.
  const std::wstring source = Write("job.frt", "@i KRV880\n");
  const std::wstring first = folder.wstring() + L"/Messung-\u00FC.frt";
  const std::wstring second = folder.wstring() + L"/QZ_Messung-\u00FC-\u00E9.frt";
  EXPECT_EQ(Convert(source, first), L"Format-File Conversion completed!\n\nconverted into " + first);
  EXPECT_EQ(Convert(source, second), L"Format-File Conversion completed!\n\nconverted into " + second);
  // Read back through its non-ASCII name: it names the new family already, so
  // the target stays as it was.
  EXPECT_EQ(Convert(first, second),
            L"Format-File Conversion is not necessary!\n\n"
            L"the model line names \"QZ21/2\", not KRV110, KRV330, KRV440 or KRV880");

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

  const std::wstring into = L"converted into " + target;
  EXPECT_EQ(Convert(wideSource, target), L"Format-File Conversion completed!\n\n" + into);
  EXPECT_EQ(Read(target), "@i QZ21/25/27\r\n" + wideLine);
  EXPECT_EQ(Convert(noModel, target),
            L"Format-File Conversion completed!\n\n" + into + L"\nno model line; is this a format file?");
  EXPECT_EQ(Read(target), wideLine);
  EXPECT_TRUE(dialog.State().m_bWideCodes);

  const std::wstring narrowReport = Convert(narrowSource, target);
  EXPECT_EQ(narrowReport.rfind(std::wstring(std::begin(kCompleted), std::end(kCompleted) - 1) + L"120: ", 0), 0u)
      << ::testing::PrintToString(narrowReport);
  EXPECT_EQ(Convert(noModel, target), narrowReport + L"\nno model line; is this a format file?")
      << "the lists were emptied between the runs";
  EXPECT_EQ(Read(target), narrowLine);
}

}  // namespace
}  // namespace quarnel::ui
