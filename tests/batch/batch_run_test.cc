#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "process_runner.h"
#include "quarnel/batch/batch_csv.h"
#include "quarnel/batch/batch_run.h"
#include "quarnel/target_prefix.h"

namespace quarnel::batch {
namespace {
namespace fs = std::filesystem;

constexpr char kConvertible[] = "@i KRV110\n$\"A\";120\n";
constexpr char kOriginal[] = "@i KRV880\n$\"B\";12000\n";

class BatchRunTest : public ::testing::Test {
 public:
  BatchRunTest() {
    folder = fs::temp_directory_path() / ("quarnel-batch-" + std::to_string(std::random_device{}()) + "-" +
                                          ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder);
    fs::create_directories(folder / "jobs");
  }
  ~BatchRunTest() override { fs::remove_all(folder); }

  fs::path Write(const fs::path& relative, const std::string& bytes) {
    fs::create_directories((folder / relative).parent_path());
    std::ofstream(folder / relative, std::ios::binary) << bytes;
    return folder / relative;
  }
  static std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static fs::path TargetOf(const fs::path& source) {
    return source.parent_path() / (std::string(kTargetPrefix) + source.filename().string());
  }
  // Every name below the folder, relative to it.
  std::set<std::string> Names() const {
    std::set<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
      names.insert(entry.path().lexically_relative(folder).string());
    return names;
  }

  fs::path folder;
};

TEST_F(BatchRunTest, StopsBeforeWritingWhenThePlanOrATargetForbidsIt) {
  struct Case {
    const char* name;
    std::function<BatchOptions(BatchRunTest&)> options;
    BatchEnd end;
  };
  const Case cases[] = {
      {"two sources, one target in the output folder",
       [](BatchRunTest& t) {
         BatchOptions o;
         o.paths = {t.Write("jobs/a.frt", kConvertible), t.Write("other/a.frt", kConvertible)};
         o.placement = TargetPlacement::OutputFolder;
         o.outputFolder = t.folder / "out";
         return o;
       },
       BatchEnd::Refused},
      {"an original where a target goes",
       [](BatchRunTest& t) {
         BatchOptions o;
         o.paths = {t.Write("jobs/a.frt", kConvertible), t.Write("jobs/b.frt", kConvertible)};
         t.Write("jobs/QZ_b.frt", kOriginal);
         o.placement = TargetPlacement::Beside;
         return o;
       },
       BatchEnd::ForeignTargets},
      {"an output folder that is a file",
       [](BatchRunTest& t) {
         BatchOptions o;
         o.paths = {t.Write("jobs/a.frt", kConvertible)};
         o.placement = TargetPlacement::OutputFolder;
         o.outputFolder = t.Write("out", "");
         return o;
       },
       BatchEnd::FolderFailed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(folder);
    const BatchOptions options = c.options(*this);
    const std::set<std::string> before = Names();
    std::size_t records = 0;
    BatchCallbacks callbacks;
    callbacks.onRecord = [&](const FileRecord&) { ++records; };
    const BatchOutcome outcome = RunBatch(options, callbacks, CancelToken{});
    EXPECT_EQ(outcome.end, c.end);
    EXPECT_EQ(records, 0u);
    EXPECT_EQ(Names(), before) << "nothing was written";
  }
  // The same original with force: replaced.
  BatchOptions forced;
  forced.paths = {folder / "jobs/a.frt", Write("jobs/b.frt", kConvertible)};
  Write("jobs/QZ_b.frt", kOriginal);
  forced.force = true;
  const BatchOutcome outcome = RunBatch(forced, {}, CancelToken{});
  EXPECT_EQ(outcome.end, BatchEnd::Finished);
  EXPECT_NE(Read(folder / "jobs/QZ_b.frt"), kOriginal);
  ASSERT_EQ(outcome.counts.converted, 2u);
}

// Wherever the cancel comes, only whole targets of reported files exist.
TEST_F(BatchRunTest, CancelKeepsTheReportedTargetsAndNothingElse) {
  constexpr std::size_t kFiles = 40;
  struct Case {
    const char* name;
    bool onPlanned;
    std::size_t atRecord;    // cancel when this record is handed over; kFiles: never there
    bool onProgress;
  };
  const Case cases[] = {
      {"before the first file", true, kFiles, false},
      {"at the first record", false, 0, false},
      {"in the middle", false, kFiles / 2, false},
      {"at the first progress", false, kFiles, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(folder);
    BatchOptions options;
    for (std::size_t i = 0; i < kFiles; ++i)
      options.paths.push_back(Write("jobs/f" + std::to_string(100 + i) + ".frt", kConvertible));
    options.jobs = 2;
    CancelToken cancel;
    std::set<fs::path> reported;
    BatchCallbacks callbacks;
    callbacks.onPlanned = [&](std::size_t) {
      if (c.onPlanned) cancel.Cancel();
    };
    callbacks.onRecord = [&](const FileRecord& record) {
      EXPECT_EQ(record.index, reported.size()) << "records come in the sources' order";
      reported.insert(record.file.target);
      if (record.index == c.atRecord) cancel.Cancel();
    };
    callbacks.onProgress = [&](std::size_t, std::size_t) {
      if (c.onProgress) cancel.Cancel();
    };
    const BatchOutcome outcome = RunBatch(options, callbacks, cancel);
    if (c.onPlanned) {
      EXPECT_EQ(outcome.end, BatchEnd::Cancelled);
      EXPECT_TRUE(reported.empty());
    }
    EXPECT_EQ(outcome.counts.converted, reported.size());
    std::set<std::string> expected;
    for (const fs::path& source : options.paths) {
      expected.insert(source.lexically_relative(folder).string());
      if (reported.count(TargetOf(source)) != 0) {
        expected.insert(TargetOf(source).lexically_relative(folder).string());
        EXPECT_EQ(Read(TargetOf(source)), "@i QZ21/25/27\r\n$\"A\";\r\n");
      }
    }
    expected.insert("jobs");
    EXPECT_EQ(Names(), expected) << "no other target and no temporary file";
  }
}

// The dialogs save what the library records; the command line must print the same.
TEST_F(BatchRunTest, RecordsEqualTheCommandLinesOnTheSameSources) {
  struct Case {
    const char* name;
    std::string bytes;
  };
  const Case cases[] = {
      {"convertible.frt", kConvertible},
      {"no-conversion-needed.frt", "@i TS9200\n"},
      {"no-model-line.frt", "$\"A\";51,58,652\n"},
      {"quote \"and, comma\".frt", kConvertible},
      {"not-a-format-file.frt", std::string("@i KRV110\n") + std::string(3000, 'x') + "\n"},
  };
  for (const Case& c : cases) Write(fs::path("jobs") / c.name, c.bytes);
  Write("jobs/sub/deeper.frt", kConvertible);

  BatchOptions options;
  options.paths = {folder / "jobs"};
  options.recursive = true;
  options.dryRun = true;
  std::string csv = FormatCsvHeader();
  BatchCallbacks callbacks;
  callbacks.onRecord = [&](const FileRecord& record) {
    csv += FormatCsvRow(record.file.source, record.Target(), record.conversion);
  };
  const BatchOutcome outcome = RunBatch(options, callbacks, CancelToken{});
  ASSERT_EQ(outcome.end, BatchEnd::Finished);
  EXPECT_EQ(outcome.total, std::size(cases) + 1);

  const fs::path scratch = folder.string() + "-out";
  fs::create_directories(scratch);
  const testing::ProcessResult cli = testing::RunProcess(
      QUARNEL_EXECUTABLE, {"-n", "--csv", "-r", "-b", (folder / "jobs").string()}, folder, scratch);
  fs::remove_all(scratch);
  EXPECT_EQ(cli.out, csv);
  // The model column says what a file that needs no conversion names.
  EXPECT_NE(csv.find(",not-necessary,TS9200,"), std::string::npos) << csv;
}

}  // namespace
}  // namespace quarnel::batch
