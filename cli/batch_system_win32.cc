#include <windows.h>

#include <system_error>

#include "batch_system.h"

namespace quarnel::cli {

std::optional<FileIdentity> IdentifyFile(const std::filesystem::path& path) {
  // No access asked for: the identity alone; backup semantics open folders too.
  HANDLE file = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  BY_HANDLE_FILE_INFORMATION information{};
  const BOOL found = GetFileInformationByHandle(file, &information);
  CloseHandle(file);
  if (!found) return std::nullopt;
  return FileIdentity{information.dwVolumeSerialNumber,
                      (static_cast<std::uint64_t>(information.nFileIndexHigh) << 32) | information.nFileIndexLow};
}

std::filesystem::path::string_type PlaceKey(const std::filesystem::path& path) {
  std::error_code error;
  std::filesystem::path place = std::filesystem::weakly_canonical(std::filesystem::absolute(path, error), error);
  if (error) place = std::filesystem::absolute(path, error).lexically_normal();
  std::wstring key = place.native();
  if (!key.empty()) CharLowerBuffW(key.data(), static_cast<DWORD>(key.size()));
  return key;
}

std::string PathBytes(const std::filesystem::path& path) {
  const std::wstring& wide = path.native();
  std::string bytes;
  for (std::size_t i = 0; i < wide.size(); ++i) {
    std::uint32_t code = static_cast<std::uint16_t>(wide[i]);
    const bool high = code >= 0xD800 && code <= 0xDBFF;
    if (high && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF) {
      code = 0x10000 + ((code - 0xD800) << 10) + (static_cast<std::uint16_t>(wide[++i]) - 0xDC00);
    }
    if (code < 0x80) {
      bytes += static_cast<char>(code);
    } else if (code < 0x800) {
      bytes += static_cast<char>(0xC0 | (code >> 6));
      bytes += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      bytes += static_cast<char>(0xE0 | (code >> 12));
      bytes += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      bytes += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      bytes += static_cast<char>(0xF0 | (code >> 18));
      bytes += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      bytes += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      bytes += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  return bytes;
}

std::size_t OpenFileLimit() { return SIZE_MAX; }

std::optional<std::string> UntrustedLinkOwner(const std::filesystem::path&) { return std::nullopt; }

bool IsErrorTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

std::string CheckFolderWritable(const std::filesystem::path&) { return {}; }

void RemoveEmptyFolder(const std::filesystem::path& folder) { RemoveDirectoryW(folder.c_str()); }

}  // namespace quarnel::cli
