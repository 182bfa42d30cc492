// POSIX hands over arguments as bytes, and a path is those bytes: no encoding
// is assumed, so any name the file system holds can be given.
#include <iostream>

#include "command_line.h"

namespace quarnel::cli {

std::string_view ProgramName() { return "quarnel"; }

std::string PathForDisplay(const std::filesystem::path& path) { return path.native(); }

}  // namespace quarnel::cli

int main(int argc, char** argv) {
  std::vector<quarnel::cli::Argument> arguments;
  for (int i = 1; i < argc; ++i) arguments.push_back({argv[i], std::filesystem::path(argv[i])});
  return quarnel::cli::RunQuarnel(arguments, std::cout, std::cerr);
}
