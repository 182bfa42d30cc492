#include "quarnel/ui/quarnel_dlg.h"

#include <algorithm>

#include "dialog_path.h"
#include "quarnel/conversion_file.h"
#include "quarnel/conversion_summary.h"
#include "quarnel/target_name.h"

namespace quarnel::ui {
namespace {

// The engine's prefix, widened: it is plain ASCII.
std::wstring WideTargetPrefix() { return std::wstring(kTargetPrefix.begin(), kTargetPrefix.end()); }

void ClearBuffer(PathBuffer& buffer) { buffer.fill(L'\0'); }

// Copies `text` into a cleared buffer. The caller has checked that it fits
// with its terminator.
void CopyToBuffer(PathBuffer& buffer, std::wstring_view text) {
  ClearBuffer(buffer);
  std::copy(text.begin(), text.end(), buffer.begin());
}

// True when a path returned by a file dialog fits the buffer the platform's
// dialog writes it into (maxFile characters, terminator included). Longer
// paths make that dialog fail, so they count as a cancelled pick; a front end
// whose dialog has no such limit gets the same behaviour.
bool FitsFileDialogBuffer(const std::optional<std::wstring>& path) {
  return path.has_value() && path->size() < kMaxFileChars;
}

}  // namespace

CQuarnelDlg::CQuarnelDlg(DialogHost& host) : m_host(host) {}

bool CQuarnelDlg::OnInitDialog() {
  UpdateData(false);
  return true;
}

bool CQuarnelDlg::UpdateData(bool saveAndValidate) {
  DoDataExchange(saveAndValidate);
  return true;
}

void CQuarnelDlg::DoDataExchange(bool saveAndValidate) {
  if (saveAndValidate) {
    m_strSourceFile = m_host.GetFieldText(DialogField::Source);
    m_strTargetFile = m_host.GetFieldText(DialogField::Target);
  } else {
    m_host.SetFieldText(DialogField::Source, m_strSourceFile);
    m_host.SetFieldText(DialogField::Target, m_strTargetFile);
  }
}

void CQuarnelDlg::ShowMessageBox(std::wstring text, MessageIcon icon) {
  m_host.ShowMessage(MessageRequest{std::move(text), m_host.ApplicationName(), icon});
}

void CQuarnelDlg::OnConvert() {
  // The reset comes first, so a refused run leaves the state reset as well.
  PrepareForConversion(m_conversionState);
  UpdateData(true);
  if (m_strSourceFile.empty() || m_strTargetFile.empty()) {
    ShowMessageBox(std::wstring(kNotSelectedMessage), MessageIcon::Exclamation);
    return;
  }
  // Every run ends with its report, a failure's included, with the same
  // caption and icon as the refusal above.
  const ConversionSummary summary = SummarizeConversion(
      ConvertFormatFile(ToFilesystemPath(m_strTargetFile), m_conversionState, ToFilesystemPath(m_strSourceFile)),
      m_conversionState);
  // The report is plain ASCII: each byte is its own character.
  ShowMessageBox(std::wstring(summary.report.begin(), summary.report.end()), MessageIcon::Exclamation);
}

void CQuarnelDlg::OnBrowseSource() {
  FileDialogRequest request;
  request.mustExist = true;
  TakeSource(m_host.ShowOpenFileDialog(request));
}

void CQuarnelDlg::OnDropFiles(const std::wstring& path) { TakeSource(path); }

void CQuarnelDlg::TakeSource(const std::optional<std::wstring>& picked) {
  // The last source is forgotten whatever happens, so a cancelled pick leaves
  // no name behind and the next target command proposes "QZ_" alone.
  ClearBuffer(m_szSourceName);
  ClearBuffer(m_szSourceDir);
  if (FitsFileDialogBuffer(picked)) {
    m_strSourceFile = *picked;
    m_bSourceBrowsed = true;
    const SplitPath parts = SplitAtLastSeparator(*picked);
    CopyToBuffer(m_szSourceName, parts.name);
    CopyToBuffer(m_szSourceDir, parts.dir);

    // A proposal that would not fit its buffer is not made, rather than cut
    // into a path the user never meant: the target stays as it was.
    std::wstring proposal = std::wstring(parts.dir) + WideTargetPrefix() + std::wstring(parts.name);
    if (proposal.size() < kPathCapacity) m_strTargetFile = std::move(proposal);
  }
  UpdateData(false);
}

void CQuarnelDlg::OnBrowseTarget() {
  FileDialogRequest request;
  if (m_bSourceBrowsed) {
    std::wstring proposal = WideTargetPrefix() + m_szSourceName.data();
    // Too long a name opens the dialog empty instead of with a cut name.
    if (proposal.size() < kPathCapacity) request.initialName = std::move(proposal);
  }
  request.title = kSaveDialogTitle;
  request.defaultExtension = kDefaultExtension;
  // The user may name a new file here; an existing one is replaced only
  // after the platform has asked.
  request.mustExist = false;
  request.overwritePrompt = true;
  const std::optional<std::wstring> picked = m_host.ShowSaveFileDialog(request);
  if (FitsFileDialogBuffer(picked)) m_strTargetFile = *picked;
  UpdateData(false);
}

SplitPath SplitAtLastSeparator(std::wstring_view path) {
  const std::size_t separator = path.find_last_of(L"\\/");
  if (separator == std::wstring_view::npos) return SplitPath{std::wstring_view(), path};
  return SplitPath{path.substr(0, separator + 1), path.substr(separator + 1)};
}

}  // namespace quarnel::ui
