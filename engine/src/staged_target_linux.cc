// The target staged in its folder and renamed into place. Every operation on
// the target's folder goes through a descriptor of that folder, so a folder
// swapped for a link after the checks cannot send the rename elsewhere.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <optional>
#include <string>
#include <system_error>

#include "file_access.h"
#include "file_calls_linux.h"
#include "quarnel/case_folding.h"
#include "target_path.h"
#include "temp_file_registry.h"

namespace quarnel {
namespace {

// The file systems of memory cards have no modes or owners to set.
bool IsUnsupported(int error) { return error == ENOSYS || error == EPERM || error == EOPNOTSUPP; }

std::string FoldedPlace(const std::filesystem::path& path) {
  std::error_code error;
  std::filesystem::path place = std::filesystem::weakly_canonical(std::filesystem::absolute(path, error), error);
  if (error) place = std::filesystem::absolute(path, error).lexically_normal();
  return FoldCase(place.native());
}

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

}  // namespace

struct StagedTarget::Impl {
  // A member type, not one of this file's unnamed namespace: GCC refuses a
  // field of such a type here once several files are compiled as one unit.
  class DescriptorSink : public ByteSink {
   public:
    IoResult Write(const char* bytes, std::size_t count) override {
      std::string failure;
      if (!WriteAll(descriptor, bytes, count, failure)) return {0, std::move(failure)};
      return {count, {}};
    }
    int descriptor = -1;
  };

  TargetKind kind = TargetKind::New;
  std::string target;  // as the caller gave it
  int folder = -1;
  // Set when `folder` is borrowed from a folder the caller holds open.
  FolderHandle heldFolder;
  FileIdentity folderIdentity;
  std::string name;  // the target's name in `folder`, links followed
  struct stat existing {};
  DescriptorSink sink;
  std::uint32_t sourceMode = 0777;
  TempSlot* slot = nullptr;
  // An unnamed temporary file, kept open from Finish until Commit names it.
  bool unnamed = false;
  int finished = -1;
  bool committed = false;
  // Set by CommitStagedTargets, which syncs each folder once for all its
  // renames and holds the signals once for all of them.
  bool folderSyncDeferred = false;
  bool signalsHeldByCaller = false;
  FileFailure failure = FileFailure::None;
  std::string message;

  bool Fail(FileFailure why, int error) {
    failure = why;
    message = SystemMessage(error);
    return false;
  }
  bool Resolve(int start, const std::string& shownAs, const std::string& target);
  bool CreateTemp();
  bool NameTemp();
  void ReleaseSlot();
};

bool StagedTarget::Impl::Resolve(int start, const std::string& shownAs, const std::string& target) {
  TargetPlace place;
  if (!ResolveTargetIn(start, shownAs, target, place, failure, message)) {
    if (place.folder >= 0) close(place.folder);
    return false;
  }
  folder = place.folder;
  struct stat folderInfo {};
  if (folder >= 0) {
    if (fstat(folder, &folderInfo) != 0) return Fail(FileFailure::OpenTarget, errno);
    folderIdentity = IdentityOf(folderInfo);
  }
  name = std::move(place.name);
  existing = place.existing;
  kind = place.kind;
  sink.descriptor = place.stream;
  return true;
}

bool StagedTarget::Impl::CreateTemp() {
  // A new target is made with its final mode, which the kernel narrows by the
  // umask or by the folder's default ACL; an existing target's mode and owner
  // are given back whole in Finish.
  // A new target is never wider than its source, as with cp; its owner keeps
  // read and write so that the next run may replace it.
  const mode_t mode = kind == TargetKind::New ? 0666 & (sourceMode | 0600) : 0600;
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
    if (descriptor >= 0) slot->state.store(SlotState::FileMayExist);
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
    if (error == 0) slot->state.store(SlotState::FileMayExist);
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
  if (slot->state.load() == SlotState::FileMayExist) unlinkat(folder, slot->name, 0);
  slot->state.store(SlotState::Free);
  slot = nullptr;
}

StagedTarget::StagedTarget() : impl_(std::make_unique<Impl>()) {}

StagedTarget::~StagedTarget() {
  Abandon();
  if (impl_->folder >= 0 && impl_->heldFolder == nullptr) close(impl_->folder);
}

bool StagedTarget::Open(const std::filesystem::path& target, std::uint32_t sourceMode) {
  Impl& impl = *impl_;
  impl.sourceMode = sourceMode;
  impl.target = target.native();
  if (!impl.Resolve(AT_FDCWD, {}, target.native())) return false;
  // A stream was opened by the walk, as checked.
  return impl.kind == TargetKind::Stream || impl.CreateTemp();
}

bool StagedTarget::Open(const FileLocation& target, std::uint32_t sourceMode) {
  if (target.folder == nullptr) return Open(target.path, sourceMode);
  Impl& impl = *impl_;
  impl.sourceMode = sourceMode;
  const int at = static_cast<int>(target.folder->handle());
  // A new target goes straight into the folder held open; any name already
  // there meets the whole rule for targets, from that folder.
  const int existing = openat(at, target.name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
  if (existing < 0 && errno != ENOENT) return impl.Fail(FileFailure::OpenTarget, errno);
  if (existing < 0) {
    impl.heldFolder = target.folder;
    impl.folder = at;
    impl.folderIdentity = target.folder->identity();
    impl.name = target.name.native();
    impl.kind = TargetKind::New;
    return impl.CreateTemp();
  }
  close(existing);
  impl.target = target.path.native();
  const std::string shownAs = target.folder->path() == "." ? std::string() : target.folder->path().native();
  if (!impl.Resolve(at, shownAs, target.name.native())) return false;
  return impl.kind == TargetKind::Stream || impl.CreateTemp();
}

ByteSink& StagedTarget::Sink() { return impl_->sink; }

bool StagedTarget::IsStream() const { return impl_->kind == TargetKind::Stream; }

bool StagedTarget::ReplacesFile(const FileIdentity& identity, const std::filesystem::path& path) const {
  const Impl& impl = *impl_;
  if (impl.kind != TargetKind::Existing) return false;
  const FileIdentity existing = IdentityOf(impl.existing);
  if (identity == existing) return true;
  // A file system that ignores case may number each spelling of one file
  // (exfat-fuse does): there, the same place spelled in another case is the
  // same file. Only names that fold alike are worth the probe.
  if (identity.device != existing.device) return false;
  const std::string targetName = FoldCase(impl.name);
  if (FoldCase(path.filename().native()) != targetName) {
    // A source named through a link counts by the name the link leads to.
    struct stat source {};
    if (lstat(path.c_str(), &source) != 0 || !S_ISLNK(source.st_mode)) return false;
    if (FoldCase(std::filesystem::path(FoldedPlace(path)).filename().native()) != targetName) return false;
  }
  return FoldsCaseAt(impl.folder, impl.name) && FoldedPlace(path) == FoldedPlace(impl.target);
}

bool StagedTarget::Finish(bool deferSync) {
  Impl& impl = *impl_;
  const int descriptor = impl.sink.descriptor;
  if (descriptor < 0) return impl.failure == FileFailure::None;
  impl.sink.descriptor = -1;
  bool complete = true;
  int error = 0;
  if (impl.kind == TargetKind::Existing) {
    // Ownership first: a change of owner would clear the mode's special bits.
    // Where the owner cannot be kept (an ordinary user), the group may still
    // be; where neither can, the file keeps the caller's, as a new file would.
    [[maybe_unused]] const bool ownerOrGroupKept =
        fchown(descriptor, impl.existing.st_uid, impl.existing.st_gid) == 0 ||
        fchown(descriptor, static_cast<uid_t>(-1), impl.existing.st_gid) == 0;
    const mode_t oldMode = impl.existing.st_mode & 01777 & ~(S_ISUID | S_ISGID);
    complete = fchmod(descriptor, oldMode) == 0;
    if (!complete) error = errno;
    // Where the file system has no modes (FAT, exFAT, FUSE), the file keeps
    // the one it has, as long as it grants nothing the old one did not.
    struct stat made {};
    if (!complete && IsUnsupported(error) && fstat(descriptor, &made) == 0 && (made.st_mode & 07777 & ~oldMode) == 0)
      complete = true;
    if (complete) {
      error = CopyAccessAcl(impl.folder, impl.name, descriptor);
      complete = error == 0;
    }
  }
  if (complete && impl.kind != TargetKind::Stream && !deferSync && fsync(descriptor) != 0) {
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
  if (impl.kind != TargetKind::Stream) Abandon();
  return false;
}

bool StagedTarget::Commit() {
  Impl& impl = *impl_;
  if (impl.kind == TargetKind::Stream) return impl.failure == FileFailure::None;
  if (impl.slot == nullptr || impl.sink.descriptor >= 0) return false;
  {
    std::optional<SignalsHeld> held;
    if (!impl.signalsHeldByCaller) held.emplace();
    if (impl.unnamed && !impl.NameTemp()) return false;
    // A target that was not there when it was opened replaces nothing: not
    // a file another run or another spelling of its name made since.
    const int error = impl.kind == TargetKind::New
                          ? RenameWithoutReplacing(impl.folder, impl.slot->name, impl.name.c_str())
                          : renameat(impl.folder, impl.slot->name, impl.folder, impl.name.c_str()) == 0 ? 0 : errno;
    if (error != 0) {
      impl.Fail(FileFailure::ReplaceTarget, error);
      impl.ReleaseSlot();
      return false;
    }
    impl.slot->state.store(SlotState::Free);
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

bool StagedTarget::Committed() const { return impl_->committed; }

FileFailure StagedTarget::failure() const { return impl_->failure; }
const std::string& StagedTarget::failureMessage() const { return impl_->message; }

std::size_t CommitStagedTargets(const std::vector<StagedTarget*>& targets) {
  // One sync per file system puts every temporary file's data on disk before
  // the first rename. A failed sync fails every target on that file system,
  // each with the sync's own message; it is not tried again for each.
  std::map<std::uint64_t, int> syncErrors;
  std::vector<int> targetErrors(targets.size(), 0);
  for (std::size_t i = 0; i < targets.size(); ++i) {
    const StagedTarget::Impl& impl = *targets[i]->impl_;
    if (impl.kind == TargetKind::Stream) continue;
    const auto [entry, fresh] = syncErrors.emplace(impl.folderIdentity.device, 0);
    if (fresh) entry->second = SyncFileSystem(impl.folder);
    targetErrors[i] = entry->second;
  }
  std::size_t committed = 0;
  // Each folder is synced once, after all the renames in it.
  std::map<FileIdentity, int> folders;
  {
    // Held once for the group: a signal waits at most for its renames.
    SignalsHeld held;
    for (std::size_t i = 0; i < targets.size(); ++i) {
      StagedTarget::Impl& impl = *targets[i]->impl_;
      if (impl.kind == TargetKind::Stream) continue;
      if (targetErrors[i] != 0) {
        impl.Fail(FileFailure::WriteTarget, targetErrors[i]);
        targets[i]->Abandon();
        continue;
      }
      impl.folderSyncDeferred = true;
      impl.signalsHeldByCaller = true;
      const bool renamed = targets[i]->Commit();
      impl.folderSyncDeferred = false;
      impl.signalsHeldByCaller = false;
      if (!renamed) continue;
      ++committed;
      folders.emplace(impl.folderIdentity, impl.folder);
    }
  }
  for (const auto& [place, folder] : folders) fsync(folder);
  return committed;
}

}  // namespace quarnel
