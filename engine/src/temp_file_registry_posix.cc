// The registry of temporary files and the signal handlers that remove them.
#include "temp_file_registry.h"

#include <fcntl.h>
#include <sys/resource.h>
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

constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM};

sigset_t CleanupSignalSet() {
  sigset_t signals;
  sigemptyset(&signals);
  for (const int signalNumber : kCleanupSignals) sigaddset(&signals, signalNumber);
  return signals;
}

extern "C" void RemoveTempFilesAndRaise(int signalNumber) {
  g_cleanupStarted.store(true);
  // A worker that was making a file when the flag went up finishes it and
  // marks its slot; one that comes later sees the flag and makes none.
  while (g_filesBeingMade.load() != 0) {
  }
  for (TempBlock* block = &g_tempFiles; block != nullptr; block = block->next.load()) {
    for (TempSlot& slot : block->slots) {
      if (slot.state.load() == 2) unlinkat(slot.folder, slot.name, 0);
    }
  }
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  sigaction(signalNumber, &fallback, nullptr);
  // Delivered when the handler returns and the signal is unblocked: the
  // process ends as the signal would have ended it.
  raise(signalNumber);
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
      int expected = 0;
      if (slot.state.compare_exchange_strong(expected, 1)) return slot;
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

void EndTempFile() { g_filesBeingMade.fetch_sub(1); }

bool CleanupStarted() { return g_cleanupStarted.load(std::memory_order_relaxed); }

}  // namespace quarnel
