#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "batch_system.h"

namespace quarnel::cli {

std::filesystem::path::string_type PlaceKey(const std::filesystem::path& path, CaseProbes& probes) {
  std::error_code error;
  std::filesystem::path place = std::filesystem::weakly_canonical(std::filesystem::absolute(path, error), error);
  if (error) place = std::filesystem::absolute(path, error).lexically_normal();
  // The whole path is folded: two places that differ in case above the
  // folder may collide where they would not, never the other way.
  if (probes.FoldsCase(place.parent_path())) return FoldPlaceKey(place.native());
  return place.native();
}

std::filesystem::path::string_type FoldPlaceKey(std::filesystem::path::string_type key) { return FoldCase(key); }

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

}  // namespace quarnel::cli
