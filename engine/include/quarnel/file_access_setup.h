// What a program that writes files sets up once, at the start of main and
// before it starts any thread. Opening and writing files installs nothing of
// its own: a program that never calls this keeps the system's handling of
// every signal, and a signal may then leave a temporary file behind.
#pragma once

namespace quarnel {

// On Linux: SIGINT, SIGTERM and SIGHUP remove every temporary file still
// alive and end the process as the signal would (a signal the program already
// ignores or handles is left alone).
// On Windows: a console Ctrl+C or close removes every temporary file.
void PrepareFileAccess();

}  // namespace quarnel
