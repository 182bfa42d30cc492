// The quarnel command, apart from how the platform hands over its arguments.
#pragma once

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

namespace quarnel::cli {

inline constexpr int kExitCompleted = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitNotNecessary = 3;
// The target was replaced, but the report could not be written.
inline constexpr int kExitReportLost = 4;

// One command-line argument in the two forms the command needs.
struct Argument {
  // For matching options: the bytes as given on POSIX, UTF-8 on Windows.
  std::string text;
  // The same argument as the system's own path, bytes or wide characters untouched.
  std::filesystem::path path;
};

// Runs `quarnel [--] SOURCE [TARGET]`, `--help` or `--version` (the program
// name not included in `arguments`). The report goes to `out`; usage errors
// and the reason of a failed conversion go to `err`.
// @return kExitCompleted, kExitNotNecessary, kExitFailed, kExitUsage or kExitReportLost.
int RunQuarnel(const std::vector<Argument>& arguments, std::ostream& out, std::ostream& err);

// A path as the user's terminal shows it. Defined per platform.
std::string PathForDisplay(const std::filesystem::path& path);

// `text` with its control characters written as \xNN, so that a file name
// cannot drive the terminal.
std::string EscapeControls(const std::string& text);

}  // namespace quarnel::cli
