// Writing a target file so that it is replaced whole or not at all.
//
// A staged target is a new temporary file in the target's folder. Its name
// begins with ".quarnel-" and ends with ".tmp", is random and always the same
// length, so any legal target name works, a leftover of a killed run is
// recognisable and never blocks a later run. It is created exclusively,
// without following links, closed on exec, readable by its owner only.
//
// Steps, each separable so that a caller converting many files can share one
// disk sync between them:
//   Open    checks the target and creates the temporary file;
//   Sink    receives the bytes;
//   Finish  gives the file its final mode (an existing target's mode without
//           setuid/setgid, else 0666 minus the umask) and, where the caller may
//           set them, the old owner and group; then syncs its data unless the
//           caller defers that;
//   Commit  renames it onto the target and syncs the folder;
//   Abandon removes it (the destructor abandons whatever was not committed).
// SIGINT, SIGTERM and SIGHUP (Ctrl+C and closing the console on Windows)
// remove every temporary file still alive and end the process as the signal
// would; any number of staged targets may be alive at once.
//
// Targets that are not regular files (devices, FIFOs) are written directly:
// Open opens them, Finish and Commit only report how the writing went.
//
// A target that is a link is followed only where the link is the caller's, or
// its folder's owner's, or its folder is not both sticky and world-writable;
// the file it names is replaced and the link kept. A dangling link or a loop
// is refused. Renaming detaches a file with several hard links from the
// others, and makes the caller the owner where it may not give the file back.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "quarnel/conversion_driver.h"
#include "quarnel/conversion_types.h"
#include "quarnel/file_identity.h"

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
  //         DanglingLink or LinkLoop.
  bool Open(const std::filesystem::path& target);

  ByteSink& Sink();
  bool IsStream() const;
  // The file that the target named when it was opened; false for a new target.
  bool ReplacesFile(const FileIdentity& identity) const;

  // @return false with failure() WriteTarget when the data cannot be
  //         completed or synced; the temporary file is then removed.
  bool Finish(bool deferSync = false);
  // @return false with failure() ReplaceTarget when the rename failed; the
  //         target is then as it was and the temporary file removed.
  bool Commit();
  void Abandon();

  FileFailure failure() const;
  const std::string& failureMessage() const;

  struct Impl;

 private:
  friend std::size_t CommitStagedTargets(const std::vector<StagedTarget*>& targets);
  std::unique_ptr<Impl> impl_;
};

// Syncs the file systems that hold the finished (Finish(true)) `targets`, once
// each, then commits them in order. @return the number committed; it stops at
// the first that fails.
std::size_t CommitStagedTargets(const std::vector<StagedTarget*>& targets);

}  // namespace quarnel
