// quarnel-generate SHAPE BYTES SEED             writes one file to standard output
// quarnel-generate SHAPE BYTES SEED COUNT DIR   writes DIR/00000.frt ... with seeds SEED, SEED+1, ...
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>

#include "format_file_generator.h"

namespace {

template <typename Number>
bool ParseNumber(std::string_view text, Number& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size();
}

int Usage() {
  std::cerr << "usage: quarnel-generate SHAPE BYTES SEED [COUNT DIR]\n"
               "  SHAPE: narrow, wide, long-other, short-kind-l, overlong-other\n";
  return 2;
}

bool WriteAll(std::FILE* file, const std::string& text) {
  return std::fwrite(text.data(), 1, text.size(), file) == text.size() && std::fflush(file) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 && argc != 6) return Usage();
  const auto shape = quarnel::bench::ParseShape(argv[1]);
  std::size_t bytes = 0;
  std::uint32_t seed = 0;
  if (!shape || !ParseNumber(argv[2], bytes) || !ParseNumber(argv[3], seed)) return Usage();

  if (argc == 4) {
    if (!WriteAll(stdout, quarnel::bench::GenerateFormatFile(*shape, bytes, seed))) {
      std::perror("quarnel-generate");
      return 1;
    }
    return 0;
  }

  std::size_t count = 0;
  if (!ParseNumber(argv[4], count)) return Usage();
  const std::filesystem::path folder = argv[5];
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  for (std::size_t i = 0; i < count; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "%05zu.frt", i);
    std::ofstream file(folder / name, std::ios::binary);
    file << quarnel::bench::GenerateFormatFile(*shape, bytes, seed + static_cast<std::uint32_t>(i));
    if (!file.flush()) {
      std::cerr << "quarnel-generate: cannot write " << (folder / name).string() << '\n';
      return 1;
    }
  }
  return 0;
}
