// What the quarnel command shows of paths, and how it ends: names for the
// terminal, names for the machine-readable record, and the exit statuses.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "quarnel/conversion_summary.h"
#include "quarnel/name_text.h"

namespace quarnel::cli {

// A run's own statuses, kExitCompleted, kExitFailed and kExitNotNecessary,
// come with the engine's summary; these belong to the command.
inline constexpr int kExitUsage = 2;
// Standard output could not be written: the report of a replaced target, or
// all a dry run, --help or --version had to say.
inline constexpr int kExitReportLost = 4;

// Standard output is handed to the system in writes of at most this many
// bytes, each ending at a line's end where a line is shorter: a pipe takes
// such a write whole or not at all, so a signal never leaves half a line.
inline constexpr std::size_t kOutputPieceSize = 4096;

// The program's name in its messages, usage and help: "quarnel", and
// "quarnel-cli" on Windows, where quarnel.exe would clash with Quarnel.exe.
// Defined per platform.
std::string_view ProgramName();

// Why the last write to standard output failed, as ": message", or empty
// where the system did not say. Set by the program's output buffer.
void RecordOutputError(int error);
std::string OutputErrorText();

// True when standard error goes to a terminal (the progress line goes
// there). Defined per platform.
bool IsErrorTerminal();

// Standard output from here on passes bytes as they are: the CSV ends its
// rows with CR LF itself, which Windows' text mode would turn into CR CR LF.
// Defined per platform.
void WriteOutputUnchanged();

// A path as the user's terminal shows it: its bytes on POSIX, UTF-8 on
// Windows. Defined per platform.
std::string PathForDisplay(const std::filesystem::path& path);

// A file name as the terminal may show it: control characters (an escape
// sequence in a name would otherwise act on the terminal), the line
// separators U+2028 and U+2029 and, on POSIX, the backslash as \xNN.
std::string DisplayName(const std::filesystem::path& path);

// The name as bytes for the machine-readable record: as stored on POSIX,
// UTF-8 on Windows (an unpaired surrogate encoded as UTF-8 would encode it,
// which leaves the text invalid and so marked as such). Defined per platform.
std::string PathBytes(const std::filesystem::path& path);

}  // namespace quarnel::cli
