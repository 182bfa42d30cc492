#include <windows.h>

#include <system_error>

#include "batch_system.h"

namespace quarnel::cli {

std::filesystem::path::string_type PlaceKey(const std::filesystem::path& path) {
  std::error_code error;
  std::filesystem::path place = std::filesystem::weakly_canonical(std::filesystem::absolute(path, error), error);
  if (error) place = std::filesystem::absolute(path, error).lexically_normal();
  std::wstring key = place.native();
  if (!key.empty()) CharLowerBuffW(key.data(), static_cast<DWORD>(key.size()));
  return key;
}

std::size_t OpenFileLimit() { return SIZE_MAX; }

bool IsErrorTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

std::string CheckFolderWritable(const std::filesystem::path&) { return {}; }

namespace {

std::string SystemMessageText(DWORD error) { return std::system_category().message(static_cast<int>(error)); }

}  // namespace

TargetStart ReadTargetStart(const std::filesystem::path& target, std::string& text, std::string& message) {
  const DWORD attributes = GetFileAttributesW(target.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return TargetStart::Absent;
    message = SystemMessageText(error);
    return TargetStart::Unreadable;
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return TargetStart::NotRegular;
  // Opened without access rights first, as the conversion opens it, to tell a
  // device from a file before anything is read from it.
  const HANDLE probe = CreateFileW(target.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (probe == INVALID_HANDLE_VALUE) {
    message = SystemMessageText(GetLastError());
    return TargetStart::Unreadable;
  }
  BY_HANDLE_FILE_INFORMATION probed{};
  const bool disk = GetFileType(probe) == FILE_TYPE_DISK && GetFileInformationByHandle(probe, &probed);
  CloseHandle(probe);
  if (!disk) return TargetStart::NotRegular;
  const HANDLE file = CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    message = SystemMessageText(GetLastError());
    return TargetStart::Unreadable;
  }
  TargetStart start = TargetStart::Read;
  BY_HANDLE_FILE_INFORMATION opened{};
  if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &opened) ||
      opened.dwVolumeSerialNumber != probed.dwVolumeSerialNumber || opened.nFileIndexHigh != probed.nFileIndexHigh ||
      opened.nFileIndexLow != probed.nFileIndexLow) {
    message = "it changed while it was read";
    start = TargetStart::Unreadable;
  }
  text.resize(kTargetLookLength);
  std::size_t filled = 0;
  while (start == TargetStart::Read && filled < text.size()) {
    DWORD count = 0;
    if (!ReadFile(file, text.data() + filled, static_cast<DWORD>(text.size() - filled), &count, nullptr)) {
      message = SystemMessageText(GetLastError());
      start = TargetStart::Unreadable;
    }
    if (count == 0) break;
    filled += count;
  }
  text.resize(filled);
  CloseHandle(file);
  return start;
}

}  // namespace quarnel::cli
