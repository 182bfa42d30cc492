// Finds the source files of a batch in the PATHs the user named.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "quarnel/file_identity.h"
#include "quarnel/folder_tree.h"

namespace quarnel::batch {

struct FoundSource {
  // The file as the user will see it: a PATH named on the command line, or a
  // folder PATH joined with the file's path below it.
  std::filesystem::path path;
  // The file's path below the folder PATH it was found in; for a file named
  // on the command line, its file name alone.
  std::filesystem::path below;
  // Set when `path` cannot be taken (a folder that could not be read, a
  // name whose status could not be): the reason, without the name.
  std::string problem;
  // For a file a folder walk found: its folder in the walk's tree, and the
  // file it saw under its name (for a link, the file it names), which is
  // the only one that will be read.
  std::optional<std::size_t> folder;
  std::optional<FileIdentity> identity;
  bool throughLink = false;
};

// Expands `paths` in the order given, the folders walked into `folders`.
// A PATH that is a folder (or a link to one) contributes the regular files in it whose names quarnel::IsSourceName takes,
// and links to such files that the caller or root owns (another's link comes
// with a `problem`, so that root cannot be led to a file it alone may read);
// with `recursive` those of its sub-folders too, except folders whose names
// begin with "." and links to folders. A folder's files come sorted by their
// path below it, byte by byte. A folder that cannot be read, and a name in it
// whose status cannot be read that may be a source or hold some, come with
// their problem. Any other PATH is taken as a file whatever its name, and
// whether or not it exists: converting it will tell.
std::vector<FoundSource> FindSources(const std::vector<std::filesystem::path>& paths, bool recursive,
                                     FolderTree& folders);

}  // namespace quarnel::batch
