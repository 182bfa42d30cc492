#include "quarnel/target_name.h"

namespace quarnel {

std::filesystem::path ProposeTargetPath(const std::filesystem::path& source) {
  // Built from the native strings so the name's bytes (or wide characters)
  // pass through untouched, whatever their encoding.
  std::filesystem::path::string_type name(kTargetPrefix.begin(), kTargetPrefix.end());
  name += source.filename().native();
  return source.parent_path() / name;
}

}  // namespace quarnel
