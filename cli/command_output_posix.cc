// POSIX names are bytes, shown and recorded as they are.
#include "command_output.h"

namespace quarnel::cli {

std::string PathForDisplay(const std::filesystem::path& path) { return path.native(); }

std::string PathBytes(const std::filesystem::path& path) { return path.native(); }

}  // namespace quarnel::cli
