#include "quarnel_process_test.h"

#include <stdlib.h>

#include <fstream>
#include <iterator>

namespace quarnel::testing {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const fs::path& path, const std::string& content) {
  if (path.has_parent_path()) fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << content;
}

void QuarnelProcessTest::SetUp() {
  std::string pattern = (fs::temp_directory_path() / "quarnel-cli-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  root_ = pattern;
  fs::create_directory(Work());
}

void QuarnelProcessTest::TearDown() { fs::remove_all(root_); }

ProcessResult QuarnelProcessTest::Run(std::vector<std::string> arguments) const {
  for (std::string& argument : arguments) {
    if (const auto at = argument.find("{work}"); at != std::string::npos) argument.replace(at, 6, Work().string());
  }
  return RunProcess(QUARNEL_EXECUTABLE, arguments, Work(), root_);
}

}  // namespace quarnel::testing
