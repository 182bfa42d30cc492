#include "quarnel_dlg_win32.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>
#include <shobjidl.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cwchar>
#include <vector>

#include "about_dlg_win32.h"
#include "batch_results_win32.h"
#include "resource.h"
#include "win32_rules.h"

namespace quarnel::win32 {
namespace {

static_assert(IDM_ABOUTBOX == ui::kAboutBoxCommand);
// The platform keeps the low four bits of a system command for itself, and
// its own commands from 0xF000 on.
static_assert((IDM_ABOUTBOX & 0xFFF0) == IDM_ABOUTBOX && IDM_ABOUTBOX < 0xF000);

// Posted when tasks wait for the window's thread.
constexpr UINT kRunPostedTasks = WM_APP + 1;

// Room for many names picked at once; the platform asks for a larger buffer
// (and returns nothing) when they do not fit.
constexpr DWORD kMultiSelectChars = 65536;

// Every control but Cancel, which stops a running batch.
constexpr int kBatchDisabledControls[] = {IDOK, IDC_SOURCE_EDIT, IDC_TARGET_EDIT, IDC_BROWSE_SOURCE,
                                          IDC_BROWSE_FOLDER, IDC_BROWSE_TARGET};

int ControlId(ui::DialogField field) {
  return field == ui::DialogField::Source ? IDC_SOURCE_EDIT : IDC_TARGET_EDIT;
}

// The source field carries WS_EX_ACCEPTFILES, so a file dropped on it reaches
// the field, whose own procedure would ignore it; the dialog takes it instead.
LRESULT CALLBACK SourceEditProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR subclassId,
                                DWORD_PTR) {
  if (message == WM_DROPFILES) return SendMessageW(GetParent(window), WM_DROPFILES, wParam, lParam);
  if (message == WM_NCDESTROY) RemoveWindowSubclass(window, SourceEditProc, subclassId);
  return DefSubclassProc(window, message, wParam, lParam);
}

// The full path of `name`, as the open dialog would return it, so that the
// proposal names a folder; the name itself when that fails.
std::wstring FullPath(const std::wstring& name) {
  const DWORD length = GetFullPathNameW(name.c_str(), 0, nullptr, nullptr);
  if (length == 0) return name;
  std::vector<wchar_t> full(length, L'\0');
  if (GetFullPathNameW(name.c_str(), length, full.data(), nullptr) >= length) return name;
  return std::wstring(full.data());
}

}  // namespace

CQuarnelDlgHost::CQuarnelDlgHost(HINSTANCE instance, std::wstring applicationName,
                                 std::vector<std::wstring> sourceFiles)
    : CModalDialog(instance, IDD_MAIN_DIALOG),
      m_strAppName(std::move(applicationName)),
      m_aStartFiles(std::move(sourceFiles)),
      m_hIcon(LoadIconW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME))) {}

BOOL CQuarnelDlgHost::OnInitDialog() {
  m_dialog.OnInitDialog();
  AddAboutEntry();
  SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
  SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
  DragAcceptFiles(m_hWnd, TRUE);
  SetWindowSubclass(GetDlgItem(m_hWnd, IDC_SOURCE_EDIT), SourceEditProc, 1, 0);
  if (!m_aStartFiles.empty()) {
    std::vector<std::wstring> files;
    for (const std::wstring& file : m_aStartFiles) files.push_back(FullPath(file));
    m_dialog.OpenSourceFiles(files);
  }
  return TRUE;
}

void CQuarnelDlgHost::AddAboutEntry() {
  HMENU systemMenu = GetSystemMenu(m_hWnd, FALSE);
  if (systemMenu == nullptr) return;
  std::array<wchar_t, 256> text{};
  if (LoadStringW(m_hInstance, IDS_ABOUTBOX, text.data(), static_cast<int>(text.size())) <= 0) return;
  AppendMenuW(systemMenu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(systemMenu, MF_STRING, IDM_ABOUTBOX, text.data());
}

bool CQuarnelDlgHost::OnMessage(UINT message, WPARAM wParam, LPARAM, INT_PTR& result) {
  switch (message) {
    case WM_COMMAND:
      // The dialog tells the text it sets itself from the user's edits.
      if (HIWORD(wParam) == EN_CHANGE && LOWORD(wParam) == IDC_SOURCE_EDIT) {
        m_dialog.OnEditSource();
        return true;
      }
      if (HIWORD(wParam) == EN_CHANGE && LOWORD(wParam) == IDC_TARGET_EDIT) {
        m_dialog.OnEditTarget();
        return true;
      }
      if (HIWORD(wParam) != BN_CLICKED) return false;
      if (LOWORD(wParam) == IDC_BROWSE_SOURCE) {
        m_dialog.OnBrowseSource();
        return true;
      }
      if (LOWORD(wParam) == IDC_BROWSE_TARGET) {
        m_dialog.OnBrowseTarget();
        return true;
      }
      if (LOWORD(wParam) == IDC_BROWSE_FOLDER) {
        m_dialog.OnBrowseFolder();
        return true;
      }
      return false;
    case WM_SYSCOMMAND:
      return OnSysCommand(wParam);
    case WM_PAINT:
      return OnPaint();
    case WM_QUERYDRAGICON:
      result = reinterpret_cast<INT_PTR>(m_hIcon);
      return true;
    case WM_DROPFILES:
      OnDropFiles(reinterpret_cast<HDROP>(wParam));
      return true;
    case kRunPostedTasks:
      RunPostedTasks();
      return true;
    default:
      return false;
  }
}

bool CQuarnelDlgHost::OnSysCommand(WPARAM command) {
  if (!ui::IsAboutCommand(static_cast<std::uint32_t>(command))) return false;  // move, close...: the platform's
  CAboutDlg about(m_hInstance);
  about.DoModal(m_hWnd);
  return true;
}

// Draws the icon centred when the window is minimised; otherwise the platform paints.
bool CQuarnelDlgHost::OnPaint() {
  if (!IsIconic(m_hWnd)) return false;
  PAINTSTRUCT paint;
  HDC context = BeginPaint(m_hWnd, &paint);
  SendMessageW(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(context), 0);
  const int iconWidth = GetSystemMetrics(SM_CXICON);
  const int iconHeight = GetSystemMetrics(SM_CYICON);
  RECT client;
  GetClientRect(m_hWnd, &client);
  const int x = ui::CentredIconOrigin(client.right - client.left, iconWidth);
  const int y = ui::CentredIconOrigin(client.bottom - client.top, iconHeight);
  DrawIcon(context, x, y, m_hIcon);
  EndPaint(m_hWnd, &paint);
  return true;
}

// One dropped file is a source; several, or a folder, a batch.
void CQuarnelDlgHost::OnDropFiles(HDROP drop) {
  const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
  std::vector<std::wstring> files;
  for (UINT i = 0; i < count; ++i) {
    std::vector<wchar_t> path(DragQueryFileW(drop, i, nullptr, 0) + 1, L'\0');
    DragQueryFileW(drop, i, path.data(), static_cast<UINT>(path.size()));
    files.emplace_back(path.data());
  }
  DragFinish(drop);
  if (!files.empty()) m_dialog.OnDropFiles(files);
}

void CQuarnelDlgHost::PostToWindow(std::function<void()> task) {
  bool first = false;
  {
    std::lock_guard lock(m_postedMutex);
    first = m_aPosted.empty();
    m_aPosted.push_back(std::move(task));
  }
  // One message wakes the window for every task queued before it runs.
  if (first) PostMessageW(m_hWnd, kRunPostedTasks, 0, 0);
}

void CQuarnelDlgHost::RunPostedTasks() {
  std::deque<std::function<void()>> tasks;
  {
    std::lock_guard lock(m_postedMutex);
    tasks.swap(m_aPosted);
  }
  for (auto& task : tasks) task();
}

void CQuarnelDlgHost::ShowBatchRunning(bool running) {
  for (const int id : kBatchDisabledControls) EnableWindow(GetDlgItem(m_hWnd, id), !running);
  DragAcceptFiles(m_hWnd, !running);
  SetFocus(GetDlgItem(m_hWnd, running ? IDCANCEL : IDOK));
}

void CQuarnelDlgHost::ShowBatchProgress(std::size_t done, std::size_t total) {
  HWND bar = GetDlgItem(m_hWnd, IDC_BATCH_PROGRESS);
  SendMessageW(bar, PBM_SETRANGE32, 0, static_cast<LPARAM>(std::min<std::size_t>(total, INT_MAX)));
  SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(std::min<std::size_t>(done, INT_MAX)), 0);
}

void CQuarnelDlgHost::ShowBatchResults(const ui::BatchResults& results) {
  CBatchResultsDlg window(m_hInstance, results, m_strAppName);
  window.DoModal(m_hWnd);
}

void CQuarnelDlgHost::SetFieldReadOnly(ui::DialogField field, bool readOnly) {
  SendDlgItemMessageW(m_hWnd, ControlId(field), EM_SETREADONLY, readOnly ? TRUE : FALSE, 0);
}

std::vector<std::wstring> CQuarnelDlgHost::ShowOpenFilesDialog(const ui::FileDialogRequest& request) {
  std::vector<wchar_t> buffer(kMultiSelectChars, L'\0');
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof(dialog);
  dialog.hwndOwner = m_hWnd;
  dialog.lpstrFile = buffer.data();
  dialog.nMaxFile = kMultiSelectChars;
  dialog.lpstrInitialDir = request.initialDir.empty() ? nullptr : request.initialDir.c_str();
  dialog.lpstrTitle = request.title.empty() ? nullptr : request.title.c_str();
  dialog.Flags = OFN_ALLOWMULTISELECT | OFN_EXPLORER;
  if (request.mustExist) dialog.Flags |= OFN_FILEMUSTEXIST;
  std::vector<std::wstring> picked;
  if (!GetOpenFileNameW(&dialog)) return picked;
  // One file: its full path. Several: the folder, then each name, each ended
  // by a NUL, the list by a second one.
  const std::wstring first(buffer.data());
  const wchar_t* name = buffer.data() + first.size() + 1;
  if (*name == L'\0') return {first};
  std::wstring folder = first;
  if (!folder.empty() && folder.back() != L'\\') folder += L'\\';
  for (; *name != L'\0'; name += std::wcslen(name) + 1) picked.push_back(folder + name);
  return picked;
}

std::optional<std::wstring> CQuarnelDlgHost::ShowFolderDialog(const ui::FileDialogRequest& request) {
  IFileOpenDialog* dialog = nullptr;
  if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&dialog))))
    return std::nullopt;
  std::optional<std::wstring> folder;
  FILEOPENDIALOGOPTIONS options = 0;
  dialog->GetOptions(&options);
  dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM);
  if (!request.title.empty()) dialog->SetTitle(request.title.c_str());
  IShellItem* item = nullptr;
  if (SUCCEEDED(dialog->Show(m_hWnd)) && SUCCEEDED(dialog->GetResult(&item))) {
    PWSTR path = nullptr;
    if (SUCCEEDED(item->GetDisplayName(SIGDN_FILESYSPATH, &path))) {
      folder = std::wstring(path);
      CoTaskMemFree(path);
    }
    item->Release();
  }
  dialog->Release();
  return folder;
}

std::wstring CQuarnelDlgHost::GetFieldText(ui::DialogField field) {
  HWND control = GetDlgItem(m_hWnd, ControlId(field));
  std::vector<wchar_t> text(static_cast<std::size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
  GetWindowTextW(control, text.data(), static_cast<int>(text.size()));
  return std::wstring(text.data());
}

void CQuarnelDlgHost::SetFieldText(ui::DialogField field, const std::wstring& text) {
  SetDlgItemTextW(m_hWnd, ControlId(field), text.c_str());
}

// TRUE: the hint stays while the empty field has the focus, so it is seen
// where the dialog opens with the focus on a field.
void CQuarnelDlgHost::SetFieldHint(ui::DialogField field, const std::wstring& hint) {
  SendDlgItemMessageW(m_hWnd, ControlId(field), EM_SETCUEBANNER, TRUE, reinterpret_cast<LPARAM>(hint.c_str()));
}

void CQuarnelDlgHost::ShowMessage(const ui::MessageRequest& message) {
  const UINT icon = message.icon == ui::MessageIcon::Exclamation ? MB_ICONEXCLAMATION : 0;
  MessageBoxW(m_hWnd, message.text.c_str(), message.caption.c_str(), MB_OK | icon);
}

// No is the default button: Enter must not replace an instrument's file by accident.
bool CQuarnelDlgHost::AskYesNo(const ui::MessageRequest& question) {
  return MessageBoxW(m_hWnd, question.text.c_str(), question.caption.c_str(),
                     MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
}

std::optional<std::wstring> CQuarnelDlgHost::ShowOpenFileDialog(const ui::FileDialogRequest& request) {
  return ShowFileDialog(request, false);
}

std::optional<std::wstring> CQuarnelDlgHost::ShowSaveFileDialog(const ui::FileDialogRequest& request) {
  return ShowFileDialog(request, true);
}

std::optional<std::wstring> CQuarnelDlgHost::ShowFileDialog(const ui::FileDialogRequest& request, bool save) {
  std::array<wchar_t, ui::kPathCapacity> file{};
  if (request.initialName.size() < file.size())
    request.initialName.copy(file.data(), request.initialName.size());

  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof(dialog);
  dialog.hwndOwner = m_hWnd;
  dialog.lpstrFile = file.data();
  dialog.nMaxFile = static_cast<DWORD>(std::min(request.maxFile, file.size()));
  dialog.lpstrInitialDir = request.initialDir.empty() ? nullptr : request.initialDir.c_str();
  dialog.lpstrTitle = request.title.empty() ? nullptr : request.title.c_str();
  dialog.lpstrDefExt = request.defaultExtension.empty() ? nullptr : request.defaultExtension.c_str();
  if (request.mustExist) dialog.Flags |= OFN_FILEMUSTEXIST;
  if (request.overwritePrompt) dialog.Flags |= OFN_OVERWRITEPROMPT;

  const BOOL picked = save ? GetSaveFileNameW(&dialog) : GetOpenFileNameW(&dialog);
  if (!picked) return std::nullopt;
  return std::wstring(file.data());
}

}  // namespace quarnel::win32
