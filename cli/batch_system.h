// The few system calls a batch needs whose form differs between platforms.
// Defined in batch_system_posix.cc and batch_system_win32.cc.
#pragma once

#include <compare>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace quarnel::cli {

// Tells files apart whatever path names them: device and inode on POSIX,
// volume serial and file index on Windows.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t file = 0;
  auto operator<=>(const FileIdentity&) const = default;
};

// The identity of the file `path` names, links followed; nullopt when there is none.
std::optional<FileIdentity> IdentifyFile(const std::filesystem::path& path);

// A key under which two paths compare equal when they name the same place,
// whether or not a file is there yet: absolute, lexically normal, links
// resolved as far as the path exists, and case folded where names ignore case.
std::filesystem::path::string_type PlaceKey(const std::filesystem::path& path);

// The name as bytes for the machine-readable record: as stored on POSIX,
// UTF-8 on Windows (an unpaired surrogate encoded as UTF-8 would encode it,
// which leaves the text invalid and so marked as such).
std::string PathBytes(const std::filesystem::path& path);

// How many files the process may hold open at once (as good as no limit on
// Windows).
std::size_t OpenFileLimit();

// For a link that neither the caller nor root owns: its owner, "user N
// (name)"; nullopt for any other path. Windows: always nullopt (its links
// need a privilege to make).
std::optional<std::string> UntrustedLinkOwner(const std::filesystem::path& path);

// True when standard error goes to a terminal (the progress line goes there).
bool IsErrorTerminal();

// Whether the caller may create files in `folder`: "" if so, else the
// system's message. Windows answers "" and leaves it to each file.
std::string CheckFolderWritable(const std::filesystem::path& folder);

// Removes `folder` if it is an empty folder, and never anything else.
void RemoveEmptyFolder(const std::filesystem::path& folder);

}  // namespace quarnel::cli
