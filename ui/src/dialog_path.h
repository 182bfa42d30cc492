// The dialog keeps its paths as the wide strings its fields show; the engine
// takes file-system paths. How one becomes the other depends on the platform.
#pragma once

#include <filesystem>
#include <string>

namespace quarnel::ui {

// The path a field's text names, character for character.
std::filesystem::path ToFilesystemPath(const std::wstring& text);

}  // namespace quarnel::ui
