// Windows hands over the command line as wide characters; taking them from
// there keeps names that the ANSI code page cannot spell. The shell leaves
// wildcards to the program, so they are expanded here, as Windows programs do.
#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <iostream>

#include "command_line.h"
#include "quarnel/file_access_setup.h"

namespace quarnel::cli {
namespace {

// The files `pattern` matches, in its folder, sorted by name; the pattern
// itself when it has no wildcard or matches nothing, so that the conversion
// names what is missing. Wildcards stand in the last part of a path only.
std::vector<std::wstring> ExpandWildcards(const std::wstring& pattern) {
  if (pattern.find_first_of(L"*?") == std::wstring::npos) return {pattern};
  const std::size_t separator = pattern.find_last_of(L"\\/:");
  const std::wstring folder = separator == std::wstring::npos ? L"" : pattern.substr(0, separator + 1);
  std::vector<std::wstring> matches;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return {pattern};
  do {
    const std::wstring name = found.cFileName;
    if (name != L"." && name != L"..") matches.push_back(folder + name);
  } while (FindNextFileW(search, &found));
  FindClose(search);
  if (matches.empty()) return {pattern};
  std::sort(matches.begin(), matches.end());
  return matches;
}

}  // namespace

std::string_view ProgramName() { return "quarnel-cli"; }

}  // namespace quarnel::cli

int main() {
  quarnel::PrepareFileAccess();
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr) return quarnel::kExitFailed;
  std::vector<quarnel::cli::Argument> arguments;
  bool options = true;
  for (int i = 1; i < argc; ++i) {
    std::wstring wide(argv[i]);
    // "/?" asks for help on Windows, before "--" ends the options.
    if (options && wide == L"/?") wide = L"--help";
    if (wide == L"--") options = false;
    for (const std::wstring& each : quarnel::cli::ExpandWildcards(wide))
      arguments.push_back({quarnel::cli::PathForDisplay(std::filesystem::path(each)), std::filesystem::path(each)});
  }
  LocalFree(argv);
  // Messages carry file names in UTF-8.
  SetConsoleOutputCP(CP_UTF8);
  return quarnel::cli::RunQuarnel(arguments, std::cout, std::cerr);
}
