// The command line's batch: the library's batch with the command's output,
// a record or a line per file, the progress line and the summary.
#pragma once

#include <ostream>

#include "command_options.h"

namespace quarnel::cli {

// Finds the sources, plans their targets (refusing collisions before
// anything is written), converts them with `options.jobs` workers and prints
// a record or a line per file to `out` in the order of the sources, then the
// summary to `err`. Failures' lines go to `err` when quiet. On a terminal,
// a progress line is drawn on `err` once the batch has run for a second.
// Each file's line or record is printed once its target is in place.
// SIGINT, SIGTERM and SIGHUP end the process at once, even with standard
// output stalled, every temporary file removed: the targets of the lines
// printed so far are in place, the others as they were or converted. (The
// batch's cancel token is not used: a handler that only set it would wait
// for a stalled reader.)
// Without --force, targets that Quarnel did not write stop the batch before
// anything is written.
// @return 0 when no file failed, 1 when one did, 2 for a refused set of
// sources or targets, 4 when nothing failed but the output could not be written.
int RunBatchCommand(const CommandOptions& options, std::ostream& out, std::ostream& err);

}  // namespace quarnel::cli
