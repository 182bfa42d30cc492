// Whether a folder folds case, found by asking it: the file system's type
// says nothing (every FUSE mount reports one type, ext4, f2fs and tmpfs fold
// per folder, CIFS as its server does), nor do inode numbers (exfat-fuse's
// follow the path, so two spellings of one file have two).
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <set>
#include <string>

#include "file_calls_linux.h"
#include "quarnel/case_folding.h"
#include "target_path.h"
#include "temp_file_registry.h"

namespace quarnel {
namespace {

// `name` with its ASCII letters in the other case; `name` itself when it has none.
std::string SwapCase(const std::string& name) {
  std::string swapped = name;
  for (char& c : swapped) {
    if (c >= 'a' && c <= 'z') {
      c = static_cast<char>(c - 'a' + 'A');
    } else if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return swapped;
}

// The names in `folder`; false when it cannot be listed.
bool ListFolder(int folder, std::set<std::string>& names) {
  const int listing = openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listing < 0) return false;
  DIR* stream = fdopendir(listing);
  if (stream == nullptr) {
    close(listing);
    return false;
  }
  errno = 0;
  while (const dirent* entry = readdir(stream)) names.emplace(entry->d_name);
  const bool complete = errno == 0;
  closedir(stream);
  return complete;
}

enum class Lookup { Folds, Keeps, Unknown };

// Looks `name`'s other spelling up in `folder`, where `name` exists.
Lookup LookUpSwapped(int folder, const std::string& name, const std::string& swapped) {
  struct stat found {};
  if (fstatat(folder, swapped.c_str(), &found, AT_SYMLINK_NOFOLLOW) != 0)
    return errno == ENOENT ? Lookup::Keeps : Lookup::Unknown;
  struct stat original {};
  if (fstatat(folder, name.c_str(), &original, AT_SYMLINK_NOFOLLOW) == 0 && original.st_dev == found.st_dev &&
      original.st_ino == found.st_ino)
    return Lookup::Folds;
  // Another number: a file of its own, or a file system that numbers each
  // spelling (exfat-fuse); only the listing tells.
  std::set<std::string> names;
  if (!ListFolder(folder, names)) return Lookup::Unknown;
  return names.count(swapped) != 0 ? Lookup::Keeps : Lookup::Folds;
}

// A folder with no name to swap: a temporary file of our own, looked up by
// its upper-case spelling and removed again whatever the lookup gave.
bool ProbeWithOwnFile(int folder) {
  TempSlot& slot = ClaimTempSlot();
  slot.folder = folder;
  int descriptor = -1;
  int error = EEXIST;
  for (int attempt = 0; attempt < 100 && error == EEXIST; ++attempt) {
    SignalsHeld held;
    if (!BeginTempFile()) break;
    RandomTempName(slot.name);
    descriptor = openat(folder, slot.name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    error = errno;
    if (descriptor >= 0) slot.state.store(SlotState::FileMayExist);
    EndTempFile();
  }
  if (descriptor < 0) {
    slot.state.store(SlotState::Free);
    return true;
  }
  close(descriptor);
  const std::string name = slot.name;
  const Lookup lookup = LookUpSwapped(folder, name, SwapCase(name));
  {
    SignalsHeld held;
    // Once more where the first removal failed: a probe is never left behind.
    if (unlinkat(folder, slot.name, 0) != 0 && errno != ENOENT) unlinkat(folder, slot.name, 0);
    slot.state.store(SlotState::Free);
  }
  return lookup != Lookup::Keeps;
}

bool FoldsCaseIn(int folder) {
  std::set<std::string> names;
  if (!ListFolder(folder, names)) return true;
  for (const std::string& name : names) {
    const std::string swapped = SwapCase(name);
    if (swapped == name || names.count(swapped) != 0) continue;
    struct stat found {};
    if (fstatat(folder, swapped.c_str(), &found, AT_SYMLINK_NOFOLLOW) == 0) return true;
    if (errno == ENOENT) return false;
  }
  return ProbeWithOwnFile(folder);
}

}  // namespace

bool FoldsCaseAt(int folder, const std::string& name) {
  const std::string swapped = SwapCase(name);
  if (swapped == name) return FoldsCaseIn(folder);
  return LookUpSwapped(folder, name, swapped) != Lookup::Keeps;
}

bool FolderFoldsCase(const std::filesystem::path& folder) {
  std::error_code error;
  std::filesystem::path place = std::filesystem::absolute(folder, error).lexically_normal();
  if (error) return true;
  for (;;) {
    const int descriptor = open(place.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor >= 0) {
      const bool folds = FoldsCaseIn(descriptor);
      close(descriptor);
      return folds;
    }
    if (errno != ENOENT || place == place.parent_path()) return true;
    // "out/" normalises to "out/" with an empty last name; its parent is "out".
    place = place.parent_path();
  }
}

}  // namespace quarnel
