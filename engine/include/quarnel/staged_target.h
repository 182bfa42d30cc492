// Writing a target file so that it is replaced whole or not at all.
//
// A staged target is a new temporary file in the target's folder. On Linux it
// is written unnamed and named only just before its rename, so a killed run
// leaves at most the one file it was renaming; where the file system has no
// unnamed files, it is named from the start. Its name begins with ".quarnel-"
// and ends with ".tmp", is random and always the same length, so any legal
// target name works, a leftover of a killed run is recognisable and never
// blocks a later run. It is created exclusively, without following links,
// closed on exec; for a new target with 0666, less the group and other bits
// the source lacks, as the mode for the kernel to narrow by the umask (or the
// folder's default ACL), else readable by its owner only.
//
// Steps, each separable so that a caller converting many files can share one
// disk sync between them:
//   Open    checks the target and creates the temporary file;
//   Sink    receives the bytes;
//   Finish  gives a file that replaces one the old mode without
//           setuid/setgid, its POSIX ACL and, where the caller may set them,
//           the old owner and group (where the file system has no modes,
//           the mode it gives, unless that grants more than the old one);
//           then syncs its data unless the caller defers that;
//   Commit  renames it onto the target and syncs the folder; a target that
//           was new when opened replaces no file that appeared since
//           (where the file system has neither RENAME_NOREPLACE nor hard
//           links, a look just before the rename stands in);
//   Abandon removes it (the destructor abandons whatever was not committed).
// Once the program has called PrepareFileAccess (file_access_setup.h), the
// clean-up signals (Ctrl+C and closing the console on Windows) remove every
// temporary file still alive and end the process as the signal would; any
// number of staged targets may be alive at once. Commit holds them back while
// it names and renames.
//
// Targets that are not regular files (devices, FIFOs) are written directly:
// Open opens them, Finish and Commit only report how the writing went.
//
// A link anywhere in the target's path is followed only when the caller or
// root owns it (root's include the kernel's /dev/stdout and /proc/self/fd/N);
// a target that is a link has the file it names replaced and the link kept.
// A dangling link or a loop is refused. A device or FIFO is opened without
// following a link and refused unless it is the file that was checked.
// Renaming detaches a file with several hard links from the others, and makes
// the caller the owner where it may not give the file back.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "quarnel/conversion_driver.h"
#include "quarnel/conversion_types.h"
#include "quarnel/file_identity.h"
#include "quarnel/folder_tree.h"

namespace quarnel {

class StagedTarget {
 public:
  StagedTarget();
  ~StagedTarget();
  StagedTarget(const StagedTarget&) = delete;
  StagedTarget& operator=(const StagedTarget&) = delete;

  // @return true when the temporary file (or the stream) is open for writing;
  //         false with failure() and failureMessage() set, nothing created.
  //         failure(): OpenTarget, TargetIsFolder, TargetReadOnly, UnsafeLink,
  //         DanglingLink, LinkLoop or TargetChanged.
  // `sourceMode`: the source's permission bits; a new target gets no group or
  // other bit that they lack (the owner keeps read and write). Not on Windows.
  bool Open(const std::filesystem::path& target, std::uint32_t sourceMode = 0777);
  // The same for a target named in a folder held open: a new target is made
  // in that very folder, which stays open until the commit; a name already
  // there meets the same rules, from that folder.
  bool Open(const FileLocation& target, std::uint32_t sourceMode = 0777);

  ByteSink& Sink();
  bool IsStream() const;
  // Whether the target, as it was when opened, is the file `identity` that
  // `path` names: the same identity, or, in a folder that folds case, the
  // same place spelled in another case (where in doubt, it is). False for a
  // new target.
  bool ReplacesFile(const FileIdentity& identity, const std::filesystem::path& path) const;

  // @return false with failure() WriteTarget when the data cannot be
  //         completed or synced; the temporary file is then removed.
  bool Finish(bool deferSync = false);
  // @return false with failure() ReplaceTarget when the rename failed; the
  //         target is then as it was and the temporary file removed.
  bool Commit();
  bool Committed() const;
  void Abandon();

  FileFailure failure() const;
  const std::string& failureMessage() const;

  struct Impl;

 private:
  friend std::size_t CommitStagedTargets(const std::vector<StagedTarget*>& targets);
  std::unique_ptr<Impl> impl_;
};

// Syncs the file systems that hold the finished (Finish(true)) `targets`, once
// each, then commits them in order; each reports through Committed() and
// failure(). A file system that cannot be synced fails each of its targets
// with WriteTarget and the system's message. @return the number committed.
std::size_t CommitStagedTargets(const std::vector<StagedTarget*>& targets);

}  // namespace quarnel
