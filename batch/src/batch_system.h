// The few system calls a batch needs whose form differs between platforms.
// Defined in batch_system_posix.cc and batch_system_win32.cc.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

namespace quarnel::batch {

// A key under which two paths compare equal when they name the same place,
// whether or not a file is there yet: absolute, lexically normal, links
// resolved as far as the path exists, and case folded where names ignore case.
std::filesystem::path::string_type PlaceKey(const std::filesystem::path& path);

// How many files the process may hold open at once (as good as no limit on
// Windows).
std::size_t OpenFileLimit();

// Whether the caller may create files in `folder`: "" if so, else the
// system's message. Windows answers "" and leaves it to each file.
std::string CheckFolderWritable(const std::filesystem::path& folder);

}  // namespace quarnel::batch
