// Windows files: the source read through a handle, the target staged in its
// folder, flushed, then put in place by ReplaceFileW (which keeps the old
// file's attributes and security) or, for a new target, by MoveFileExW with
// write-through.
#include <windows.h>

#include <mutex>
#include <random>
#include <set>
#include <string>
#include <system_error>

#include "file_access.h"
#include "quarnel/case_folding.h"
#include "quarnel/file_access_setup.h"
#include "quarnel/target_start.h"

namespace quarnel {
namespace {

std::string SystemMessage(DWORD error) { return std::system_category().message(static_cast<int>(error)); }

FileIdentity IdentityOf(const BY_HANDLE_FILE_INFORMATION& info) {
  return {info.dwVolumeSerialNumber, (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

// The temporary files a console Ctrl+C or close must remove. The console's
// handler runs on a thread of its own, so a lock suffices here.
std::mutex g_tempFilesLock;
std::set<std::wstring>& TempFiles() {
  static std::set<std::wstring> files;
  return files;
}

BOOL WINAPI RemoveTempFiles(DWORD) {
  std::lock_guard<std::mutex> lock(g_tempFilesLock);
  // Opened with FILE_SHARE_DELETE: a file still open is removed when the
  // process ends and its handles close.
  for (const std::wstring& file : TempFiles()) DeleteFileW(file.c_str());
  TempFiles().clear();
  return FALSE;  // the system's own handling ends the process
}


std::wstring RandomTempName() {
  static constexpr wchar_t kAlphabet[] = L"abcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device random;
  std::wstring name = L".quarnel-";
  for (int i = 0; i < 12; ++i) name += kAlphabet[random() % 36];
  return name + L".tmp";
}

}  // namespace

void PrepareFileAccess() {
  static std::once_flag installed;
  std::call_once(installed, [] { SetConsoleCtrlHandler(RemoveTempFiles, TRUE); });
}

// The console's handler runs on a thread of its own and takes the lock.
void BlockCleanupSignalsInThisThread() {}

void SetCleanupNote(const char*, const std::atomic<std::size_t>*, const char*) {}

CleanupSignalsHeld::CleanupSignalsHeld() = default;
CleanupSignalsHeld::~CleanupSignalsHeld() = default;

// ---- Source ----------------------------------------------------------------

SourceFile::~SourceFile() { Close(); }

void SourceFile::Close() {
  if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = -1;
}

bool SourceFile::Open(const std::filesystem::path& path, FileFailure& failure, std::string& message) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    failure = FileFailure::SourceIsFolder;
    message = SystemMessage(ERROR_DIRECTORY);
    return false;
  }
  const HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    failure = FileFailure::OpenSource;
    message = SystemMessage(GetLastError());
    return false;
  }
  handle_ = reinterpret_cast<std::intptr_t>(handle);
  isRegular = GetFileType(handle) == FILE_TYPE_DISK;
  BY_HANDLE_FILE_INFORMATION info{};
  if (isRegular && GetFileInformationByHandle(handle, &info)) {
    size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    identity = IdentityOf(info);
  }
  return true;
}

// Windows follows links as the system does; a file the walk saw is still
// the one opened.
bool SourceFile::Open(const FileLocation& location, FileFailure& failure, std::string& message) {
  if (location.folder == nullptr) return Open(location.path, failure, message);
  if (!Open(location.folder->path() / location.name, failure, message)) return false;
  if (!isRegular || (location.seen && identity != *location.seen)) {
    Close();
    failure = FileFailure::SourceChanged;
    message.clear();
    return false;
  }
  return true;
}

IoResult SourceFile::Read(char* buffer, std::size_t capacity) {
  DWORD read = 0;
  const DWORD wanted = capacity > (1u << 30) ? (1u << 30) : static_cast<DWORD>(capacity);
  if (ReadFile(reinterpret_cast<HANDLE>(handle_), buffer, wanted, &read, nullptr)) return {read, {}};
  const DWORD error = GetLastError();
  if (error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF) return {};
  return {0, SystemMessage(error)};
}

// ---- Target ----------------------------------------------------------------

struct StagedTarget::Impl {
  // A member type, not one of this file's unnamed namespace: GCC refuses a
  // field of such a type here once several files are compiled as one unit.
  class HandleSink : public ByteSink {
   public:
    IoResult Write(const char* bytes, std::size_t count) override {
      const std::size_t total = count;
      while (count > 0) {
        const DWORD piece = count > (1u << 30) ? (1u << 30) : static_cast<DWORD>(count);
        DWORD written = 0;
        if (!WriteFile(handle, bytes, piece, &written, nullptr)) return {0, SystemMessage(GetLastError())};
        bytes += written;
        count -= written;
      }
      return {total, {}};
    }
    HANDLE handle = INVALID_HANDLE_VALUE;
  };

  TargetKind kind = TargetKind::New;
  std::wstring target;
  std::wstring temp;  // empty when no temporary file exists
  FileIdentity existing;
  HandleSink sink;
  bool committed = false;
  FileFailure failure = FileFailure::None;
  std::string message;

  bool Fail(FileFailure why, DWORD error) {
    failure = why;
    message = SystemMessage(error);
    return false;
  }
};

StagedTarget::StagedTarget() : impl_(std::make_unique<Impl>()) {}

StagedTarget::~StagedTarget() { Abandon(); }

// Windows keeps no mode bits to limit.
bool StagedTarget::Open(const std::filesystem::path& target, std::uint32_t /*sourceMode*/) {
  Impl& impl = *impl_;
  // ReplaceFileW wants whole paths; a relative one may fail as an invalid folder name.
  std::error_code ignored;
  const std::filesystem::path whole = std::filesystem::absolute(target, ignored);
  impl.target = whole.empty() ? target.native() : whole.native();
  const DWORD attributes = GetFileAttributesW(impl.target.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return impl.Fail(FileFailure::TargetIsFolder, ERROR_DIRECTORY);
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) return impl.Fail(FileFailure::TargetReadOnly, ERROR_ACCESS_DENIED);
    const HANDLE probe = CreateFileW(impl.target.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe == INVALID_HANDLE_VALUE) return impl.Fail(FileFailure::OpenTarget, GetLastError());
    BY_HANDLE_FILE_INFORMATION info{};
    const bool disk = GetFileType(probe) == FILE_TYPE_DISK && GetFileInformationByHandle(probe, &info);
    CloseHandle(probe);
    if (disk) {
      impl.kind = TargetKind::Existing;
      impl.existing = IdentityOf(info);
    } else {
      impl.kind = TargetKind::Stream;
    }
  } else if (const DWORD error = GetLastError(); error != ERROR_FILE_NOT_FOUND) {
    return impl.Fail(FileFailure::OpenTarget, error);
  }

  if (impl.kind == TargetKind::Stream) {
    impl.sink.handle = CreateFileW(impl.target.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return impl.sink.handle != INVALID_HANDLE_VALUE || impl.Fail(FileFailure::OpenTarget, GetLastError());
  }

  const std::filesystem::path folder = std::filesystem::path(impl.target).parent_path();
  DWORD error = ERROR_FILE_EXISTS;
  for (int attempt = 0; attempt < 100 && error == ERROR_FILE_EXISTS; ++attempt) {
    const std::wstring temp = (folder / RandomTempName()).native();
    std::lock_guard<std::mutex> lock(g_tempFilesLock);
    impl.sink.handle = CreateFileW(temp.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    if (impl.sink.handle != INVALID_HANDLE_VALUE) {
      impl.temp = temp;
      TempFiles().insert(temp);
      return true;
    }
    error = GetLastError();
  }
  return impl.Fail(FileFailure::OpenTarget, error);
}

bool StagedTarget::Open(const FileLocation& target, std::uint32_t sourceMode) {
  if (target.folder == nullptr) return Open(target.path, sourceMode);
  return Open(target.folder->path() / target.name, sourceMode);
}

ByteSink& StagedTarget::Sink() { return impl_->sink; }

bool StagedTarget::IsStream() const { return impl_->kind == TargetKind::Stream; }

bool FolderFoldsCase(const std::filesystem::path&) { return true; }

// Windows opens one file by any spelling of its name, so its identity says it all.
bool StagedTarget::ReplacesFile(const FileIdentity& identity, const std::filesystem::path&) const {
  return impl_->kind == TargetKind::Existing && identity == impl_->existing;
}

// The data is always flushed here: Windows offers no one call that flushes a
// whole volume for an ordinary user, so deferring would gain nothing.
bool StagedTarget::Finish(bool) {
  Impl& impl = *impl_;
  if (impl.sink.handle == INVALID_HANDLE_VALUE) return impl.failure == FileFailure::None;
  bool complete = true;
  DWORD error = 0;
  if (impl.kind != TargetKind::Stream && !FlushFileBuffers(impl.sink.handle)) {
    complete = false;
    error = GetLastError();
  }
  CloseHandle(impl.sink.handle);
  impl.sink.handle = INVALID_HANDLE_VALUE;
  if (complete) return true;
  impl.Fail(FileFailure::WriteTarget, error);
  Abandon();
  return false;
}

bool StagedTarget::Commit() {
  Impl& impl = *impl_;
  if (impl.kind == TargetKind::Stream) return impl.failure == FileFailure::None;
  if (impl.temp.empty() || impl.sink.handle != INVALID_HANDLE_VALUE) return false;
  std::lock_guard<std::mutex> lock(g_tempFilesLock);
  const bool replaced =
      impl.kind == TargetKind::Existing
          ? ReplaceFileW(impl.target.c_str(), impl.temp.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                         nullptr) != 0
          : MoveFileExW(impl.temp.c_str(), impl.target.c_str(), MOVEFILE_WRITE_THROUGH) != 0;
  if (!replaced) {
    impl.Fail(FileFailure::ReplaceTarget, GetLastError());
    DeleteFileW(impl.temp.c_str());
  }
  TempFiles().erase(impl.temp);
  impl.temp.clear();
  impl.committed = replaced;
  return replaced;
}

bool StagedTarget::Committed() const { return impl_->committed; }

void StagedTarget::Abandon() {
  Impl& impl = *impl_;
  if (impl.sink.handle != INVALID_HANDLE_VALUE) CloseHandle(impl.sink.handle);
  impl.sink.handle = INVALID_HANDLE_VALUE;
  if (impl.temp.empty()) return;
  std::lock_guard<std::mutex> lock(g_tempFilesLock);
  DeleteFileW(impl.temp.c_str());
  TempFiles().erase(impl.temp);
  impl.temp.clear();
}

FileFailure StagedTarget::failure() const { return impl_->failure; }
const std::string& StagedTarget::failureMessage() const { return impl_->message; }

std::size_t CommitStagedTargets(const std::vector<StagedTarget*>& targets) {
  std::size_t committed = 0;
  for (StagedTarget* target : targets) {
    if (target->Commit()) ++committed;
  }
  return committed;
}

std::optional<FileIdentity> IdentifyFile(const std::filesystem::path& path) {
  // No access asked for: the identity alone; backup semantics open folders too.
  HANDLE file = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  BY_HANDLE_FILE_INFORMATION information{};
  const BOOL found = GetFileInformationByHandle(file, &information);
  CloseHandle(file);
  if (!found) return std::nullopt;
  return IdentityOf(information);
}

TargetStart ReadTargetStart(const std::filesystem::path& target, std::string& text, std::string& message) {
  const DWORD attributes = GetFileAttributesW(target.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    // A name the system refuses ("nothing*.frt" from a pattern that matched
    // nothing) holds no file either; the conversion says why it fails.
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME)
      return TargetStart::Absent;
    message = SystemMessage(error);
    return TargetStart::Unreadable;
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return TargetStart::NotRegular;
  // Opened without access rights first, as the conversion opens it, to tell a
  // device from a file before anything is read from it.
  const HANDLE probe = CreateFileW(target.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (probe == INVALID_HANDLE_VALUE) {
    message = SystemMessage(GetLastError());
    return TargetStart::Unreadable;
  }
  BY_HANDLE_FILE_INFORMATION probed{};
  const bool disk = GetFileType(probe) == FILE_TYPE_DISK && GetFileInformationByHandle(probe, &probed);
  CloseHandle(probe);
  if (!disk) return TargetStart::NotRegular;
  const HANDLE file = CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    message = SystemMessage(GetLastError());
    return TargetStart::Unreadable;
  }
  TargetStart start = TargetStart::Read;
  BY_HANDLE_FILE_INFORMATION opened{};
  if (GetFileType(file) == FILE_TYPE_DISK && !GetFileInformationByHandle(file, &opened)) {
    message = SystemMessage(GetLastError());
    start = TargetStart::Unreadable;
  } else if (GetFileType(file) != FILE_TYPE_DISK || opened.dwVolumeSerialNumber != probed.dwVolumeSerialNumber ||
             opened.nFileIndexHigh != probed.nFileIndexHigh || opened.nFileIndexLow != probed.nFileIndexLow) {
    message = "it changed while it was read";
    start = TargetStart::Unreadable;
  }
  text.resize(kTargetLookLength);
  std::size_t filled = 0;
  while (start == TargetStart::Read && filled < text.size()) {
    DWORD count = 0;
    if (!ReadFile(file, text.data() + filled, static_cast<DWORD>(text.size() - filled), &count, nullptr)) {
      message = SystemMessage(GetLastError());
      start = TargetStart::Unreadable;
    }
    if (count == 0) break;
    filled += count;
  }
  text.resize(filled);
  CloseHandle(file);
  return start;
}

}  // namespace quarnel
