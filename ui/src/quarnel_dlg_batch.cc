// The dialog's batch: several files or folders converted on a worker thread
// through the batch library, the progress and the results handed to the
// window's thread by the host.
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <system_error>
#include <utility>

#include "dialog_path.h"
#include "dialog_report.h"
#include "quarnel/batch/batch_csv.h"
#include "quarnel/batch/batch_run.h"
#include "quarnel/ui/quarnel_dlg.h"

namespace quarnel::ui {
namespace fs = std::filesystem;
namespace {

std::wstring Widen(std::string_view ascii) { return std::wstring(ascii.begin(), ascii.end()); }

bool IsFolder(const std::wstring& path) {
  std::error_code error;
  return fs::is_directory(ToFilesystemPath(path), error);
}

// What the read-only source field shows of a batch: the folder, or the count
// and the names ("3 files: a.frt, b.frt, c.frt").
std::wstring DescribeChoice(const std::vector<std::wstring>& paths) {
  if (paths.size() == 1) return paths.front();
  std::size_t folders = 0;
  std::wstring names;
  for (const std::wstring& path : paths) {
    if (IsFolder(path)) ++folders;
    std::wstring_view name = SplitAtLastSeparator(path).name;
    if (name.empty()) name = path;
    names += (names.empty() ? L"" : L", ") + std::wstring(name);
  }
  const std::wstring count = std::to_wstring(paths.size());
  return count + (folders == 0 ? L" files: " : L" files and folders: ") + names;
}

BatchRow RowOf(const batch::FileRecord& record) {
  const fs::path* target = record.Target();
  const batch::ReportCells cells = batch::ReportCellsOf(record.file.source, target, record.conversion);
  BatchRow row;
  row.file = FromFilesystemPath(record.file.source);
  if (target != nullptr) row.target = FromFilesystemPath(*target);
  row.outcome = Widen(batch::OutcomeText(record.conversion));
  row.variables = FromUtf8(cells.variables);
  row.applications = FromUtf8(cells.applications);
  row.reason = FromUtf8(cells.reason.empty() ? cells.notes : cells.reason);
  row.report = MessageOfRun(record.conversion.summary, row.file, row.target);
  return row;
}

}  // namespace

// What the worker shares with the window's thread.
struct CQuarnelDlg::BatchRun {
  batch::CancelToken cancel;
  std::mutex mutex;
  BatchResults results;         // guarded by `mutex` while the batch runs
  std::size_t done = 0;         // guarded by `mutex`
  std::size_t total = 0;        // guarded by `mutex`
  bool progressPosted = false;  // guarded by `mutex`: a progress task waits in the window's queue
  batch::BatchOutcome outcome;  // set before the task that ends the run is posted
};

CQuarnelDlg::~CQuarnelDlg() {
  if (m_pBatchRun != nullptr) m_pBatchRun->cancel.Cancel();
  if (m_batchThread.joinable()) m_batchThread.join();
}

void CQuarnelDlg::OnDropFiles(const std::vector<std::wstring>& paths) {
  if (paths.size() == 1 && !IsFolder(paths.front())) {
    OnDropFiles(paths.front());
    return;
  }
  TakeBatch(paths);
}

void CQuarnelDlg::OpenSourceFiles(const std::vector<std::wstring>& paths) {
  if (paths.size() == 1 && !IsFolder(paths.front())) {
    OpenSourceFile(paths.front());
    return;
  }
  TakeBatch(paths);
}

void CQuarnelDlg::OnBrowseFolder() {
  FileDialogRequest request;
  request.title = kFolderDialogTitle;
  const std::optional<std::wstring> picked = m_host.ShowFolderDialog(request);
  if (picked) {
    TakeBatch({*picked});
    return;
  }
  ShowStoredStrings();
}

void CQuarnelDlg::OnBrowseOutputFolder() {
  FileDialogRequest request;
  request.title = kFolderDialogTitle;
  if (const std::optional<std::wstring> picked = m_host.ShowFolderDialog(request)) m_strTargetFile = *picked;
  ShowStoredStrings();
}

void CQuarnelDlg::TakeBatch(std::vector<std::wstring> paths) {
  if (IsBatchRunning() || paths.empty()) return;
  if (!IsBatchMode()) {
    // The target field held a file's target; it now names an output folder.
    m_strTargetFile.clear();
    m_host.SetFieldReadOnly(DialogField::Source, true);
    m_host.SetFieldHint(DialogField::Target, std::wstring(kOutputFolderHint));
  }
  m_aBatchSources = std::move(paths);
  m_strSourceFile = DescribeChoice(m_aBatchSources);
  ShowStoredStrings();
}

void CQuarnelDlg::LeaveBatch() {
  if (!IsBatchMode() || IsBatchRunning()) return;
  m_aBatchSources.clear();
  m_strSourceFile.clear();
  m_strTargetFile.clear();
  m_bTargetProposed = true;
  m_host.SetFieldReadOnly(DialogField::Source, false);
  m_host.SetFieldHint(DialogField::Target, std::wstring(kTargetHint));
}

void CQuarnelDlg::StartBatch(bool force) {
  m_strTargetFile = m_host.GetFieldText(DialogField::Target);
  batch::BatchOptions options;
  for (const std::wstring& path : m_aBatchSources) options.paths.push_back(ToFilesystemPath(path));
  // A folder's sub-folders are taken, as -r takes them.
  options.recursive = true;
  options.force = force;
  if (!m_strTargetFile.empty()) {
    options.placement = batch::TargetPlacement::OutputFolder;
    options.outputFolder = ToFilesystemPath(m_strTargetFile);
  }

  auto run = std::make_shared<BatchRun>();
  BatchResults& results = run->results;
  if (!m_strTargetFile.empty()) {
    results.folder = m_strTargetFile;
  } else {
    const std::wstring& first = m_aBatchSources.front();
    results.folder = IsFolder(first) ? first : std::wstring(SplitAtLastSeparator(first).dir);
  }
  results.reportName = L"quarnel-report.csv";
  results.csv = batch::FormatCsvHeader();
  m_pBatchRun = run;
  m_host.ShowBatchRunning(true);
  m_host.ShowBatchProgress(0, 0);

  m_batchThread = std::thread([this, run, options = std::move(options)] {
    auto postProgress = [&] {
      // One progress task at a time waits in the window's queue, however
      // fast the files go.
      if (run->progressPosted) return;
      run->progressPosted = true;
      m_host.PostToWindow([this] { OnBatchProgress(); });
    };
    batch::BatchCallbacks callbacks;
    callbacks.onPlanned = [&](std::size_t total) {
      std::lock_guard lock(run->mutex);
      run->total = total;
      postProgress();
    };
    callbacks.onRecord = [&](const batch::FileRecord& record) {
      BatchRow row = RowOf(record);
      std::string csvRow = batch::FormatCsvRow(record.file.source, record.Target(), record.conversion);
      std::lock_guard lock(run->mutex);
      run->results.rows.push_back(std::move(row));
      run->results.csv += csvRow;
    };
    callbacks.onProgress = [&](std::size_t done, std::size_t total) {
      std::lock_guard lock(run->mutex);
      run->done = done;
      run->total = total;
      postProgress();
    };
    run->outcome = batch::RunBatch(options, callbacks, run->cancel);
    m_host.PostToWindow([this] { OnBatchFinished(); });
  });
}

void CQuarnelDlg::OnBatchProgress() {
  if (m_pBatchRun == nullptr) return;
  std::size_t done = 0;
  std::size_t total = 0;
  {
    std::lock_guard lock(m_pBatchRun->mutex);
    m_pBatchRun->progressPosted = false;
    done = m_pBatchRun->done;
    total = m_pBatchRun->total;
  }
  m_host.ShowBatchProgress(done, total);
}

void CQuarnelDlg::OnBatchFinished() {
  if (m_batchThread.joinable()) m_batchThread.join();
  const std::shared_ptr<BatchRun> run = std::move(m_pBatchRun);
  m_pBatchRun.reset();
  m_host.ShowBatchRunning(false);
  if (run == nullptr) return;
  const batch::BatchOutcome& outcome = run->outcome;
  // Nothing was written yet: Yes runs the batch again, replacing them.
  if (outcome.end == batch::BatchEnd::ForeignTargets) {
    const std::wstring question = ForeignTargetQuestion(outcome.foreignTargets);
    if (m_host.AskYesNo(MessageRequest{question, m_host.ApplicationName(), MessageIcon::Question})) StartBatch(true);
    return;
  }
  if (outcome.end == batch::BatchEnd::Refused || outcome.end == batch::BatchEnd::FolderFailed) {
    std::wstring text;
    for (const batch::PlanRefusal& refusal : outcome.refusals) {
      text += FromFilesystemPath(refusal.first) + L" and " + FromFilesystemPath(refusal.second) +
              L" would both be converted into " + FromFilesystemPath(refusal.target) + L"\n";
    }
    if (!outcome.problem.empty()) text += FromUtf8(outcome.problem) + L"\n";
    ShowMessageBox(text + L"\nNothing was converted.", MessageIcon::Exclamation);
    return;
  }
  BatchResults& results = run->results;
  results.summary = FromUtf8(batch::FormatBatchCounts(outcome.counts));
  if (outcome.end == batch::BatchEnd::Cancelled) {
    const std::size_t left = outcome.total - results.rows.size();
    results.summary += L"; stopped: " + std::to_wstring(left) + (left == 1 ? L" file was" : L" files were") +
                       L" left as they were";
  }
  m_host.ShowBatchResults(results);
}

bool CQuarnelDlg::OnCancel() {
  if (m_pBatchRun == nullptr) return true;
  m_pBatchRun->cancel.Cancel();
  return false;
}

std::wstring SaveBatchReport(const BatchResults& results, const std::wstring& path) {
  std::ofstream file(ToFilesystemPath(path), std::ios::binary | std::ios::trunc);
  if (file) file.write(results.csv.data(), static_cast<std::streamsize>(results.csv.size()));
  if (file) file.close();
  if (file) return {};
  const int error = errno;
  return FromUtf8(error != 0 ? std::generic_category().message(error) : std::string("cannot write the file"));
}

}  // namespace quarnel::ui
