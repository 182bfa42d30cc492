#include "command_options.h"

#include <charconv>
#include <cstdint>
#include <string_view>

namespace quarnel::cli {
namespace {

// The rest of an argument behind an ASCII prefix, as a path. The prefix has
// as many bytes as it has wide characters, so the same count cuts both forms.
std::filesystem::path PathBehind(const Argument& argument, std::size_t prefixLength) {
  return std::filesystem::path(argument.path.native().substr(prefixLength));
}

std::string ParseJobs(std::string_view text, unsigned& jobs) {
  unsigned value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < 1 || value > kMostJobs)
    return "-j takes a number of files from 1 to " + std::to_string(kMostJobs) + ", not '" + std::string(text) + "'";
  jobs = value;
  return {};
}

enum class OptionKind : std::uint8_t { OutputFolder, Jobs, Beside, Recursive, DryRun, Force, Json, Quiet, Verbose, Help, Version };

struct OptionEntry {
  char shortName;  // '\0': a long form only
  std::string_view longName;
  OptionKind kind;
  bool takesValue;
};

constexpr OptionEntry kOptionTable[] = {
    {'o', "--output-dir", OptionKind::OutputFolder, true},
    {'j', "--jobs", OptionKind::Jobs, true},
    {'b', "--beside", OptionKind::Beside, false},
    {'r', "--recursive", OptionKind::Recursive, false},
    {'n', "--dry-run", OptionKind::DryRun, false},
    {'f', "--force", OptionKind::Force, false},
    {'\0', "--json", OptionKind::Json, false},
    {'q', "--quiet", OptionKind::Quiet, false},
    {'v', "--verbose", OptionKind::Verbose, false},
    {'\0', "--help", OptionKind::Help, false},
    {'\0', "--version", OptionKind::Version, false},
};

const OptionEntry* FindShortOption(char name) {
  for (const OptionEntry& entry : kOptionTable) {
    if (entry.shortName != '\0' && entry.shortName == name) return &entry;
  }
  return nullptr;
}

const OptionEntry* FindLongOption(std::string_view name) {
  for (const OptionEntry& entry : kOptionTable) {
    if (entry.longName == name) return &entry;
  }
  return nullptr;
}

// What the options said that is checked once all are read.
struct OptionsSeen {
  bool jobs = false;
  bool beside = false;
  bool output = false;
  bool quiet = false;
  bool verbose = false;
};

// Applies one option, in its short or long form alike.
// @return empty, else the usage error.
std::string ApplyOption(OptionKind kind, const std::string& valueText, const std::filesystem::path& valuePath,
                        CommandOptions& options, OptionsSeen& seen) {
  switch (kind) {
    case OptionKind::OutputFolder:
      options.outputFolder = valuePath;
      seen.output = true;
      break;
    case OptionKind::Jobs:
      if (std::string problem = ParseJobs(valueText, options.jobs); !problem.empty()) return problem;
      seen.jobs = true;
      break;
    case OptionKind::Beside: seen.beside = true; break;
    case OptionKind::Recursive: options.recursive = true; break;
    case OptionKind::DryRun: options.dryRun = true; break;
    case OptionKind::Force: options.force = true; break;
    case OptionKind::Json: options.json = true; break;
    case OptionKind::Quiet: seen.quiet = true; break;
    case OptionKind::Verbose: seen.verbose = true; break;
    case OptionKind::Help: options.showHelp = true; break;
    case OptionKind::Version: options.showVersion = true; break;
  }
  return {};
}

}  // namespace

std::string ParseCommandOptions(const std::vector<Argument>& arguments, CommandOptions& options) {
  bool optionsEnded = false;
  OptionsSeen seen;

  for (std::size_t index = 0; index < arguments.size(); ++index) {
    const Argument& argument = arguments[index];
    const std::string& text = argument.text;
    // A lone "-" is a file name like any other.
    if (optionsEnded || text.size() < 2 || text[0] != '-') {
      options.paths.push_back(argument.path);
      continue;
    }
    if (text == "--") {
      optionsEnded = true;
      continue;
    }
    // The value of -o or -j: attached, or the next argument.
    auto takeValue = [&](std::size_t attachedAt, std::string_view name, std::string& valueText,
                         std::filesystem::path& valuePath) -> std::string {
      if (attachedAt < text.size()) {
        valueText = text.substr(attachedAt);
        valuePath = PathBehind(argument, attachedAt);
        return {};
      }
      if (index + 1 == arguments.size()) return "option '" + std::string(name) + "' needs a value";
      ++index;
      valueText = arguments[index].text;
      valuePath = arguments[index].path;
      return {};
    };
    // One option, its value taken from `valueAt` on when it takes one.
    auto readOption = [&](const OptionEntry& entry, std::size_t valueAt, std::string_view name) -> std::string {
      std::string valueText;
      std::filesystem::path valuePath;
      if (entry.takesValue) {
        if (std::string problem = takeValue(valueAt, name, valueText, valuePath); !problem.empty()) return problem;
      }
      return ApplyOption(entry.kind, valueText, valuePath, options, seen);
    };

    if (text[1] == '-') {
      const std::size_t equals = text.find('=');
      const std::string name = text.substr(0, equals);
      const OptionEntry* entry = FindLongOption(name);
      if (entry == nullptr || (equals != std::string::npos && !entry->takesValue))
        return "unknown option '" + text + "'";
      if (equals != std::string::npos && equals + 1 == text.size()) return "option '" + name + "' needs a value";
      const std::size_t valueAt = equals == std::string::npos ? text.size() : equals + 1;
      if (std::string problem = readOption(*entry, valueAt, name); !problem.empty()) return problem;
      // --help or --version ends the reading.
      if (options.showHelp || options.showVersion) return {};
      continue;
    }

    // A group of short flags; -o and -j take the rest of the group as their value.
    for (std::size_t at = 1; at < text.size(); ++at) {
      const char flag = text[at];
      const OptionEntry* entry = FindShortOption(flag);
      if (entry == nullptr) {
        if (text.size() == 2) return "unknown option '" + text + "'";
        return std::string("unknown option '-") + flag + "' in '" + text + "'";
      }
      const std::string name = std::string("-") + flag;
      if (std::string problem = readOption(*entry, at + 1, name); !problem.empty()) return problem;
      if (entry->takesValue) break;
    }
  }

  if (seen.output && seen.beside) return "-o and -b cannot be combined";
  if (seen.quiet && seen.verbose) return "-q and -v cannot be combined";
  if (seen.output && options.outputFolder.empty()) return "empty folder name";
  options.placement = seen.output   ? TargetPlacement::OutputFolder
                      : seen.beside ? TargetPlacement::Beside
                                    : TargetPlacement::Given;
  options.verbosity = seen.quiet ? Verbosity::Quiet : seen.verbose ? Verbosity::Verbose : Verbosity::Normal;

  for (const std::filesystem::path& path : options.paths) {
    if (path.empty()) return "empty file name";
  }
  if (options.placement == TargetPlacement::Given) {
    if (options.recursive) return "-r works only in a batch (with -o or -b)";
    if (seen.jobs) return "-j works only in a batch (with -o or -b)";
    if (options.paths.empty()) return "missing SOURCE";
    if (options.paths.size() > 2) return "too many arguments";
  } else if (options.paths.empty()) {
    return "missing PATH";
  }
  return {};
}

}  // namespace quarnel::cli
