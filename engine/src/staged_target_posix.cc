// The target staged in its folder and renamed into place. Every operation on
// the target's folder goes through a descriptor of that folder, so a folder
// swapped for a link after the checks cannot send the rename elsewhere.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <set>
#include <string>
#include <system_error>

#include "file_access.h"
#include "file_calls_linux.h"
#include "temp_file_registry.h"

namespace quarnel {
namespace {

std::string SystemMessage(int error) { return std::generic_category().message(error); }

bool WriteAll(int descriptor, const char* bytes, std::size_t count, std::string& failure) {
  while (count > 0) {
    // The process is ending: what is still being written is abandoned.
    if (CleanupStarted()) {
      failure = SystemMessage(EINTR);
      return false;
    }
    const ssize_t written = write(descriptor, bytes, count);
    if (written < 0) {
      if (errno == EINTR) continue;
      failure = SystemMessage(errno);
      return false;
    }
    bytes += written;
    count -= static_cast<std::size_t>(written);
  }
  return true;
}

// Splits a path into its folder ("" for the current one) and its last name.
void SplitPath(const std::string& path, std::string& folder, std::string& name) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) {
    folder.clear();
    name = path;
    return;
  }
  folder = slash == 0 ? "/" : path.substr(0, slash);
  name = path.substr(slash + 1);
}

int OpenFolder(int base, const std::string& folder) {
  return openat(base, folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

class DescriptorSink : public ByteSink {
 public:
  IoResult Write(const char* bytes, std::size_t count) override {
    std::string failure;
    if (!WriteAll(descriptor, bytes, count, failure)) return {0, std::move(failure)};
    return {count, {}};
  }
  int descriptor = -1;
};

}  // namespace

struct StagedTarget::Impl {
  enum class Kind { New, Existing, Stream };
  Kind kind = Kind::New;
  int folder = -1;
  std::string name;  // the target's name in `folder`, links followed
  struct stat existing {};
  DescriptorSink sink;
  TempSlot* slot = nullptr;
  // An unnamed temporary file, kept open from Finish until Commit names it.
  bool unnamed = false;
  int finished = -1;
  bool committed = false;
  // Set by CommitStagedTargets, which syncs each folder once for all its renames.
  bool folderSyncDeferred = false;
  FileFailure failure = FileFailure::None;
  std::string message;

  bool Fail(FileFailure why, int error) {
    failure = why;
    message = SystemMessage(error);
    return false;
  }
  bool Resolve(const std::string& target);
  bool CreateTemp();
  bool NameTemp();
  void ReleaseSlot();
};

// Follows the links of the target's last name until a file or a free name.
bool StagedTarget::Impl::Resolve(const std::string& target) {
  std::string folderPath;
  SplitPath(target, folderPath, name);
  folder = OpenFolder(AT_FDCWD, folderPath);
  if (folder < 0) return Fail(FileFailure::OpenTarget, errno);
  for (int hops = 0;; ++hops) {
    if (name.empty() || name == "." || name == "..") return Fail(FileFailure::TargetIsFolder, EISDIR);
    struct stat info {};
    if (fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno != ENOENT) return Fail(FileFailure::OpenTarget, errno);
      if (hops > 0) return Fail(FileFailure::DanglingLink, ENOENT);
      kind = Kind::New;
      return true;
    }
    if (S_ISLNK(info.st_mode)) {
      if (hops >= 40) return Fail(FileFailure::LinkLoop, ELOOP);
      // The kernel's protected-symlinks rule, applied whatever the system's
      // setting: in a shared sticky folder only the caller's links and the
      // folder owner's are followed.
      struct stat folderInfo {};
      if (fstat(folder, &folderInfo) != 0) return Fail(FileFailure::OpenTarget, errno);
      const bool shared = (folderInfo.st_mode & S_ISVTX) != 0 && (folderInfo.st_mode & S_IWOTH) != 0;
      if (shared && info.st_uid != geteuid() && info.st_uid != folderInfo.st_uid)
        return Fail(FileFailure::UnsafeLink, EACCES);
      char text[4096];
      const ssize_t length = readlinkat(folder, name.c_str(), text, sizeof text - 1);
      if (length < 0) return Fail(FileFailure::OpenTarget, errno);
      const std::string linkText(text, static_cast<std::size_t>(length));
      // The kernel's own links to an open pipe or socket (/dev/stdout in a
      // pipeline, /proc/self/fd/N) name no path ("pipe:[N]"); the kernel
      // still leads them to the stream, which is written as such.
      struct stat led {};
      struct stat named {};
      if (fstatat(folder, name.c_str(), &led, 0) == 0 && !S_ISREG(led.st_mode) && !S_ISDIR(led.st_mode) &&
          fstatat(folder, linkText.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT) {
        kind = Kind::Stream;
        return true;
      }
      std::string linkFolder;
      SplitPath(linkText, linkFolder, name);
      if (!linkFolder.empty()) {
        const int next = OpenFolder(folder, linkFolder);
        if (next < 0) return Fail(errno == ENOENT ? FileFailure::DanglingLink : FileFailure::OpenTarget, errno);
        close(folder);
        folder = next;
      }
      continue;
    }
    if (S_ISDIR(info.st_mode)) return Fail(FileFailure::TargetIsFolder, EISDIR);
    if (!S_ISREG(info.st_mode)) {
      kind = Kind::Stream;
      return true;
    }
    if (faccessat(folder, name.c_str(), W_OK, AT_EACCESS) != 0) {
      return errno == EACCES ? Fail(FileFailure::TargetReadOnly, EACCES) : Fail(FileFailure::OpenTarget, errno);
    }
    kind = Kind::Existing;
    existing = info;
    return true;
  }
}

bool StagedTarget::Impl::CreateTemp() {
  // A new target is made with its final mode, which the kernel narrows by the
  // umask or by the folder's default ACL; an existing target's mode and owner
  // are given back whole in Finish.
  const mode_t mode = kind == Kind::New ? 0666 : 0600;
  slot = &ClaimTempSlot();
  slot->folder = folder;
  const int unnamedFile = OpenUnnamedFile(folder, mode);
  if (unnamedFile >= 0) {
    unnamed = true;
    sink.descriptor = unnamedFile;
    return true;
  }
  // Where the file system has no unnamed files: a named one from the start.
  int error = EEXIST;
  for (int attempt = 0; attempt < 100 && error == EEXIST; ++attempt) {
    SignalsHeld held;
    if (!BeginTempFile()) {
      error = EINTR;
      break;
    }
    RandomTempName(slot->name);
    const int descriptor = openat(folder, slot->name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    error = errno;
    if (descriptor >= 0) slot->state.store(2);
    EndTempFile();
    if (descriptor >= 0) {
      sink.descriptor = descriptor;
      return true;
    }
  }
  ReleaseSlot();
  return Fail(FileFailure::OpenTarget, error);
}

// Called with the signals held: the name and the slot change together.
bool StagedTarget::Impl::NameTemp() {
  int error = EEXIST;
  for (int attempt = 0; attempt < 100 && error == EEXIST; ++attempt) {
    if (!BeginTempFile()) {
      error = EINTR;
      break;
    }
    RandomTempName(slot->name);
    error = NameUnnamedFile(finished, folder, slot->name);
    if (error == 0) slot->state.store(2);
    EndTempFile();
  }
  const int descriptor = finished;
  finished = -1;
  if (error == 0 && close(descriptor) != 0) {
    Fail(FileFailure::WriteTarget, errno);
    ReleaseSlot();
    return false;
  }
  if (error == 0) return true;
  close(descriptor);
  Fail(FileFailure::ReplaceTarget, error);
  ReleaseSlot();
  return false;
}

// Removes the temporary file if it has a name, and frees its slot.
void StagedTarget::Impl::ReleaseSlot() {
  if (slot == nullptr) return;
  SignalsHeld held;
  if (slot->state.load() == 2) unlinkat(folder, slot->name, 0);
  slot->state.store(0);
  slot = nullptr;
}

StagedTarget::StagedTarget() : impl_(std::make_unique<Impl>()) {}

StagedTarget::~StagedTarget() {
  Abandon();
  if (impl_->folder >= 0) close(impl_->folder);
}

bool StagedTarget::Open(const std::filesystem::path& target) {
  Impl& impl = *impl_;
  if (!impl.Resolve(target.native())) return false;
  if (impl.kind != Impl::Kind::Stream) return impl.CreateTemp();
  const int descriptor = openat(impl.folder, impl.name.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOCTTY);
  if (descriptor < 0) return impl.Fail(FileFailure::OpenTarget, errno);
  impl.sink.descriptor = descriptor;
  return true;
}

ByteSink& StagedTarget::Sink() { return impl_->sink; }

bool StagedTarget::IsStream() const { return impl_->kind == Impl::Kind::Stream; }

bool StagedTarget::ReplacesFile(const FileIdentity& identity) const {
  return impl_->kind == Impl::Kind::Existing &&
         identity == FileIdentity{static_cast<std::uint64_t>(impl_->existing.st_dev),
                                  static_cast<std::uint64_t>(impl_->existing.st_ino)};
}

bool StagedTarget::Finish(bool deferSync) {
  Impl& impl = *impl_;
  const int descriptor = impl.sink.descriptor;
  if (descriptor < 0) return impl.failure == FileFailure::None;
  impl.sink.descriptor = -1;
  bool complete = true;
  int error = 0;
  if (impl.kind == Impl::Kind::Existing) {
    // Ownership first: a change of owner would clear the mode's special bits.
    // Where the owner cannot be kept (an ordinary user), the group may still
    // be; where neither can, the file keeps the caller's, as a new file would.
    [[maybe_unused]] const bool ownerOrGroupKept =
        fchown(descriptor, impl.existing.st_uid, impl.existing.st_gid) == 0 ||
        fchown(descriptor, static_cast<uid_t>(-1), impl.existing.st_gid) == 0;
    complete = fchmod(descriptor, impl.existing.st_mode & 01777 & ~(S_ISUID | S_ISGID)) == 0;
  }
  if (!complete) error = errno;
  if (complete && impl.kind != Impl::Kind::Stream && !deferSync && fsync(descriptor) != 0) {
    complete = false;
    error = errno;
  }
  if (complete && impl.unnamed) {
    // Closing it would lose it: Commit names it, then closes it.
    impl.finished = descriptor;
    return true;
  }
  if (close(descriptor) != 0 && complete) {
    complete = false;
    error = errno;
  }
  if (complete) return true;
  impl.Fail(FileFailure::WriteTarget, error);
  if (impl.kind != Impl::Kind::Stream) Abandon();
  return false;
}

bool StagedTarget::Commit() {
  Impl& impl = *impl_;
  if (impl.kind == Impl::Kind::Stream) return impl.failure == FileFailure::None;
  if (impl.slot == nullptr || impl.sink.descriptor >= 0) return false;
  {
    SignalsHeld held;
    if (impl.unnamed && !impl.NameTemp()) return false;
    if (renameat(impl.folder, impl.slot->name, impl.folder, impl.name.c_str()) != 0) {
      impl.Fail(FileFailure::ReplaceTarget, errno);
      impl.ReleaseSlot();
      return false;
    }
    impl.slot->state.store(0);
    impl.slot = nullptr;
  }
  impl.committed = true;
  // The rename itself reaches the disk with the folder. Some file systems
  // cannot sync a folder; the target is replaced all the same.
  if (!impl.folderSyncDeferred) fsync(impl.folder);
  return true;
}

void StagedTarget::Abandon() {
  Impl& impl = *impl_;
  if (impl.sink.descriptor >= 0) close(impl.sink.descriptor);
  impl.sink.descriptor = -1;
  if (impl.finished >= 0) close(impl.finished);
  impl.finished = -1;
  impl.ReleaseSlot();
}

FileFailure StagedTarget::failure() const { return impl_->failure; }
const std::string& StagedTarget::failureMessage() const { return impl_->message; }

std::size_t CommitStagedTargets(const std::vector<StagedTarget*>& targets) {
  // One sync per file system puts every temporary file's data on disk before
  // the first rename.
  std::set<dev_t> synced;
  for (StagedTarget* target : targets) {
    const StagedTarget::Impl& impl = *target->impl_;
    struct stat folderInfo {};
    if (impl.kind == StagedTarget::Impl::Kind::Stream || fstat(impl.folder, &folderInfo) != 0) continue;
    if (synced.insert(folderInfo.st_dev).second && SyncFileSystem(impl.folder) != 0) return 0;
  }
  std::size_t committed = 0;
  std::set<std::pair<dev_t, ino_t>> folders;
  for (StagedTarget* target : targets) {
    StagedTarget::Impl& impl = *target->impl_;
    impl.folderSyncDeferred = true;
    const bool renamed = target->Commit();
    impl.folderSyncDeferred = false;
    if (!renamed) break;
    ++committed;
  }
  // Then each folder once, for all the renames in it.
  for (std::size_t i = 0; i < committed; ++i) {
    const StagedTarget::Impl& impl = *targets[i]->impl_;
    struct stat folderInfo {};
    if (impl.kind == StagedTarget::Impl::Kind::Stream || fstat(impl.folder, &folderInfo) != 0) continue;
    if (folders.insert({folderInfo.st_dev, folderInfo.st_ino}).second) fsync(impl.folder);
  }
  return committed;
}

}  // namespace quarnel
