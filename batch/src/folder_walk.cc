#include "quarnel/batch/folder_walk.h"

#include <algorithm>
#include <system_error>

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

// A file taken by its path alone, or a name that cannot be taken.
FoundSource Unwalked(fs::path path, fs::path below, std::string problem) {
  return {std::move(path), std::move(below), std::move(problem), std::nullopt, std::nullopt, false};
}

bool IsSourceEntry(const fs::path& name) { return IsSourceName(name.native()); }

// Appends the source files in the folder `index` of `folders`, at `below`
// below its PATH, to `found`, unsorted.
void WalkFolder(FolderTree& folders, std::size_t index, const fs::path& below, bool recursive,
                std::vector<FoundSource>& found) {
  const fs::path folder = folders.Path(index);
  std::vector<FolderEntry> entries;
  std::string problem;
  const bool listed = folders.List(index, IsSourceEntry, entries, problem);
  for (const FolderEntry& entry : entries) {
    const fs::path& name = entry.name;
    if (name.native().empty() || name.native()[0] == '.') continue;
    if (entry.kind == FolderEntry::Kind::Folder) {
      if (!recursive) continue;
      bool made = false;
      std::string folderProblem;
      if (const std::optional<std::size_t> sub = folders.AddFolder(index, name, false, made, folderProblem)) {
        WalkFolder(folders, *sub, below / name, recursive, found);
      } else {
        found.push_back(Unwalked(folder / name, below / name, "cannot read the folder: " + folderProblem));
      }
      continue;
    }
    if (entry.kind == FolderEntry::Kind::Unreadable) {
      // A folder that can be listed but not searched, a path too long, a
      // failing disk: what the name holds is unknown, and a source in it
      // must not drop out of the batch unseen. A link is taken only as a
      // file; for another name, the listing's own type spares the files the
      // walk would skip anyway.
      if (IsSourceName(name.native()) || (recursive && entry.mayBeFolder))
        found.push_back(Unwalked(folder / name, below / name, "cannot read the folder entry: " + entry.problem));
      continue;
    }
    if (entry.kind != FolderEntry::Kind::File || !IsSourceName(name.native())) continue;
    FoundSource source{folder / name, below / name, entry.untrustedLink, index, entry.identity, entry.isLink};
    found.push_back(std::move(source));
  }
  if (!listed) found.push_back(Unwalked(folder, below, "cannot read the folder: " + problem));
}

}  // namespace

std::vector<FoundSource> FindSources(const std::vector<fs::path>& paths, bool recursive, FolderTree& folders) {
  std::vector<FoundSource> sources;
  for (const fs::path& path : paths) {
    std::error_code statError;
    if (!fs::is_directory(path, statError)) {
      // A name that cannot be looked at is no file to convert either; a
      // missing one is left for the conversion to name.
      std::string problem;
      if (statError && !IsMissing(statError)) problem = "cannot read the folder entry: " + statError.message();
      sources.push_back(Unwalked(path, path.filename(), std::move(problem)));
      continue;
    }
    std::vector<FoundSource> found;
    std::string problem;
    if (const std::optional<std::size_t> root = folders.AddNamedFolder(path, problem)) {
      WalkFolder(folders, *root, {}, recursive, found);
    } else {
      found.push_back(Unwalked(path, {}, "cannot read the folder: " + problem));
    }
    // Sorted with "/" between the names on every system, so the order is the same everywhere.
    std::sort(found.begin(), found.end(), [](const FoundSource& a, const FoundSource& b) {
      return a.below.generic_string<NameChar>() < b.below.generic_string<NameChar>();
    });
    sources.insert(sources.end(), std::make_move_iterator(found.begin()), std::make_move_iterator(found.end()));
  }
  return sources;
}

}  // namespace quarnel::batch
