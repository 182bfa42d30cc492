// POSIX names are bytes, shown and recorded as they are.
#include <unistd.h>

#include "command_output.h"

namespace quarnel::cli {

std::string PathForDisplay(const std::filesystem::path& path) { return path.native(); }

std::string PathBytes(const std::filesystem::path& path) { return path.native(); }

bool IsErrorTerminal() { return isatty(STDERR_FILENO) == 1; }

void WriteOutputUnchanged() {}

}  // namespace quarnel::cli
