#include "quarnel/ui/quarnel_dlg.h"

#include <algorithm>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "dialog_path.h"
#include "dialog_report.h"
#include "quarnel/batch/target_guard.h"
#include "quarnel/conversion_file.h"
#include "quarnel/conversion_summary.h"
#include "quarnel/failure_text.h"
#include "quarnel/target_name.h"

namespace quarnel::ui {
namespace {

// A field's text as long as the file system counts it: UTF-16 units on
// Windows, UTF-8 bytes on Linux.
std::size_t NativeLength(const std::wstring& text) { return ToFilesystemPath(text).native().size(); }

void ClearBuffer(PathBuffer& buffer) { buffer.fill(L'\0'); }

// Copies `text` into a cleared buffer. The caller has checked that it fits
// with its terminator.
void CopyToBuffer(PathBuffer& buffer, std::wstring_view text) {
  ClearBuffer(buffer);
  std::copy(text.begin(), text.end(), buffer.begin());
}

// True when a path returned by a file dialog fits the buffer the platform's
// dialog writes it into (kMaxFileChars, terminator included). Longer paths
// make that dialog fail, so they count as a cancelled pick; a front end whose
// dialog has no such limit gets the same behaviour.
bool FitsFileDialogBuffer(const std::optional<std::wstring>& path) {
  return path.has_value() && NativeLength(*path) < kMaxFileChars;
}

}  // namespace

std::wstring MessageOfRun(const ConversionSummary& summary, const std::wstring& source, const std::wstring& target) {
  // The report is plain ASCII: each byte is its own character.
  std::wstring text(summary.report.begin(), summary.report.end());
  std::vector<std::wstring> lines;
  if (summary.outcome == RunOutcome::Converted) {
    // Appended rather than added with +: GCC 12 at -O3 with _FORTIFY_SOURCE
    // takes the moved string's copy for an overflow and fails the build.
    std::wstring line(kConvertedIntoText);
    line += target;
    lines.push_back(std::move(line));
  }
  if (summary.Failed()) {
    lines.push_back(FromUtf8(FailureMessage(summary.failure, ToUtf8(source), ToUtf8(target))));
  } else {
    for (const std::string& note : summary.notes) lines.push_back(FromUtf8(note));
  }
  if (lines.empty()) return text;
  // One blank line between the report, which may end in one, and the rest.
  while (!text.ends_with(L"\n\n")) text += L'\n';
  for (std::size_t i = 0; i < lines.size(); ++i) text += (i == 0 ? L"" : L"\n") + lines[i];
  return text;
}

std::wstring ForeignTargetQuestion(const std::vector<batch::ForeignTarget>& targets) {
  std::wstring text;
  for (const batch::ForeignTarget& foreign : targets) {
    const std::wstring target = FromFilesystemPath(foreign.target);
    if (foreign.check.owner == batch::TargetOwner::OtherModel) {
      text += target + L" is a format file that Quarnel did not write (its model line names " +
              FromUtf8(foreign.check.model) + L").\n";
    } else {
      text += target + L" may be a format file that Quarnel did not write (it cannot be read to tell: " +
              FromUtf8(foreign.check.message) + L").\n";
    }
  }
  text.pop_back();
  return text + (targets.size() == 1 ? L" Replace it?" : L"\n\nReplace them?");
}

CQuarnelDlg::CQuarnelDlg(DialogHost& host) : m_host(host) {}

bool CQuarnelDlg::OnInitDialog() {
  m_host.SetFieldHint(DialogField::Source, std::wstring(kSourceHint));
  m_host.SetFieldHint(DialogField::Target, std::wstring(kTargetHint));
  ShowStoredStrings();
  return true;
}

void CQuarnelDlg::ShowStoredStrings() { UpdateData(false); }

bool CQuarnelDlg::UpdateData(bool saveAndValidate) {
  DoDataExchange(saveAndValidate);
  return true;
}

void CQuarnelDlg::DoDataExchange(bool saveAndValidate) {
  if (saveAndValidate) {
    m_strSourceFile = m_host.GetFieldText(DialogField::Source);
    m_strTargetFile = m_host.GetFieldText(DialogField::Target);
  } else {
    // Win32 reports a set text as a change while setting it.
    m_bSettingFields = true;
    m_host.SetFieldText(DialogField::Source, m_strSourceFile);
    m_host.SetFieldText(DialogField::Target, m_strTargetFile);
    m_bSettingFields = false;
  }
}

void CQuarnelDlg::ShowMessageBox(std::wstring text, MessageIcon icon) {
  m_host.ShowMessage(MessageRequest{std::move(text), m_host.ApplicationName(), icon});
}

void CQuarnelDlg::OnConvert() {
  if (IsBatchRunning()) return;
  // A batch gives each file a fresh state and leaves the dialog's as it was.
  if (IsBatchMode()) {
    StartBatch(false);
    return;
  }
  // The reset comes first, so a refused run leaves the state reset as well.
  PrepareForConversion(m_conversionState);
  UpdateData(true);
  if (m_strSourceFile.empty() || m_strTargetFile.empty()) {
    ShowMessageBox(std::wstring(kNotSelectedMessage), MessageIcon::Exclamation);
    return;
  }
  const std::filesystem::path source = ToFilesystemPath(m_strSourceFile);
  const std::filesystem::path target = ToFilesystemPath(m_strTargetFile);
  // An instrument's own file in the target's place is replaced only when the
  // user says so; No leaves everything as it was.
  if (batch::TargetCheck check = batch::CheckTargetOwner(source, target); check.owner != batch::TargetOwner::Replaceable) {
    const std::wstring question = ForeignTargetQuestion({batch::ForeignTarget{target, std::move(check)}});
    if (!m_host.AskYesNo(MessageRequest{question, m_host.ApplicationName(), MessageIcon::Question})) return;
  }
  // Every run ends with its report, a failure's included, with the same
  // caption and icon as the refusal above.
  const ConversionSummary summary =
      SummarizeConversion(ConvertFormatFile(target, m_conversionState, source), m_conversionState);
  ShowMessageBox(MessageOfRun(summary, m_strSourceFile, m_strTargetFile), MessageIcon::Exclamation);
}

void CQuarnelDlg::OnBrowseSource() {
  FileDialogRequest request;
  request.mustExist = true;
  std::vector<std::wstring> picked = m_host.ShowOpenFilesDialog(request);
  if (picked.size() > 1) {
    TakeBatch(std::move(picked));
    return;
  }
  TakeSource(picked.empty() ? std::nullopt : std::optional<std::wstring>(picked.front()));
}

void CQuarnelDlg::OnDropFiles(const std::wstring& path) { TakeSource(path); }

void CQuarnelDlg::OpenSourceFile(const std::wstring& path) { TakeSource(path); }

void CQuarnelDlg::OnEditSource() {
  // A batch's source field is read-only: what it shows is no path.
  if (m_bSettingFields || IsBatchMode()) return;
  m_strSourceFile = m_host.GetFieldText(DialogField::Source);
  const std::wstring before = m_strTargetFile;
  ProposeTarget(m_strSourceFile, m_bTargetProposed || m_strTargetFile.empty());
  if (m_strTargetFile == before) return;
  m_bSettingFields = true;
  m_host.SetFieldText(DialogField::Target, m_strTargetFile);
  m_bSettingFields = false;
}

void CQuarnelDlg::OnEditTarget() {
  if (m_bSettingFields) return;
  m_strTargetFile = m_host.GetFieldText(DialogField::Target);
  // An emptied target holds nothing of the user's to keep.
  m_bTargetProposed = m_strTargetFile.empty();
}

void CQuarnelDlg::TakeSource(const std::optional<std::wstring>& picked) {
  // A cancelled pick keeps the source the field holds, picked or typed, and
  // the name the save dialog proposes from it.
  if (FitsFileDialogBuffer(picked)) {
    LeaveBatch();
    m_strSourceFile = *picked;
    ProposeTarget(*picked, true);
  }
  ShowStoredStrings();
}

void CQuarnelDlg::ProposeTarget(const std::wstring& source, bool replaceTarget) {
  ClearBuffer(m_szSourceName);
  ClearBuffer(m_szSourceDir);
  // A source longer than any the file dialogs return proposes nothing.
  m_bSourceBrowsed = !source.empty() && NativeLength(source) < kMaxFileChars;
  std::wstring proposal;
  if (m_bSourceBrowsed) {
    // The name is what the file system takes for one: on Linux "a\b.frt" is
    // a name, as the command line reads it.
    const std::filesystem::path sourcePath = ToFilesystemPath(source);
    const std::wstring whole = FromFilesystemPath(sourcePath);
    const std::wstring name = FromFilesystemPath(sourcePath.filename());
    CopyToBuffer(m_szSourceName, name);
    CopyToBuffer(m_szSourceDir, std::wstring_view(whole).substr(0, whole.size() - name.size()));
    const std::filesystem::path target = ProposeTargetPath(sourcePath);
    if (TargetNameProblem(sourcePath).empty() && target.native().size() < kPathCapacity)
      proposal = FromFilesystemPath(target);
  }
  if (!replaceTarget) return;
  // A proposal the file system would refuse is not made, rather than cut
  // into a path the user never meant; an earlier proposal goes with it, so
  // the target never names the conversion of another source.
  if (!proposal.empty()) {
    m_strTargetFile = std::move(proposal);
    m_bTargetProposed = true;
  } else if (m_bTargetProposed) {
    m_strTargetFile.clear();
  }
}

void CQuarnelDlg::OnBrowseTarget() {
  if (IsBatchMode()) {
    OnBrowseOutputFolder();
    return;
  }
  FileDialogRequest request;
  if (m_bSourceBrowsed) {
    const std::filesystem::path name = ToFilesystemPath(m_szSourceName.data());
    // Too long a name opens the dialog empty instead of with a cut name.
    if (TargetNameProblem(name).empty()) request.initialName = FromFilesystemPath(ProposeTargetPath(name));
    request.initialDir = m_szSourceDir.data();
  }
  request.title = kSaveDialogTitle;
  request.defaultExtension = kDefaultExtension;
  // The user may name a new file here; an existing one is replaced only
  // after the platform has asked.
  request.mustExist = false;
  request.overwritePrompt = true;
  const std::optional<std::wstring> picked = m_host.ShowSaveFileDialog(request);
  if (FitsFileDialogBuffer(picked)) {
    m_strTargetFile = *picked;
    m_bTargetProposed = false;
  }
  ShowStoredStrings();
}

SplitPath SplitAtLastSeparator(std::wstring_view path) {
  const std::size_t separator = path.find_last_of(L"\\/");
  if (separator == std::wstring_view::npos) return SplitPath{std::wstring_view(), path};
  return SplitPath{path.substr(0, separator + 1), path.substr(separator + 1)};
}

}  // namespace quarnel::ui
