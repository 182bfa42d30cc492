// Windows hands over the command line as wide characters; taking them from
// there keeps names that the ANSI code page cannot spell.
#include <windows.h>
#include <shellapi.h>

#include <iostream>

#include "command_line.h"
#include "quarnel/file_access_setup.h"

int main() {
  quarnel::PrepareFileAccess();
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr) return quarnel::kExitFailed;
  std::vector<quarnel::cli::Argument> arguments;
  for (int i = 1; i < argc; ++i) {
    const std::wstring wide(argv[i]);
    const std::filesystem::path path(wide);
    arguments.push_back({quarnel::cli::PathForDisplay(path), path});
  }
  LocalFree(argv);
  // Messages carry file names in UTF-8.
  SetConsoleOutputCP(CP_UTF8);
  return quarnel::cli::RunQuarnel(arguments, std::cout, std::cerr);
}
