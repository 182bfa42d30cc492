// Windows hands over the command line as wide characters; taking them from
// there keeps names that the ANSI code page cannot spell.
#include <windows.h>
#include <shellapi.h>

#include <iostream>

#include "command_line.h"

namespace quarnel::cli {
namespace {

std::string ToUtf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                       0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(), size, nullptr,
                      nullptr);
  return utf8;
}

}  // namespace

std::string PathForDisplay(const std::filesystem::path& path) { return ToUtf8(path.native()); }

}  // namespace quarnel::cli

int main() {
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr) return quarnel::kExitFailed;
  std::vector<quarnel::cli::Argument> arguments;
  for (int i = 1; i < argc; ++i) {
    const std::wstring wide(argv[i]);
    arguments.push_back({quarnel::cli::ToUtf8(wide), std::filesystem::path(wide)});
  }
  LocalFree(argv);
  // Messages carry file names in UTF-8.
  SetConsoleOutputCP(CP_UTF8);
  return quarnel::cli::RunQuarnel(arguments, std::cout, std::cerr);
}
