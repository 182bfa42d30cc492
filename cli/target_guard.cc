#include "target_guard.h"

#include <optional>

#include "batch_system.h"
#include "command_output.h"
#include "quarnel/file_identity.h"
#include "quarnel/model_line.h"
#include "quarnel/target_start.h"

namespace quarnel::cli {

std::string ForeignTargetProblem(const std::filesystem::path& source, const std::filesystem::path& target) {
  std::string text;
  std::string message;
  switch (ReadTargetStart(target, text, message)) {
    case TargetStart::Absent:
    case TargetStart::NotRegular: return {};
    case TargetStart::Unreadable: return "it cannot be read to tell whether Quarnel wrote it: " + message;
    case TargetStart::Read: break;
  }
  // Converting a file onto itself is the in-place form, with its own rules.
  const std::optional<FileIdentity> targetIdentity = IdentifyFile(target);
  if (targetIdentity && targetIdentity == IdentifyFile(source)) return {};
  CaseProbes probes;
  if (PlaceKey(target, probes) == PlaceKey(source, probes)) return {};
  const std::optional<std::string> model = ReadModelName(text);
  if (!model || IsNewModelName(*model)) return {};
  return "its model line names \"" + EscapeName(*model) + "\", so Quarnel did not write it";
}

}  // namespace quarnel::cli
