// Drives a running Quarnel.exe from outside, as a user's clicks would: finds
// its windows, types into its fields, presses its buttons and reads its
// message boxes. Every wait has a deadline, so a hung program fails a test
// instead of blocking it.
#pragma once

#include <windows.h>
#include <dlgs.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace quarnel::testing {

// Long enough for a cold start of the program under an emulator; reached only
// when something is wrong.
inline constexpr std::chrono::seconds kPatience{60};

// Asks `probe` again until it yields a value or the deadline passes.
template <typename T>
std::optional<T> WaitFor(const std::function<std::optional<T>()>& probe,
                         std::chrono::steady_clock::duration patience = kPatience) {
  const auto deadline = std::chrono::steady_clock::now() + patience;
  for (;;) {
    if (std::optional<T> value = probe()) return value;
    if (std::chrono::steady_clock::now() > deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

inline std::wstring WindowText(HWND window) {
  // WM_GETTEXT rather than GetWindowText: it reads another process's controls too.
  const LRESULT length = SendMessageW(window, WM_GETTEXTLENGTH, 0, 0);
  std::vector<wchar_t> text(static_cast<std::size_t>(length) + 1, L'\0');
  SendMessageW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
  return std::wstring(text.data());
}

inline std::wstring ClassName(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return name;
}

// A dialog-class top-level window of `threadId` with this caption, owned by
// `owner` when one is given.
inline std::optional<HWND> FindDialog(DWORD threadId, const std::wstring& caption, HWND owner = nullptr) {
  struct Search {
    const std::wstring& caption;
    HWND owner;
    HWND found;
  } search{caption, owner, nullptr};
  EnumThreadWindows(
      threadId,
      [](HWND window, LPARAM data) -> BOOL {
        auto& s = *reinterpret_cast<Search*>(data);
        if (!IsWindowVisible(window) || ClassName(window) != L"#32770" || WindowText(window) != s.caption) return TRUE;
        if (s.owner != nullptr && GetWindow(window, GW_OWNER) != s.owner) return TRUE;
        s.found = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  if (search.found == nullptr) return std::nullopt;
  return search.found;
}

struct ChildWindow {
  HWND window;
  int id;
  std::wstring className;
  std::wstring text;
  LONG style;
};

inline std::vector<ChildWindow> Children(HWND parent) {
  std::vector<ChildWindow> children;
  EnumChildWindows(
      parent,
      [](HWND window, LPARAM data) -> BOOL {
        reinterpret_cast<std::vector<ChildWindow>*>(data)->push_back(
            {window, GetDlgCtrlID(window), ClassName(window), WindowText(window), GetWindowLongW(window, GWL_STYLE)});
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&children));
  return children;
}

// The children of a window, one line each, for a failing test's message.
inline std::string DescribeChildren(HWND parent) {
  std::string lines;
  for (const ChildWindow& child : Children(parent)) {
    char line[160];
    std::snprintf(line, sizeof line, "id %d class %ls style 0x%08lx text \"%ls\"\n", child.id,
                  child.className.c_str(), static_cast<unsigned long>(child.style), child.text.c_str());
    lines += line;
  }
  return lines;
}

// What a message box shows.
struct MessageBoxContent {
  HWND window;
  std::wstring text;
  bool hasIcon;
};

inline MessageBoxContent ReadMessageBox(HWND box) {
  MessageBoxContent content{box, L"", false};
  for (const ChildWindow& child : Children(box)) {
    if (child.className != L"Static" || (child.style & WS_VISIBLE) == 0) continue;
    if ((child.style & SS_TYPEMASK) == SS_ICON) {
      // Some platforms keep the icon control even for a box without an icon.
      content.hasIcon = content.hasIcon || SendMessageW(child.window, STM_GETICON, 0, 0) != 0;
    } else if (child.id == 0xFFFF) {  // the message text's control
      content.text = child.text;
    }
  }
  return content;
}

// Quarnel.exe started for one test; ended when the test is over, whatever happened.
class RunningQuarnel {
 public:
  // `arguments` follow the program's quoted path on its command line.
  explicit RunningQuarnel(const std::wstring& exePath, const std::wstring& arguments = L"") {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    std::wstring commandLine = L"\"" + exePath + L"\"";
    if (!arguments.empty()) commandLine += L" " + arguments;
    m_started = CreateProcessW(exePath.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &m_process) != 0;
  }
  ~RunningQuarnel() {
    if (!m_started) return;
    if (WaitForSingleObject(m_process.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(m_process.hProcess, 99);
    CloseHandle(m_process.hThread);
    CloseHandle(m_process.hProcess);
  }
  RunningQuarnel(const RunningQuarnel&) = delete;
  RunningQuarnel& operator=(const RunningQuarnel&) = delete;

  bool Started() const { return m_started; }
  DWORD ThreadId() const { return m_process.dwThreadId; }

  // The main dialog, once it is shown.
  std::optional<HWND> WaitForDialog() {
    return WaitFor<HWND>([this] { return FindDialog(ThreadId(), L"Quarnel"); });
  }
  // A box with the caption "Quarnel" in front of the main dialog.
  std::optional<HWND> WaitForMessageBox(HWND dialog) {
    return WaitFor<HWND>([this, dialog] { return FindDialog(ThreadId(), L"Quarnel", dialog); });
  }
  // The exit code once the process has ended, nullopt if it does not end.
  std::optional<DWORD> WaitForExit() {
    if (WaitForSingleObject(m_process.hProcess, static_cast<DWORD>(kPatience.count() * 1000)) != WAIT_OBJECT_0)
      return std::nullopt;
    DWORD code = 0;
    GetExitCodeProcess(m_process.hProcess, &code);
    return code;
  }

 private:
  PROCESS_INFORMATION m_process{};
  bool m_started = false;
};

inline void SetField(HWND dialog, int id, const std::wstring& text) {
  SendMessageW(GetDlgItem(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

// Presses a button without waiting for what it does: a handler that opens a
// modal box would keep a sent message from returning.
inline void PressButton(HWND dialog, int id) {
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

// The field of a file dialog where a name is typed: the Explorer-style
// dialog's combo box, an older one's edit, or the item dialog's edit.
inline HWND FileNameField(HWND fileDialog) {
  for (const int id : {cmb13, edt1})
    if (HWND field = GetDlgItem(fileDialog, id)) return field;
  for (const ChildWindow& child : Children(fileDialog))
    if (child.className == L"Edit" && GetParent(child.window) == fileDialog) return child.window;
  return nullptr;
}

// Types `name` into a file dialog and presses its OK button, waiting until
// the dialog has handled it: a folder's name opens the folder, a file's
// name (or a picking dialog's folder) ends the dialog.
inline void EnterInFileDialog(HWND fileDialog, const std::wstring& name) {
  SendMessageW(FileNameField(fileDialog), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(name.c_str()));
  DWORD_PTR ignored = 0;
  SendMessageTimeoutW(fileDialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                      reinterpret_cast<LPARAM>(GetDlgItem(fileDialog, IDOK)), SMTO_NORMAL,
                      static_cast<UINT>(kPatience.count() * 1000), &ignored);
}

// Runs a program to its end and returns what it wrote to standard output.
inline std::optional<std::string> RunForOutput(const std::wstring& exePath, const std::wstring& arguments) {
  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return std::nullopt;
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = writeEnd;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  std::wstring commandLine = L"\"" + exePath + L"\" " + arguments;
  PROCESS_INFORMATION process{};
  const bool started = CreateProcessW(exePath.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                      nullptr, &startup, &process) != 0;
  CloseHandle(writeEnd);
  std::string output;
  char chunk[4096];
  DWORD read = 0;
  while (started && ReadFile(readEnd, chunk, sizeof chunk, &read, nullptr) && read > 0) output.append(chunk, read);
  CloseHandle(readEnd);
  if (!started) return std::nullopt;
  WaitForSingleObject(process.hProcess, static_cast<DWORD>(kPatience.count() * 1000));
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return output;
}

// A path as this program can open it: the emulator hands over the build's
// Unix paths, which its drive Z: maps.
inline std::wstring WindowsPath(std::wstring path) {
  if (!path.empty() && path[0] == L'/') {
    for (wchar_t& c : path)
      if (c == L'/') c = L'\\';
    path = L"Z:" + path;
  }
  return path;
}

}  // namespace quarnel::testing
