#include "quarnel_process_test.h"

#include <stdlib.h>

#include <fstream>
#include <iterator>
#include <utility>

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
  return RunBehind({}, std::move(arguments));
}

ProcessResult QuarnelProcessTest::RunBehind(const std::vector<std::string>& wrapper,
                                            std::vector<std::string> arguments) const {
  for (std::string& argument : arguments) {
    if (const auto at = argument.find("{work}"); at != std::string::npos) argument.replace(at, 6, Work().string());
  }
  if (wrapper.empty()) return RunProcess(QUARNEL_EXECUTABLE, arguments, Work(), root_);
  const fs::path copy = root_ / "bin/quarnel";
  if (!fs::exists(copy)) {
    fs::permissions(root_, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    fs::create_directory(copy.parent_path());
    fs::copy_file(QUARNEL_EXECUTABLE, copy);
  }
  std::vector<std::string> rest(wrapper.begin() + 1, wrapper.end());
  rest.push_back(copy.string());
  rest.insert(rest.end(), arguments.begin(), arguments.end());
  return RunProcess(wrapper[0], rest, Work(), root_);
}

}  // namespace quarnel::testing
