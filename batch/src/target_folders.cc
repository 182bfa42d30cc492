#include "target_folders.h"

#include <system_error>

#include "batch_system.h"

namespace quarnel::batch {
namespace fs = std::filesystem;

std::string TargetFolders::MakeFolder(const fs::path& folder) {
  if (ready_.count(folder) != 0) return {};
  std::error_code error;
  bool made = fs::create_directory(folder, error);
  // The folders above it are missing: make them first.
  if (error == std::errc::no_such_file_or_directory && folder.has_parent_path() && folder.parent_path() != folder) {
    if (std::string problem = MakeFolder(folder.parent_path()); !problem.empty()) return problem;
    made = fs::create_directory(folder, error);
  }
  if (error == std::errc::file_exists) {
    // Another name stands there, or the look at the folder failed before
    // the attempt to make it: ask once more what it is.
    std::error_code again;
    if (fs::is_directory(folder, again)) {
      error.clear();
    } else if (again) {
      error = again;
    }
  }
  if (error) return "cannot create the folder " + displayName_(folder) + ": " + error.message();
  if (made) made_.push_back(folder);
  ready_.insert(folder);
  return {};
}

std::string TargetFolders::MakeOutputFolder(const fs::path& folder, const std::vector<PlannedFile>& files) {
  std::lock_guard lock(mutex_);
  if (std::string problem = MakeFolder(folder); !problem.empty()) return problem;
  // A folder made just now is writable; one that was there may not be. It
  // matters only if a target goes straight into it or a folder must be made
  // there: a file's own folder below it may still take its target.
  if (!made_.empty()) return {};
  for (const PlannedFile& file : files) {
    if (file.target.empty() || !file.problem.empty()) continue;
    const fs::path below = file.target.parent_path().lexically_relative(folder);
    std::error_code ignored;
    if (below.empty() || below == "." || !fs::exists(folder / *below.begin(), ignored)) {
      const std::string problem = CheckFolderWritable(folder);
      return problem.empty() ? problem : "cannot write into the folder " + displayName_(folder) + ": " + problem;
    }
  }
  return {};
}

std::string TargetFolders::MakeFolderFor(const fs::path& target) {
  const fs::path folder = target.parent_path();
  if (folder.empty()) return {};
  std::lock_guard lock(mutex_);
  return MakeFolder(folder);
}

void TargetFolders::RemoveEmptyFolders() {
  std::lock_guard lock(mutex_);
  for (auto it = made_.rbegin(); it != made_.rend(); ++it) RemoveEmptyFolder(*it);
  made_.clear();
  ready_.clear();
}

}  // namespace quarnel::batch
