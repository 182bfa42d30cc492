// Names that differ only in case, in folders whose file system ignores it:
// memory cards (exFAT, FAT), Windows, and ext4, f2fs or tmpfs folders made to
// fold case.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace quarnel {

// The key under which two UTF-8 names compare equal when a folder that folds
// case takes them for one file: each character's simple upper case, then its
// simple case folding (Unicode 14), so that both the systems that compare by
// upper case and those that fold find their pairs; when in doubt two names
// collide. Bytes that are not UTF-8 stay as they are.
std::string FoldCase(std::string_view name);

// Whether names in `folder` ignore case, probed rather than guessed from the
// file system's type: a case-swapped spelling of a name in it resolves while
// the listing does not hold that spelling. An empty folder is probed with a
// temporary file of our own, always removed again; a folder that does not
// exist yet by its nearest existing ancestor. @return true as well when it
// cannot be told (no listing, no probe file). Windows: always true.
bool FolderFoldsCase(const std::filesystem::path& folder);

}  // namespace quarnel
