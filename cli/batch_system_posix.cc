#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "batch_system.h"

namespace quarnel::cli {

std::filesystem::path::string_type PlaceKey(const std::filesystem::path& path) {
  std::error_code error;
  std::filesystem::path place = std::filesystem::weakly_canonical(std::filesystem::absolute(path, error), error);
  if (error) place = std::filesystem::absolute(path, error).lexically_normal();
  return place.native();
}

std::size_t OpenFileLimit() {
  struct rlimit files {};
  if (getrlimit(RLIMIT_NOFILE, &files) != 0 || files.rlim_cur == RLIM_INFINITY) return SIZE_MAX;
  return static_cast<std::size_t>(files.rlim_cur);
}

bool IsErrorTerminal() { return isatty(STDERR_FILENO) == 1; }

std::string CheckFolderWritable(const std::filesystem::path& folder) {
  // The effective ids decide, as they do for the files to be created.
  if (faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0) return {};
  return std::generic_category().message(errno);
}

TargetStart ReadTargetStart(const std::filesystem::path& target, std::string& text, std::string& message) {
  struct stat checked {};
  if (stat(target.c_str(), &checked) != 0) {
    if (errno == ENOENT || errno == ENOTDIR || errno == ELOOP || errno == ENAMETOOLONG) return TargetStart::Absent;
    message = std::generic_category().message(errno);
    return TargetStart::Unreadable;
  }
  if (!S_ISREG(checked.st_mode)) return TargetStart::NotRegular;
  const int descriptor = open(target.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (descriptor < 0) {
    message = std::generic_category().message(errno);
    return TargetStart::Unreadable;
  }
  struct stat opened {};
  TargetStart start = TargetStart::Read;
  if (fstat(descriptor, &opened) != 0 || !S_ISREG(opened.st_mode) || opened.st_dev != checked.st_dev ||
      opened.st_ino != checked.st_ino) {
    message = "it changed while it was read";
    start = TargetStart::Unreadable;
  }
  text.resize(kTargetLookLength);
  std::size_t filled = 0;
  while (start == TargetStart::Read && filled < text.size()) {
    const ssize_t count = read(descriptor, text.data() + filled, text.size() - filled);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) {
      message = std::generic_category().message(errno);
      start = TargetStart::Unreadable;
    }
    if (count <= 0) break;
    filled += static_cast<std::size_t>(count);
  }
  text.resize(filled);
  close(descriptor);
  return start;
}

}  // namespace quarnel::cli
