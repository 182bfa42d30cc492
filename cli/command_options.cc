#include "command_options.h"

#include <charconv>
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

}  // namespace

std::string ParseCommandOptions(const std::vector<Argument>& arguments, CommandOptions& options) {
  bool optionsEnded = false;
  bool jobsGiven = false;
  bool besideGiven = false;
  bool outputGiven = false;
  bool quietGiven = false;
  bool verboseGiven = false;

  for (std::size_t index = 0; index < arguments.size(); ++index) {
    const Argument& argument = arguments[index];
    const std::string& text = argument.text;
    // A lone "-" is a file name like any other.
    if (optionsEnded || text.size() < 2 || text[0] != '-') {
      options.paths.push_back(argument.path);
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

    if (text[1] == '-') {
      const std::size_t equals = text.find('=');
      const std::string name = text.substr(0, equals);
      const std::size_t valueAt = equals == std::string::npos ? text.size() : equals + 1;
      std::string valueText;
      std::filesystem::path valuePath;
      if (name == "--") {
        if (equals != std::string::npos) return "unknown option '" + text + "'";
        optionsEnded = true;
      } else if (name == "--output-dir" || name == "--jobs") {
        if (equals != std::string::npos && valueAt == text.size()) return "option '" + name + "' needs a value";
        if (std::string problem = takeValue(valueAt, name, valueText, valuePath); !problem.empty()) return problem;
        if (name == "--jobs") {
          if (std::string problem = ParseJobs(valueText, options.jobs); !problem.empty()) return problem;
          jobsGiven = true;
        } else {
          options.outputFolder = valuePath;
          outputGiven = true;
        }
      } else if (equals != std::string::npos) {
        return "unknown option '" + text + "'";
      } else if (name == "--help") {
        options.showHelp = true;
        return {};
      } else if (name == "--version") {
        options.showVersion = true;
        return {};
      } else if (name == "--beside") {
        besideGiven = true;
      } else if (name == "--recursive") {
        options.recursive = true;
      } else if (name == "--dry-run") {
        options.dryRun = true;
      } else if (name == "--json") {
        options.json = true;
      } else if (name == "--quiet") {
        quietGiven = true;
      } else if (name == "--verbose") {
        verboseGiven = true;
      } else {
        return "unknown option '" + text + "'";
      }
      continue;
    }

    // A group of short flags; -o and -j take the rest of the group as their value.
    for (std::size_t at = 1; at < text.size(); ++at) {
      const char flag = text[at];
      if (flag == 'o' || flag == 'j') {
        std::string valueText;
        std::filesystem::path valuePath;
        const std::string name = std::string("-") + flag;
        if (std::string problem = takeValue(at + 1, name, valueText, valuePath); !problem.empty()) return problem;
        if (flag == 'j') {
          if (std::string problem = ParseJobs(valueText, options.jobs); !problem.empty()) return problem;
          jobsGiven = true;
        } else {
          options.outputFolder = valuePath;
          outputGiven = true;
        }
        break;
      }
      switch (flag) {
        case 'b': besideGiven = true; break;
        case 'r': options.recursive = true; break;
        case 'n': options.dryRun = true; break;
        case 'q': quietGiven = true; break;
        case 'v': verboseGiven = true; break;
        default:
          if (text.size() == 2) return "unknown option '" + text + "'";
          return std::string("unknown option '-") + flag + "' in '" + text + "'";
      }
    }
  }

  if (outputGiven && besideGiven) return "-o and -b cannot be combined";
  if (quietGiven && verboseGiven) return "-q and -v cannot be combined";
  if (outputGiven && options.outputFolder.empty()) return "empty folder name";
  options.placement = outputGiven   ? TargetPlacement::OutputFolder
                      : besideGiven ? TargetPlacement::Beside
                                    : TargetPlacement::Given;
  options.verbosity = quietGiven ? Verbosity::Quiet : verboseGiven ? Verbosity::Verbose : Verbosity::Normal;

  for (const std::filesystem::path& path : options.paths) {
    if (path.empty()) return "empty file name";
  }
  if (options.placement == TargetPlacement::Given) {
    if (options.recursive) return "-r works only in a batch (with -o or -b)";
    if (jobsGiven) return "-j works only in a batch (with -o or -b)";
    if (options.paths.empty()) return "missing SOURCE";
    if (options.paths.size() > 2) return "too many arguments";
  } else if (options.paths.empty()) {
    return "missing PATH";
  }
  return {};
}

}  // namespace quarnel::cli
