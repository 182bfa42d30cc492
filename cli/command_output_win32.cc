// Windows names are wide characters, shown and recorded as UTF-8.
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstdint>
#include <cstdio>

#include "command_output.h"
#include "quarnel/name_text.h"

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

std::string PathBytes(const std::filesystem::path& path) {
  const std::wstring& wide = path.native();
  std::string bytes;
  for (std::size_t i = 0; i < wide.size(); ++i) {
    char32_t code = static_cast<std::uint16_t>(wide[i]);
    const bool high = code >= 0xD800 && code <= 0xDBFF;
    if (high && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF) {
      code = 0x10000 + ((code - 0xD800) << 10) + (static_cast<std::uint16_t>(wide[++i]) - 0xDC00);
    }
    AppendUtf8(bytes, code);
  }
  return bytes;
}

bool IsErrorTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

void WriteOutputUnchanged() {
  std::fflush(stdout);
  _setmode(_fileno(stdout), _O_BINARY);
}

}  // namespace quarnel::cli
