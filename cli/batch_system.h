// The few system calls a batch needs whose form differs between platforms.
// Defined in batch_system_posix.cc and batch_system_win32.cc.
#pragma once

#include <filesystem>

namespace quarnel::cli {

// A key under which two paths compare equal when they name the same place,
// whether or not a file is there yet: absolute, lexically normal, links
// resolved as far as the path exists, and case folded where names ignore case.
std::filesystem::path::string_type PlaceKey(const std::filesystem::path& path);

// True when standard error goes to a terminal (the progress line goes there).
bool IsErrorTerminal();

}  // namespace quarnel::cli
