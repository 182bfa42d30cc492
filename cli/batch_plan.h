// Decides every target of a batch before anything is written, and refuses a
// set of sources whose targets would collide.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "command_options.h"
#include "folder_walk.h"

namespace quarnel::cli {

struct PlannedFile {
  std::filesystem::path source;
  // Empty when no legal target name can be made; `problem` then says why.
  std::filesystem::path target;
  // Set when the file cannot be converted at all (a folder or a name in it
  // that could not be read, a target name too long): the reason, without the
  // file's name.
  std::string problem;
  // Set when the source is the target of another source of the batch (an
  // earlier run's QZ_a.frt met again by `-b *.frt`): that source. The file is
  // skipped, not converted; the other is converted onto it as usual.
  std::filesystem::path targetOf;
  // Where a folder walk found the source (see FoundSource).
  std::optional<std::size_t> folder;
  std::optional<FileIdentity> seen;
  bool seenThroughLink = false;
  // With an output folder: the target's folder below it ("" for itself).
  std::filesystem::path targetFolderBelow;
};

// Two sources that would both be converted into `target`.
struct PlanRefusal {
  std::filesystem::path first;
  std::filesystem::path second;
  std::filesystem::path target;
};

struct BatchPlan {
  std::vector<PlannedFile> files;
  // Not empty: the batch must not run; nothing has been written.
  std::vector<PlanRefusal> refusals;
};

// The target of each source: beside it (QZ_ and its name, in its folder) or
// below `outputFolder` at the source's place below the folder PATH it came
// from. A file met twice (the same file by any path) stays only where it
// came first. A source that is another's target (by any path) is skipped.
// Reads the file system but writes nothing.
BatchPlan PlanBatch(const std::vector<FoundSource>& sources, TargetPlacement placement,
                    const std::filesystem::path& outputFolder);

}  // namespace quarnel::cli
