#include "command_output.h"

#include <system_error>

namespace quarnel::cli {
namespace {
int g_outputError = 0;
}  // namespace

void RecordOutputError(int error) { g_outputError = error; }

std::string OutputErrorText() {
  return g_outputError == 0 ? std::string() : ": " + std::generic_category().message(g_outputError);
}

std::string DisplayName(const std::filesystem::path& path) { return EscapeName(PathForDisplay(path)); }

}  // namespace quarnel::cli
