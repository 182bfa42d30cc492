// The prefix that names a converted file, kept apart from the path handling
// so that builds without a file system (the web page's module) share it.
#pragma once

#include <string_view>

namespace quarnel {

// Put in front of the source's file name to name the converted file.
inline constexpr std::string_view kTargetPrefix = "QZ_";

}  // namespace quarnel
