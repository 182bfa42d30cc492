// The target name every front end proposes for a source format file, and the
// longest names the platform's file systems take.
#pragma once

#include <climits>
#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

#include "quarnel/target_prefix.h"

namespace quarnel {

// Limits in the units of the platform's native paths: UTF-16 units on
// Windows, bytes on Linux. kLongestFileName is one name within a path;
// kLongestPath a whole path without its terminator.
#ifdef _WIN32
inline constexpr std::size_t kLongestFileName = 255;
// MAX_PATH less its terminator; only the \\?\ form is longer, which the
// file dialogs never return.
inline constexpr std::size_t kLongestPath = 259;
inline constexpr std::string_view kNativeUnits = "characters";
#else
inline constexpr std::size_t kLongestFileName = NAME_MAX;
inline constexpr std::size_t kLongestPath = PATH_MAX - 1;
inline constexpr std::string_view kNativeUnits = "bytes";
#endif

// The source's folder as written, then "QZ_" and the source's whole file
// name, extension included: "data/job.frt" gives "data/QZ_job.frt", "job"
// gives "QZ_job". Only the last name changes, at the platform's separators
// ('/' on Linux, where "a\b.frt" is one name; '\' or '/' on Windows). A
// source without a folder gives a name without one. Only names the target;
// nothing is checked on disk.
std::filesystem::path ProposeTargetPath(const std::filesystem::path& source);

// Why ProposeTargetPath(source) names no file: "QZ_" and the source's name
// would be longer than kLongestFileName, "the target's name, QZ_ and the
// source's name, would be longer than 255 bytes". Empty when the name fits.
std::string TargetNameProblem(const std::filesystem::path& source);

}  // namespace quarnel
