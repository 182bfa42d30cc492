// The quarnel command, apart from how the platform hands over its arguments.
#pragma once

#include <filesystem>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "command_options.h"

namespace quarnel::cli {

inline constexpr int kExitCompleted = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitNotNecessary = 3;
// The target was replaced, but the report could not be written.
inline constexpr int kExitReportLost = 4;

// Runs `quarnel [OPTIONS] SOURCE [TARGET]`, a batch (`-o DIR PATH...` or
// `-b PATH...`), `--help` or `--version` (the program name not included in
// `arguments`). Reports, records and per-file lines go to `out`; usage
// errors, failures' reasons and a batch's summary go to `err`.
// @return the exit status: for one file kExitCompleted, kExitNotNecessary,
// kExitFailed, kExitUsage or kExitReportLost; for a batch as RunBatch says.
int RunQuarnel(const std::vector<Argument>& arguments, std::ostream& out, std::ostream& err);

// The program's name in its messages, usage and help: "quarnel", and
// "quarnel-cli" on Windows, where quarnel.exe would clash with Quarnel.exe.
// Defined per platform.
std::string_view ProgramName();

// A path as the user's terminal shows it. Defined per platform.
std::string PathForDisplay(const std::filesystem::path& path);

// `text` with its control characters written as \xNN, so that a file name
// cannot drive the terminal.
std::string EscapeControls(const std::string& text);

}  // namespace quarnel::cli
