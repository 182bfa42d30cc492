// The registry of temporary files and the signal handlers that remove them.
#include "temp_file_registry.h"

#include <fcntl.h>
#include <unistd.h>

#include "quarnel/file_access_setup.h"

namespace quarnel {
namespace {

struct TempBlock {
  TempSlot slots[64];
  std::atomic<TempBlock*> next{nullptr};
};

TempBlock g_tempFiles;

constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void RemoveTempFilesAndRaise(int signalNumber) {
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
  static std::atomic<bool> installed{false};
  if (installed.exchange(true)) return;
  for (const int signalNumber : kCleanupSignals) {
    struct sigaction current {};
    if (sigaction(signalNumber, nullptr, &current) != 0) continue;
    // A signal the caller ignores (nohup) or handles itself stays theirs.
    if (current.sa_handler != SIG_DFL || (current.sa_flags & SA_SIGINFO) != 0) continue;
    struct sigaction cleanup {};
    cleanup.sa_handler = RemoveTempFilesAndRaise;
    sigemptyset(&cleanup.sa_mask);
    for (const int other : kCleanupSignals) sigaddset(&cleanup.sa_mask, other);
    sigaction(signalNumber, &cleanup, nullptr);
  }
}

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

SignalsHeld::SignalsHeld() {
  sigset_t held;
  sigemptyset(&held);
  for (const int signalNumber : kCleanupSignals) sigaddset(&held, signalNumber);
  pthread_sigmask(SIG_BLOCK, &held, &previous_);
}

SignalsHeld::~SignalsHeld() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }

}  // namespace quarnel
