// The calls only Linux has, behind names that say what the file layer wants
// from them.
#pragma once

#include <sys/types.h>

#include "temp_file_registry.h"

namespace quarnel {

// A random name ".quarnel-XXXXXXXXXXXX.tmp".
void RandomTempName(char (&name)[kTempNameLength + 1]);

// The process's umask, read without changing it.
mode_t CurrentUmask();

// Puts the data of every file on the file system that holds `descriptor` on
// disk. @return 0 or the errno of the failure.
int SyncFileSystem(int descriptor);

}  // namespace quarnel
