// Runs the real quarnel program and checks exit code, output and files.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <set>

#include "process_runner.h"
#include "quarnel/version.h"

namespace quarnel {
namespace {

namespace fs = std::filesystem;

const std::string kUsage =
    "Usage: quarnel [--] SOURCE [TARGET]\n"
    "       quarnel --help | --version\n";

// Reports as printed: the report text and one newline.
const std::string kCompletedPlain = "Format-File Conversion completed!\n\n\n";
const std::string kNotNecessary = "Format-File Conversion is not necessary!\n";
const std::string kInvalidInput = "Format-File Conversion failed due to invalid input!\n";
const std::string kInvalidFormatFile = "Format-File Conversion failed due to invalid format file!\n";
const std::string kUnknownError = "Format-File Conversion failed due to unknown error!\n";

std::string CompletedReport(const std::string& variables, const std::string& applications) {
  return "Format-File Conversion completed!\n\n"
         "Following variable in the file must be modified in order to obtain correct result:\n\n" +
         variables +
         "\nPlease delete the above mentioned variables from the Export Formatstrings\n"
         "CORRECTIONS section in the Brenmoor Format Manager and add them into the\n"
         "MEASUREMENT KRV section.\n\n" +
         applications +
         "\nThe application does not exist on Tessolan, thus the entry has been removed from\n"
         "the Format File .\n\n"
         "Make sure the Format File works correctly before using!\n";
}

// A small narrow file that lists nothing in its report.
const std::string kPlainSource =
    "@i1KRV110 Total Station\r\n@t1FRT test\r\n$\"Pt \"010800011;101\r\n";
const std::string kPlainConverted = "@i1QZ21/25/27\r\n@t1FRT test\r\n$\"Pt \"01080000011;00101\r\n";
const std::string kPreviousContent = "previous content, not a format file\r\n";

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const fs::path& path, const std::string& content) {
  if (path.has_parent_path()) fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << content;
}

class QuarnelCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "quarnel-cli-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    fs::create_directory(Work());
  }
  void TearDown() override { fs::remove_all(root_); }

  fs::path Work() const { return root_ / "work"; }

  // Runs quarnel in Work(); "{work}" in an argument stands for Work()'s absolute path.
  testing::ProcessResult Run(std::vector<std::string> arguments) const {
    for (std::string& argument : arguments) {
      if (const auto at = argument.find("{work}"); at != std::string::npos)
        argument.replace(at, 6, Work().string());
    }
    return testing::RunProcess(QUARNEL_EXECUTABLE, arguments, Work(), root_);
  }

  // Every file and folder under Work(), relative to it.
  std::set<std::string> WorkEntries() const {
    std::set<std::string> entries;
    for (const auto& entry : fs::recursive_directory_iterator(Work()))
      entries.insert(entry.path().lexically_relative(Work()).string());
    return entries;
  }

 private:
  fs::path root_;
};

TEST_F(QuarnelCliTest, SamplesConvertToExpectedFiles) {
  struct Case {
    const char* sample;
    int exitCode;
    std::string report;
  };
  const Case cases[] = {
      {"narrow-krv330.frt", 0,
       CompletedReport("58: Prism Constant\n51: Prism Constant, AtmosPPM\n652: EDM Type\n653: Prism Type\n"
                       "656: EDM Mode\n",
                       "120: \"Line Adjustment\" Application\n123: \"Height Transfer\" Application\n")},
      // Longer than one chunk: the second chunk must start exactly behind the first.
      {"wide-krv880.frt", 0,
       CompletedReport("51: Prism Constant, AtmosPPM\n58: Prism Constant\n653: Prism Type\n652: EDM Type\n"
                       "656: EDM Mode\n",
                       "123: \"Height Transfer\" Application\n120: \"Line Adjustment\" Application\n")},
      // No conversion: no target.
      {"other-model.frt", 3, kNotNecessary},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sample);
    const fs::path target = Work() / (std::string("QZ_") + c.sample);
    const auto result = Run({fs::path(QUARNEL_SAMPLES_DIR) / c.sample, target});
    EXPECT_EQ(result.exitCode, c.exitCode);
    EXPECT_EQ(result.out, c.report);
    EXPECT_EQ(result.err, "");
    const fs::path expected = fs::path(QUARNEL_EXPECTED_DIR) / target.filename();
    EXPECT_EQ(fs::exists(target), fs::exists(expected));
    if (fs::exists(expected)) {
      EXPECT_EQ(ReadFile(target), ReadFile(expected));
    }
  }
}

TEST_F(QuarnelCliTest, ConvertsBetweenAnyPaths) {
  struct Case {
    std::string source;  // created with kPlainSource, relative to Work()
    std::vector<std::string> arguments;
    std::string target;  // relative to Work()
  };
  const Case cases[] = {
      {"job.frt", {"job.frt"}, "QZ_job.frt"},
      {"field data/job 7.frt", {"field data/job 7.frt"}, "field data/QZ_job 7.frt"},
      {"Gel\xc3\xa4nde/\xc3\x9c" "bersicht.frt", {"Gel\xc3\xa4nde/\xc3\x9c" "bersicht.frt"},
       "Gel\xc3\xa4nde/QZ_\xc3\x9c" "bersicht.frt"},
      // Latin-1 bytes, not valid UTF-8: passed to the system as they stand.
      {"\xc9tude/r\xe9seau\xff.frt", {"\xc9tude/r\xe9seau\xff.frt"}, "\xc9tude/QZ_r\xe9seau\xff.frt"},
      {"sub/job", {"sub/../sub/job"}, "sub/QZ_job"},
      {"abs/job.frt", {"{work}/abs/job.frt"}, "abs/QZ_job.frt"},
      {"-x", {"--", "-x"}, "QZ_-x"},
      {"-", {"-"}, "QZ_-"},
      {"a b/src.frt", {"a b/src.frt", "c d/Ziel \xc3\xa4.frt"}, "c d/Ziel \xc3\xa4.frt"},
      {"\xff\xfe.frt", {"\xff\xfe.frt", "out\xe9.frt"}, "out\xe9.frt"},
      {"in/job.frt", {"{work}/in/job.frt", "../work/out/job.frt"}, "out/job.frt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target);
    WriteFile(Work() / c.source, kPlainSource);
    fs::create_directories((Work() / c.target).parent_path());
    const auto result = Run(c.arguments);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out, kCompletedPlain);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(ReadFile(Work() / c.target), kPlainConverted);
    EXPECT_EQ(ReadFile(Work() / c.source), kPlainSource);
    fs::remove(Work() / c.source);
    fs::remove(Work() / c.target);
  }
  // Nothing was left behind beside the targets (no half-written files).
  for (const std::string& entry : WorkEntries()) EXPECT_TRUE(fs::is_directory(Work() / entry)) << entry;
}

TEST_F(QuarnelCliTest, InvalidFormatFileNamesLineAndReason) {
  struct Case {
    const char* name;
    std::string source;
    std::string message;
  };
  const Case cases[] = {
      {"kind t without its tag", "@i1KRV330\r\n@l1Std\r\n@t1FMT export\r\n$\"A\"010800011;100\r\n",
       "quarnel: job.frt: line 3: header line of kind t lacks the file-type tag \"FRT\" at positions 4 to 6\n"},
      {"line longer than a chunk",
       "@i1KRV330\r\n@t1FRT\r\n$\"" + std::string(3000, 'x') + "\"010800011;100\r\n",
       "quarnel: job.frt: line 3: header or format line longer than 2047 characters\n"},
      // The "$" takes the newline as its first character and runs into the end.
      {"format line not ended", "@i1KRV330\r\n@t1FRT\r\n$\"A\"010800011;100\r\n$\r\n",
       "quarnel: job.frt: line 4: header or format line not ended before the end of the file\n"},
      {"NUL byte", std::string("@i1KRV330\r\n$\"A\"010800011;100\r\n$\"B\"01\0 9;100\r\n", 38),
       "quarnel: job.frt: line 3: NUL byte; a format file holds text only\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(Work() / "job.frt", c.source);
    const auto result = Run({"job.frt", "out.frt"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, kInvalidFormatFile);
    EXPECT_EQ(result.err, c.message);
  }
}

TEST_F(QuarnelCliTest, FileFailuresLeaveTargetUntouched) {
  WriteFile(Work() / "job.frt", kPlainSource);
  WriteFile(Work() / "out.frt", kPreviousContent);
  fs::create_directory(Work() / "jobs");
  const std::set<std::string> entriesBefore = WorkEntries();

  struct Case {
    std::vector<std::string> arguments;
    std::string report;
    std::string message;
  };
  const Case cases[] = {
      {{"missing.frt", "out.frt"}, kInvalidInput,
       "quarnel: missing.frt: cannot open the source: No such file or directory\n"},
      {{"missing.frt"}, kInvalidInput, "quarnel: missing.frt: cannot open the source: No such file or directory\n"},
      {{"job.frt", "nowhere/out.frt"}, kInvalidInput,
       "quarnel: nowhere/out.frt: cannot create the target: No such file or directory\n"},
      {{"job.frt", "jobs"}, kInvalidInput, "quarnel: jobs: the target is a folder\n"},
      {{"jobs", "out.frt"}, kInvalidInput, "quarnel: jobs: the source is a folder, not a format file\n"},
      {{"jobs"}, kInvalidInput, "quarnel: jobs: the source is a folder, not a format file\n"},
      // Devices are written directly; the write error must not pass unnoticed.
      {{"job.frt", "/dev/full"}, kUnknownError, "quarnel: /dev/full: cannot write the target: No space left on device\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments.front() + " -> " + c.arguments.back());
    const auto result = Run(c.arguments);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, c.report);
    EXPECT_EQ(result.err, c.message);
    EXPECT_EQ(ReadFile(Work() / "out.frt"), kPreviousContent);
    EXPECT_EQ(WorkEntries(), entriesBefore);
  }
}

TEST_F(QuarnelCliTest, SameFileAsSourceAndTargetIsConvertedInPlace) {
  const std::vector<std::string> targets = {"dir/f.frt", "dir/../dir/f.frt", "dir/./f.frt", "{work}/dir/f.frt",
                                            "dir/link.frt"};
  const std::string sample = ReadFile(fs::path(QUARNEL_SAMPLES_DIR) / "narrow-krv330.frt");
  const std::string expected = ReadFile(fs::path(QUARNEL_EXPECTED_DIR) / "QZ_narrow-krv330.frt");
  for (const std::string& target : targets) {
    SCOPED_TRACE(target);
    WriteFile(Work() / "dir/f.frt", sample);
    fs::remove(Work() / "dir/link.frt");
    // A link stays a link; the file it names takes the converted text.
    fs::create_symlink("f.frt", Work() / "dir/link.frt");
    const auto result = Run({"dir/f.frt", target});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(ReadFile(Work() / "dir/f.frt"), expected);
    EXPECT_TRUE(fs::is_symlink(Work() / "dir/link.frt"));
    EXPECT_EQ(WorkEntries(), (std::set<std::string>{"dir", "dir/f.frt", "dir/link.frt"}));
  }
}

TEST_F(QuarnelCliTest, OptionsAndUsageErrors) {
  struct Case {
    std::vector<std::string> arguments;
    int exitCode;
    std::string out;
    std::string err;
  };
  const Case cases[] = {
      {{}, 2, "", "quarnel: missing SOURCE\n" + kUsage},
      {{"--"}, 2, "", "quarnel: missing SOURCE\n" + kUsage},
      {{"a", "b", "c"}, 2, "", "quarnel: too many arguments\n" + kUsage},
      {{"-x", "a"}, 2, "", "quarnel: unknown option '-x'\n" + kUsage},
      // Options count after file names too, until "--".
      {{"a", "--force"}, 2, "", "quarnel: unknown option '--force'\n" + kUsage},
      {{"", "b"}, 2, "", "quarnel: empty file name\n" + kUsage},
      {{"a", ""}, 2, "", "quarnel: empty file name\n" + kUsage},
      {{"--version"}, 0, "quarnel " QUARNEL_VERSION_TEXT "\n", ""},
      {{"a", "--version", "b", "c"}, 0, "quarnel " QUARNEL_VERSION_TEXT "\n", ""},
      {{"--", "--help"}, 1, kInvalidInput, "quarnel: --help: cannot open the source: No such file or directory\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.arguments));
    const auto result = Run(c.arguments);
    EXPECT_EQ(result.exitCode, c.exitCode);
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.err, c.err);
    EXPECT_TRUE(WorkEntries().empty());
  }
}

TEST_F(QuarnelCliTest, HelpGoesToStandardOutput) {
  const auto result = Run({"job.frt", "--help"});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.out.substr(0, kUsage.size()), kUsage);
  EXPECT_NE(result.out.find("Exit status: 0 converted, 3 conversion not necessary"), std::string::npos);
  EXPECT_EQ(result.err, "");
}

}  // namespace
}  // namespace quarnel
