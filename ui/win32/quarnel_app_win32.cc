#include "quarnel_app_win32.h"

#include <commctrl.h>
#include <shellapi.h>

#include <optional>
#include <string>

#include <vector>

#include "quarnel/file_access_setup.h"
#include "quarnel/ui/quarnel_dlg.h"
#include "quarnel_dlg_win32.h"
#include "win32_rules.h"

namespace quarnel::win32 {
namespace {

// The running executable's full path, however long.
std::wstring ModulePath() {
  std::vector<wchar_t> path(MAX_PATH);
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length < path.size()) return std::wstring(path.data(), length);
    path.resize(path.size() * 2);
  }
}

// The file the program was started with (Quarnel.exe "%1" from the
// Explorer's open verb), if any: the first argument.
std::optional<std::wstring> FileArgument() {
  int count = 0;
  LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  if (arguments == nullptr) return std::nullopt;
  std::optional<std::wstring> file;
  if (count > 1 && arguments[1][0] != L'\0') file = arguments[1];
  LocalFree(arguments);
  return file;
}

}  // namespace

bool CQuarnelApp::InitInstance() {
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof(controls);
  controls.dwICC = ICC_WIN95_CLASSES;
  InitCommonControlsEx(&controls);

  CQuarnelDlgHost dialog(m_hInstance, ui::ApplicationNameFromModulePath(ModulePath()), FileArgument());
  dialog.DoModal(nullptr);
  return false;
}

}  // namespace quarnel::win32

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  quarnel::PrepareFileAccess();
  quarnel::win32::CQuarnelApp app(instance);
  app.InitInstance();
  return 0;
}
