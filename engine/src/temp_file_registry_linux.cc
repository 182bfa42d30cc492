// The registry of temporary files and the signal handlers that remove them.
#include "temp_file_registry.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quarnel {
namespace {

struct TempBlock {
  TempSlot slots[64];
  std::atomic<TempBlock*> next{nullptr};
};

TempBlock g_tempFiles;
std::atomic<bool> g_cleanupStarted{false};
std::atomic<int> g_filesBeingMade{0};
// The first clean-up signal, and whether the clean-up that ends the process
// has been claimed (by the handler, or by the last file being made).
std::atomic<int> g_cleanupSignal{0};
std::atomic<bool> g_cleanupClaimed{false};
// The program's note for the way out: text, count, text (SetCleanupNote).
std::atomic<const char*> g_notePrefix{nullptr};
std::atomic<const std::atomic<std::size_t>*> g_noteCount{nullptr};
std::atomic<const char*> g_noteSuffix{nullptr};

constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM};

sigset_t CleanupSignalSet() {
  sigset_t signals;
  sigemptyset(&signals);
  for (const int signalNumber : kCleanupSignals) sigaddset(&signals, signalNumber);
  return signals;
}

// Writes the note to standard error only if it takes it at once: standard
// error is often the same stalled pipe or paused terminal as the output.
// Everything here is safe in a signal handler.
void WriteCleanupNote() {
  const char* prefix = g_notePrefix.load();
  const std::atomic<std::size_t>* count = g_noteCount.load();
  const char* suffix = g_noteSuffix.load();
  if (prefix == nullptr || count == nullptr || suffix == nullptr) return;
  std::size_t value = count->load();
  if (value == 0) return;
  char text[512];
  std::size_t length = 0;
  for (const char* c = prefix; *c != '\0' && length < 400; ++c) text[length++] = *c;
  char digits[24];
  std::size_t digitCount = 0;
  do {
    digits[digitCount++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (digitCount > 0) text[length++] = digits[--digitCount];
  for (const char* c = suffix; *c != '\0' && length < sizeof text; ++c) text[length++] = *c;

  struct stat error {};
  if (fstat(STDERR_FILENO, &error) != 0) return;
  // A file never makes a write wait; a pipe or terminal is opened anew
  // without waiting (a flag set on standard error itself would stay with the
  // shell that shares it).
  int descriptor = STDERR_FILENO;
  if (!S_ISREG(error.st_mode)) {
    descriptor = open("/proc/self/fd/2", O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (descriptor < 0) return;
  }
  const ssize_t ignored = write(descriptor, text, length);
  static_cast<void>(ignored);
  if (descriptor != STDERR_FILENO) close(descriptor);
}

// Removes every temporary file and ends the process with `signalNumber`,
// from the handler or from the thread that made the last file.
[[noreturn]] void FinishCleanup(int signalNumber) {
  for (TempBlock* block = &g_tempFiles; block != nullptr; block = block->next.load()) {
    for (TempSlot& slot : block->slots) {
      if (slot.state.load() == SlotState::FileMayExist) unlinkat(slot.folder, slot.name, 0);
    }
  }
  WriteCleanupNote();
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  sigaction(signalNumber, &fallback, nullptr);
  sigset_t signal;
  sigemptyset(&signal);
  sigaddset(&signal, signalNumber);
  pthread_sigmask(SIG_UNBLOCK, &signal, nullptr);
  raise(signalNumber);
  // Not reached: the signal's default action ends the process.
  _exit(128 + signalNumber);
}

// Claims the clean-up once no file is being made: a worker making one when
// the flag went up finishes it and marks its slot, then claims the clean-up
// itself in EndTempFile; one that comes later sees the flag and makes none.
void ClaimCleanupWhenIdle() {
  if (g_filesBeingMade.load() != 0) return;
  if (g_cleanupClaimed.exchange(true)) return;
  FinishCleanup(g_cleanupSignal.load());
}

extern "C" void RemoveTempFilesAndRaise(int signalNumber) {
  int none = 0;
  g_cleanupSignal.compare_exchange_strong(none, signalNumber);
  g_cleanupStarted.store(true);
  // No waiting here: the handler may have cut into the very thread that
  // holds the count up, or one stuck behind a stalled write.
  ClaimCleanupWhenIdle();
}

}  // namespace

void PrepareFileAccess() {
  static std::atomic<bool> prepared{false};
  if (prepared.exchange(true)) return;
  for (const int signalNumber : kCleanupSignals) {
    struct sigaction current {};
    if (sigaction(signalNumber, nullptr, &current) != 0) continue;
    // A signal the caller ignores (nohup) or handles itself stays theirs.
    if (current.sa_handler != SIG_DFL || (current.sa_flags & SA_SIGINFO) != 0) continue;
    struct sigaction cleanup {};
    cleanup.sa_handler = RemoveTempFilesAndRaise;
    cleanup.sa_mask = CleanupSignalSet();
    sigaction(signalNumber, &cleanup, nullptr);
  }
  // Both would end the process with a temporary file on the disk; as errors
  // they end one write, which the caller reports.
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
  // A batch keeps its staged files open until their group is committed.
  struct rlimit files {};
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
  }
}

void BlockCleanupSignalsInThisThread() {
  const sigset_t signals = CleanupSignalSet();
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

CleanupSignalsHeld::CleanupSignalsHeld() {
  const sigset_t signals = CleanupSignalSet();
  pthread_sigmask(SIG_BLOCK, &signals, &previous_);
}

CleanupSignalsHeld::~CleanupSignalsHeld() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }

TempSlot& ClaimTempSlot() {
  TempBlock* block = &g_tempFiles;
  for (;;) {
    for (TempSlot& slot : block->slots) {
      SlotState expected = SlotState::Free;
      if (slot.state.compare_exchange_strong(expected, SlotState::Claimed)) return slot;
    }
    TempBlock* next = block->next.load();
    if (next == nullptr) {
      auto* fresh = new TempBlock;
      if (block->next.compare_exchange_strong(next, fresh)) {
        next = fresh;
      } else {
        delete fresh;
      }
    }
    block = next;
  }
}

bool BeginTempFile() {
  g_filesBeingMade.fetch_add(1);
  if (!g_cleanupStarted.load()) return true;
  g_filesBeingMade.fetch_sub(1);
  return false;
}

void EndTempFile() {
  g_filesBeingMade.fetch_sub(1);
  if (g_cleanupStarted.load()) ClaimCleanupWhenIdle();
}

void SetCleanupNote(const char* prefix, const std::atomic<std::size_t>* count, const char* suffix) {
  g_notePrefix.store(prefix);
  g_noteSuffix.store(suffix);
  g_noteCount.store(count);
}

bool CleanupStarted() { return g_cleanupStarted.load(std::memory_order_relaxed); }

}  // namespace quarnel
