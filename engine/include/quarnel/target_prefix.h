// The rules for a target's file name and for the files a folder walk takes,
// on file names alone: no file system, so that builds without one (the web
// page's module) share them with the command line and the dialogs. Narrow
// names are bytes (UTF-8 where the system uses it), wide ones UTF-16 (Windows).
#pragma once

#include <string>
#include <string_view>

namespace quarnel {

// Put in front of the source's file name to name the converted file.
inline constexpr std::string_view kTargetPrefix = "QZ_";

// The converted file's name for a source's file name (no folder): "QZ_" and
// the whole name, extension included, its bytes untouched: "job.frt" gives
// "QZ_job.frt", "job" gives "QZ_job".
std::string ProposeTargetName(std::string_view fileName);
std::wstring ProposeTargetName(std::wstring_view fileName);

// True for a file name (no folder) that a folder walk takes: ".frt" at its
// end in any case, after at least one character, and neither "." (a hidden
// file) nor "QZ_" in any case (an earlier run's target) at its start.
bool IsSourceName(std::string_view fileName);
bool IsSourceName(std::wstring_view fileName);

}  // namespace quarnel
