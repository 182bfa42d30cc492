#include "file_calls_linux.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace quarnel {

void RandomTempName(char (&name)[kTempNameLength + 1]) {
  static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  unsigned char random[12];
  std::size_t got = 0;
  while (got < sizeof random) {
    const ssize_t count = getrandom(random + got, sizeof random - got, 0);
    if (count > 0) {
      got += static_cast<std::size_t>(count);
    } else if (errno != EINTR) {
      // No random source: the clock and the process still make collisions rare,
      // and O_EXCL turns the rest into another try.
      static std::atomic<unsigned> counter{0};
      unsigned long seed = static_cast<unsigned long>(getpid()) * 2654435761u + counter.fetch_add(1) +
                           static_cast<unsigned long>(clock());
      for (unsigned char& byte : random) byte = static_cast<unsigned char>(seed >>= 3);
      break;
    }
  }
  std::memcpy(name, ".quarnel-", 9);
  for (std::size_t i = 0; i < sizeof random; ++i) name[9 + i] = kAlphabet[random[i] % 36];
  std::memcpy(name + 21, ".tmp", 5);
}

int OpenUnnamedFile(int folder, mode_t mode) {
  // The name is given through /proc: linkat with AT_EMPTY_PATH would need a
  // capability that an ordinary caller lacks.
  static const bool procPresent = access("/proc/self/fd", X_OK) == 0;
  if (!procPresent) return -1;
  return openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
}

int NameUnnamedFile(int descriptor, int folder, const char* name) {
  char path[32];
  std::snprintf(path, sizeof path, "/proc/self/fd/%d", descriptor);
  return linkat(AT_FDCWD, path, folder, name, AT_SYMLINK_FOLLOW) == 0 ? 0 : errno;
}

int RenameWithoutReplacing(int folder, const char* from, const char* to) {
  if (renameat2(folder, from, folder, to, RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return errno;
  if (linkat(folder, from, folder, to, 0) == 0) {
    // The target is in place; the other name goes, or the kill of this
    // process leaves it as a recognisable temporary file.
    unlinkat(folder, from, 0);
    return 0;
  }
  if (errno != EPERM && errno != ENOSYS && errno != EOPNOTSUPP) return errno;
  struct stat existing {};
  if (fstatat(folder, to, &existing, AT_SYMLINK_NOFOLLOW) == 0) return EEXIST;
  if (errno != ENOENT) return errno;
  return renameat(folder, from, folder, to) == 0 ? 0 : errno;
}

int SyncFileSystem(int descriptor) { return syncfs(descriptor) == 0 ? 0 : errno; }

}  // namespace quarnel
