// What the user asked the quarnel command for, read from its arguments.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace quarnel::cli {

// One command-line argument in the two forms the command needs.
struct Argument {
  // For matching options: the bytes as given on POSIX, UTF-8 on Windows.
  std::string text;
  // The same argument as the system's own path, bytes or wide characters untouched.
  std::filesystem::path path;
};

// Where the targets go. Given: the one-file form, SOURCE [TARGET]; the other
// two make a batch of any number of PATHs.
enum class TargetPlacement : std::uint8_t { Given, OutputFolder, Beside };

// How much a batch prints as text for each file.
enum class Verbosity : std::uint8_t { Quiet, Normal, Verbose };

inline constexpr unsigned kMostJobs = 256;

struct CommandOptions {
  bool showHelp = false;
  bool showVersion = false;
  TargetPlacement placement = TargetPlacement::Given;
  std::filesystem::path outputFolder;  // with TargetPlacement::OutputFolder
  bool recursive = false;
  bool dryRun = false;
  // Replace a target that Quarnel did not write (target_guard.h).
  bool force = false;
  bool json = false;
  Verbosity verbosity = Verbosity::Normal;
  unsigned jobs = 0;  // 0: as many as the machine has cores
  // SOURCE [TARGET] in the one-file form, the PATHs of a batch.
  std::vector<std::filesystem::path> paths;
};

// Reads the arguments (the program name not included). Options may come
// before, between and after the file names until "--"; short flags may be
// grouped ("-rn"), and an option's value may be attached ("-j4",
// "--jobs=4", "-oout"). Read from left to right: --help or --version ends
// the reading, and so does the first error.
// @return empty on success, else the usage error to show.
std::string ParseCommandOptions(const std::vector<Argument>& arguments, CommandOptions& options);

}  // namespace quarnel::cli
