// The calls only Linux has, behind names that say what the file layer wants
// from them.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <string>

#include "quarnel/file_identity.h"
#include "temp_file_registry.h"

namespace quarnel {

// The system's text for an errno value, as failures quote it.
std::string SystemMessage(int error);

// The identity of the file that a status describes.
FileIdentity IdentityOf(const struct stat& info);

// A random name ".quarnel-XXXXXXXXXXXX.tmp".
void RandomTempName(char (&name)[kTempNameLength + 1]);

// An unnamed file in `folder`, open for writing, created with `mode` less the
// umask (or as the folder's default ACL says); a killed process leaves
// nothing of it. @return its descriptor, or -1 where the file system or the
// kernel has no unnamed files or /proc is missing to name one later.
int OpenUnnamedFile(int folder, mode_t mode);

// Gives the unnamed file `descriptor` the name `name` in `folder`; the name
// must be free. @return 0 or the errno of the failure.
int NameUnnamedFile(int descriptor, int folder, const char* name);

// Renames `from` to `to`, both in `folder`, unless `to` exists.
// renameat2(RENAME_NOREPLACE) where the file system has it, else a hard link
// and the removal of `from`; where it has neither (the FUSE drivers of memory
// cards), a look just before the rename, which cannot stop a file made
// between the two. @return 0, EEXIST where `to` exists, or the errno of the
// failure.
int RenameWithoutReplacing(int folder, const char* from, const char* to);

// Puts the data of every file on the file system that holds `descriptor` on
// disk. @return 0 or the errno of the failure.
int SyncFileSystem(int descriptor);

}  // namespace quarnel
