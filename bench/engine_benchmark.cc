// Throughput of the engine's conversion, counted as bytes read plus bytes
// written, for realistic files and for the shapes that stress one part of the
// walk; and the cost of converting one typical small file.
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <utility>

#include "format_file_generator.h"
#include "quarnel/conversion_file.h"

namespace {

using quarnel::bench::FileShape;

constexpr std::uint32_t kSeed = 7;
constexpr std::size_t kTypicalFileSize = 4096;

// Generated once per shape and size, outside the timed loops.
const std::string& SourceFile(FileShape shape, std::size_t bytes) {
  static std::map<std::pair<FileShape, std::size_t>, std::string> files;
  auto [entry, added] = files.try_emplace({shape, bytes});
  if (added) entry->second = quarnel::bench::GenerateFormatFile(shape, bytes, kSeed);
  return entry->second;
}

void ReportThroughput(benchmark::State& state, std::size_t read, std::size_t written) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * (read + written)));
  state.counters["growth"] = static_cast<double>(written) / static_cast<double>(read);
}

void ConvertInMemory(benchmark::State& state, FileShape shape) {
  const std::string& source = SourceFile(shape, static_cast<std::size_t>(state.range(0)));
  quarnel::ConversionState conversion;
  std::string target;
  target.reserve(5 * source.size());
  for (auto _ : state) {
    quarnel::PrepareForConversion(conversion);
    const quarnel::ConversionOutcome outcome = quarnel::ConvertFormatBytes(source, conversion, target);
    benchmark::DoNotOptimize(target.data());
    if (!quarnel::IsSuccess(outcome.result) || !conversion.m_bConversionNeeded) {
      state.SkipWithError("the generated file did not convert");
      return;
    }
  }
  ReportThroughput(state, source.size(), target.size());
}

constexpr std::int64_t kLargeFile = 1 << 20;
BENCHMARK_CAPTURE(ConvertInMemory, narrow, FileShape::Narrow)->Arg(kLargeFile);
BENCHMARK_CAPTURE(ConvertInMemory, wide, FileShape::Wide)->Arg(kLargeFile);
BENCHMARK_CAPTURE(ConvertInMemory, long_other, FileShape::LongOtherLines)->Arg(kLargeFile);
BENCHMARK_CAPTURE(ConvertInMemory, short_kind_l, FileShape::ShortKindLLines)->Arg(kLargeFile);
BENCHMARK_CAPTURE(ConvertInMemory, overlong_other, FileShape::OverlongOtherLines)->Arg(kLargeFile);
// One typical file, as users convert them: the fixed cost of a run shows here.
BENCHMARK_CAPTURE(ConvertInMemory, typical_narrow, FileShape::Narrow)->Arg(kTypicalFileSize);
BENCHMARK_CAPTURE(ConvertInMemory, typical_wide, FileShape::Wide)->Arg(kTypicalFileSize);

// The same typical file from disk to disk through ConvertFormatFile: opening,
// the new file beside the target, its sync to disk and the rename that puts it in place.
void ConvertTypicalFileOnDisk(benchmark::State& state) {
  namespace fs = std::filesystem;
  const std::string& source = SourceFile(FileShape::Narrow, kTypicalFileSize);
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  const fs::path folder = fs::temp_directory_path() / ("quarnel-bench-" + std::to_string(stamp));
  fs::create_directories(folder);
  const fs::path sourcePath = folder / "typical.frt";
  const fs::path targetPath = folder / "QZ_typical.frt";
  std::ofstream(sourcePath, std::ios::binary) << source;

  quarnel::ConversionState conversion;
  for (auto _ : state) {
    quarnel::PrepareForConversion(conversion);
    const quarnel::ConversionOutcome outcome = quarnel::ConvertFormatFile(targetPath, conversion, sourcePath);
    if (!quarnel::IsSuccess(outcome.result)) {
      state.SkipWithError("the typical file did not convert");
      break;
    }
  }
  const std::size_t written = fs::exists(targetPath) ? fs::file_size(targetPath) : 0;
  ReportThroughput(state, source.size(), written);
  fs::remove_all(folder);
}
BENCHMARK(ConvertTypicalFileOnDisk);

}  // namespace

BENCHMARK_MAIN();
