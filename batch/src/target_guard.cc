#include "quarnel/batch/target_guard.h"

#include <optional>

#include "batch_system.h"
#include "quarnel/file_identity.h"
#include "quarnel/model_line.h"
#include "quarnel/target_start.h"

namespace quarnel::batch {

TargetCheck CheckTargetOwner(const std::filesystem::path& source, const std::filesystem::path& target) {
  TargetCheck check;
  std::string text;
  switch (ReadTargetStart(target, text, check.message)) {
    case TargetStart::Absent:
    case TargetStart::NotRegular: return {};
    case TargetStart::Unreadable: check.owner = TargetOwner::Unreadable; return check;
    case TargetStart::Read: break;
  }
  // Converting a file onto itself is the in-place form, with its own rules.
  const std::optional<FileIdentity> targetIdentity = IdentifyFile(target);
  if (targetIdentity && targetIdentity == IdentifyFile(source)) return {};
  CaseProbes probes;
  if (PlaceKey(target, probes) == PlaceKey(source, probes)) return {};
  const std::optional<std::string> model = ReadModelName(text);
  if (!model || IsNewModelName(*model)) return {};
  check.owner = TargetOwner::OtherModel;
  check.model = *model;
  return check;
}

}  // namespace quarnel::batch
