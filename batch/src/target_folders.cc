#include "target_folders.h"

#include <system_error>

#include "batch_system.h"

namespace quarnel::batch {
namespace fs = std::filesystem;

std::string TargetFolders::MakeOutputFolder(const fs::path& folder, const std::vector<PlannedFile>& files) {
  std::lock_guard lock(mutex_);
  outputFolder_ = folder;
  std::string problem;
  std::optional<std::size_t> at = tree_.AddNamedFolder(folder.is_absolute() ? folder.root_path() : fs::path("."),
                                                       problem);
  fs::path walked = folder.root_path();
  for (const fs::path& name : folder.relative_path()) {
    if (!at) break;
    if (name.empty() || name == ".") continue;
    walked /= name;
    bool made = false;
    at = tree_.AddFolder(*at, name, true, made, problem);
    if (made) made_.push_back(*at);
  }
  if (!at) return "cannot create the folder " + displayName_(walked.empty() ? folder : walked) + ": " + problem;
  ready_.emplace(fs::path(), *at);
  // A folder made just now is writable; one that was there may not be. It
  // matters only if a target goes straight into it or a folder must be made
  // there: a file's own folder below it may still take its target.
  if (!made_.empty()) return {};
  for (const PlannedFile& file : files) {
    if (file.target.empty() || !file.problem.empty()) continue;
    const fs::path& below = file.targetFolderBelow;
    std::error_code ignored;
    if (below.empty() || !fs::exists(folder / *below.begin(), ignored)) {
      const std::string unwritable = CheckFolderWritable(folder);
      return unwritable.empty() ? unwritable : "cannot write into the folder " + displayName_(folder) + ": " + unwritable;
    }
  }
  return {};
}

std::optional<std::size_t> TargetFolders::FolderIndex(const fs::path& below, std::string& problem) {
  if (const auto it = ready_.find(below); it != ready_.end()) return it->second;
  const std::optional<std::size_t> parent = FolderIndex(below.parent_path(), problem);
  if (!parent) return std::nullopt;
  bool made = false;
  std::string why;
  const std::optional<std::size_t> index = tree_.AddFolder(*parent, below.filename(), true, made, why);
  if (!index) {
    // Told once: every file below it fails with the same message.
    problem = "cannot create the folder " + displayName_(outputFolder_ / below) + ": " + why;
    return std::nullopt;
  }
  if (made) made_.push_back(*index);
  ready_.emplace(below, *index);
  return index;
}

FolderHandle TargetFolders::FolderFor(const fs::path& below, std::string& problem) {
  std::lock_guard lock(mutex_);
  const std::optional<std::size_t> index = FolderIndex(below, problem);
  if (!index) return nullptr;
  std::string why;
  FolderHandle folder = tree_.Open(*index, why);
  if (folder == nullptr) problem = "cannot open the folder " + displayName_(outputFolder_ / below) + ": " + why;
  return folder;
}

void TargetFolders::RemoveEmptyFolders() {
  std::lock_guard lock(mutex_);
  for (auto it = made_.rbegin(); it != made_.rend(); ++it) tree_.RemoveMadeFolder(*it);
  made_.clear();
  ready_.clear();
}

}  // namespace quarnel::batch
