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
#include "quarnel/target_name.h"

namespace quarnel::ui {

// Size of every path buffer of the dialog, terminator included: the longest
// path the platform takes and its terminator, in the units of its native
// paths (Windows' MAX_PATH, 260 UTF-16 units; Linux's PATH_MAX, 4,096 bytes,
// which hold at least as many wide characters as the path has bytes).
inline constexpr std::size_t kPathCapacity = kLongestPath + 1;
// What the file dialogs may return, terminator included (their nMaxFile):
// Windows' dialogs take one less than the buffer, so a path they return has
// at most 258 characters; Qt's return what the system takes.
#ifdef _WIN32
inline constexpr std::size_t kMaxFileChars = kPathCapacity - 1;
#else
inline constexpr std::size_t kMaxFileChars = kPathCapacity;
#endif

// Hints an empty field shows in place of text; they are never the field's text.
inline constexpr std::wstring_view kSourceHint = L"Source File";
inline constexpr std::wstring_view kTargetHint = L"Target File";
inline constexpr std::wstring_view kNotSelectedMessage = L"File is not selected!";
inline constexpr std::wstring_view kSaveDialogTitle = L"Save As";
inline constexpr std::wstring_view kDefaultExtension = L"frt";
// Under the report of a completed conversion, in front of the target's path.
inline constexpr std::wstring_view kConvertedIntoText = L"converted into ";

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
  std::size_t maxFile = kMaxFileChars;  // native units of the returned path, terminator included
  std::wstring initialDir;        // the folder the dialog opens in; empty: the platform's choice
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
  // Sets the field's text. The front end must not report this change as an
  // edit of the user (OnEditSource, OnEditTarget).
  virtual void SetFieldText(DialogField field, const std::wstring& text) = 0;
  // The hint an empty field shows in grey where its text would stand.
  virtual void SetFieldHint(DialogField field, const std::wstring& hint) = 0;
  // The name every message box carries as its caption.
  virtual std::wstring ApplicationName() = 0;
  virtual void ShowMessage(const MessageRequest& message) = 0;
  // The full path of the picked file; nullopt when the user cancelled or the
  // dialog failed (for instance on a path longer than request.maxFile allows,
  // counted as the platform's native paths count: bytes on Linux).
  virtual std::optional<std::wstring> ShowOpenFileDialog(const FileDialogRequest& request) = 0;
  virtual std::optional<std::wstring> ShowSaveFileDialog(const FileDialogRequest& request) = 0;
};

using PathBuffer = std::array<wchar_t, kPathCapacity>;

class CQuarnelDlg {
 public:
  explicit CQuarnelDlg(DialogHost& host);
  CQuarnelDlg(const CQuarnelDlg&) = delete;
  CQuarnelDlg& operator=(const CQuarnelDlg&) = delete;

  // Gives both fields their hints and shows the stored strings in them (both
  // empty at first). @return true: the front end gives the focus to the
  // first tab stop.
  bool OnInitDialog();

  // The user changed a field's text (typed, pasted, deleted); never called
  // for text the dialog set itself. The text counts as chosen: no file
  // dialog brings an older name back over it. While the target is still the
  // dialog's own proposal (or empty), an edited source proposes the target
  // exactly as a picked source does; a source that is empty or too long for
  // a proposal empties it. A target the user typed or picked stays.
  void OnEditSource();
  void OnEditTarget();

  // A file named when the program was started: taken as a picked source.
  void OpenSourceFile(const std::wstring& path);

  // Empties the report lists, sets m_bConversionNeeded (m_bWideCodes keeps
  // the last run's value), reads both fields, refuses an empty one with "File
  // is not selected!" and otherwise converts the source into the target. The
  // engine's report reaches the host's message box, and under it the
  // target's path after a completed conversion, why a run failed, or the
  // engine's notes ("the model line names ..."). Paths are passed exactly as
  // typed: a field of blanks is not empty.
  void OnConvert();

  // Lets the user pick the source. A picked file becomes the source and
  // proposes the target "QZ_" + its name in its folder. Cancelled or not, the
  // fields then show the stored strings, which hold what the user typed.
  void OnBrowseSource();

  // Lets the user pick or name the target; the save dialog opens in the
  // source's folder with "QZ_" + the source's name, for a picked or a typed
  // source alike. The fields then show the stored strings.
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
  // Source command, drop and start-up file: takes `picked` if any and
  // proposes its target.
  void TakeSource(const std::optional<std::wstring>& picked);
  // Splits `source` into the name buffers as the file system splits it and,
  // when `replaceTarget`, sets the target to ProposeTargetPath's proposal
  // (empty when there is none: a name longer than kLongestFileName, a path
  // longer than the buffers).
  void ProposeTarget(const std::wstring& source, bool replaceTarget);
  // Shows the stored strings; OnEdit* calls the front end makes meanwhile
  // are the dialog's own doing and are ignored.
  void ShowStoredStrings();

  DialogHost& m_host;
  std::wstring m_strSourceFile;
  std::wstring m_strTargetFile;
  ConversionState m_conversionState;
  // The source's name buffers hold a name the save dialog can propose from.
  bool m_bSourceBrowsed = false;
  // The target field holds the dialog's proposal, not the user's choice.
  bool m_bTargetProposed = true;
  bool m_bSettingFields = false;
  PathBuffer m_szSourceName{};  // file-name part of the source, picked or typed
  PathBuffer m_szSourceDir{};   // its folder, with the trailing separator
};

// A Windows path split at its last '\' or '/', as the Win32 front end
// splits its module's path: the folder keeps its trailing separator; a path
// without one is all name. The dialog splits a source as the file system does.
struct SplitPath {
  std::wstring_view dir;
  std::wstring_view name;
};
SplitPath SplitAtLastSeparator(std::wstring_view path);

}  // namespace quarnel::ui
