// The folders a batch with -o makes for its targets: made once each, and
// removed again at the end when nothing was converted into them.
#pragma once

#include <filesystem>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "quarnel/batch/batch_plan.h"
#include "quarnel/batch/batch_run.h"

namespace quarnel::batch {

class TargetFolders {
 public:
  // `displayName` writes the folders' names in messages.
  explicit TargetFolders(const NameFunction& displayName) : displayName_(displayName) {}

  // Makes the -o folder before the first file, so that a folder that cannot
  // be made, or written where a target or a folder must go, stops the batch
  // at once instead of failing every file.
  // @return "" when the folder is ready, else the message (without "quarnel: ").
  std::string MakeOutputFolder(const std::filesystem::path& folder, const std::vector<PlannedFile>& files);

  // Makes the folder `target` goes into, and those above it, as needed.
  // Safe from any thread. @return "" or the reason the file fails.
  std::string MakeFolderFor(const std::filesystem::path& target);

  // Removes, deepest first, each folder made here that is empty.
  void RemoveEmptyFolders();

 private:
  std::string MakeFolder(const std::filesystem::path& folder);  // with mutex_ held

  const NameFunction& displayName_;
  std::mutex mutex_;
  std::set<std::filesystem::path> ready_;
  std::vector<std::filesystem::path> made_;  // a folder after those above it
};

}  // namespace quarnel::batch
