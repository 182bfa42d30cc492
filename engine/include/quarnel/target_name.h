// The target name every front end proposes for a source format file.
#pragma once

#include <filesystem>

#include "quarnel/target_prefix.h"

namespace quarnel {

// The source's folder, then "QZ_" and the source's whole file name, extension
// included: "data/job.frt" gives "data/QZ_job.frt", "job" gives "QZ_job".
// A source without a folder gives a name without one. Only names the target;
// nothing is checked on disk.
std::filesystem::path ProposeTargetPath(const std::filesystem::path& source);

}  // namespace quarnel
