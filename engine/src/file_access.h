// The few file operations whose calls differ between platforms; the rest of
// the engine's file handling is written once on top of them.
#pragma once

#include <cstdio>
#include <filesystem>

namespace quarnel {

// Opens an existing file for reading bytes as they stand. nullptr with errno set on failure.
std::FILE* OpenForReading(const std::filesystem::path& path);

// Opens a file for writing bytes, creating it or emptying it. nullptr with errno set on failure.
std::FILE* OpenForWriting(const std::filesystem::path& path);

// Creates `path` for writing only if no file of that name exists yet.
// nullptr with errno set on failure (EEXIST when the name is taken).
std::FILE* CreateNewFile(const std::filesystem::path& path);

}  // namespace quarnel
