#include "quarnel/target_name.h"

#include <string>

#include "quarnel/case_folding.h"

#include <gtest/gtest.h>

namespace quarnel {
namespace {

TEST(TargetNameTest, ProposesPrefixedNameInSourceFolder) {
  struct Case {
    const char* source;
    const char* expected;
  };
  const Case cases[] = {
      {"data/job.frt", "data/QZ_job.frt"},
      {"/survey/2008/job.frt", "/survey/2008/QZ_job.frt"},
      {"job.frt", "QZ_job.frt"},  // no folder: the proposal has none either
      {"/job.frt", "/QZ_job.frt"},
      {"data/job", "data/QZ_job"},          // no extension is added
      {"data/job.txt", "data/QZ_job.txt"},  // the source's extension stays
      {"my data/field job.frt", "my data/QZ_field job.frt"},
      {"../up/job.frt", "../up/QZ_job.frt"},
      {"data/QZ_job.frt", "data/QZ_QZ_job.frt"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ProposeTargetPath(c.source), std::filesystem::path(c.expected)) << c.source;
  }
}

TEST(TargetNameTest, OnlyThePlatformsSeparatorsEndTheFolder) {
  const bool backslashSeparates = std::filesystem::path::preferred_separator == '\\';
  struct Case {
    const char* source;
    const char* posix;
    const char* windows;
  };
  const Case cases[] = {
      // A Linux name may hold a backslash; on Windows it ends a folder.
      {"/home/u/a\\b.frt", "/home/u/QZ_a\\b.frt", "/home/u/a\\QZ_b.frt"},
      {"C:\\data\\job.frt", "QZ_C:\\data\\job.frt", "C:\\data\\QZ_job.frt"},
      // The folder stays as written, separators and all.
      {"C:/data/job.frt", "C:/data/QZ_job.frt", "C:/data/QZ_job.frt"},
      {"data//job.frt", "data//QZ_job.frt", "data//QZ_job.frt"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ProposeTargetPath(c.source).string(), backslashSeparates ? c.windows : c.posix) << c.source;
  }
}

TEST(TargetNameTest, NamesTooLongForTheFileSystemsAreTold) {
  const std::size_t longest = kLongestFileName - kTargetPrefix.size();
  EXPECT_EQ(TargetNameProblem("data/" + std::string(longest, 'n')), "");
  EXPECT_EQ(TargetNameProblem("data/" + std::string(longest + 1, 'n')),
            "the target's name, QZ_ and the source's name, would be longer than " + std::to_string(kLongestFileName) +
                " " + std::string(kNativeUnits));
}

TEST(TargetNameTest, TakesSourceNamesAsAFolderWalkDoes) {
  struct Case {
    const char* name;
    bool taken;
  };
  const Case cases[] = {
      {"job.frt", true},
      {"JOB.FRT", true},
      {"x.Frt", true},
      {".frt", false},  // a hidden file, with nothing before the extension
      {"a.frt.txt", false},
      {"job.frt ", false},
      {"job_frt", false},
      {".job.frt", false},
      {"QZ_job.frt", false},  // an earlier run's target, in any case
      {"qz_job.frt", false},
      {"Qz_job.frt", false},
      {"QZjob.frt", true},
      {"a\\..\\x.frt", true},  // a backslash is part of a Linux name
      {"\xc3\x9c" "bersicht.frt", true},
      {"", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsSourceName(std::string_view(c.name)), c.taken) << c.name;
    // The wide form, as Windows names come, keeps the same rule.
    const std::string narrow(c.name);
    EXPECT_EQ(IsSourceName(std::wstring(narrow.begin(), narrow.end())), c.taken) << c.name;
  }
}

TEST(TargetNameTest, ProposesTheSameNameForANameAloneAsForAPath) {
  for (const char* name : {"job.frt", "job", ""}) {
    EXPECT_EQ(ProposeTargetName(name), ProposeTargetPath(std::string("data/") + name).filename().string()) << name;
  }
  EXPECT_EQ(ProposeTargetName(L"Übersicht.frt"), L"QZ_Übersicht.frt");
}

// Names a folder that folds case takes for one file, and names it keeps apart.
TEST(TargetNameTest, FoldCaseMakesOneKeyForNamesThatDifferOnlyInCase) {
  struct Case {
    const char* first;
    const char* second;
    bool collide;
  };
  const Case cases[] = {
      {"Job.frt", "JOB.FRT", true},
      {"job.frt", "job.frt ", false},
      {"\xc3\x89tude.frt", "\xc3\xa9TUDE.FRT", true},                  // \u00c9 and \u00e9
      {"\xce\xa3\xce\x99\xce\xa3", "\xcf\x83\xce\xb9\xcf\x82", true},  // final sigma
      {"\xe2\x84\xaa.frt", "k.frt", true},                            // the Kelvin sign
      {"\xc5\xbf.frt", "S.frt", true},                                 // long s
      {"\xc4\xb1.frt", "I.frt", true},                                 // dotless i: its upper case is I
      {"\xe1\xba\x9e.frt", "\xc3\x9f.frt", true},                     // capital and small sharp s
      {"stra\xc3\x9f" "e.frt", "STRASSE.FRT", false},                  // simple folding, no expansion
      {"\xf0\x90\x90\x80", "\xf0\x90\x90\xa8", true},                  // Deseret, beyond the BMP
      {"\xff\xfe" "A.frt", "\xff\xfe" "a.frt", true},                     // bytes that are not UTF-8 stay
      {"\xc3" "A.frt", "\xc3" "a.frt", true},                          // a lone lead byte stays, the rest folds
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.first);
    EXPECT_EQ(FoldCase(c.first) == FoldCase(c.second), c.collide);
  }
}

#ifndef _WIN32
TEST(TargetNameTest, KeepsNameBytesAsTheyStand) {
  // Not valid UTF-8: the name must not pass through any conversion.
  const std::string source = "dir/\xff\xfe job.frt";
  EXPECT_EQ(ProposeTargetPath(source).native(), "dir/QZ_\xff\xfe job.frt");
}
#endif

}  // namespace
}  // namespace quarnel
