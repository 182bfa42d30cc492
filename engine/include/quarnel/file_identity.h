// Tells files apart whatever path names them: device and inode on POSIX,
// volume serial and file index on Windows.
#pragma once

#include <compare>
#include <cstdint>
#include <filesystem>
#include <optional>

namespace quarnel {

// Which file a path names: equal identities are the same file.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t file = 0;
  auto operator<=>(const FileIdentity&) const = default;
};

// The identity of the file `path` names, links followed; nullopt when there
// is none. Defined with the file layer of each platform.
std::optional<FileIdentity> IdentifyFile(const std::filesystem::path& path);

}  // namespace quarnel
