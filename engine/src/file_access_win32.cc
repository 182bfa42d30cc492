#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include "file_access.h"

namespace quarnel {

std::FILE* OpenForReading(const std::filesystem::path& path) { return _wfopen(path.c_str(), L"rb"); }

std::FILE* OpenForWriting(const std::filesystem::path& path) { return _wfopen(path.c_str(), L"wb"); }

std::FILE* CreateNewFile(const std::filesystem::path& path) {
  // The C runtime's fopen knows no exclusive mode; _O_EXCL gives it.
  const int descriptor =
      _wopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
  if (descriptor < 0) return nullptr;
  std::FILE* file = _wfdopen(descriptor, L"wb");
  if (file == nullptr) _close(descriptor);
  return file;
}

}  // namespace quarnel
