// The folders of a batch on Windows: each is its path, and links are followed
// as the system follows them (making one needs a privilege there).
#include <windows.h>

#include <system_error>

#include "quarnel/folder_tree.h"

namespace quarnel {

std::optional<std::string> UntrustedLinkReason(const std::filesystem::path&, std::uint32_t) { return std::nullopt; }

OpenFolder::OpenFolder(std::intptr_t handle, std::filesystem::path path, FileIdentity identity, bool keepsIdentities)
    : handle_(handle), path_(std::move(path)), identity_(identity), keepsIdentities_(keepsIdentities) {}

OpenFolder::~OpenFolder() = default;

struct FolderTree::Node {
  std::filesystem::path path;
  FileIdentity identity;
  bool made = false;
};

FolderTree::FolderTree() = default;
FolderTree::~FolderTree() = default;

void FolderTree::Keep(std::size_t, const FolderHandle&) {}

std::optional<std::size_t> FolderTree::AddNamedFolder(const std::filesystem::path& path, std::string& problem) {
  std::error_code error;
  if (!std::filesystem::is_directory(path, error)) {
    problem = (error ? error : std::make_error_code(std::errc::not_a_directory)).message();
    return std::nullopt;
  }
  std::lock_guard lock(mutex_);
  auto node = std::make_unique<Node>();
  node->path = path;
  node->identity = IdentifyFile(path).value_or(FileIdentity{});
  nodes_.push_back(std::move(node));
  return nodes_.size() - 1;
}

std::optional<std::size_t> FolderTree::AddFolder(std::size_t parent, const std::filesystem::path& name, bool make,
                                                 bool& made, std::string& problem) {
  made = false;
  std::filesystem::path path;
  {
    std::lock_guard lock(mutex_);
    const std::filesystem::path& above = nodes_[parent]->path;
    path = above == "." ? name : above / name;
  }
  std::error_code error;
  if (make) made = std::filesystem::create_directory(path, error);
  if (!error && !std::filesystem::is_directory(path, error) && !error)
    error = std::make_error_code(std::errc::not_a_directory);
  if (error) {
    problem = error.message();
    return std::nullopt;
  }
  std::lock_guard lock(mutex_);
  auto node = std::make_unique<Node>();
  node->path = path;
  node->identity = IdentifyFile(path).value_or(FileIdentity{});
  node->made = made;
  nodes_.push_back(std::move(node));
  return nodes_.size() - 1;
}

FolderHandle FolderTree::Open(std::size_t index, std::string& problem) {
  std::lock_guard lock(mutex_);
  return OpenLocked(index, problem);
}

FolderHandle FolderTree::OpenLocked(std::size_t index, std::string&) {
  const Node& node = *nodes_[index];
  return std::make_shared<const OpenFolder>(-1, node.path, node.identity);
}

bool FolderTree::List(std::size_t index, bool (*wanted)(const std::filesystem::path& name),
                      std::vector<FolderEntry>& entries, std::string& problem) {
  const std::filesystem::path folder = Path(index);
  std::error_code error;
  std::filesystem::directory_iterator names(folder, error);
  for (; !error && names != std::filesystem::directory_iterator(); names.increment(error)) {
    const std::filesystem::directory_entry& found = *names;
    FolderEntry entry;
    entry.name = found.path().filename();
    std::error_code statError;
    const std::filesystem::file_status own = found.symlink_status(statError);
    entry.isLink = !statError && std::filesystem::is_symlink(own);
    std::error_code ignored;
    entry.mayBeFolder = !entry.isLink && !found.is_regular_file(ignored);
    if (!wanted(entry.name) && !std::filesystem::is_directory(own)) {
      entries.push_back(std::move(entry));
      continue;
    }
    std::filesystem::file_status named = own;
    if (!statError && entry.isLink) named = found.status(statError);
    if (statError) {
      const bool missing = statError == std::errc::no_such_file_or_directory ||
                           statError == std::errc::not_a_directory ||
                           statError == std::errc::too_many_symbolic_link_levels;
      entry.kind = missing && entry.isLink ? FolderEntry::Kind::Other : FolderEntry::Kind::Unreadable;
      entry.problem = statError.message();
    } else if (std::filesystem::is_regular_file(named)) {
      entry.kind = FolderEntry::Kind::File;
      entry.identity = IdentifyFile(found.path()).value_or(FileIdentity{});
    } else {
      entry.kind = std::filesystem::is_directory(named) && !entry.isLink ? FolderEntry::Kind::Folder
                                                                          : FolderEntry::Kind::Other;
    }
    entries.push_back(std::move(entry));
  }
  if (error) {
    problem = error.message();
    return false;
  }
  return true;
}

void FolderTree::RemoveMadeFolder(std::size_t index) {
  std::filesystem::path path;
  FileIdentity identity;
  {
    std::lock_guard lock(mutex_);
    if (!nodes_[index]->made) return;
    path = nodes_[index]->path;
    identity = nodes_[index]->identity;
  }
  if (IdentifyFile(path) == identity) RemoveDirectoryW(path.c_str());
}

const std::filesystem::path& FolderTree::Path(std::size_t index) const {
  std::lock_guard lock(mutex_);
  return nodes_[index]->path;
}

}  // namespace quarnel
