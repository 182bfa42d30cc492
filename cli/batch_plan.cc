#include "batch_plan.h"

#include <map>

#include "batch_system.h"
#include "quarnel/file_identity.h"
#include "quarnel/target_name.h"

namespace quarnel::cli {
namespace fs = std::filesystem;
namespace {

fs::path TargetBelow(const fs::path& outputFolder, const fs::path& below) {
  fs::path name(kTargetPrefix);
  name += below.filename();
  // Joining an empty path would add a separator: "out" / "" is "out/".
  const fs::path folder = below.has_parent_path() ? outputFolder / below.parent_path() : outputFolder;
  return folder / name;
}

// The place keys of a batch's files: a folder's key is worked out once, and
// a file's is its folder's with its name. A link among the files is caught
// by its identity, not by its key.
class PlaceKeys {
 public:
  fs::path::string_type Of(const fs::path& path) {
    if (!path.has_filename() || !path.has_parent_path()) return PlaceKey(path, probes_);
    const fs::path folder = path.parent_path();
    auto it = folders_.find(folder.native());
    if (it == folders_.end())
      it = folders_.emplace(folder.native(), Folder{PlaceKey(folder, probes_), probes_.FoldsCase(folder)}).first;
    fs::path::string_type key = (fs::path(it->second.key) / path.filename()).native();
    return it->second.foldsCase ? FoldPlaceKey(std::move(key)) : key;
  }

  // The identity of the file at `path`; a folder that does not exist holds
  // no file, and is asked once.
  std::optional<FileIdentity> Identify(const fs::path& path) {
    if (path.has_parent_path()) {
      const fs::path folder = path.parent_path();
      auto it = present_.find(folder.native());
      if (it == present_.end()) it = present_.emplace(folder.native(), IdentifyFile(folder).has_value()).first;
      if (!it->second) return std::nullopt;
    }
    return IdentifyFile(path);
  }

 private:
  struct Folder {
    fs::path::string_type key;
    bool foldsCase;
  };
  CaseProbes probes_;
  std::map<fs::path::string_type, Folder> folders_;
  std::map<fs::path::string_type, bool> present_;
};

}  // namespace

BatchPlan PlanBatch(const std::vector<FoundSource>& sources, TargetPlacement placement,
                    const fs::path& outputFolder) {
  BatchPlan plan;
  PlaceKeys keys;
  std::map<FileIdentity, std::size_t> sourceByIdentity;
  std::map<fs::path::string_type, std::size_t> sourceByPlace;
  for (const FoundSource& found : sources) {
    PlannedFile file{found.path, {}, found.problem, {}, found.folder, found.identity, found.throughLink, {}};
    if (!file.problem.empty()) {
      plan.files.push_back(std::move(file));
      continue;
    }
    // A file that does not exist has no identity; its path stands in for it.
    // A walk saw the file already.
    const fs::path::string_type place = keys.Of(found.path);
    const std::optional<FileIdentity> identity = found.folder ? found.identity : IdentifyFile(found.path);
    if (identity ? sourceByIdentity.count(*identity) != 0 : sourceByPlace.count(place) != 0) continue;
    if (identity) sourceByIdentity.emplace(*identity, plan.files.size());
    sourceByPlace.emplace(place, plan.files.size());
    file.problem = TargetNameProblem(found.below);
    if (file.problem.empty()) {
      file.target = placement == TargetPlacement::OutputFolder ? TargetBelow(outputFolder, found.below)
                                                               : ProposeTargetPath(found.path);
      file.targetFolderBelow = found.below.parent_path();
    }
    plan.files.push_back(std::move(file));
  }

  // The source at each target, other than the target's own source (a file
  // converted in place), is skipped before any target is compared.
  std::vector<std::optional<FileIdentity>> targetIdentities(plan.files.size());
  for (std::size_t index = 0; index < plan.files.size(); ++index) {
    const PlannedFile& file = plan.files[index];
    if (file.target.empty()) continue;
    targetIdentities[index] = keys.Identify(file.target);
    std::optional<std::size_t> sourceThere;
    if (const auto it = sourceByPlace.find(keys.Of(file.target)); it != sourceByPlace.end()) sourceThere = it->second;
    if (targetIdentities[index]) {
      if (const auto it = sourceByIdentity.find(*targetIdentities[index]); it != sourceByIdentity.end())
        sourceThere = it->second;
    }
    if (sourceThere && *sourceThere != index) plan.files[*sourceThere].targetOf = file.source;
  }

  std::map<fs::path::string_type, std::size_t> targetByPlace;
  std::map<FileIdentity, std::size_t> targetByIdentity;
  for (std::size_t index = 0; index < plan.files.size(); ++index) {
    const PlannedFile& file = plan.files[index];
    if (file.target.empty() || !file.targetOf.empty()) continue;
    const fs::path::string_type place = keys.Of(file.target);
    const std::optional<FileIdentity>& identity = targetIdentities[index];
    // An existing target may be reached by another path (a link) than its own.
    std::optional<std::size_t> sameTarget;
    if (const auto it = targetByPlace.find(place); it != targetByPlace.end()) sameTarget = it->second;
    if (identity) {
      if (const auto it = targetByIdentity.find(*identity); it != targetByIdentity.end()) sameTarget = it->second;
    }
    if (sameTarget) {
      plan.refusals.push_back({plan.files[*sameTarget].source, file.source, file.target});
      continue;
    }
    targetByPlace.emplace(place, index);
    if (identity) targetByIdentity.emplace(*identity, index);
  }
  return plan;
}

}  // namespace quarnel::cli
