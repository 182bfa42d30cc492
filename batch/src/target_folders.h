// The folders a batch with -o makes for its targets: made once each, each
// relative to the folder above it as it was checked, and removed again at
// the end when nothing was converted into them.
#pragma once

#include <cstddef>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "quarnel/batch/batch_plan.h"
#include "quarnel/batch/batch_run.h"
#include "quarnel/folder_tree.h"

namespace quarnel::batch {

class TargetFolders {
 public:
  // `displayName` writes the folders' names in messages.
  explicit TargetFolders(const NameFunction& displayName) : displayName_(displayName) {}

  // Makes the -o folder before the first file, so that a folder that cannot
  // be made, or written where a target or a folder must go, stops the batch
  // at once instead of failing every file. Its path is followed name by
  // name, a link only by the rule for links.
  // @return "" when the folder is ready, else the message (without "quarnel: ").
  std::string MakeOutputFolder(const std::filesystem::path& folder, const std::vector<PlannedFile>& files);

  // The folder `below` the -o folder, and those above it, made as needed
  // inside the folders made or checked before. Safe from any thread.
  // @return nullptr with `problem`, the reason the file fails.
  FolderHandle FolderFor(const std::filesystem::path& below, std::string& problem);

  // Removes, deepest first, each folder made here that is empty and still
  // the folder made.
  void RemoveEmptyFolders();

 private:
  std::optional<std::size_t> FolderIndex(const std::filesystem::path& below, std::string& problem);  // mutex_ held

  const NameFunction& displayName_;
  FolderTree tree_;
  std::filesystem::path outputFolder_;
  std::mutex mutex_;
  std::map<std::filesystem::path, std::size_t> ready_;  // by the path below the -o folder
  std::vector<std::size_t> made_;                       // a folder after those above it
};

}  // namespace quarnel::batch
