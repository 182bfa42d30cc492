// Runs a program as its own process and collects what it printed.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace quarnel::testing {

struct ProcessResult {
  int exitCode = -1;  // -1 unless the program exited normally
  int signal = 0;     // the signal that ended the program, else 0
  std::string out;
  std::string err;
};

// Starts `program` with `arguments` (bytes, passed as they stand) in the
// folder `workDir`, waits for it and returns its exit code and output.
// `scratch` is a folder for the captured output, outside `workDir`.
ProcessResult RunProcess(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                         const std::filesystem::path& workDir, const std::filesystem::path& scratch);

// The same in two steps, for a test that acts on the program while it runs.
int StartProcess(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                 const std::filesystem::path& workDir, const std::filesystem::path& scratch);
ProcessResult FinishProcess(int processId, const std::filesystem::path& scratch);

}  // namespace quarnel::testing
