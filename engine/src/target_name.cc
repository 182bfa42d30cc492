#include "quarnel/target_name.h"

namespace quarnel {

std::filesystem::path ProposeTargetPath(const std::filesystem::path& source) {
  // Built from the native strings so the name's bytes (or wide characters)
  // pass through untouched, whatever their encoding, and the folder keeps
  // the separator it was written with.
  const std::filesystem::path::string_type& whole = source.native();
  const std::filesystem::path::string_type name = source.filename().native();
  return whole.substr(0, whole.size() - name.size()) + ProposeTargetName(name);
}

std::string TargetNameProblem(const std::filesystem::path& source) {
  if (source.filename().native().size() + kTargetPrefix.size() <= kLongestFileName) return {};
  return "the target's name, " + std::string(kTargetPrefix) + " and the source's name, would be longer than " +
         std::to_string(kLongestFileName) + " " + std::string(kNativeUnits);
}

}  // namespace quarnel
