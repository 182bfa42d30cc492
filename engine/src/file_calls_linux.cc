#include "file_calls_linux.h"

#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>

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

mode_t CurrentUmask() {
  // Reading the mask with umask() would change it for a moment in every thread.
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Umask:", 0) == 0) return static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8));
  }
  const mode_t mask = umask(022);
  umask(mask);
  return mask;
}

int SyncFileSystem(int descriptor) { return syncfs(descriptor) == 0 ? 0 : errno; }

}  // namespace quarnel
