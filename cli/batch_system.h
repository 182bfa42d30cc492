// The few system calls a batch needs whose form differs between platforms.
// Defined in batch_system_posix.cc and batch_system_win32.cc.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace quarnel::cli {

// A key under which two paths compare equal when they name the same place,
// whether or not a file is there yet: absolute, lexically normal, links
// resolved as far as the path exists, and case folded where names ignore case.
std::filesystem::path::string_type PlaceKey(const std::filesystem::path& path);

// How many files the process may hold open at once (as good as no limit on
// Windows).
std::size_t OpenFileLimit();

// True when standard error goes to a terminal (the progress line goes there).
bool IsErrorTerminal();

// Whether the caller may create files in `folder`: "" if so, else the
// system's message. Windows answers "" and leaves it to each file.
std::string CheckFolderWritable(const std::filesystem::path& folder);

// How much of an existing target is read to find its model line.
inline constexpr std::size_t kTargetLookLength = 64 * 1024;

enum class TargetStart : std::uint8_t {
  Absent,      // nothing there, or nothing the conversion could replace (a dangling or looping link)
  NotRegular,  // a folder, FIFO or device: not opened
  Read,        // a regular file: its first bytes are in `text`
  Unreadable,  // the file (or what it is) cannot be read: `message` says why
};

// Reads at most kTargetLookLength bytes of the regular file `target`, links
// followed, opened without waiting (a FIFO put in its place meanwhile makes
// it Unreadable, never a hang).
TargetStart ReadTargetStart(const std::filesystem::path& target, std::string& text, std::string& message);

}  // namespace quarnel::cli
