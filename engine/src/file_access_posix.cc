// POSIX files: the source read through a descriptor, the target staged in its
// folder and renamed into place. Every operation on the target's folder goes
// through a descriptor of that folder, so a folder swapped for a link after
// the checks cannot send the rename elsewhere.
#include <fcntl.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>
#include <system_error>

#include "file_access.h"

namespace quarnel {
namespace {

std::string SystemMessage(int error) { return std::generic_category().message(error); }

FileIdentity IdentityOf(const struct stat& info) {
  return {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}

// ---- Temporary files that a signal must remove -------------------------
//
// A signal handler may neither allocate nor lock, so the live temporary files
// are kept in blocks of slots that are only ever appended to, and a slot's
// state is an atomic the handler can read at any moment. This is the one
// piece of process-wide state in the engine; signals leave no other way.

constexpr std::size_t kTempNameLength = 25;  // ".quarnel-" + 12 random + ".tmp"

struct TempSlot {
  std::atomic<int> state{0};  // 0 free, 1 claimed, 2 a file that may exist
  int folder = -1;
  char name[kTempNameLength + 1] = {};
};

struct TempBlock {
  TempSlot slots[64];
  std::atomic<TempBlock*> next{nullptr};
};

TempBlock g_tempFiles;

constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void RemoveTempFilesAndRaise(int signalNumber) {
  for (TempBlock* block = &g_tempFiles; block != nullptr; block = block->next.load()) {
    for (TempSlot& slot : block->slots) {
      if (slot.state.load() == 2) unlinkat(slot.folder, slot.name, 0);
    }
  }
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  sigaction(signalNumber, &fallback, nullptr);
  // Delivered when the handler returns and the signal is unblocked: the
  // process ends as the signal would have ended it.
  raise(signalNumber);
}

void InstallCleanupHandlers() {
  static std::atomic<bool> installed{false};
  if (installed.exchange(true)) return;
  for (const int signalNumber : kCleanupSignals) {
    struct sigaction current {};
    if (sigaction(signalNumber, nullptr, &current) != 0) continue;
    // A signal the caller ignores (nohup) or handles itself stays theirs.
    if (current.sa_handler != SIG_DFL || (current.sa_flags & SA_SIGINFO) != 0) continue;
    struct sigaction cleanup {};
    cleanup.sa_handler = RemoveTempFilesAndRaise;
    sigemptyset(&cleanup.sa_mask);
    for (const int other : kCleanupSignals) sigaddset(&cleanup.sa_mask, other);
    sigaction(signalNumber, &cleanup, nullptr);
  }
}

TempSlot& ClaimSlot() {
  TempBlock* block = &g_tempFiles;
  for (;;) {
    for (TempSlot& slot : block->slots) {
      int expected = 0;
      if (slot.state.compare_exchange_strong(expected, 1)) return slot;
    }
    TempBlock* next = block->next.load();
    if (next == nullptr) {
      auto* fresh = new TempBlock;
      if (block->next.compare_exchange_strong(next, fresh)) {
        next = fresh;
      } else {
        delete fresh;
      }
    }
    block = next;
  }
}

// Holds off the clean-up signals while a temporary file and its slot change
// together, so the handler never sees one without the other.
class SignalsHeld {
 public:
  SignalsHeld() {
    sigset_t held;
    sigemptyset(&held);
    for (const int signalNumber : kCleanupSignals) sigaddset(&held, signalNumber);
    pthread_sigmask(SIG_BLOCK, &held, &previous_);
  }
  ~SignalsHeld() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }

 private:
  sigset_t previous_;
};

void RandomTempName(char (&name)[kTempNameLength + 1]) {
  static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  unsigned char random[12];
  std::size_t got = 0;
  while (got < sizeof random) {
    const ssize_t count = getrandom(random + got, sizeof random - got, 0);
    if (count > 0) {
      got += static_cast<std::size_t>(count);
    } else if (errno != EINTR) {
      // No random source: the clock and the process still make collisions rare,
      // and O_EXCL turns the rest into another try.
      static std::atomic<unsigned> counter{0};
      unsigned long seed = static_cast<unsigned long>(getpid()) * 2654435761u + counter.fetch_add(1) +
                           static_cast<unsigned long>(clock());
      for (unsigned char& byte : random) byte = static_cast<unsigned char>(seed >>= 3);
      break;
    }
  }
  std::memcpy(name, ".quarnel-", 9);
  for (std::size_t i = 0; i < sizeof random; ++i) name[9 + i] = kAlphabet[random[i] % 36];
  std::memcpy(name + 21, ".tmp", 5);
}

mode_t CurrentUmask() {
  // Reading the mask with umask() would change it for a moment in every thread.
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Umask:", 0) == 0) return static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8));
  }
  const mode_t mask = umask(022);
  umask(mask);
  return mask;
}

bool WriteAll(int descriptor, const char* bytes, std::size_t count, std::string& failure) {
  while (count > 0) {
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

// ---- Source ----------------------------------------------------------------

SourceFile::~SourceFile() { Close(); }

void SourceFile::Close() {
  if (handle_ >= 0) close(static_cast<int>(handle_));
  handle_ = -1;
}

bool SourceFile::Open(const std::filesystem::path& path, FileFailure& failure, std::string& message) {
  const int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (descriptor < 0) {
    failure = FileFailure::OpenSource;
    message = SystemMessage(errno);
    return false;
  }
  handle_ = descriptor;
  struct stat info {};
  if (fstat(descriptor, &info) != 0) {
    failure = FileFailure::OpenSource;
    message = SystemMessage(errno);
    Close();
    return false;
  }
  if (S_ISDIR(info.st_mode)) {
    failure = FileFailure::SourceIsFolder;
    message = SystemMessage(EISDIR);
    Close();
    return false;
  }
  isRegular = S_ISREG(info.st_mode);
  size = static_cast<std::uint64_t>(info.st_size);
  identity = IdentityOf(info);
  return true;
}

IoResult SourceFile::Read(char* buffer, std::size_t capacity) {
  for (;;) {
    const ssize_t count = read(static_cast<int>(handle_), buffer, capacity);
    if (count >= 0) return {static_cast<std::size_t>(count), {}};
    if (errno == EINTR) continue;
    return {0, SystemMessage(errno)};
  }
}

// ---- Target ----------------------------------------------------------------

struct StagedTarget::Impl {
  enum class Kind { New, Existing, Stream };
  Kind kind = Kind::New;
  int folder = -1;
  std::string name;  // the target's name in `folder`, links followed
  struct stat existing {};
  DescriptorSink sink;
  TempSlot* slot = nullptr;
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
  InstallCleanupHandlers();
  slot = &ClaimSlot();
  slot->folder = folder;
  for (int attempt = 0; attempt < 100; ++attempt) {
    SignalsHeld held;
    RandomTempName(slot->name);
    const int descriptor = openat(folder, slot->name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (descriptor >= 0) {
      slot->state.store(2);
      sink.descriptor = descriptor;
      return true;
    }
    if (errno != EEXIST) break;
  }
  const int error = errno;
  slot->state.store(0);
  slot = nullptr;
  return Fail(FileFailure::OpenTarget, error);
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
  return impl_->kind == Impl::Kind::Existing && identity == IdentityOf(impl_->existing);
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
  } else if (impl.kind == Impl::Kind::New) {
    complete = fchmod(descriptor, 0666 & ~CurrentUmask()) == 0;
  }
  if (!complete) error = errno;
  if (complete && impl.kind != Impl::Kind::Stream && !deferSync && fsync(descriptor) != 0) {
    complete = false;
    error = errno;
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
    if (renameat(impl.folder, impl.slot->name, impl.folder, impl.name.c_str()) != 0) {
      impl.Fail(FileFailure::ReplaceTarget, errno);
      unlinkat(impl.folder, impl.slot->name, 0);
      impl.slot->state.store(0);
      impl.slot = nullptr;
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
  if (impl.slot == nullptr) return;
  SignalsHeld held;
  unlinkat(impl.folder, impl.slot->name, 0);
  impl.slot->state.store(0);
  impl.slot = nullptr;
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
    if (synced.insert(folderInfo.st_dev).second && syncfs(impl.folder) != 0) return 0;
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

std::optional<FileIdentity> IdentifyFile(const std::filesystem::path& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return std::nullopt;
  return IdentityOf(info);
}

}  // namespace quarnel
