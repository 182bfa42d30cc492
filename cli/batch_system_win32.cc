#include <windows.h>

#include <system_error>

#include "batch_system.h"

namespace quarnel::cli {

std::filesystem::path::string_type PlaceKey(const std::filesystem::path& path, CaseProbes&) {
  std::error_code error;
  std::filesystem::path place = std::filesystem::weakly_canonical(std::filesystem::absolute(path, error), error);
  if (error) place = std::filesystem::absolute(path, error).lexically_normal();
  return FoldPlaceKey(place.native());
}

std::filesystem::path::string_type FoldPlaceKey(std::filesystem::path::string_type key) {
  if (!key.empty()) CharLowerBuffW(key.data(), static_cast<DWORD>(key.size()));
  return key;
}

std::size_t OpenFileLimit() { return SIZE_MAX; }

bool IsErrorTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

std::string CheckFolderWritable(const std::filesystem::path&) { return {}; }

}  // namespace quarnel::cli
