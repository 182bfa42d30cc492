#include "quarnel_app_win32.h"

#include <commctrl.h>
#include <objbase.h>
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

// The files the program was started with (Quarnel.exe "%1" from the
// Explorer's open verb, or several from a multi-selection), if any.
std::vector<std::wstring> FileArguments() {
  int count = 0;
  LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::wstring> files;
  if (arguments == nullptr) return files;
  for (int i = 1; i < count; ++i) {
    if (arguments[i][0] != L'\0') files.emplace_back(arguments[i]);
  }
  LocalFree(arguments);
  return files;
}

}  // namespace

bool CQuarnelApp::InitInstance() {
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof(controls);
  controls.dwICC = ICC_WIN95_CLASSES;
  InitCommonControlsEx(&controls);

  // The folder picker is a COM object; the dialog's thread is its apartment.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  {
    CQuarnelDlgHost dialog(m_hInstance, ui::ApplicationNameFromModulePath(ModulePath()), FileArguments());
    dialog.DoModal(nullptr);
  }
  if (SUCCEEDED(com)) CoUninitialize();
  return false;
}

}  // namespace quarnel::win32

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  quarnel::PrepareFileAccess();
  quarnel::win32::CQuarnelApp app(instance);
  app.InitInstance();
  return 0;
}
