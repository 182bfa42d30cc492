// Where a target path leads, walked one name at a time so that no link is
// followed unless its owner may be trusted.
#pragma once

#include <sys/stat.h>

#include <string>

#include "file_access.h"
#include "quarnel/conversion_driver.h"

namespace quarnel {

struct TargetPlace {
  TargetKind kind = TargetKind::New;
  // The folder that holds `name`, open for reading; the caller closes it.
  int folder = -1;
  std::string name;
  // The existing file as it was checked.
  struct stat existing {};
  // A stream target, already open for writing; the caller closes it.
  int stream = -1;
};

// Follows `path` name by name. A link anywhere in it is followed only when the
// caller or root owns it; the kernel's own links (/dev/stdout, /proc/self/fd/N)
// are root's or the caller's. A target that is not a regular file is opened
// here, without following a link, and refused unless it is the file checked.
// @return false with `failure` (OpenTarget, TargetIsFolder, TargetReadOnly,
//         UnsafeLink, DanglingLink, LinkLoop or TargetChanged) and `message`:
//         the system's message, or for UnsafeLink the link and its owner.
bool ResolveTarget(const std::string& path, TargetPlace& place, FileFailure& failure, std::string& message);

// ResolveTarget for `path` taken from the folder `start` (a descriptor);
// messages name links as `shownAs` joined with their path from there.
bool ResolveTargetIn(int start, const std::string& shownAs, const std::string& path, TargetPlace& place,
                     FileFailure& failure, std::string& message);

// Follows `path` from the folder `start` by the same rule for links, to what
// it names, without opening that: `place.folder` is then an O_PATH descriptor
// of the folder that holds it (the caller closes it), `place.name` its name
// there and `place.existing` its status, not followed. @return false with
// `failure` (OpenTarget, UnsafeLink, DanglingLink or LinkLoop) and `message`.
bool LocateIn(int start, const std::string& shownAs, const std::string& path, TargetPlace& place,
              FileFailure& failure, std::string& message);

// Gives the open file `descriptor` the POSIX ACL of `name` in `folder`, as
// editors that replace a file do. @return 0, or the errno of a failed call;
// a file without an ACL, or a system without /proc, keeps none.
int CopyAccessAcl(int folder, const std::string& name, int descriptor);

// Whether names in the open folder `folder` ignore case (FolderFoldsCase in
// case_folding.h), asked first with `name`, a name in it. @return true as
// well when it cannot be told.
bool FoldsCaseAt(int folder, const std::string& name);

}  // namespace quarnel
