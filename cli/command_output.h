// What the quarnel command shows of paths, and how it ends: names for the
// terminal, names for the machine-readable record, and the exit statuses.
#pragma once

#include <filesystem>
#include <string>

#include "quarnel/conversion_summary.h"

namespace quarnel::cli {

// A run's own statuses, kExitCompleted, kExitFailed and kExitNotNecessary,
// come with the engine's summary; these belong to the command.
inline constexpr int kExitUsage = 2;
// The target was replaced, but the report could not be written.
inline constexpr int kExitReportLost = 4;

// A path as the user's terminal shows it: its bytes on POSIX, UTF-8 on
// Windows. Defined per platform.
std::string PathForDisplay(const std::filesystem::path& path);

// `text` with its control characters written as \xNN, so that a file name
// cannot drive the terminal.
std::string EscapeControls(const std::string& text);

// A file name as the terminal may show it: control characters (an escape
// sequence in a name would otherwise act on the terminal) as \xNN.
std::string DisplayName(const std::filesystem::path& path);

// The name as bytes for the machine-readable record: as stored on POSIX,
// UTF-8 on Windows (an unpaired surrogate encoded as UTF-8 would encode it,
// which leaves the text invalid and so marked as such). Defined per platform.
std::string PathBytes(const std::filesystem::path& path);

}  // namespace quarnel::cli
