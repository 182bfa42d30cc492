#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "quarnel/conversion_file.h"
#include "quarnel/conversion_report.h"
#include "quarnel/staged_target.h"

namespace quarnel {
namespace {
namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

const std::string kSource = "@i1KRV330\r\n$\"P\"123456051;100;120\r\n";
const std::string kConverted = "@i1QZ21/25/27\r\n$\"P\"12345060051;00107;\r\n";

class ConversionFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() /
              ("quarnel-file-test-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(folder_);
    fs::create_directories(folder_);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::permissions(folder_, fs::perms::all, ignored);
    fs::remove_all(folder_, ignored);
  }
  // Nothing but the expected files: no temporary file left behind.
  std::size_t FilesInFolder() const {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()));
  }
  fs::path folder_;
};

TEST_F(ConversionFileTest, ConvertsAndReports) {
  WriteFile(folder_ / "job.frt", kSource);
  ConversionState state;
  const ConversionOutcome outcome = ConvertFormatFile(folder_ / "QZ_job.frt", state, folder_ / "job.frt");
  const std::wstring shown = ComposeReport(outcome.result, state);
  EXPECT_EQ(ReadFile(folder_ / "QZ_job.frt"), kConverted);
  EXPECT_EQ(ReadFile(folder_ / "job.frt"), kSource);
  EXPECT_NE(shown.find(L"51: Prism Constant, AtmosPPM\n"), std::wstring::npos);
  EXPECT_NE(shown.find(L"120: \"Line Adjustment\" Application\n"), std::wstring::npos);
  EXPECT_EQ(FilesInFolder(), 2u);
}

TEST_F(ConversionFileTest, SameFileByTwoPaths) {
  fs::create_directories(folder_ / "sub");
  WriteFile(folder_ / "job.frt", kSource);
  ConversionState state;
  const ConversionOutcome outcome =
      ConvertFormatFile(folder_ / "sub" / ".." / "job.frt", state, folder_ / "job.frt");
  EXPECT_EQ(outcome.result, ResultIncompleteLine);
  EXPECT_EQ(ReadFile(folder_ / "job.frt"), kConverted);
  EXPECT_EQ(FilesInFolder(), 2u);
}

TEST_F(ConversionFileTest, FailuresToOpenLeaveTheTargetAlone) {
  WriteFile(folder_ / "old.frt", "previous");
  WriteFile(folder_ / "job.frt", kSource);
  fs::create_directories(folder_ / "folder");
  struct Case {
    const char* name;
    fs::path source, target;
    ConversionResult result;
    FileFailure failure;
  };
  const Case cases[] = {
      {"missing source", folder_ / "missing.frt", folder_ / "old.frt", ResultInvalidInput, FileFailure::OpenSource},
      {"target folder missing", folder_ / "job.frt", folder_ / "none" / "t.frt", ResultInvalidInput,
       FileFailure::OpenTarget},
      {"target is a folder", folder_ / "job.frt", folder_ / "folder", ResultInvalidInput,
       FileFailure::TargetIsFolder},
      {"source is a folder", folder_ / "folder", folder_ / "old.frt", ResultInvalidInput,
       FileFailure::SourceIsFolder},
  };
  for (const Case& c : cases) {
    ConversionState state;
    const ConversionOutcome outcome = ConvertFormatFile(c.target, state, c.source);
    EXPECT_EQ(outcome.result, c.result) << c.name;
    EXPECT_EQ(outcome.fileFailure, c.failure) << c.name;
    EXPECT_FALSE(outcome.systemMessage.empty()) << c.name;
    EXPECT_EQ(ReadFile(folder_ / "old.frt"), "previous") << c.name;
    EXPECT_EQ(FilesInFolder(), 3u) << c.name;
  }
}

TEST_F(ConversionFileTest, BytesBehindTheEndMarkerAfterCarriageReturnsAcrossReads) {
  // The file is read in pieces of a power of two. A lone CR in front of a CR
  // LF pair stands at 4, 16, 64 and 256 KB, where the first piece of that size
  // ends; the second one ends among plain lines.
  std::string source;
  while (source.size() < (1u << 20)) source += "abcdefg\n";
  for (int power = 12; power <= 18; power += 2) source.replace((std::size_t{1} << power) - 1, 3, "\r\r\n");
  source += "\xFFtail";
  WriteFile(folder_ / "job.frt", source);
  ConversionState state;
  const ConversionOutcome outcome = ConvertFormatFile(folder_ / "QZ_job.frt", state, folder_ / "job.frt");
  EXPECT_EQ(outcome.result, ResultEndMarker);
  EXPECT_EQ(outcome.bytesBehindEndMarker, 4u);
}

TEST_F(ConversionFileTest, NamesOfAnyBytes) {
  const fs::path source = folder_ / "Messpunkte \xC3\xBC und \xFF.frt";
  WriteFile(source, kSource);
  ConversionState state;
  EXPECT_EQ(ConvertFormatFile(folder_ / "QZ_\xE9.frt", state, source).result, ResultIncompleteLine);
  EXPECT_EQ(ReadFile(folder_ / "QZ_\xE9.frt"), kConverted);
}

#ifndef _WIN32
TEST_F(ConversionFileTest, FullDeviceIsAFailure) {
  WriteFile(folder_ / "job.frt", kSource);
  ConversionState state;
  const ConversionOutcome outcome = ConvertFormatFile("/dev/full", state, folder_ / "job.frt");
  EXPECT_EQ(outcome.result, ResultFileError);
  EXPECT_EQ(outcome.fileFailure, FileFailure::WriteTarget);
  EXPECT_EQ(outcome.systemMessage, "No space left on device");
}

TEST_F(ConversionFileTest, ReplacedTargetKeepsItsPermissions) {
  WriteFile(folder_ / "job.frt", kSource);
  WriteFile(folder_ / "t.frt", "previous");
  fs::permissions(folder_ / "t.frt", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  ConversionState state;
  ConvertFormatFile(folder_ / "t.frt", state, folder_ / "job.frt");
  EXPECT_EQ(ReadFile(folder_ / "t.frt"), kConverted);
  EXPECT_EQ(fs::status(folder_ / "t.frt").permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}
#endif

// The steps a caller converting many files takes: write all, one sync, then
// the renames. Until the commit nothing changes; uncommitted files vanish.
TEST_F(ConversionFileTest, StagedTargetsShareOneCommit) {
  WriteFile(folder_ / "old.frt", "previous");
  {
    StagedTarget existing, fresh, dropped;
    ASSERT_TRUE(existing.Open(folder_ / "old.frt"));
    ASSERT_TRUE(fresh.Open(folder_ / "new.frt"));
    ASSERT_TRUE(dropped.Open(folder_ / "dropped.frt"));
    for (StagedTarget* target : {&existing, &fresh, &dropped}) {
      ASSERT_FALSE(target->Sink().Write("converted", 9).error);
      ASSERT_TRUE(target->Finish(true));
    }
    EXPECT_EQ(ReadFile(folder_ / "old.frt"), "previous");
#ifdef __linux__
    EXPECT_EQ(FilesInFolder(), 1u);  // the temporary files have no name before their commit
#else
    EXPECT_EQ(FilesInFolder(), 4u);  // the old target and three named temporary files
#endif
    EXPECT_EQ(CommitStagedTargets({&existing, &fresh}), 2u);
  }
  EXPECT_EQ(ReadFile(folder_ / "old.frt"), "converted");
  EXPECT_EQ(ReadFile(folder_ / "new.frt"), "converted");
  EXPECT_EQ(FilesInFolder(), 2u);
}

// A staged conversion changes nothing until its commit; a checked one never
// writes, yet finds what the file conversion finds.
TEST_F(ConversionFileTest, StagedConversionWaitsAndCheckedConversionWritesNothing) {
  WriteFile(folder_ / "job.frt", kSource);
  WriteFile(folder_ / "utf16.frt", "\xff\xfe@\0i\0");
  WriteFile(folder_ / "QZ_job.frt", "previous");
  {
    StagedTarget staged;
    ConversionState state;
    EXPECT_TRUE(IsSuccess(StageFormatFile(folder_ / "QZ_job.frt", state, folder_ / "job.frt", staged).result));
    ASSERT_TRUE(staged.Finish(true));
    EXPECT_EQ(ReadFile(folder_ / "QZ_job.frt"), "previous");
    EXPECT_EQ(CommitStagedTargets({&staged}), 1u);
  }
  EXPECT_EQ(ReadFile(folder_ / "QZ_job.frt"), kConverted);

  ConversionState checked;
  EXPECT_TRUE(IsSuccess(CheckFormatFile(checked, folder_ / "job.frt").result));
  EXPECT_EQ(ListLength(checked.m_aFlaggedVariables), 1u);
  const ConversionOutcome utf16 = CheckFormatFile(checked, folder_ / "utf16.frt");
  EXPECT_EQ(utf16.formatFailure, FormatFailure::Utf16Text);
  EXPECT_EQ(CheckFormatFile(checked, folder_).fileFailure, FileFailure::SourceIsFolder);
  EXPECT_EQ(FilesInFolder(), 3u);
}

#ifdef _WIN32
// A file with the read-only attribute is not replaced, as the system's own
// copy refuses it. (Root on POSIX may write any file, so only Windows shows this here.)
TEST_F(ConversionFileTest, ReadOnlyAttributeIsRefused) {
  WriteFile(folder_ / "job.frt", kSource);
  WriteFile(folder_ / "t.frt", "previous");
  fs::permissions(folder_ / "t.frt", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  ConversionState state;
  const ConversionOutcome outcome = ConvertFormatFile(folder_ / "t.frt", state, folder_ / "job.frt");
  EXPECT_EQ(outcome.result, ResultInvalidInput);
  EXPECT_EQ(outcome.fileFailure, FileFailure::TargetReadOnly);
  EXPECT_EQ(ReadFile(folder_ / "t.frt"), "previous");
  EXPECT_EQ(FilesInFolder(), 2u);
  // Windows would refuse to remove the folder with the file in it.
  fs::permissions(folder_ / "t.frt", fs::perms::owner_all);
}
#endif

}  // namespace
}  // namespace quarnel
