// The folders of a batch as descriptors. Each folder is opened once without
// following a link and remembered by its identity; a name met in a listing
// is looked at, and later opened, through its folder's descriptor.
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "file_access.h"
#include "file_calls_linux.h"
#include "quarnel/folder_tree.h"
#include "quarnel/name_text.h"
#include "quarnel/target_name.h"
#include "target_path.h"

namespace quarnel {
namespace {

std::string OwnerName(uid_t owner) {
  std::string text = "user " + std::to_string(owner);
  struct passwd entry {};
  struct passwd* found = nullptr;
  char buffer[1024];
  if (getpwuid_r(owner, &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr)
    text += " (" + EscapeName(found->pw_name) + ")";
  return text;
}

// FUSE reports one type for every file system it carries; exfat-fuse's
// inode numbers follow the path.
constexpr long kFuseMagic = 0x65735546;

FolderHandle MakeHandle(int descriptor, const std::filesystem::path& path, const FileIdentity& identity) {
  struct statfs system {};
  const bool fuse = fstatfs(descriptor, &system) == 0 && static_cast<long>(system.f_type) == kFuseMagic;
  return std::make_shared<const OpenFolder>(descriptor, path, identity, !fuse);
}

// Opens the folder `name` in `parent` for reading, never through a link.
int OpenFolderIn(int parent, const char* name) {
  return openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

}  // namespace

std::optional<std::string> UntrustedLinkReason(const std::filesystem::path& link, std::uint32_t owner) {
  if (owner == geteuid() || owner == 0) return std::nullopt;
  const std::string name = link.empty() ? std::string() : EscapeName(link.native()) + " ";
  return "the link " + name + "belongs to " + OwnerName(owner) + ", not to you or root; it is not followed";
}

OpenFolder::OpenFolder(std::intptr_t handle, std::filesystem::path path, FileIdentity identity, bool keepsIdentities)
    : handle_(handle), path_(std::move(path)), identity_(identity), keepsIdentities_(keepsIdentities) {}

OpenFolder::~OpenFolder() {
  if (handle_ >= 0) close(static_cast<int>(handle_));
}

struct FolderTree::Node {
  std::optional<std::size_t> parent;  // none: a folder the user named, opened by its path
  std::filesystem::path name;         // in the parent, or the path the user named
  std::filesystem::path path;         // as the user will see it
  FileIdentity identity;
  bool made = false;
};

FolderTree::FolderTree() = default;
FolderTree::~FolderTree() = default;

void FolderTree::Keep(std::size_t index, const FolderHandle& folder) {
  const auto it = std::find_if(open_.begin(), open_.end(), [&](const auto& kept) { return kept.first == index; });
  if (it != open_.end()) open_.erase(it);
  if (open_.size() >= kMostOpenFolders) open_.erase(open_.begin());
  open_.emplace_back(index, folder);
}

std::optional<std::size_t> FolderTree::AddNamedFolder(const std::filesystem::path& path, std::string& problem) {
  const int descriptor = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  struct stat info {};
  if (descriptor < 0 || fstat(descriptor, &info) != 0) {
    problem = SystemMessage(errno);
    if (descriptor >= 0) close(descriptor);
    return std::nullopt;
  }
  std::lock_guard lock(mutex_);
  auto node = std::make_unique<Node>();
  node->name = path;
  node->path = path;
  node->identity = IdentityOf(info);
  auto folder = MakeHandle(descriptor, path, node->identity);
  nodes_.push_back(std::move(node));
  Keep(nodes_.size() - 1, folder);
  return nodes_.size() - 1;
}

std::optional<std::size_t> FolderTree::AddFolder(std::size_t parent, const std::filesystem::path& name, bool make,
                                                 bool& made, std::string& problem) {
  made = false;
  std::lock_guard lock(mutex_);
  const FolderHandle above = OpenLocked(parent, problem);
  if (above == nullptr) return std::nullopt;
  const int at = static_cast<int>(above->handle());
  // The working folder's children are shown by their names alone.
  const std::filesystem::path path = above->path() == "." ? name : above->path() / name;
  int descriptor = OpenFolderIn(at, name.c_str());
  if (descriptor < 0 && errno == ENOENT && make) {
    if (mkdirat(at, name.c_str(), 0777) == 0) {
      made = true;
    } else if (errno != EEXIST) {
      problem = SystemMessage(errno);
      return std::nullopt;
    }
    descriptor = OpenFolderIn(at, name.c_str());
  }
  // A link, or a file: a link is followed name by name, by the rule for
  // links; never in place of a folder made just now.
  if (descriptor < 0 && !made && (errno == ELOOP || errno == ENOTDIR)) {
    TargetPlace place;
    FileFailure failure = FileFailure::None;
    const std::string shownAs = above->path() == "." ? std::string() : above->path().native();
    if (!LocateIn(at, shownAs, name.native(), place, failure, problem)) return std::nullopt;
    descriptor = S_ISDIR(place.existing.st_mode) ? OpenFolderIn(place.folder, place.name.c_str()) : -1;
    if (!S_ISDIR(place.existing.st_mode)) errno = ENOTDIR;
    const int error = errno;
    close(place.folder);
    errno = error;
  }
  struct stat info {};
  if (descriptor < 0 || fstat(descriptor, &info) != 0) {
    problem = SystemMessage(errno);
    if (descriptor >= 0) close(descriptor);
    // One made just now that cannot be opened is left: what stands under
    // its name now is not known to be it.
    made = false;
    return std::nullopt;
  }
  // Only a folder of the caller's counts as the one made: another user's
  // put in its place between the two calls is used, never removed.
  if (made && info.st_uid != geteuid()) made = false;
  auto node = std::make_unique<Node>();
  node->parent = parent;
  node->name = name;
  node->path = path;
  node->identity = IdentityOf(info);
  node->made = made;
  auto folder = MakeHandle(descriptor, path, node->identity);
  nodes_.push_back(std::move(node));
  Keep(nodes_.size() - 1, folder);
  return nodes_.size() - 1;
}

FolderHandle FolderTree::Open(std::size_t index, std::string& problem) {
  std::lock_guard lock(mutex_);
  return OpenLocked(index, problem);
}

FolderHandle FolderTree::OpenLocked(std::size_t index, std::string& problem) {
  for (auto it = open_.rbegin(); it != open_.rend(); ++it) {
    if (it->first != index) continue;
    FolderHandle folder = it->second;
    if (it != open_.rbegin()) Keep(index, folder);
    return folder;
  }
  const Node& node = *nodes_[index];
  int descriptor = -1;
  if (node.parent) {
    const FolderHandle above = OpenLocked(*node.parent, problem);
    if (above == nullptr) return nullptr;
    descriptor = OpenFolderIn(static_cast<int>(above->handle()), node.name.c_str());
    // Only a link to a folder is reached that way, and the rule for links
    // was applied when it was first opened: the identity check below decides.
    if (descriptor < 0 && errno == ELOOP) {
      TargetPlace place;
      FileFailure failure = FileFailure::None;
      if (LocateIn(static_cast<int>(above->handle()), above->path().native(), node.name.native(), place, failure,
                   problem)) {
        descriptor = OpenFolderIn(place.folder, place.name.c_str());
        close(place.folder);
      }
      if (descriptor < 0 && failure != FileFailure::None) return nullptr;
    }
  } else {
    descriptor = open(node.name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  }
  struct stat info {};
  if (descriptor < 0 || fstat(descriptor, &info) != 0) {
    problem = SystemMessage(errno);
    if (descriptor >= 0) close(descriptor);
    return nullptr;
  }
  if (IdentityOf(info) != node.identity) {
    close(descriptor);
    problem = "the folder " + EscapeName(node.path.native()) + " was replaced after it was read";
    return nullptr;
  }
  auto folder = MakeHandle(descriptor, node.path, node.identity);
  Keep(index, folder);
  return folder;
}

bool FolderTree::List(std::size_t index, bool (*wanted)(const std::filesystem::path& name),
                      std::vector<FolderEntry>& entries, std::string& problem) {
  const FolderHandle folder = Open(index, problem);
  if (folder == nullptr) return false;
  // Others use the descriptor only as the folder of their openat, which its
  // position does not touch.
  const int at = static_cast<int>(folder->handle());
  const int listing = at;
  if (lseek(listing, 0, SEEK_SET) != 0) {
    problem = SystemMessage(errno);
    return false;
  }
  const std::size_t pathLength = folder->path().native().size();
  alignas(8) char buffer[32768];
  for (;;) {
    const ssize_t count = getdents64(listing, buffer, sizeof buffer);
    if (count == 0) break;
    if (count < 0) {
      if (errno == EINTR) continue;
      problem = SystemMessage(errno);
      return false;
    }
    for (ssize_t offset = 0; offset < count;) {
      const auto* record = reinterpret_cast<const struct dirent64*>(buffer + offset);
      offset += record->d_reclen;
      const std::string name = record->d_name;
      if (name == "." || name == "..") continue;
      FolderEntry entry;
      entry.name = name;
      entry.mayBeFolder = record->d_type != DT_REG;
      const bool looked = wanted(entry.name) || record->d_type == DT_DIR || record->d_type == DT_UNKNOWN;
      if (!looked) {
        entries.push_back(std::move(entry));
        continue;
      }
      // A path the system would refuse is no file to show the user either.
      if (pathLength + 1 + name.size() > kLongestPath) {
        entry.kind = FolderEntry::Kind::Unreadable;
        entry.problem = SystemMessage(ENAMETOOLONG);
        entries.push_back(std::move(entry));
        continue;
      }
      struct stat own {};
      if (fstatat(at, name.c_str(), &own, AT_SYMLINK_NOFOLLOW) != 0) {
        entry.kind = FolderEntry::Kind::Unreadable;
        entry.problem = SystemMessage(errno);
        entries.push_back(std::move(entry));
        continue;
      }
      struct stat named = own;
      if (S_ISLNK(own.st_mode)) {
        entry.isLink = true;
        entry.mayBeFolder = false;
        if (std::optional<std::string> reason = UntrustedLinkReason({}, own.st_uid)) entry.untrustedLink = *reason;
        if (fstatat(at, name.c_str(), &named, 0) != 0) {
          // A link to nothing names no file at all.
          const int error = errno;
          if (error == ENOENT || error == ENOTDIR || error == ELOOP) {
            entry.kind = FolderEntry::Kind::Other;
          } else {
            entry.kind = FolderEntry::Kind::Unreadable;
            entry.problem = SystemMessage(error);
          }
          entries.push_back(std::move(entry));
          continue;
        }
      }
      entry.kind = S_ISREG(named.st_mode)                     ? FolderEntry::Kind::File
                   : S_ISDIR(named.st_mode) && !entry.isLink ? FolderEntry::Kind::Folder
                                                              : FolderEntry::Kind::Other;
      entry.identity = IdentityOf(named);
      entries.push_back(std::move(entry));
    }
  }
  return true;
}

void FolderTree::RemoveMadeFolder(std::size_t index) {
  std::lock_guard lock(mutex_);
  const Node& node = *nodes_[index];
  if (!node.made || !node.parent) return;
  std::string problem;
  const FolderHandle above = OpenLocked(*node.parent, problem);
  if (above == nullptr) return;
  const int at = static_cast<int>(above->handle());
  // Another folder put in its place (and emptied, or not) stays.
  struct stat info {};
  if (fstatat(at, node.name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(info.st_mode) ||
      IdentityOf(info) != node.identity)
    return;
  // Its descriptor is let go first: some file systems refuse to remove an open folder.
  open_.erase(std::remove_if(open_.begin(), open_.end(), [&](const auto& kept) { return kept.first == index; }),
              open_.end());
  unlinkat(at, node.name.c_str(), AT_REMOVEDIR);
}

const std::filesystem::path& FolderTree::Path(std::size_t index) const {
  std::lock_guard lock(mutex_);
  return nodes_[index]->path;
}

}  // namespace quarnel
