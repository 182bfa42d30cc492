// What a program that writes files sets up once, at the start of main and
// before it starts any thread. Opening and writing files installs nothing of
// its own: a program that never calls PrepareFileAccess keeps the system's
// handling of every signal, and a signal may then leave a temporary file.
#pragma once

#ifndef _WIN32
#include <signal.h>
#endif

#include <atomic>
#include <cstddef>

namespace quarnel {

// On Linux: SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2 and SIGALRM
// remove every temporary file still alive and end the process as the signal
// would (a signal the program already ignores or handles is left alone),
// without waiting for anything but a thread that is making a temporary file
// at that moment; they reach the process in any thread that has not blocked
// them;
// SIGPIPE and SIGXFSZ are ignored, so that a closed reader and a file size
// limit come back as the errors EPIPE and EFBIG; the soft limit on open files
// is raised to the hard one.
// On Windows: a console Ctrl+C or close removes every temporary file.
void PrepareFileAccess();

// A note the clean-up writes to standard error on its way out: `prefix`, the
// value of `count` and `suffix`, when the count is not 0, and only if
// standard error takes it without waiting. The three must outlive the
// process's run; nullptr for any removes the note. Nothing on Windows.
void SetCleanupNote(const char* prefix, const std::atomic<std::size_t>* count, const char* suffix);

// For a thread that converts files but should never run the clean-up: the
// clean-up signals stay blocked in the calling thread for good, and are
// delivered to a thread that has not blocked them. Nothing on Windows.
void BlockCleanupSignalsInThisThread();

// Holds the clean-up signals back in the calling thread while it lives, so
// that what it does (a temporary file and its record) is done whole before a
// signal ends the process. Hold it only around work that cannot wait on
// another process (never around a write to standard output). Nothing on Windows.
class CleanupSignalsHeld {
 public:
  CleanupSignalsHeld();
  ~CleanupSignalsHeld();
  CleanupSignalsHeld(const CleanupSignalsHeld&) = delete;
  CleanupSignalsHeld& operator=(const CleanupSignalsHeld&) = delete;

 private:
#ifndef _WIN32
  sigset_t previous_;
#endif
};

}  // namespace quarnel
