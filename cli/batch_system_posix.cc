#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "batch_system.h"

namespace quarnel::cli {

std::optional<FileIdentity> IdentifyFile(const std::filesystem::path& path) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) return std::nullopt;
  return FileIdentity{static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
}

std::filesystem::path::string_type PlaceKey(const std::filesystem::path& path) {
  std::error_code error;
  std::filesystem::path place = std::filesystem::weakly_canonical(std::filesystem::absolute(path, error), error);
  if (error) place = std::filesystem::absolute(path, error).lexically_normal();
  return place.native();
}

std::string PathBytes(const std::filesystem::path& path) { return path.native(); }

bool IsErrorTerminal() { return isatty(STDERR_FILENO) == 1; }

std::string CheckFolderWritable(const std::filesystem::path& folder) {
  // The effective ids decide, as they do for the files to be created.
  if (faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0) return {};
  return std::generic_category().message(errno);
}

void RemoveEmptyFolder(const std::filesystem::path& folder) { rmdir(folder.c_str()); }

}  // namespace quarnel::cli
