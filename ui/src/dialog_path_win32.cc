#include "dialog_path.h"

namespace quarnel::ui {

// Windows paths are wide strings already: nothing to convert.
std::filesystem::path ToFilesystemPath(const std::wstring& text) { return std::filesystem::path(text); }

}  // namespace quarnel::ui
