#include <fcntl.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "batch_system.h"

namespace quarnel::batch {

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

std::optional<std::string> UntrustedLinkOwner(const std::filesystem::path& path) {
  struct stat status {};
  if (lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return std::nullopt;
  if (status.st_uid == geteuid() || status.st_uid == 0) return std::nullopt;
  std::string owner = "user " + std::to_string(status.st_uid);
  struct passwd entry {};
  struct passwd* found = nullptr;
  char buffer[1024];
  if (getpwuid_r(status.st_uid, &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr)
    owner += std::string(" (") + found->pw_name + ")";
  return owner;
}

std::string CheckFolderWritable(const std::filesystem::path& folder) {
  // The effective ids decide, as they do for the files to be created.
  if (faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0) return {};
  return std::generic_category().message(errno);
}

void RemoveEmptyFolder(const std::filesystem::path& folder) { rmdir(folder.c_str()); }

}  // namespace quarnel::batch
