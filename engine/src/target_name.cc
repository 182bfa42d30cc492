#include "quarnel/target_name.h"

namespace quarnel {

std::filesystem::path ProposeTargetPath(const std::filesystem::path& source) {
  // From the native string, so the name's bytes (or wide characters) pass
  // through untouched, whatever their encoding.
  return source.parent_path() / ProposeTargetName(source.filename().native());
}

}  // namespace quarnel
