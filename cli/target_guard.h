// The rule that a run replaces only a format file Quarnel wrote: two names on
// the command line must never turn the second file, an instrument's only
// copy, into the conversion of the first.
#pragma once

#include <filesystem>
#include <string>

namespace quarnel::cli {

// Why converting `source` must not replace `target`, without the target's
// name: its model line names something other than the new family (an
// unconverted original, another instrument's file), or it cannot be read to
// tell. Empty when it may be replaced: it does not exist, it is the source
// itself, it is not a regular file (a FIFO or device is never opened to
// decide), it holds no model line in its first kTargetLookLength bytes, or
// its model line names the new family (an earlier conversion). A link that
// neither the caller nor root owns is not followed here; the conversion
// refuses it.
std::string ForeignTargetProblem(const std::filesystem::path& source, const std::filesystem::path& target);

}  // namespace quarnel::cli
