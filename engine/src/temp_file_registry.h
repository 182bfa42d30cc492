// The temporary files that a signal must remove. A signal handler may neither
// allocate nor lock, so the live temporary files are kept in blocks of slots
// that are only ever appended to, and a slot's state is an atomic the handler
// can read at any moment. This is the one piece of process-wide state in the
// engine; signals leave no other way.
#pragma once

#include <signal.h>

#include <atomic>
#include <cstddef>

namespace quarnel {

constexpr std::size_t kTempNameLength = 25;  // ".quarnel-" + 12 random + ".tmp"

struct TempSlot {
  std::atomic<int> state{0};  // 0 free, 1 claimed, 2 a file that may exist
  int folder = -1;
  char name[kTempNameLength + 1] = {};
};

// A free slot, marked claimed; the caller stores 2 once the file exists and 0
// once it is gone, both while the signals are held.
TempSlot& ClaimTempSlot();

// Holds off the clean-up signals while a temporary file and its slot change
// together, so the handler never sees one without the other.
class SignalsHeld {
 public:
  SignalsHeld();
  ~SignalsHeld();
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t previous_;
};

}  // namespace quarnel
