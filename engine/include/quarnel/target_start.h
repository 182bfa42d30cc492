// The first bytes of a target that exists, read before a run replaces it, to
// tell a file Quarnel wrote from one it must not replace.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace quarnel {

// How much of an existing target is read to find its model line.
inline constexpr std::size_t kTargetLookLength = 64 * 1024;

enum class TargetStart : std::uint8_t {
  Absent,      // nothing there, or nothing the conversion would replace (a dangling, looping or untrusted link)
  NotRegular,  // a folder, FIFO or device: not opened
  Read,        // a regular file: its first bytes are in `text`
  Unreadable,  // the file (or what it is) cannot be read: `message` says why
};

// Reads at most kTargetLookLength bytes of the regular file `target`. Links
// are followed by the conversion's own rule for targets (never another
// user's); the file is opened without waiting, so a FIFO put in its place
// meanwhile makes it Unreadable, never a hang.
TargetStart ReadTargetStart(const std::filesystem::path& target, std::string& text, std::string& message);

}  // namespace quarnel
