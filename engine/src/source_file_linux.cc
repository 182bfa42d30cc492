// The source read through a descriptor, as its bytes stand.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "file_access.h"
#include "file_calls_linux.h"
#include "target_path.h"
#include "temp_file_registry.h"

namespace quarnel {
namespace {

}  // namespace

SourceFile::~SourceFile() { Close(); }

bool SourceFile::Take(int descriptor, std::uint32_t& type, FileFailure& failure, std::string& message) {
  handle_ = descriptor;
  struct stat info {};
  if (fstat(descriptor, &info) == 0) {
    type = info.st_mode & S_IFMT;
    isRegular = S_ISREG(info.st_mode);
    if (isRegular) mode = info.st_mode & 0777;
    size = static_cast<std::uint64_t>(info.st_size);
    identity = IdentityOf(info);
    return true;
  }
  failure = FileFailure::OpenSource;
  message = SystemMessage(errno);
  Close();
  return false;
}

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
  std::uint32_t type = 0;
  if (!Take(descriptor, type, failure, message)) return false;
  if (S_ISDIR(type)) {
    failure = FileFailure::SourceIsFolder;
    message = SystemMessage(EISDIR);
    Close();
    return false;
  }
  return true;
}

bool SourceFile::Open(const FileLocation& location, FileFailure& failure, std::string& message) {
  if (location.folder == nullptr) return Open(location.path, failure, message);
  const int folder = static_cast<int>(location.folder->handle());
  // Not blocking: a FIFO put in the file's place must not hold the batch.
  constexpr int kFlags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW;
  int descriptor = openat(folder, location.name.c_str(), kFlags);
  int error = errno;
  if (descriptor < 0 && error == ELOOP && location.seenThroughLink) {
    TargetPlace place;
    FileFailure why = FileFailure::None;
    if (!LocateIn(folder, location.folder->path().native(), location.name.native(), place, why, message)) {
      failure = why == FileFailure::UnsafeLink ? why : FileFailure::SourceChanged;
      if (failure == FileFailure::SourceChanged) message.clear();
      return false;
    }
    descriptor = openat(place.folder, place.name.c_str(), kFlags);
    error = errno;
    close(place.folder);
  }
  if (descriptor < 0) {
    // A link where the walk saw a file.
    failure = error == ELOOP ? FileFailure::SourceChanged : FileFailure::OpenSource;
    message = error == ELOOP ? std::string() : SystemMessage(error);
    return false;
  }
  std::uint32_t type = 0;
  if (!Take(descriptor, type, failure, message)) return false;
  if (!S_ISREG(type) ||
      (location.seen && location.folder->keepsIdentities() && identity != *location.seen)) {
    failure = FileFailure::SourceChanged;
    message.clear();
    Close();
    return false;
  }
  return true;
}

IoResult SourceFile::Read(char* buffer, std::size_t capacity) {
  // A regular file read up to the size it had when opened ends there,
  // without a read that meets its end. (Files of /proc say 0 and are read
  // to their end.)
  if (isRegular && size > 0 && consumed >= size) return {0, {}};
  for (;;) {
    // The process is ending: the conversion stops here.
    if (CleanupStarted()) return {0, SystemMessage(EINTR)};
    const ssize_t count = read(static_cast<int>(handle_), buffer, capacity);
    if (count >= 0) {
      consumed += static_cast<std::uint64_t>(count);
      return {static_cast<std::size_t>(count), {}};
    }
    if (errno == EINTR) continue;
    return {0, SystemMessage(errno)};
  }
}

std::optional<FileIdentity> IdentifyFile(const std::filesystem::path& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return std::nullopt;
  return IdentityOf(info);
}

}  // namespace quarnel
