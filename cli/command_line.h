// The quarnel command, apart from how the platform hands over its arguments.
#pragma once

#include <filesystem>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "command_options.h"
#include "command_output.h"

namespace quarnel::cli {

// Runs `quarnel [OPTIONS] SOURCE [TARGET]`, a batch (`-o DIR PATH...` or
// `-b PATH...`), `--help` or `--version` (the program name not included in
// `arguments`). Reports, records and per-file lines go to `out`; usage
// errors, failures' reasons and a batch's summary go to `err`.
// @return the exit status: for one file kExitCompleted, kExitNotNecessary,
// kExitFailed, kExitUsage or kExitReportLost; for a batch as RunBatchCommand says.
int RunQuarnel(const std::vector<Argument>& arguments, std::ostream& out, std::ostream& err);

}  // namespace quarnel::cli
