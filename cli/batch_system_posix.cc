#include <sys/stat.h>
#include <unistd.h>

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

bool IsErrorTerminal() { return isatty(STDERR_FILENO) == 1; }

}  // namespace quarnel::cli
