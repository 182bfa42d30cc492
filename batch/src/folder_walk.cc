#include "quarnel/batch/folder_walk.h"

#include <algorithm>
#include <system_error>

#include "batch_system.h"
#include "quarnel/target_prefix.h"

namespace quarnel::batch {
namespace fs = std::filesystem;
namespace {

using NameChar = fs::path::value_type;

// A link whose chain ends nowhere names no file at all.
bool IsMissing(const std::error_code& error) {
  return error == std::errc::no_such_file_or_directory || error == std::errc::not_a_directory ||
         error == std::errc::too_many_symbolic_link_levels;
}

// Appends the source files in the folder `below` below `root` to `found`, unsorted.
void WalkFolder(const fs::path& root, const fs::path& below, bool recursive, std::vector<FoundSource>& found) {
  // Joining an empty path would add a separator: "jobs" / "" is "jobs/".
  const fs::path folder = below.empty() ? root : root / below;
  std::error_code error;
  fs::directory_iterator entries(folder, error);
  for (; !error && entries != fs::directory_iterator(); entries.increment(error)) {
    const fs::directory_entry& entry = *entries;
    const fs::path name = entry.path().filename();
    if (name.native().empty() || name.native()[0] == '.') continue;
    std::error_code statError;
    const fs::file_status own = entry.symlink_status(statError);
    if (fs::is_directory(own)) {
      if (recursive) WalkFolder(root, below / name, recursive, found);
      continue;
    }
    // A link counts as the file it names: links to folders are never walked,
    // so the walk cannot loop. A link to nothing is no file.
    fs::file_status named = own;
    if (!statError && fs::is_symlink(own)) {
      named = entry.status(statError);
      if (IsMissing(statError)) continue;
    }
    if (statError) {
      // A folder that can be listed but not searched, a path too long, a
      // failing disk: what the name holds is unknown, and a source in it
      // must not drop out of the batch unseen. A link is taken only as a
      // file; for another name, the listing's own type spares the files the
      // walk would skip anyway.
      std::error_code ignored;
      const bool mayBeFolder = recursive && !fs::is_symlink(own) && !entry.is_regular_file(ignored);
      if (IsSourceName(name.native()) || mayBeFolder)
        found.push_back({folder / name, below / name, "cannot read the folder entry: " + statError.message()});
      continue;
    }
    if (!IsSourceName(name.native()) || !fs::is_regular_file(named)) continue;
    std::string problem;
    if (fs::is_symlink(own)) {
      if (const std::optional<std::string> owner = UntrustedLinkOwner(folder / name))
        problem = "the link belongs to " + *owner + ", not to you or root; it is not followed";
    }
    found.push_back({folder / name, below / name, std::move(problem)});
  }
  if (error) found.push_back({folder, below, "cannot read the folder: " + error.message()});
}

}  // namespace

std::vector<FoundSource> FindSources(const std::vector<fs::path>& paths, bool recursive) {
  std::vector<FoundSource> sources;
  for (const fs::path& path : paths) {
    std::error_code statError;
    if (!fs::is_directory(path, statError)) {
      // A name that cannot be looked at is no file to convert either; a
      // missing one is left for the conversion to name.
      std::string problem;
      if (statError && !IsMissing(statError)) problem = "cannot read the folder entry: " + statError.message();
      sources.push_back({path, path.filename(), std::move(problem)});
      continue;
    }
    std::vector<FoundSource> found;
    WalkFolder(path, {}, recursive, found);
    // Sorted with "/" between the names on every system, so the order is the same everywhere.
    std::sort(found.begin(), found.end(), [](const FoundSource& a, const FoundSource& b) {
      return a.below.generic_string<NameChar>() < b.below.generic_string<NameChar>();
    });
    sources.insert(sources.end(), std::make_move_iterator(found.begin()), std::make_move_iterator(found.end()));
  }
  return sources;
}

}  // namespace quarnel::batch
