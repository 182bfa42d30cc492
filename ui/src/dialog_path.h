// The dialog keeps its paths as the wide strings its fields show; the engine
// takes file-system paths. How one becomes the other depends on the platform.
#pragma once

#include <filesystem>
#include <string>

namespace quarnel::ui {

// The path a field's text names, character for character, and back.
std::filesystem::path ToFilesystemPath(const std::wstring& text);
std::wstring FromFilesystemPath(const std::filesystem::path& path);

// A field's text as UTF-8, the encoding of the engine's messages, and back.
// What is no character becomes U+FFFD.
std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);

}  // namespace quarnel::ui
