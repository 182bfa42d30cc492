// What a program that writes files sets up once, at the start of main and
// before it starts any thread. Opening and writing files installs nothing of
// its own: a program that never calls PrepareFileAccess keeps the system's
// handling of every signal, and a signal may then leave a temporary file.
#pragma once

#ifndef _WIN32
#include <signal.h>
#endif

namespace quarnel {

// On Linux: SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2 and SIGALRM
// remove every temporary file still alive and end the process as the signal
// would (a signal the program already ignores or handles is left alone);
// SIGPIPE and SIGXFSZ are ignored, so that a closed reader and a file size
// limit come back as the errors EPIPE and EFBIG; the soft limit on open files
// is raised to the hard one.
// On Windows: a console Ctrl+C or close removes every temporary file.
void PrepareFileAccess();

// For a thread that converts files but should never run the clean-up: the
// clean-up signals stay blocked in the calling thread for good, and are
// delivered to a thread that has not blocked them. Nothing on Windows.
void BlockCleanupSignalsInThisThread();

// Holds the clean-up signals back in the calling thread while it lives, so
// that what it does (a rename and the line that reports it) is done whole
// before a signal ends the process. Nothing on Windows.
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
