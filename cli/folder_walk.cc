#include "folder_walk.h"

#include <algorithm>
#include <system_error>

#include "quarnel/target_prefix.h"

namespace quarnel::cli {
namespace fs = std::filesystem;
namespace {

using NameChar = fs::path::value_type;

NameChar LowerAscii(NameChar c) { return c >= 'A' && c <= 'Z' ? static_cast<NameChar>(c - 'A' + 'a') : c; }

bool HasPrefixIgnoringCase(const fs::path::string_type& name, std::string_view prefix, std::size_t at) {
  if (name.size() < at + prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (LowerAscii(name[at + i]) != LowerAscii(static_cast<NameChar>(prefix[i]))) return false;
  }
  return true;
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
    std::error_code ignored;
    const fs::file_status own = entry.symlink_status(ignored);
    if (fs::is_directory(own)) {
      if (recursive) WalkFolder(root, below / name, recursive, found);
      continue;
    }
    // A link counts as the file it names: links to folders are never walked,
    // so the walk cannot loop.
    if (!IsSourceName(name) || !fs::is_regular_file(entry.status(ignored))) continue;
    found.push_back({folder / name, below / name, {}});
  }
  if (error) found.push_back({folder, below, error.message()});
}

}  // namespace

bool IsSourceName(const fs::path& fileName) {
  const fs::path::string_type& name = fileName.native();
  if (name.empty() || name[0] == '.' || HasPrefixIgnoringCase(name, kTargetPrefix, 0)) return false;
  return name.size() > 4 && HasPrefixIgnoringCase(name, ".frt", name.size() - 4);
}

std::vector<FoundSource> FindSources(const std::vector<fs::path>& paths, bool recursive) {
  std::vector<FoundSource> sources;
  for (const fs::path& path : paths) {
    std::error_code ignored;
    if (!fs::is_directory(path, ignored)) {
      sources.push_back({path, path.filename(), {}});
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

}  // namespace quarnel::cli
