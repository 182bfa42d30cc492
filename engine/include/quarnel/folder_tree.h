// Folders a batch walks or writes into, held by descriptor so that a file
// listed or checked in a folder is later opened in that very folder, not
// wherever its path leads by then.
//
// On Linux each folder of a tree is opened once by the walk (a sub-folder
// from its parent, never through a link) and remembered with its identity.
// At most kMostOpenFolders of them stay open between uses; one closed meanwhile
// is reopened from its parent with O_NOFOLLOW|O_DIRECTORY and refused unless
// it is the folder remembered. On Windows a folder is its path, and links are
// followed as the system follows them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "quarnel/file_identity.h"

namespace quarnel {

// An open folder. Shared: a staged target keeps its folder open until its
// commit even when the tree has let it go.
class OpenFolder {
 public:
  OpenFolder(std::intptr_t handle, std::filesystem::path path, FileIdentity identity, bool keepsIdentities = true);
  ~OpenFolder();
  OpenFolder(const OpenFolder&) = delete;
  OpenFolder& operator=(const OpenFolder&) = delete;

  std::intptr_t handle() const { return handle_; }  // a descriptor on Linux; unused on Windows
  const std::filesystem::path& path() const { return path_; }  // as the user will see it
  const FileIdentity& identity() const { return identity_; }
  // False where the file system's identities follow the path and may
  // change under it (FUSE, among them exfat-fuse): a file is then taken by
  // its type alone.
  bool keepsIdentities() const { return keepsIdentities_; }

 private:
  std::intptr_t handle_;
  std::filesystem::path path_;
  FileIdentity identity_;
  bool keepsIdentities_;
};
using FolderHandle = std::shared_ptr<const OpenFolder>;

// A file by its name in an open folder, or (without a folder) by its path.
struct FileLocation {
  FolderHandle folder;
  std::filesystem::path name;  // with `folder`: one name, no separator
  std::filesystem::path path;  // without `folder`: any path; with it, for messages
  // For a source found by a walk: the file the walk saw under `name` (for
  // a link, the file it names). Opening it refuses any other file.
  std::optional<FileIdentity> seen;
  bool seenThroughLink = false;
};

// The rule for links met on the way to a file: a link is followed only when
// the caller or root owns it (root's include the kernel's own). For another's
// link, the reason it is not followed, naming `link` (left out when empty)
// and its owner: "the link LINK belongs to user N (name), not to you or
// root; it is not followed". Windows: always nullopt (its links need a
// privilege to make).
std::optional<std::string> UntrustedLinkReason(const std::filesystem::path& link, std::uint32_t owner);

// One name in a listed folder.
struct FolderEntry {
  enum class Kind : std::uint8_t {
    Folder,      // a folder, not a link
    File,        // a regular file, or a link to one
    Other,       // a device, FIFO, socket, a link to a folder or to nothing
    Unreadable,  // its status could not be read: `problem` says why
  };
  std::filesystem::path name;
  Kind kind = Kind::Other;
  bool isLink = false;
  // For a file: its identity (for a link, the file it names).
  FileIdentity identity;
  // For a link that UntrustedLinkReason refuses: that reason, without a name.
  std::string untrustedLink;
  std::string problem;
  // The listing's own type, before any look at the entry: false when it says
  // the entry is a regular file (such a name cannot hold sources).
  bool mayBeFolder = true;
};

// The folders of one batch, each at an index that stays valid. Safe from
// any thread.
class FolderTree {
 public:
  // Folders kept open between uses (staged targets hold theirs besides).
  static constexpr std::size_t kMostOpenFolders = 64;

  FolderTree();
  ~FolderTree();
  FolderTree(const FolderTree&) = delete;
  FolderTree& operator=(const FolderTree&) = delete;

  // Opens a folder the user named, its links followed as the system follows
  // them. @return its index; nullopt with `problem` (the system's message)
  // when it is no folder or cannot be opened.
  std::optional<std::size_t> AddNamedFolder(const std::filesystem::path& path, std::string& problem);

  // Opens the folder `name` in the folder `parent`; with `make`, makes it
  // first where nothing has that name (`made` then says so). A link there is
  // followed only by UntrustedLinkReason's rule, name by name.
  // @return its index; nullopt with `problem` ("the link ... is not
  // followed", or the system's message).
  std::optional<std::size_t> AddFolder(std::size_t parent, const std::filesystem::path& name, bool make, bool& made,
                                       std::string& problem);

  // The folder at `index`, reopened and checked where it had been closed.
  // @return nullptr with `problem` when it is gone or another folder stands
  // in its place.
  FolderHandle Open(std::size_t index, std::string& problem);

  // The folder's names (neither "." nor ".."), unsorted. `wanted` says of a
  // name whether its status matters: for the others, only the listing's type
  // is given (Kind Other when it says nothing). @return false with
  // `problem` when the folder cannot be read.
  bool List(std::size_t index, bool (*wanted)(const std::filesystem::path& name), std::vector<FolderEntry>& entries,
            std::string& problem);

  // Removes the folder at `index` if AddFolder made it, it is empty and its
  // name still holds that very folder; never anything else.
  void RemoveMadeFolder(std::size_t index);

  const std::filesystem::path& Path(std::size_t index) const;

  struct Node;

 private:
  FolderHandle OpenLocked(std::size_t index, std::string& problem);
  void Keep(std::size_t index, const FolderHandle& folder);

  mutable std::mutex mutex_;
  std::vector<std::unique_ptr<Node>> nodes_;
  std::vector<std::pair<std::size_t, FolderHandle>> open_;  // most recently used last
};

}  // namespace quarnel
