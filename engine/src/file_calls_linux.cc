#include "file_calls_linux.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <system_error>

namespace quarnel {

std::string SystemMessage(int error) { return std::generic_category().message(error); }

FileIdentity IdentityOf(const struct stat& info) {
  return {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}

namespace {

std::uint64_t MixBits(std::uint64_t value) {
  value += 0x9e3779b97f4a7c15u;
  value = (value ^ (value >> 30)) * 0xbf58476d1ce4e5b9u;
  value = (value ^ (value >> 27)) * 0x94d049bb133111ebu;
  return value ^ (value >> 31);
}

// Random bytes from the system once per process; without a random source,
// the clock and the process still make collisions rare, and O_EXCL or the
// link's refusal of a taken name turns the rest into another try.
std::uint64_t ProcessSeed() {
  static const std::uint64_t seed = [] {
    std::uint64_t bytes = 0;
    if (getrandom(&bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes))
      bytes = static_cast<std::uint64_t>(getpid()) * 2654435761u ^ static_cast<std::uint64_t>(clock()) ^
              static_cast<std::uint64_t>(time(nullptr)) << 20;
    return bytes;
  }();
  return seed;
}

}  // namespace

void RandomTempName(char (&name)[kTempNameLength + 1]) {
  static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  // Each name of the process differs; a name is only ever claimed
  // exclusively, so being unguessable matters less than being distinct.
  static std::atomic<std::uint64_t> counter{0};
  const std::uint64_t number = counter.fetch_add(1);
  std::uint64_t random = MixBits(ProcessSeed() ^ MixBits(number));
  std::memcpy(name, ".quarnel-", 9);
  for (std::size_t i = 0; i < 12; ++i) {
    if (i == 6) random = MixBits(random ^ number);
    name[9 + i] = kAlphabet[random % 36];
    random /= 36;
  }
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
