// End-to-end tests of the real Quarnel.exe: each starts the program, works its
// dialog from outside as a user would, and checks what appears on screen and
// on disk. Usage: drive_dialog_test <path of Quarnel.exe> [gtest options]
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "dialog_driver_win32.h"
#include "quarnel/version.h"

namespace quarnel::testing {
namespace {

namespace fs = std::filesystem;

std::wstring g_exePath;

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

}  // namespace
}  // namespace quarnel::testing

int wmain(int argc, wchar_t** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: drive_dialog_test <path of Quarnel.exe> [gtest options]\n");
    return 2;
  }
  quarnel::testing::g_exePath = quarnel::testing::WindowsPath(argv[1]);
  return RUN_ALL_TESTS();
}
