// Runs a fuzz target over stored inputs without libFuzzer, so that CTest can
// replay the seed corpus and the regression inputs with any compiler (and,
// in the asan preset, under the sanitizers).
//
// Usage: <target>_replay PATH...   each PATH a file or a directory of inputs;
// files whose names begin with "." are skipped. Fails when a path is missing
// or no input was found; a broken invariant aborts inside the target.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

namespace fs = std::filesystem;

bool IsHidden(const fs::path& path) { return path.filename().string().starts_with("."); }

bool CollectInputs(const fs::path& path, std::vector<fs::path>& inputs) {
  std::error_code error;
  if (fs::is_directory(path, error)) {
    std::vector<fs::path> found;
    for (const fs::directory_entry& entry : fs::directory_iterator(path, error)) {
      if (entry.is_regular_file() && !IsHidden(entry.path())) found.push_back(entry.path());
    }
    std::sort(found.begin(), found.end());
    inputs.insert(inputs.end(), found.begin(), found.end());
    return !error;
  }
  if (fs::is_regular_file(path, error)) {
    inputs.push_back(path);
    return true;
  }
  std::fprintf(stderr, "no such input file or directory: %s\n", path.string().c_str());
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<fs::path> inputs;
  bool pathsFound = true;
  for (int i = 1; i < argc; ++i) pathsFound = CollectInputs(argv[i], inputs) && pathsFound;
  if (!pathsFound) return 2;
  if (inputs.empty()) {
    std::fprintf(stderr, "no inputs to replay\n");
    return 2;
  }

  for (const fs::path& input : inputs) {
    std::ifstream file(input, std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    if (!file.good() && !file.eof()) {
      std::fprintf(stderr, "cannot read %s\n", input.string().c_str());
      return 2;
    }
    std::printf("replaying %s (%zu bytes)\n", input.string().c_str(), bytes.size());
    std::fflush(stdout);
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  }
  std::printf("%zu inputs replayed\n", inputs.size());
  return 0;
}
