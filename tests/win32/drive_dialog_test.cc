// End-to-end tests of the real Quarnel.exe: each starts the program, works its
// dialog from outside as a user would, and checks what appears on screen and
// on disk. Usage: drive_dialog_test <path of Quarnel.exe> <path of quarnel-cli.exe>
// [gtest options]
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "dialog_driver_win32.h"
#include "quarnel/version.h"

namespace quarnel::testing {
namespace {

namespace fs = std::filesystem;

std::wstring g_exePath;
std::wstring g_cliPath;

constexpr int kSourceEdit = 1001;
constexpr int kTargetEdit = 1002;

class DriveDialogTest : public ::testing::Test {
 protected:
  DriveDialogTest() : program(g_exePath) {
    folder = fs::temp_directory_path() /
             (L"quarnel-drive-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
              std::to_wstring(reinterpret_cast<std::uintptr_t>(this)));
    fs::create_directories(folder);
  }
  ~DriveDialogTest() override {
    std::error_code ignored;
    fs::remove_all(folder, ignored);
  }

  void SetUp() override {
    ASSERT_TRUE(program.Started()) << "cannot start " << fs::path(g_exePath).string();
    const std::optional<HWND> shown = program.WaitForDialog();
    ASSERT_TRUE(shown) << "the main dialog did not appear";
    dialog = *shown;
  }

  // Presses Convert and returns the box that answers it, still open.
  MessageBoxContent Convert(const std::wstring& source, const std::wstring& target) {
    SetField(dialog, kSourceEdit, source);
    SetField(dialog, kTargetEdit, target);
    PressButton(dialog, IDOK);
    const std::optional<HWND> box = program.WaitForMessageBox(dialog);
    if (!box) {
      ADD_FAILURE() << "no message box answered Convert";
      return {};
    }
    return ReadMessageBox(*box);
  }

  // Closes a message box with its OK button and waits until it is gone.
  void PressOk(HWND box) {
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    EXPECT_TRUE(WaitFor<bool>([box]() -> std::optional<bool> {
      if (IsWindow(box)) return std::nullopt;
      return true;
    })) << "the message box did not close";
  }

  std::string ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  RunningQuarnel program;
  HWND dialog = nullptr;
  fs::path folder;
};

TEST_F(DriveDialogTest, ConvertsTheFileNamedInTheFieldsAndStaysOpen) {
  const fs::path source = folder / "job.frt";
  const fs::path target = folder / "QZ_job.frt";
  std::ofstream(source, std::ios::binary) << "@i KRV110\r\n$\"A\";120\r\n";

  const MessageBoxContent report = Convert(source.wstring(), target.wstring());
  EXPECT_EQ(report.text,
            L"Format-File Conversion completed!\n\n"
            L"120: \"Line Adjustment\" Application\n"
            L"\nThe application does not exist on Tessolan, thus the entry has been removed from\n"
            L"the Format File .\n\n"
            L"Make sure the Format File works correctly before using!\n\n"
            L"converted into " + target.wstring());
  EXPECT_TRUE(report.hasIcon) << "the report box has the dialog's exclamation icon\n" << DescribeChildren(report.window);
  PressOk(report.window);
  EXPECT_EQ(ReadBytes(target), "@i QZ21/25/27\r\n$\"A\";\r\n");

  // Convert never ends the dialog: a second run goes to the same window.
  ASSERT_TRUE(IsWindow(dialog));
  const fs::path absent = folder / "missing.frt";
  const MessageBoxContent missing = Convert(absent.wstring(), target.wstring());
  // Under the report, the file and why; the system's wording follows.
  EXPECT_EQ(missing.text.rfind(L"Format-File Conversion failed due to invalid input!\n\n" + absent.wstring() +
                                   L": cannot open the source: ",
                               0),
            0u)
      << fs::path(missing.text).string();
  PressOk(missing.window);
  // A file for another instrument: what its model line names instead.
  const fs::path other = folder / "other.frt";
  std::ofstream(other, std::ios::binary) << "@i1TS9200 Total Station\r\n";
  const MessageBoxContent notNecessary = Convert(other.wstring(), target.wstring());
  EXPECT_EQ(notNecessary.text,
            L"Format-File Conversion is not necessary!\n\n"
            L"the model line names \"TS9200\", not KRV110, KRV330, KRV440 or KRV880");
  PressOk(notNecessary.window);

  PressButton(dialog, IDCANCEL);
  EXPECT_EQ(program.WaitForExit(), std::optional<DWORD>(0));
}

TEST_F(DriveDialogTest, AsksBeforeReplacingAFormatFileQuarnelDidNotWrite) {
  const fs::path source = folder / "job.frt";
  const fs::path target = folder / "QZ_job.frt";
  const std::string original = "@i KRV880\r\n";
  std::ofstream(source, std::ios::binary) << "@i KRV110\r\n$\"A\";120\r\n";
  std::ofstream(target, std::ios::binary) << original;
  for (const int answer : {IDNO, IDYES}) {
    const MessageBoxContent question = Convert(source.wstring(), target.wstring());
    EXPECT_EQ(question.text, target.wstring() +
                                 L" is a format file that Quarnel did not write (its model line names KRV880). Replace it?");
    PostMessageW(question.window, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), 0);
    if (answer == IDYES) {
      // The report of the run follows.
      const std::optional<HWND> report = WaitFor<HWND>([&]() -> std::optional<HWND> {
        const std::optional<HWND> box = FindDialog(program.ThreadId(), L"Quarnel", dialog);
        if (!box || *box == question.window) return std::nullopt;
        return box;
      });
      ASSERT_TRUE(report) << "no report after Yes";
      PressOk(*report);
    } else {
      EXPECT_TRUE(WaitFor<bool>([&]() -> std::optional<bool> {
        if (IsWindow(question.window)) return std::nullopt;
        return true;
      }));
    }
    EXPECT_EQ(ReadBytes(target) == original, answer == IDNO) << "No changes nothing; Yes replaces";
  }
  PressButton(dialog, IDCANCEL);
  EXPECT_EQ(program.WaitForExit(), std::optional<DWORD>(0));
}

TEST_F(DriveDialogTest, RefusesAnEmptyFieldWithAnExclamation) {
  const MessageBoxContent refusal = Convert(L"", L"C:\\t.frt");
  EXPECT_EQ(refusal.text, L"File is not selected!");
  EXPECT_TRUE(refusal.hasIcon);
  PressOk(refusal.window);

  // Enter in a field presses Convert, the default button.
  SetField(dialog, kSourceEdit, L"C:\\s.frt");
  SetField(dialog, kTargetEdit, L"");
  HWND target = GetDlgItem(dialog, kTargetEdit);
  PostMessageW(target, WM_KEYDOWN, VK_RETURN, 0);
  PostMessageW(target, WM_KEYUP, VK_RETURN, 0);
  const std::optional<HWND> box = program.WaitForMessageBox(dialog);
  ASSERT_TRUE(box) << "Enter did not convert";
  EXPECT_EQ(ReadMessageBox(*box).text, L"File is not selected!");
  PressOk(*box);

  // Escape ends the program.
  PostMessageW(target, WM_KEYDOWN, VK_ESCAPE, 0);
  EXPECT_EQ(program.WaitForExit(), std::optional<DWORD>(0));
}

TEST_F(DriveDialogTest, OpensWithEmptyFields) {
  // "Source File" and "Target File" are hints, not text.
  EXPECT_EQ(WindowText(GetDlgItem(dialog, kSourceEdit)), L"");
  EXPECT_EQ(WindowText(GetDlgItem(dialog, kTargetEdit)), L"");
  // Escape, Cancel and Close all arrive as IDCANCEL; Close is the system's.
  PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
  EXPECT_EQ(program.WaitForExit(), std::optional<DWORD>(0));
}

TEST_F(DriveDialogTest, SystemMenuCommandsSixteenToThirtyOneOpenTheAboutBox) {
  for (WPARAM command : {WPARAM{0x10}, WPARAM{0x1F}}) {
    SCOPED_TRACE(command);
    PostMessageW(dialog, WM_SYSCOMMAND, command, 0);
    const std::optional<HWND> about = WaitFor<HWND>([&] { return FindDialog(program.ThreadId(), L"About Quarnel", dialog); });
    ASSERT_TRUE(about) << "no About box";
    std::vector<std::wstring> texts;
    int icons = 0;
    for (const ChildWindow& child : Children(*about)) {
      if ((child.style & SS_TYPEMASK) == SS_ICON && child.className == L"Static")
        ++icons;  // its text is the icon's resource number, not words
      else
        texts.push_back(child.text);
    }
    EXPECT_EQ(icons, 1);
    EXPECT_EQ(texts, (std::vector<std::wstring>{L"Quarnel Ver. 1.0", L"Copyright (C) 2008 Quarnel",
                                                 L"Version " QUARNEL_VERSION_TEXT, L"OK"}));
    PressOk(*about);
  }
  PressButton(dialog, IDCANCEL);
  EXPECT_EQ(program.WaitForExit(), std::optional<DWORD>(0));
}

TEST(DriveDialogStartTest, AFileNamedAtStartBecomesTheSource) {
  // As the Explorer's open verb starts it: Quarnel.exe "%1".
  const fs::path folder = fs::temp_directory_path() / (L"quarnel-start-" + std::to_wstring(GetCurrentProcessId()));
  fs::create_directories(folder);
  RunningQuarnel program(g_exePath, L"\"" + (folder / "job one.frt").wstring() + L"\"");
  ASSERT_TRUE(program.Started());
  const std::optional<HWND> dialog = program.WaitForDialog();
  ASSERT_TRUE(dialog);
  const std::wstring dir = folder.wstring() + L"\\";
  EXPECT_EQ(WindowText(GetDlgItem(*dialog, kSourceEdit)), dir + L"job one.frt");
  EXPECT_EQ(WindowText(GetDlgItem(*dialog, kTargetEdit)), dir + L"QZ_job one.frt");
  // A source typed over it proposes its own target.
  SetField(*dialog, kSourceEdit, L"C:\\other\\site.frt");
  EXPECT_EQ(WindowText(GetDlgItem(*dialog, kTargetEdit)), L"C:\\other\\QZ_site.frt");
  PressButton(*dialog, IDCANCEL);
  EXPECT_EQ(program.WaitForExit(), std::optional<DWORD>(0));
  std::error_code ignored;
  fs::remove_all(folder, ignored);
}

// The ways to choose a batch: files named at start, as the Explorer passes a
// multi-selection; two files picked at once in Browse's dialog; a folder
// picked with "Folder…", its sub-folders taken too.
enum class Choice { NamedAtStart, BrowsedFiles, PickedFolder };

struct BatchCase {
  const char* name;
  Choice choice;
  std::vector<std::pair<const char*, const char*>> files;  // below the chosen folder: path, content
  const wchar_t* summary;
  std::vector<const char*> targets;  // what the batch writes
  std::vector<const char*> untouched;  // targets it must not write
};

class DriveBatchTest : public ::testing::TestWithParam<BatchCase> {};

TEST_P(DriveBatchTest, ConvertsTheChoiceAndSavesTheCommandLinesReport) {
  const BatchCase& row = GetParam();
  const fs::path folder = fs::temp_directory_path() / (L"quarnel-batch-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                                      fs::path(row.name).wstring());
  const fs::path jobs = folder / "jobs";
  fs::create_directories(jobs / "sub");
  for (const auto& [path, content] : row.files) std::ofstream(jobs / path, std::ios::binary) << content;
  const std::wstring a = (jobs / "a.frt").wstring(), b = (jobs / "b.frt").wstring();

  RunningQuarnel program(g_exePath, row.choice == Choice::NamedAtStart ? L"\"" + a + L"\" \"" + b + L"\"" : L"");
  ASSERT_TRUE(program.Started());
  const std::optional<HWND> dialog = program.WaitForDialog();
  ASSERT_TRUE(dialog);
  // A file dialog in front of the main one, its name typed as a user would.
  const auto pick = [&](int button, const wchar_t* caption, const std::vector<std::wstring>& names) {
    PressButton(*dialog, button);
    const std::optional<HWND> picker = WaitFor<HWND>([&] { return FindDialog(program.ThreadId(), caption, *dialog); });
    ASSERT_TRUE(picker) << "no \"" << fs::path(caption).string() << "\" dialog";
    for (const std::wstring& name : names) EnterInFileDialog(*picker, name);
    EXPECT_TRUE(WaitFor<bool>([&]() -> std::optional<bool> {
      if (IsWindow(*picker)) return std::nullopt;
      return true;
    })) << "the file dialog stayed open\n" << DescribeChildren(*picker);
  };
  constexpr int kBrowseSource = 1003, kBrowseFolder = 1005;
  std::wstring cliSources = L"\"" + a + L"\" \"" + b + L"\"";
  std::wstring shown = L"2 files: a.frt, b.frt";
  if (row.choice == Choice::BrowsedFiles) pick(kBrowseSource, L"Open", {jobs.wstring(), L"\"a.frt\" \"b.frt\""});
  if (row.choice == Choice::PickedFolder) {
    pick(kBrowseFolder, L"Select folder", {jobs.wstring()});
    cliSources = shown = jobs.wstring();
  }
  EXPECT_EQ(WindowText(GetDlgItem(*dialog, kSourceEdit)), shown);
  EXPECT_EQ(WindowText(GetDlgItem(*dialog, kTargetEdit)), L"");

  PressButton(*dialog, IDOK);
  const std::optional<HWND> results =
      WaitFor<HWND>([&] { return FindDialog(program.ThreadId(), L"Results", *dialog); });
  ASSERT_TRUE(results) << "no results window";
  constexpr int kResultList = 1010, kResultSummary = 1011, kSaveReport = 1012;
  EXPECT_EQ(SendDlgItemMessageW(*results, kResultList, LVM_GETITEMCOUNT, 0, 0), 2);
  EXPECT_EQ(WindowText(GetDlgItem(*results, kResultSummary)), row.summary);
  for (const char* target : row.targets) EXPECT_TRUE(fs::exists(jobs / target)) << target;
  for (const char* target : row.untouched) EXPECT_FALSE(fs::exists(jobs / target)) << target;

  // "Save report…": the same rows as the command line's on the same sources.
  const fs::path report = folder / "report.csv";
  PressButton(*results, kSaveReport);
  const std::optional<HWND> save = WaitFor<HWND>([&] { return FindDialog(program.ThreadId(), L"Save report", *results); });
  ASSERT_TRUE(save) << "no save dialog";
  EnterInFileDialog(*save, report.wstring());
  // Once the save dialog is destroyed, its caller writes the report without
  // taking messages: a message sent then is answered after the writing.
  EXPECT_TRUE(WaitFor<bool>([&]() -> std::optional<bool> {
    if (IsWindow(*save)) return std::nullopt;
    return true;
  }));
  DWORD_PTR ignored = 0;
  SendMessageTimeoutW(*results, WM_NULL, 0, 0, SMTO_NORMAL, static_cast<UINT>(kPatience.count() * 1000), &ignored);
  std::ifstream saved(report, std::ios::binary);
  const std::string csv(std::istreambuf_iterator<char>(saved), {});
  // The command line finds the sources as the dialog found them.
  for (const char* target : row.targets) fs::remove(jobs / target);
  EXPECT_EQ(RunForOutput(g_cliPath, L"--csv -b -r " + cliSources), std::optional<std::string>(csv));

  PressButton(*results, IDCANCEL);
  EXPECT_TRUE(WaitFor<bool>([&]() -> std::optional<bool> {
    if (IsWindow(*results)) return std::nullopt;
    return true;
  }));
  PressButton(*dialog, IDCANCEL);
  EXPECT_EQ(program.WaitForExit(), std::optional<DWORD>(0));
  saved.close();
  std::error_code cleanup;
  fs::remove_all(folder, cleanup);
}

INSTANTIATE_TEST_SUITE_P(
    Choices, DriveBatchTest,
    ::testing::Values(BatchCase{"NamedAtStart", Choice::NamedAtStart, {{"a.frt", "@i KRV330\n"}, {"b.frt", "@i TS9200\n"}},
                                L"1 converted, 1 not necessary, 0 failed", {"QZ_a.frt"}, {"QZ_b.frt"}},
                      BatchCase{"BrowsedFiles", Choice::BrowsedFiles, {{"a.frt", "@i KRV330\n"}, {"b.frt", "@i KRV110\n"}},
                                L"2 converted, 0 not necessary, 0 failed", {"QZ_a.frt", "QZ_b.frt"}, {}},
                      BatchCase{"PickedFolder", Choice::PickedFolder, {{"a.frt", "@i KRV330\n"}, {"sub/c.frt", "@i KRV440\n"}},
                                L"2 converted, 0 not necessary, 0 failed", {"QZ_a.frt", "sub/QZ_c.frt"}, {}}),
    [](const ::testing::TestParamInfo<BatchCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quarnel::testing

int wmain(int argc, wchar_t** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (argc < 3) {
    std::fprintf(stderr, "usage: drive_dialog_test <path of Quarnel.exe> <path of quarnel-cli.exe> [gtest options]\n");
    return 2;
  }
  quarnel::testing::g_exePath = quarnel::testing::WindowsPath(argv[1]);
  quarnel::testing::g_cliPath = quarnel::testing::WindowsPath(argv[2]);
  return RUN_ALL_TESTS();
}
