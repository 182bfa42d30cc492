// Sets up scenes for screenshots of Quarnel.exe: the dialog with both paths
// filled in, the report of a finished conversion in front of it, the About box.
// When scene N stands it creates <folder>\scene-N and waits (a minute at
// most) for <folder>\shot-N before it moves on; at the end it closes the
// program. The format files live in C:\survey, for short paths on screen.
// Usage: pose_dialog <path of Quarnel.exe> <folder>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "dialog_driver_win32.h"

namespace fs = std::filesystem;
using namespace quarnel::testing;

namespace {

// Tells the caller that scene `number` stands and waits until it has its picture.
void Pose(const fs::path& folder, int number) {
  const std::string name = std::to_string(number);
  std::ofstream(folder / ("scene-" + name)) << "ready\n";
  WaitFor<bool>([&]() -> std::optional<bool> {
    if (!fs::exists(folder / ("shot-" + name))) return std::nullopt;
    return true;
  });
}

void CloseWithOk(HWND box) {
  PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  WaitFor<bool>([&]() -> std::optional<bool> {
    if (IsWindow(box)) return std::nullopt;
    return true;
  });
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: pose_dialog <path of Quarnel.exe> <folder>\n");
    return 2;
  }
  const fs::path folder = WindowsPath(argv[2]);
  const fs::path data = L"C:\\survey";
  fs::create_directories(data);
  const fs::path source = data / "site-2008.frt";
  std::ofstream(source, std::ios::binary) << "@i KRV440\r\n@t FRT\r\n$\"PC\"123450517;001\r\n$\"Ht\"123450058;100;120\r\n";

  RunningQuarnel program(WindowsPath(argv[1]));
  const std::optional<HWND> dialog = program.WaitForDialog();
  if (!dialog) {
    std::fprintf(stderr, "pose_dialog: the main dialog did not appear\n");
    return 1;
  }
  SetField(*dialog, 1001, source.wstring());
  SetField(*dialog, 1002, (data / "QZ_site-2008.frt").wstring());
  Pose(folder, 1);

  PressButton(*dialog, IDOK);
  const std::optional<HWND> report = program.WaitForMessageBox(*dialog);
  if (!report) {
    std::fprintf(stderr, "pose_dialog: no report appeared\n");
    return 1;
  }
  Pose(folder, 2);

  CloseWithOk(*report);

  PostMessageW(*dialog, WM_SYSCOMMAND, 0x10, 0);  // the system menu's About entry
  const std::optional<HWND> about =
      WaitFor<HWND>([&] { return FindDialog(program.ThreadId(), L"About Quarnel", *dialog); });
  if (!about) {
    std::fprintf(stderr, "pose_dialog: no About box appeared\n");
    return 1;
  }
  Pose(folder, 3);
  CloseWithOk(*about);

  PressButton(*dialog, IDCANCEL);
  return program.WaitForExit() == std::optional<DWORD>(0) ? 0 : 1;
}
