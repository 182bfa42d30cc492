// The few system calls a batch needs whose form differs between platforms.
// Defined in batch_system_posix.cc and batch_system_win32.cc.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include "quarnel/case_folding.h"

namespace quarnel::cli {

// Which folders fold case (FolderFoldsCase), each asked once.
class CaseProbes {
 public:
  bool FoldsCase(const std::filesystem::path& folder) {
    const auto [entry, fresh] = known_.try_emplace(folder.native(), true);
    if (fresh) entry->second = FolderFoldsCase(folder);
    return entry->second;
  }

 private:
  std::map<std::filesystem::path::string_type, bool> known_;
};

// A key under which two paths compare equal when they name the same place,
// whether or not a file is there yet: absolute, lexically normal, links
// resolved as far as the path exists, and case folded where names ignore case
// (on POSIX, where `probes` finds that the folder does; always on Windows).
std::filesystem::path::string_type PlaceKey(const std::filesystem::path& path, CaseProbes& probes);

// A place key folded as PlaceKey folds one in a folder that ignores case.
std::filesystem::path::string_type FoldPlaceKey(std::filesystem::path::string_type key);

// How many files the process may hold open at once (as good as no limit on
// Windows).
std::size_t OpenFileLimit();

// True when standard error goes to a terminal (the progress line goes there).
bool IsErrorTerminal();

// Whether the caller may create files in `folder`: "" if so, else the
// system's message. Windows answers "" and leaves it to each file.
std::string CheckFolderWritable(const std::filesystem::path& folder);

}  // namespace quarnel::cli
