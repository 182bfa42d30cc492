// The temporary files that a signal must remove. A signal handler may neither
// allocate nor lock, so the live temporary files are kept in blocks of slots
// that are only ever appended to, and a slot's state is an atomic the handler
// can read at any moment. This is the one piece of process-wide state in the
// engine; signals leave no other way.
#pragma once

#include <atomic>
#include <cstddef>

#include "quarnel/file_access_setup.h"

namespace quarnel {

constexpr std::size_t kTempNameLength = 25;  // ".quarnel-" + 12 random + ".tmp"

enum class SlotState : int {
  Free,
  Claimed,
  FileMayExist,  // a file may exist under `name`: the clean-up removes it
};

struct TempSlot {
  std::atomic<SlotState> state{SlotState::Free};
  int folder = -1;
  char name[kTempNameLength + 1] = {};
};
// The handler reads the state, so it must be lock-free.
static_assert(std::atomic<SlotState>::is_always_lock_free);

// A free slot, marked claimed.
TempSlot& ClaimTempSlot();

// Brackets the making of a named temporary file in a thread that may have the
// signals blocked for good (a worker): the clean-up waits until the file's
// slot says it exists. @return false once the clean-up has begun: the caller
// then makes no file.
bool BeginTempFile();
void EndTempFile();

// True once a clean-up signal has come: the process is about to end, and
// whatever is still being written is abandoned.
bool CleanupStarted();

// The engine's own hold of the signals while a temporary file and its slot
// change together, so the handler never sees one without the other.
using SignalsHeld = CleanupSignalsHeld;

}  // namespace quarnel
