// The main dialog's behaviour, free of any window system: Convert, the two
// Browse commands with the target proposal, and dropped files. A front end
// (Win32, Qt) owns the window and lends it to the dialog through DialogHost.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "quarnel/conversion_state.h"

namespace quarnel::ui {

// Size of every path buffer of the dialog, terminator included: the longest
// path the dialog stores, proposes or hands to a file dialog has 259 characters.
inline constexpr std::size_t kPathCapacity = 260;
// Characters the file dialogs may return, terminator included (their nMaxFile):
// one less than the buffer, so a returned path has at most 258 characters.
inline constexpr std::size_t kMaxFileChars = kPathCapacity - 1;

inline constexpr std::wstring_view kInitialSourceText = L"Source File";
inline constexpr std::wstring_view kInitialTargetText = L"Target File";
inline constexpr std::wstring_view kNotSelectedMessage = L"File is not selected!";
inline constexpr std::wstring_view kSaveDialogTitle = L"Save As";
inline constexpr std::wstring_view kDefaultExtension = L"frt";

// The two text fields of the main dialog.
enum class DialogField : std::uint8_t { Source, Target };

enum class MessageIcon : std::uint8_t { None, Exclamation };

// A message box with a single OK button.
struct MessageRequest {
  std::wstring text;
  std::wstring caption;  // the application's name
  MessageIcon icon = MessageIcon::None;
};

// What the dialog asks of the platform's open-file or save-file dialog.
struct FileDialogRequest {
  std::wstring initialName;       // the name the dialog opens with; may be empty
  std::size_t maxFile = kMaxFileChars;  // characters of the returned path, terminator included
  std::wstring title;             // empty: the platform's own title
  std::wstring defaultExtension;  // added to a name typed without one; empty: none
  bool mustExist = false;         // only an existing file may be picked
  bool overwritePrompt = false;   // ask before an existing file is picked
};

// What the window system does for the dialog. Every call is modal: it returns
// when the user is done.
class DialogHost {
 public:
  virtual ~DialogHost() = default;
  // The text the field holds now, unchanged and of any length.
  virtual std::wstring GetFieldText(DialogField field) = 0;
  virtual void SetFieldText(DialogField field, const std::wstring& text) = 0;
  // The name every message box carries as its caption.
  virtual std::wstring ApplicationName() = 0;
  virtual void ShowMessage(const MessageRequest& message) = 0;
  // The full path of the picked file; nullopt when the user cancelled or the
  // dialog failed (for instance on a path longer than request.maxFile allows).
  virtual std::optional<std::wstring> ShowOpenFileDialog(const FileDialogRequest& request) = 0;
  virtual std::optional<std::wstring> ShowSaveFileDialog(const FileDialogRequest& request) = 0;
};

using PathBuffer = std::array<wchar_t, kPathCapacity>;

class CQuarnelDlg {
 public:
  explicit CQuarnelDlg(DialogHost& host);
  CQuarnelDlg(const CQuarnelDlg&) = delete;
  CQuarnelDlg& operator=(const CQuarnelDlg&) = delete;

  // Shows the stored strings in the fields ("Source File", "Target File" at
  // first). @return true: the front end gives the focus to the first tab stop.
  bool OnInitDialog();

  // Empties the report lists, sets m_bConversionNeeded (m_bWideCodes keeps
  // the last run's value), reads both fields, refuses an empty one with "File
  // is not selected!" and otherwise converts the source into the target. The
  // engine's report reaches the host's message box. Paths are passed exactly
  // as typed: a field of blanks is not empty.
  void OnConvert();

  // Lets the user pick the source. A picked file becomes the source and
  // proposes the target "QZ_" + its name in its folder. Cancelled or not, the
  // fields then show the stored strings.
  void OnBrowseSource();

  // Lets the user pick or name the target; the save dialog opens with "QZ_" +
  // the last browsed source's name. The fields then show the stored strings.
  void OnBrowseTarget();

  // A file dropped on the dialog: taken exactly as a file picked with
  // OnBrowseSource. A path longer than a file dialog could return is ignored
  // as a cancelled pick would be.
  void OnDropFiles(const std::wstring& path);

  // Moves text between the fields and the two strings: from the fields into
  // the strings when saveAndValidate is true, else the other way. Nothing is
  // checked, so it always succeeds.
  bool UpdateData(bool saveAndValidate);

  const std::wstring& SourceFile() const { return m_strSourceFile; }
  const std::wstring& TargetFile() const { return m_strTargetFile; }
  const ConversionState& State() const { return m_conversionState; }
  bool SourceBrowsed() const { return m_bSourceBrowsed; }
  std::wstring_view SourceName() const { return m_szSourceName.data(); }
  std::wstring_view SourceDir() const { return m_szSourceDir.data(); }

 private:
  void DoDataExchange(bool saveAndValidate);
  void ShowMessageBox(std::wstring text, MessageIcon icon);
  // Source command and drop: forgets the last source, takes `picked` if any.
  void TakeSource(const std::optional<std::wstring>& picked);

  DialogHost& m_host;
  std::wstring m_strSourceFile{kInitialSourceText};
  std::wstring m_strTargetFile{kInitialTargetText};
  ConversionState m_conversionState;
  bool m_bSourceBrowsed = false;
  PathBuffer m_szSourceName{};  // file-name part of the last browsed source
  PathBuffer m_szSourceDir{};   // its folder, with the trailing separator
};

// The path split as the source command splits it, at the last '\' or '/':
// the folder keeps its trailing separator; a path without one is all name.
struct SplitPath {
  std::wstring_view dir;
  std::wstring_view name;
};
SplitPath SplitAtLastSeparator(std::wstring_view path);

}  // namespace quarnel::ui
