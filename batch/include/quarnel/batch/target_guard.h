// The rule that a run replaces only a format file Quarnel wrote: two names on
// the command line, or a target picked in a dialog, must never turn an
// instrument's only copy into the conversion of another file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace quarnel::batch {

enum class TargetOwner : std::uint8_t {
  Replaceable,  // may be replaced (see CheckTargetOwner)
  OtherModel,   // its model line names `model`, not the new family: an original, another instrument's file
  Unreadable,   // it cannot be read to tell: `message` says why
};

struct TargetCheck {
  TargetOwner owner = TargetOwner::Replaceable;
  std::string model;    // with OtherModel: the model line's name as it stands
  std::string message;  // with Unreadable: the system's message
};

// Whether converting `source` may replace `target`. Replaceable when it does
// not exist, it is the source itself, it is not a regular file (a FIFO or
// device is never opened to decide), it holds no model line in its first
// kTargetLookLength bytes, or its model line names the new family (an
// earlier conversion). A link that neither the caller nor root owns is not
// followed here; the conversion refuses it.
TargetCheck CheckTargetOwner(const std::filesystem::path& source, const std::filesystem::path& target);

}  // namespace quarnel::batch
