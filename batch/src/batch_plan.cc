#include "quarnel/batch/batch_plan.h"

#include <map>

#include "batch_system.h"
#include "quarnel/file_identity.h"
#include "quarnel/target_name.h"

namespace quarnel::batch {
namespace fs = std::filesystem;
namespace {

fs::path TargetBelow(const fs::path& outputFolder, const fs::path& below) {
  fs::path name(kTargetPrefix);
  name += below.filename();
  // Joining an empty path would add a separator: "out" / "" is "out/".
  const fs::path folder = below.has_parent_path() ? outputFolder / below.parent_path() : outputFolder;
  return folder / name;
}

}  // namespace

std::string TargetNameProblem(const fs::path& source) {
  if (source.filename().native().size() + kTargetPrefix.size() <= kLongestFileName) return {};
  return "the target's name, " + std::string(kTargetPrefix) + " and the source's name, would be longer than " +
         std::to_string(kLongestFileName) + " bytes";
}

BatchPlan PlanBatch(const std::vector<FoundSource>& sources, TargetPlacement placement,
                    const fs::path& outputFolder) {
  BatchPlan plan;
  std::map<FileIdentity, std::size_t> sourceByIdentity;
  std::map<fs::path::string_type, std::size_t> sourceByPlace;
  for (const FoundSource& found : sources) {
    PlannedFile file{found.path, {}, found.problem, {}};
    if (!file.problem.empty()) {
      plan.files.push_back(std::move(file));
      continue;
    }
    // A file that does not exist has no identity; its path stands in for it.
    const fs::path::string_type place = PlaceKey(found.path);
    const std::optional<FileIdentity> identity = IdentifyFile(found.path);
    if (identity ? sourceByIdentity.count(*identity) != 0 : sourceByPlace.count(place) != 0) continue;
    if (identity) sourceByIdentity.emplace(*identity, plan.files.size());
    sourceByPlace.emplace(place, plan.files.size());
    file.problem = TargetNameProblem(found.below);
    if (file.problem.empty()) {
      file.target = placement == TargetPlacement::OutputFolder ? TargetBelow(outputFolder, found.below)
                                                               : ProposeTargetPath(found.path);
    }
    plan.files.push_back(std::move(file));
  }

  // The source at each target, other than the target's own source (a file
  // converted in place), is skipped before any target is compared.
  std::vector<std::optional<FileIdentity>> targetIdentities(plan.files.size());
  for (std::size_t index = 0; index < plan.files.size(); ++index) {
    const PlannedFile& file = plan.files[index];
    if (file.target.empty()) continue;
    targetIdentities[index] = IdentifyFile(file.target);
    std::optional<std::size_t> sourceThere;
    if (const auto it = sourceByPlace.find(PlaceKey(file.target)); it != sourceByPlace.end()) sourceThere = it->second;
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
    const fs::path::string_type place = PlaceKey(file.target);
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

}  // namespace quarnel::batch
