// Runs the real quarnel program and checks exit code, output and files.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <set>

#include "quarnel_process_test.h"
#include "quarnel/version.h"

namespace quarnel {
namespace {

namespace fs = std::filesystem;

const std::string kUsage =
    "Usage: quarnel [OPTIONS] SOURCE [TARGET]\n"
    "       quarnel [OPTIONS] -o DIR PATH...\n"
    "       quarnel [OPTIONS] -b PATH...\n"
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

// What the sample of another model is told on standard error.
const std::string kOtherModelNote =
    "quarnel: job.frt: the model line names \"TS9200\", not KRV110, KRV330, KRV440 or KRV880\n";

const std::string kPreviousContent = "previous content, not a format file\r\n";

using testing::kPlainConverted;
using testing::kPlainSource;
using testing::ReadFile;
using testing::WriteFile;

class QuarnelCliTest : public testing::QuarnelProcessTest {
 protected:

  // Every file and folder under Work(), relative to it.
  std::set<std::string> WorkEntries() const {
    std::set<std::string> entries;
    for (const auto& entry : fs::recursive_directory_iterator(Work()))
      entries.insert(entry.path().lexically_relative(Work()).string());
    return entries;
  }
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
    EXPECT_EQ(result.err, c.exitCode == 3 ? "quarnel: " + (fs::path(QUARNEL_SAMPLES_DIR) / c.sample).string() +
                                                ": the model line names \"TS9200\", not KRV110, KRV330, KRV440 or KRV880\n"
                                          : "");
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
      // The next line never lends a kind-t line its tag.
      {"kind t ending at position 3", "@i1KRV330\r\n@t\r\nFRT\r\n$\"A\"010800011;100\r\n",
       "quarnel: job.frt: line 2: header line of kind t lacks the file-type tag \"FRT\" at positions 4 to 6\n"},
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
      // Control characters in names reach the terminal escaped.
      {{"\x1b[31m.frt", "out.frt"}, kInvalidInput,
       "quarnel: \\x1b[31m.frt: cannot open the source: No such file or directory\n"},
      // So are a bare C1 byte (CSI to an 8-bit terminal), the line separators
      // and a backslash that would make "\x0a" pass for an escaped newline;
      // a C1 byte inside a character ("\xc3\x85") is no control.
      {{"a\\x0a\x9b[2J\xe2\x80\xa8\xe2\x80\xa9\xc3\x85.frt", "out.frt"}, kInvalidInput,
       "quarnel: a\\x5cx0a\\x9b[2J\\xe2\\x80\\xa8\\xe2\\x80\\xa9\xc3\x85.frt: cannot open the source: No such file "
       "or directory\n"},
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

// Two names on the command line are a source and its target: a target that
// holds an instrument's own file is kept unless --force says otherwise.
TEST_F(QuarnelCliTest, TargetsQuarnelDidNotWriteAreKept) {
  struct Case {
    const char* name;
    std::vector<std::string> arguments;
    std::string target;  // the content of the target, b.frt or QZ_a.frt, before the run
    int exitCode;
    std::string err;  // "" when the target takes the conversion
  };
  const Case cases[] = {
      {"an original", {"a.frt", "b.frt"}, "@i1KRV880 mine\r\n$1\r\n", 2,
       "quarnel: b.frt: not replaced: its model line names \"KRV880\", so Quarnel did not write it\n"
       "quarnel: to convert several files, use -b; to replace it anyway, use --force\n"},
      {"another instrument's file", {"a.frt", "b.frt"}, "x\n@i TS9200\n", 2,
       "quarnel: b.frt: not replaced: its model line names \"TS9200\", so Quarnel did not write it\n"
       "quarnel: to convert several files, use -b; to replace it anyway, use --force\n"},
      // A model line that ends early names what it holds, escaped as names are.
      {"a short model line", {"a.frt", "b.frt"}, "@i1K\x1b\r\n", 2,
       "quarnel: b.frt: not replaced: its model line names \"K\\x1b\", so Quarnel did not write it\n"
       "quarnel: to convert several files, use -b; to replace it anyway, use --force\n"},
      {"the proposed target", {"a.frt"}, "@i1KRV330\n", 2,
       "quarnel: QZ_a.frt: not replaced: its model line names \"KRV330\", so Quarnel did not write it\n"
       "quarnel: to replace it anyway, use --force\n"},
      {"a dry run foresees it", {"-n", "a.frt", "b.frt"}, "@i1KRV330\n", 2,
       "quarnel: b.frt: not replaced: its model line names \"KRV330\", so Quarnel did not write it\n"
       "quarnel: to convert several files, use -b; to replace it anyway, use --force\n"},
      {"forced", {"--force", "a.frt", "b.frt"}, "@i1KRV880\r\n", 0, ""},
      {"forced, short", {"a.frt", "-f", "QZ_a.frt"}, "@i1TS9200\r\n", 0, ""},
      {"an earlier conversion", {"a.frt", "b.frt"}, kPlainConverted, 0, ""},
      {"an empty file", {"a.frt", "b.frt"}, "", 0, ""},
      {"no model line", {"a.frt", "b.frt"}, kPreviousContent, 0, ""},
      // Only the first 64 KB are looked at.
      {"model line too far in", {"a.frt", "b.frt"}, std::string(64 * 1024, 'x') + "\n@i1KRV330\n", 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(Work() / "a.frt", kPlainSource);
    const fs::path target = Work() / (c.arguments.size() == 1 ? "QZ_a.frt" : c.arguments.back());
    WriteFile(target, c.target);
    const auto result = Run(c.arguments);
    EXPECT_EQ(result.exitCode, c.exitCode);
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(ReadFile(target), c.err.empty() && c.arguments.front() != "-n" ? kPlainConverted : c.target);
    EXPECT_EQ(ReadFile(Work() / "a.frt"), kPlainSource);
    fs::remove(target);
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
      {{"a", "--frobnicate"}, 2, "", "quarnel: unknown option '--frobnicate'\n" + kUsage},
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

// Every run that is not a completed conversion leaves an earlier target, or
// the source converted onto itself, byte for byte as it was, and no temporary
// file behind.
TEST_F(QuarnelCliTest, UnsuccessfulRunsLeaveTheTargetAsItWas) {
  const std::string sample = ReadFile(fs::path(QUARNEL_SAMPLES_DIR) / "narrow-krv330.frt");
  const std::string otherModel = ReadFile(fs::path(QUARNEL_SAMPLES_DIR) / "other-model.frt");
  struct Case {
    const char* name;
    std::string source;
    bool inPlace;
    int exitCode;
    std::string report;
    std::string message;
  };
  const Case cases[] = {
      {"invalid line after good ones", sample + std::string("$\"x\"1\0\r\n", 8) + sample, false, 1,
       kInvalidFormatFile, "quarnel: job.frt: line 21: NUL byte; a format file holds text only\n"},
      {"invalid line, in place", sample + std::string("$\"x\"1\0\r\n", 8) + sample, true, 1, kInvalidFormatFile,
       "quarnel: job.frt: line 21: NUL byte; a format file holds text only\n"},
      {"another model", otherModel, false, 3, kNotNecessary, kOtherModelNote},
      {"another model, in place", otherModel, true, 3, kNotNecessary, kOtherModelNote},
      {"UTF-16 little-endian", std::string("\xff\xfe@\0i\0", 6), true, 1, kInvalidFormatFile,
       "quarnel: job.frt: line 1: UTF-16 text, not a single-byte format file\n"},
      {"UTF-16 big-endian", std::string("\xfe\xff\0@\0i", 6), false, 1, kInvalidFormatFile,
       "quarnel: job.frt: line 1: UTF-16 text, not a single-byte format file\n"},
      // A stray 0xFF in a comment would cut the only copy short.
      {"end marker with text behind, in place", kPlainSource + "note \xff\r\n" + kPlainSource, true, 1,
       kInvalidFormatFile,
       "quarnel: job.frt: line 4: end marker (byte 0xFF) with more text behind it; converting in place would "
       "drop that text: convert to another file\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(Work() / "job.frt", c.source);
    WriteFile(Work() / "out.frt", kPreviousContent);
    fs::permissions(Work() / "out.frt", fs::perms::owner_read | fs::perms::owner_write);
    const auto result = Run({"job.frt", c.inPlace ? "job.frt" : "out.frt"});
    EXPECT_EQ(result.exitCode, c.exitCode);
    EXPECT_EQ(result.out, c.report);
    EXPECT_EQ(result.err, c.message);
    EXPECT_EQ(ReadFile(Work() / "job.frt"), c.source);
    EXPECT_EQ(ReadFile(Work() / "out.frt"), kPreviousContent);
    EXPECT_EQ(fs::status(Work() / "out.frt").permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(WorkEntries(), (std::set<std::string>{"job.frt", "out.frt"}));
  }
}

TEST_F(QuarnelCliTest, CompletedRunsTellWhatTheEndMarkerLeftOutAndAMissingModelLine) {
  struct Case {
    const char* name;
    std::string source;
    std::string message;
    std::string converted = kPlainConverted;
  };
  const std::string noModel = "quarnel: job.frt: no model line; is this a format file?\n";
  const Case cases[] = {
      {"text behind the marker", kPlainSource + "note \xff\r\nrest\r\n",
       "quarnel: job.frt: line 4: end marker (byte 0xFF); the 8 bytes behind it were not converted\n"},
      {"marker at the very end", kPlainSource + "\xff", ""},
      // Converted as the format's rules say, but likely not what was meant.
      {"plain text", "hello\r\n", noModel, "hello\r\n"},
      {"empty file", "", noModel, ""},
      {"model line behind the end marker", "$\"A\";\r\n\xff@i1KRV110\r\n",
       noModel + "quarnel: job.frt: line 2: end marker (byte 0xFF); the 11 bytes behind it were not converted\n",
       "$\"A\";\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(Work() / "job.frt", c.source);
    const auto result = Run({"job.frt", "out.frt"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out, kCompletedPlain);
    EXPECT_EQ(result.err, c.message);
    EXPECT_EQ(ReadFile(Work() / "out.frt").substr(0, c.converted.size()), c.converted);
  }
}

// A stream is read no further than its end marker, however much follows it.
TEST_F(QuarnelCliTest, StreamSourceEndsAtItsEndMarker) {
  WriteFile(Work() / "job.frt", kPlainSource + "\xff");
  const auto result = testing::RunProcess(
      "/bin/sh", {"-c", "(cat job.frt; yes) | timeout 60 \"$0\" /dev/stdin out.frt", QUARNEL_EXECUTABLE}, Work(),
      Root());
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.err,
            "quarnel: /dev/stdin: line 4: end marker (byte 0xFF); text may follow it, which was not read or "
            "converted\n");
  EXPECT_EQ(ReadFile(Work() / "out.frt"), kPlainConverted);
}

TEST_F(QuarnelCliTest, LongNames) {
  const std::string name252 = std::string(248, 'n') + ".frt";
  const std::string name253 = std::string(249, 'n') + ".frt";
  const std::string name255 = std::string(251, 't') + ".frt";
  struct Case {
    std::vector<std::string> arguments;
    int exitCode;
    std::string target;  // created, or "" for none
    std::string message;
  };
  const Case cases[] = {
      {{name252, name255}, 0, name255, ""},
      // QZ_ and 252 bytes make the longest name a folder can hold.
      {{name252}, 0, "QZ_" + name252, ""},
      {{name253}, 1, "",
       "quarnel: " + name253 + ": the target's name, QZ_ and the source's name, would be longer than 255 bytes; "
       "give a TARGET\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments.size());
    WriteFile(Work() / c.arguments[0], kPlainSource);
    const auto result = Run(c.arguments);
    EXPECT_EQ(result.exitCode, c.exitCode);
    EXPECT_EQ(result.out, c.exitCode == 0 ? kCompletedPlain : kInvalidInput);
    EXPECT_EQ(result.err, c.message);
    if (!c.target.empty()) {
      EXPECT_EQ(ReadFile(Work() / c.target), kPlainConverted);
    }
    EXPECT_EQ(WorkEntries().size(), c.target.empty() ? 1u : 2u);
    fs::remove_all(Work());
    fs::create_directory(Work());
  }
}

TEST_F(QuarnelCliTest, ReportThatCannotBeWritten) {
  WriteFile(Work() / "job.frt", kPlainSource);
  struct Case {
    std::string redirect;
    int exitCode;
    std::string message;
  };
  const Case cases[] = {
      {"job.frt out.frt >/dev/full", 4, "quarnel: out.frt: converted, but the report could not be written: No space left on device\n"},
      // Nothing was converted into a file: the output was all there was.
      {"-n job.frt >/dev/full", 4,
       "quarnel: QZ_job.frt: dry run: nothing written\n"
       "quarnel: cannot write to standard output: No space left on device\n"},
      {"--version >/dev/full", 4, "quarnel: cannot write to standard output: No space left on device\n"},
      {"--help >/dev/full", 4, "quarnel: cannot write to standard output: No space left on device\n"},
      // A failed run says so by its own status; its target is as it was.
      {"missing.frt out.frt >/dev/full", 1,
       "quarnel: missing.frt: cannot open the source: No such file or directory\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.redirect);
    const auto result =
        testing::RunProcess("/bin/sh", {"-c", std::string("exec \"$0\" ") + c.redirect, QUARNEL_EXECUTABLE},
                            Work(), Root());
    EXPECT_EQ(result.exitCode, c.exitCode);
    EXPECT_EQ(result.err, c.message);
  }
  EXPECT_EQ(ReadFile(Work() / "out.frt"), kPlainConverted);
}

// The run waits on a pipe that holds part of the source when the signal comes.
TEST_F(QuarnelCliTest, SignalsRemoveTheTemporaryFile) {
  const std::string sample = ReadFile(fs::path(QUARNEL_SAMPLES_DIR) / "wide-krv880.frt");
  for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signalNumber);
    WriteFile(Work() / "out.frt", kPreviousContent);
    ASSERT_EQ(mkfifo((Work() / "job.frt").c_str(), 0600), 0);
    const int child = testing::StartProcess(QUARNEL_EXECUTABLE, {"job.frt", "out.frt"}, Work(), Root());
    const int pipe = open((Work() / "job.frt").c_str(), O_WRONLY);
    ASSERT_GE(pipe, 0);
    ASSERT_EQ(write(pipe, sample.data(), 1000), 1000);
    // The temporary file, unnamed, is open before the first read.
    const fs::path descriptors = "/proc/" + std::to_string(child) + "/fd";
    for (bool open = false; !open; usleep(1000)) {
      std::error_code error;
      for (const auto& entry : fs::directory_iterator(descriptors, error)) {
        const std::string link = fs::read_symlink(entry.path(), error).native();
        if (link.find(Work().native()) == 0 && link.find("(deleted)") != std::string::npos) open = true;
      }
    }
    kill(child, signalNumber);
    // The signal is pending before the end of the source can be seen.
    close(pipe);
    const auto result = testing::FinishProcess(child, Root());
    EXPECT_EQ(result.signal, signalNumber);
    EXPECT_EQ(ReadFile(Work() / "out.frt"), kPreviousContent);
    EXPECT_EQ(WorkEntries(), (std::set<std::string>{"job.frt", "out.frt"}));
    fs::remove(Work() / "job.frt");
  }
}

TEST_F(QuarnelCliTest, NonRegularTargetsAreWrittenAsStreams) {
  WriteFile(Work() / "job.frt", kPlainSource);
  const auto result = Run({"job.frt", "/dev/null"});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.out, kCompletedPlain);
  EXPECT_TRUE(fs::is_character_file("/dev/null"));

  // Into a pipe: the converted text, and nothing of a file for another model.
  WriteFile(Work() / "other.frt", ReadFile(fs::path(QUARNEL_SAMPLES_DIR) / "other-model.frt"));
  for (const auto& [source, streamed] : {std::pair<std::string, std::string>{"job.frt", kPlainConverted},
                                         std::pair<std::string, std::string>{"other.frt", ""}}) {
    SCOPED_TRACE(source);
    const auto piped = testing::RunProcess(
        "/bin/sh", {"-c", "\"$0\" \"$1\" /dev/fd/3 3>&1 >report | cat >streamed", QUARNEL_EXECUTABLE, source},
        Work(), Root());
    EXPECT_EQ(piped.exitCode, 0);
    EXPECT_EQ(ReadFile(Work() / "streamed"), streamed);
  }
}

// A link to nothing or a loop is no target to write through.
TEST_F(QuarnelCliTest, BrokenLinksAreRefused) {
  WriteFile(Work() / "job.frt", kPlainSource);
  fs::create_symlink("missing.frt", Work() / "dangling.frt");
  fs::create_symlink("loop-b.frt", Work() / "loop-a.frt");
  fs::create_symlink("loop-a.frt", Work() / "loop-b.frt");
  const std::set<std::string> before = WorkEntries();
  struct Case {
    std::string target;
    std::string message;
  };
  const Case cases[] = {
      {"dangling.frt", "quarnel: dangling.frt: the target is a link to a file that does not exist\n"},
      {"loop-a.frt", "quarnel: loop-a.frt: the target's links never end at a file\n"},
  };
  for (const Case& c : cases) {
    const auto result = Run({"job.frt", c.target});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, kInvalidInput);
    EXPECT_EQ(result.err, c.message);
    EXPECT_EQ(WorkEntries(), before);
    EXPECT_EQ(fs::read_symlink(Work() / c.target).string().substr(0, 4), c.target.substr(0, 4) == "dang" ? "miss" : "loop");
  }
}

// Root converting into other users' files: they keep owner, group and mode,
// less the setuid and setgid bits; a new file gets 0666 less the umask.
TEST_F(QuarnelCliTest, FinalOwnerAndModeAsRoot) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  WriteFile(Work() / "job.frt", kPlainSource);
  struct Case {
    const char* target;
    bool exists;
    uid_t owner;
    gid_t group;
    mode_t mode;
    mode_t expectedMode;
  };
  const Case cases[] = {
      {"user.frt", true, 4321, 4322, 0640, 0640},
      {"setuid.frt", true, 0, 0, 06755, 0755},
      {"new.frt", false, 0, 0, 0, 0640},  // under umask 027
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target);
    const fs::path target = Work() / c.target;
    if (c.exists) {
      WriteFile(target, kPreviousContent);
      ASSERT_EQ(chown(target.c_str(), c.owner, c.group), 0);
      ASSERT_EQ(chmod(target.c_str(), c.mode), 0);
    }
    const auto result = testing::RunProcess(
        "/bin/sh", {"-c", std::string("umask 027; exec \"$0\" job.frt ") + c.target, QUARNEL_EXECUTABLE}, Work(),
        Root());
    EXPECT_EQ(result.exitCode, 0);
    struct stat info {};
    ASSERT_EQ(stat(target.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, c.owner);
    EXPECT_EQ(info.st_gid, c.group);
    EXPECT_EQ(info.st_mode & 07777, c.expectedMode);
    EXPECT_EQ(ReadFile(target), kPlainConverted);
  }
}

// An ordinary user (CI runs as root, so privileges are dropped to a fixed
// uid) in a shared sticky folder: another user's link is not followed
// anywhere in the target's path, not even inside that user's own folder
// where the kernel's rule does not look; the user's own and root's are
// followed, and a read-only file is refused.
TEST_F(QuarnelCliTest, OrdinaryUserInASharedFolder) {
  if (geteuid() != 0 || !fs::exists("/usr/bin/setpriv")) GTEST_SKIP() << "needs root and setpriv";
  constexpr uid_t kUser = 4321;
  constexpr uid_t kOther = 4333;
  // The program is copied where the user can reach it: the build may sit under a private home.
  fs::permissions(Root(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
  fs::create_directory(Root() / "bin");
  fs::copy_file(QUARNEL_EXECUTABLE, Root() / "bin/quarnel");
  ASSERT_EQ(chmod(Work().c_str(), 01777), 0);
  WriteFile(Work() / "job.frt", kPlainSource);
  ASSERT_EQ(chmod((Work() / "job.frt").c_str(), 0644), 0);
  for (const char* file : {"victim.frt", "mine.frt", "readonly.frt", "writeonly.frt"}) {
    WriteFile(Work() / file, kPreviousContent);
    ASSERT_EQ(chown((Work() / file).c_str(), file[0] == 'v' ? 0 : kUser, file[0] == 'v' ? 0 : kUser), 0);
    ASSERT_EQ(chmod((Work() / file).c_str(), file[0] == 'r' ? 0444 : file[0] == 'w' ? 0200 : 0644), 0);
  }
  fs::create_symlink("victim.frt", Work() / "planted.frt");
  ASSERT_EQ(lchown((Work() / "planted.frt").c_str(), kOther, kOther), 0);
  fs::create_symlink("mine.frt", Work() / "my-link.frt");
  ASSERT_EQ(lchown((Work() / "my-link.frt").c_str(), kUser, kUser), 0);
  fs::create_directory(Work() / "other");
  fs::create_symlink("../mine.frt", Work() / "other/QZ_x.frt");
  ASSERT_EQ(lchown((Work() / "other/QZ_x.frt").c_str(), kOther, kOther), 0);
  ASSERT_EQ(chown((Work() / "other").c_str(), kOther, kOther), 0);
  fs::create_symlink(".", Work() / "via");
  ASSERT_EQ(lchown((Work() / "via").c_str(), kOther, kOther), 0);
  fs::create_symlink(".", Work() / "root-via");
  const std::string notFollowed = " belongs to user 4333, not to you or root; it is not followed\n";

  struct Case {
    const char* target;
    int exitCode;
    std::string message;
    const char* changed;  // the file that takes the converted text, or nullptr
    const char* option = nullptr;
  };
  const Case cases[] = {
      // Whether the user's own file is one Quarnel wrote cannot be told.
      {"writeonly.frt", 2,
       "quarnel: writeonly.frt: not replaced: it cannot be read to tell whether Quarnel wrote it: Permission denied\n"
       "quarnel: to convert several files, use -b; to replace it anyway, use --force\n",
       nullptr},
      {"writeonly.frt", 0, "", "writeonly.frt", "--force"},
      {"planted.frt", 1, "quarnel: planted.frt: the link planted.frt" + notFollowed, nullptr},
      {"other/QZ_x.frt", 1, "quarnel: other/QZ_x.frt: the link other/QZ_x.frt" + notFollowed, nullptr},
      {"via/mine.frt", 1, "quarnel: via/mine.frt: the link via" + notFollowed, nullptr},
      {"readonly.frt", 1, "quarnel: readonly.frt: the target is read-only\n", nullptr},
      {"my-link.frt", 0, "", "mine.frt"},
      {"root-via/mine.frt", 0, "", "mine.frt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target);
    const auto result = testing::RunProcess(
        "/usr/bin/setpriv",
        {"--reuid=" + std::to_string(kUser), "--regid=" + std::to_string(kUser), "--clear-groups",
         (Root() / "bin/quarnel").string(), c.option ? c.option : "--", "job.frt", c.target},
        Work(), Root());
    EXPECT_EQ(result.exitCode, c.exitCode);
    EXPECT_EQ(result.err, c.message);
    for (const char* file : {"victim.frt", "mine.frt", "readonly.frt", "writeonly.frt"})
      EXPECT_EQ(ReadFile(Work() / file), c.changed && std::string(c.changed) == file ? kPlainConverted
                                                                                      : kPreviousContent)
          << file;
    EXPECT_TRUE(fs::is_symlink(Work() / "my-link.frt"));
    WriteFile(Work() / "mine.frt", kPreviousContent);
    WriteFile(Work() / "writeonly.frt", kPreviousContent);
  }
}


// A new target is never readable by more than its source (as with cp), and
// its owner may always replace it on the next run.
TEST_F(QuarnelCliTest, NewTargetIsNoWiderThanItsSource) {
  struct Case {
    mode_t source;
    const char* umask;
    mode_t target;
  };
  const Case cases[] = {{0600, "022", 0600}, {0444, "022", 0644}, {0640, "002", 0640}, {0666, "027", 0640}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    WriteFile(Work() / "job.frt", kPlainSource);
    ASSERT_EQ(chmod((Work() / "job.frt").c_str(), c.source), 0);
    const auto result = testing::RunProcess(
        "/bin/sh", {"-c", std::string("umask ") + c.umask + "; exec \"$0\" job.frt new.frt", QUARNEL_EXECUTABLE},
        Work(), Root());
    EXPECT_EQ(result.exitCode, 0);
    struct stat info {};
    ASSERT_EQ(stat((Work() / "new.frt").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, c.target);
    fs::remove(Work() / "new.frt");
    fs::remove(Work() / "job.frt");
  }
}

// A replaced target keeps its POSIX ACL (user 4321 may read and write it),
// not only the mode that shows the ACL's mask.
TEST_F(QuarnelCliTest, ReplacedTargetKeepsItsAcl) {
  WriteFile(Work() / "job.frt", kPlainSource);
  const fs::path target = Work() / "shared.frt";
  WriteFile(target, kPreviousContent);
  ASSERT_EQ(chmod(target.c_str(), 0660), 0);
  // The attribute's form: a version, then (tag, permissions, id) per entry in
  // tag order: owner, user 4321, group, mask, others.
  struct Entry {
    std::uint16_t tag, permissions;
    std::uint32_t id;
  };
  const Entry entries[] = {{0x01, 6, ~0u}, {0x02, 6, 4321}, {0x04, 4, ~0u}, {0x10, 6, ~0u}, {0x20, 0, ~0u}};
  std::string acl(4, '\0');
  acl[0] = 2;
  for (const Entry& entry : entries) acl.append(reinterpret_cast<const char*>(&entry), sizeof entry);
  if (setxattr(target.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) != 0)
    GTEST_SKIP() << "no POSIX ACLs here: " << std::strerror(errno);

  const auto result = Run({"job.frt", "shared.frt"});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(ReadFile(target), kPlainConverted);
  std::string kept(acl.size() + 16, '\0');
  const ssize_t length = getxattr(target.c_str(), "system.posix_acl_access", kept.data(), kept.size());
  EXPECT_EQ(length < 0 ? std::string() : kept.substr(0, static_cast<std::size_t>(length)), acl);
  struct stat info {};
  ASSERT_EQ(stat(target.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0660);
}

// Calls failed on purpose through strace: a write that a signal cut short is
// tried again; a file system that cannot be synced fails every file of the
// batch with its message, and is synced once per group of files, not once
// per file (the four files here fall into fewer groups than four).
TEST_F(QuarnelCliTest, InjectedFaults) {
  if (!fs::exists("/usr/bin/strace")) GTEST_SKIP() << "needs strace";
  // LeakSanitizer cannot run under ptrace: a sanitized program under strace checks no leaks.
  setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
  const std::vector<std::string> batch = {"f1.frt", "f2.frt", "f3.frt", "f4.frt"};
  std::string batchFailed;
  for (const std::string& name : batch) {
    WriteFile(Work() / name, kPlainSource);
    batchFailed += name + " -> QZ_" + name + ": unknown error: cannot write the target: Input/output error\n";
  }
  std::vector<std::string> batchArguments = {"-b", "-j", "2"};
  batchArguments.insert(batchArguments.end(), batch.begin(), batch.end());
  struct Case {
    std::vector<std::string> arguments;
    std::string injection;
    int exitCode;
    std::string out;
    const char* converted;  // the target that must hold the converted text, or nullptr
  };
  const Case cases[] = {
      {{"job.frt", "out.frt"}, "write:error=EINTR:when=1+2", 0, kCompletedPlain, "out.frt"},
      {{"-b", "job.frt"}, "write:error=EINTR:when=1+2", 0,
       "job.frt -> QZ_job.frt: converted, 0 variables to move, 0 applications removed\n", "QZ_job.frt"},
      {batchArguments, "syncfs:error=EIO", 1, batchFailed, nullptr},
  };
  WriteFile(Work() / "job.frt", kPlainSource);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.injection);
    const std::string call = c.injection.substr(0, c.injection.find(':'));
    std::vector<std::string> arguments = {"-qq", "-o", (Root() / "strace.log").string(), "-e", "trace=" + call,
                                          "-e", "inject=" + c.injection, QUARNEL_EXECUTABLE};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    const auto result = testing::RunProcess("/usr/bin/strace", arguments, Work(), Root());
    EXPECT_EQ(result.exitCode, c.exitCode);
    EXPECT_EQ(result.out, c.out);
    if (c.converted != nullptr) {
      EXPECT_EQ(ReadFile(Work() / c.converted), kPlainConverted);
    }
    const std::string log = ReadFile(Root() / "strace.log");
    if (call == "syncfs") {
      EXPECT_LT(std::count(log.begin(), log.end(), '\n'), static_cast<long>(batch.size())) << log;
    }
    fs::remove(Work() / "out.frt");
    fs::remove(Work() / "QZ_job.frt");
  }
}

// Where the file system has no modes (FAT and exFAT through FUSE refuse
// fchmod), a replacement keeps the mode it was made with (the temporary
// file's 0600) as long as that grants nothing the old target's lacked.
TEST_F(QuarnelCliTest, ReplacementWithoutModesGrantsNoMoreThanTheOldTarget) {
  if (!fs::exists("/usr/bin/strace")) GTEST_SKIP() << "needs strace";
  setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
  struct Case {
    const char* injection;
    mode_t oldMode;
    std::string err;  // empty: converted
  };
  const Case cases[] = {
      {"fchmod:error=ENOSYS", 0644, ""},
      {"fchmod:error=EPERM", 0600, ""},
      {"fchmod:error=EOPNOTSUPP", 0660, ""},
      // Its owner could read the replacement, not the old target.
      {"fchmod:error=ENOSYS", 0200, "quarnel: out.frt: cannot write the target: Function not implemented\n"},
      // A failure that is not a missing feature fails as it always did.
      {"fchmod:error=EIO", 0644, "quarnel: out.frt: cannot write the target: Input/output error\n"},
  };
  WriteFile(Work() / "job.frt", kPlainSource);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.injection) + " " + std::to_string(c.oldMode));
    WriteFile(Work() / "out.frt", kPreviousContent);
    ASSERT_EQ(chmod((Work() / "out.frt").c_str(), c.oldMode), 0);
    const auto result = testing::RunProcess(
        "/usr/bin/strace",
        {"-qq", "-o", "/dev/null", "-e", "trace=fchmod", "-e", std::string("inject=") + c.injection,
         QUARNEL_EXECUTABLE, "-q", "job.frt", "out.frt"},
        Work(), Root());
    EXPECT_EQ(result.exitCode, c.err.empty() ? 0 : 1);
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(ReadFile(Work() / "out.frt"), c.err.empty() ? kPlainConverted : kPreviousContent);
    struct stat info {};
    ASSERT_EQ(stat((Work() / "out.frt").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, c.err.empty() ? 0600 : c.oldMode);
    EXPECT_EQ(WorkEntries(), (std::set<std::string>{"job.frt", "out.frt"}));
  }
}

// A target that was new when the run looked is committed without replacing
// a file that appeared since (made here while strace holds the sync of the
// converted text back): by renameat2's RENAME_NOREPLACE, by a hard link where
// the file system lacks that, by a look just before the rename where it has
// neither (FUSE drivers of memory cards).
TEST_F(QuarnelCliTest, NewTargetDoesNotReplaceAFileThatAppearedSince) {
  if (!fs::exists("/usr/bin/strace")) GTEST_SKIP() << "needs strace";
  setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
  const std::vector<std::string> noRename = {"-e", "inject=renameat2:error=EINVAL"};
  // The first link names the unnamed temporary file; the second would be the target's.
  const std::vector<std::string> noLink = {"-e", "inject=renameat2:error=EINVAL", "-e",
                                           "inject=linkat:error=EPERM:when=2+"};
  struct Case {
    const char* name;
    std::vector<std::string> injections;
    bool appears;
  };
  const Case cases[] = {
      {"rename without replacing", {}, false},
      {"rename without replacing, a file appears", {}, true},
      {"hard link", noRename, false},
      {"hard link, a file appears", noRename, true},
      {"look before the rename", noLink, false},
      {"look before the rename, a file appears", noLink, true},
  };
  WriteFile(Work() / "job.frt", kPlainSource);
  const fs::path log = Root() / "strace.log";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> arguments = {"-qq", "-o", log.string(), "-e", "trace=fsync,renameat2,linkat"};
    arguments.insert(arguments.end(), c.injections.begin(), c.injections.end());
    if (c.appears) arguments.insert(arguments.end(), {"-e", "inject=fsync:delay_exit=2000000:when=1"});
    arguments.insert(arguments.end(), {QUARNEL_EXECUTABLE, "-q", "job.frt", "new.frt"});
    const int process = testing::StartProcess("/usr/bin/strace", arguments, Work(), Root());
    if (c.appears) {
      for (int wait = 0; wait < 3000 && ReadFile(log).find("(DELAYED)") == std::string::npos; ++wait) usleep(10000);
      WriteFile(Work() / "new.frt", kPreviousContent);
    }
    const auto result = testing::FinishProcess(process, Root());
    EXPECT_EQ(result.exitCode, c.appears ? 1 : 0);
    EXPECT_EQ(result.err,
              c.appears ? "quarnel: new.frt: cannot replace the target with the converted file: File exists\n" : "");
    EXPECT_EQ(ReadFile(Work() / "new.frt"), c.appears ? kPreviousContent : kPlainConverted);
    EXPECT_EQ(WorkEntries(), (std::set<std::string>{"job.frt", "new.frt"}));
    fs::remove(Work() / "new.frt");
  }
}

// A FIFO in a shared folder swapped for a link to a root-only file between
// the check and the open (the check's return held back by strace while the
// swap is made) must not lead root's write to that file.
TEST_F(QuarnelCliTest, StreamTargetSwappedForALinkIsRefused) {
  if (geteuid() != 0 || !fs::exists("/usr/bin/strace")) GTEST_SKIP() << "needs root and strace";
  // LeakSanitizer cannot run under ptrace: a sanitized program under strace checks no leaks.
  setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
  // The kernel's own rule would refuse this link; the program must not need it.
  const char* const kSetting = "/proc/sys/fs/protected_symlinks";
  const std::string setting = ReadFile(kSetting);
  {
    std::ofstream off(kSetting);
    if (!(off << "0\n" << std::flush)) GTEST_SKIP() << "cannot set " << kSetting;
  }
  struct Restore {
    const char* path;
    std::string value;
    ~Restore() { std::ofstream(path) << value; }
  } restore{kSetting, setting};

  ASSERT_EQ(chmod(Work().c_str(), 01777), 0);
  WriteFile(Work() / "job.frt", kPlainSource);
  const fs::path secret = Root() / "secret";
  WriteFile(secret, kPreviousContent);
  ASSERT_EQ(chmod(secret.c_str(), 0600), 0);
  ASSERT_EQ(mkfifo((Work() / "pipe.frt").c_str(), 0666), 0);
  ASSERT_EQ(chown((Work() / "pipe.frt").c_str(), 4333, 4333), 0);
  // Holding the FIFO open for reading lets the writer's open go through.
  const int reader = open((Work() / "pipe.frt").c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);

  // A first run finds the last look at the name before it is opened for writing.
  const fs::path log = Root() / "strace.log";
  const auto traced = [&](const std::string& trace, const std::string& injection) {
    std::vector<std::string> arguments = {"-qq", "-o", log.string(), "-e", "trace=" + trace};
    if (!injection.empty()) arguments.insert(arguments.end(), {"-e", "inject=" + injection});
    arguments.insert(arguments.end(), {QUARNEL_EXECUTABLE, "job.frt", "pipe.frt"});
    return arguments;
  };
  ASSERT_EQ(testing::RunProcess("/usr/bin/strace", traced("openat,newfstatat", ""), Work(), Root()).exitCode, 0);
  std::map<std::string, int> calls;
  std::string checkCall;
  int checkNumber = 0;
  std::istringstream lines(ReadFile(log));
  for (std::string line; std::getline(lines, line);) {
    const std::string call = line.substr(0, line.find('('));
    ++calls[call];
    if (line.find("\"pipe.frt\"") == std::string::npos) continue;
    if (line.find("O_WRONLY") != std::string::npos) break;
    checkCall = call;
    checkNumber = calls[call];
  }
  ASSERT_FALSE(checkCall.empty());

  fs::create_symlink(secret, Work() / "swap");
  ASSERT_EQ(lchown((Work() / "swap").c_str(), 4333, 4333), 0);
  const int process = testing::StartProcess(
      "/usr/bin/strace",
      traced(checkCall, checkCall + ":delay_exit=2000000:when=" + std::to_string(checkNumber)), Work(), Root());
  // strace logs the call as it holds its return back.
  for (int wait = 0; wait < 3000 && ReadFile(log).find("(DELAYED)") == std::string::npos; ++wait) usleep(10000);
  fs::rename(Work() / "swap", Work() / "pipe.frt");
  const auto result = testing::FinishProcess(process, Root());
  close(reader);
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.err, "quarnel: pipe.frt: the target was replaced while it was opened; it is not written\n");
  EXPECT_EQ(ReadFile(secret), kPreviousContent);
}

}  // namespace
}  // namespace quarnel
