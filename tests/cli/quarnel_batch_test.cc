// Runs the real quarnel program in batch mode (-o, -b) and checks its exit
// code, output, records and files.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <thread>

#include "json_reader.h"
#include "quarnel/folder_tree.h"
#include "quarnel_process_test.h"

namespace quarnel {
namespace {

namespace fs = std::filesystem;
using testing::JsonValue;
using testing::kPlainConverted;
using testing::kPlainSource;
using testing::ParseJson;
using testing::ReadFile;
using testing::WriteFile;

const std::string kOldTarget = "an earlier target\r\n";
const std::string kPlainLine = ": converted, 0 variables to move, 0 applications removed\n";

std::string Sample(const std::string& name) { return ReadFile(fs::path(QUARNEL_SAMPLES_DIR) / name); }

// The summary's time varies from run to run.
std::string WithoutTime(const std::string& text) {
  return std::regex_replace(text, std::regex(" in [0-9]+\\.[0-9]+ s"), " in T s");
}

std::vector<JsonValue> ParseRecords(const std::string& out) {
  std::vector<JsonValue> records;
  std::size_t at = 0;
  while (at < out.size()) {
    const std::size_t end = out.find('\n', at);
    if (end == std::string::npos) throw std::runtime_error("record without its newline");
    records.push_back(ParseJson(std::string_view(out).substr(at, end - at)));
    at = end + 1;
  }
  return records;
}

class QuarnelBatchTest : public testing::QuarnelProcessTest {
 protected:

  // Every file under Work() with its content; folders with "/".
  std::map<std::string, std::string> WorkTree() const {
    std::map<std::string, std::string> tree;
    for (const auto& entry : fs::recursive_directory_iterator(Work())) {
      const std::string name = entry.path().lexically_relative(Work()).string();
      if (entry.is_symlink()) {
        tree[name] = "-> " + fs::read_symlink(entry.path()).string();
      } else if (entry.is_directory()) {
        tree[name + "/"] = "";
      } else if (entry.is_regular_file()) {
        tree[name] = ReadFile(entry.path());
      } else {
        tree[name] = "(special)";
      }
    }
    return tree;
  }

  // A folder of sources that the walk must choose from and order.
  void MakeJobs() const {
    for (const char* name : {"jobs/b.frt", "jobs/A.FRT", "jobs/c.Frt", "jobs/sub-z.frt", "jobs/sub/d.frt",
                             "jobs/x.frt/y.frt", "jobs/QZ_a.frt", "jobs/qz_b.frt", "jobs/.hidden.frt",
                             "jobs/.git/e.frt", "jobs/notes.txt", "jobs/frt", "jobs/sub/.frt"})
      WriteFile(Work() / name, kPlainSource);
    fs::create_directory_symlink("sub", Work() / "jobs/link");
    ASSERT_EQ(mkfifo((Work() / "jobs/pipe.frt").c_str(), 0600), 0);
  }
};

std::string Lines(const std::vector<std::string>& pairs) {
  std::string text;
  for (const std::string& pair : pairs) text += pair + kPlainLine;
  return text;
}

TEST_F(QuarnelBatchTest, FolderWalkChoosesAndOrdersSources) {
  MakeJobs();
  struct Case {
    std::vector<std::string> arguments;
    std::string out;
  };
  const Case cases[] = {
      // Byte order: capitals first; "-" (2D) before "/" (2F). QZ_ in any case,
      // dot names, other extensions, links to folders and pipes are skipped.
      {{"-n", "-b", "jobs"},
       Lines({"jobs/A.FRT -> jobs/QZ_A.FRT", "jobs/b.frt -> jobs/QZ_b.frt", "jobs/c.Frt -> jobs/QZ_c.Frt",
              "jobs/sub-z.frt -> jobs/QZ_sub-z.frt"})},
      {{"-n", "-r", "-o", "out", "jobs/"},
       Lines({"jobs/A.FRT -> out/QZ_A.FRT", "jobs/b.frt -> out/QZ_b.frt", "jobs/c.Frt -> out/QZ_c.Frt",
              "jobs/sub-z.frt -> out/QZ_sub-z.frt", "jobs/sub/d.frt -> out/sub/QZ_d.frt",
              "jobs/x.frt/y.frt -> out/x.frt/QZ_y.frt"})},
      // Named one by one, any name is converted; the same file twice only once.
      {{"-n", "-b", "jobs/QZ_a.frt", "jobs/notes.txt", "jobs/sub/../c.Frt", "jobs"},
       Lines({"jobs/QZ_a.frt -> jobs/QZ_QZ_a.frt", "jobs/notes.txt -> jobs/QZ_notes.txt",
              "jobs/sub/../c.Frt -> jobs/sub/../QZ_c.Frt", "jobs/A.FRT -> jobs/QZ_A.FRT",
              "jobs/b.frt -> jobs/QZ_b.frt", "jobs/sub-z.frt -> jobs/QZ_sub-z.frt"})},
  };
  const auto before = WorkTree();
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.arguments));
    const auto result = Run(c.arguments);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out, c.out);
    const auto files = std::count(c.out.begin(), c.out.end(), '\n');
    EXPECT_EQ(WithoutTime(result.err),
              std::to_string(files) + " converted, 0 not necessary, 0 failed in T s (dry run: nothing written)\n");
    // -n writes nothing, not even the output folder.
    EXPECT_EQ(WorkTree(), before);
  }
}

// Setting privileges aside: an ordinary user, for whom permissions count.
constexpr uid_t kUser = 4321;
const std::vector<std::string> kAsUser = {"/usr/bin/setpriv", "--reuid=4321", "--regid=4321", "--clear-groups"};

bool CanRunAsUser() { return geteuid() == 0 && fs::exists(kAsUser[0]); }

// A name whose kind the walk cannot learn is a failure, never a silent skip.
TEST_F(QuarnelBatchTest, NamesThatCannotBeReadAreFailures) {
  // LeakSanitizer cannot run under ptrace: a sanitized program under strace checks no leaks.
  setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
  // A folder the user may list but not search.
  WriteFile(Work() / "locked/sub/c.frt", kPlainSource);
  WriteFile(Work() / "locked/sub/notes.txt", kPlainSource);
  ASSERT_EQ(chown((Work() / "locked").c_str(), kUser, kUser), 0);
  ASSERT_EQ(chown((Work() / "locked/sub").c_str(), kUser, kUser), 0);
  ASSERT_EQ(chmod((Work() / "locked/sub").c_str(), 0600), 0);
  // Folders nested past the 4096 bytes a path may have, made one below the other.
  std::string deep = "deep";
  fs::create_directory(Work() / deep);
  int folder = open((Work() / deep).c_str(), O_RDONLY | O_DIRECTORY);
  for (int i = 0; i < 17; ++i) {
    const std::string name(250, 'd');
    deep += "/" + name;
    ASSERT_EQ(mkdirat(folder, name.c_str(), 0755), 0);
    const int below = openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY);
    close(folder);
    folder = below;
  }
  close(openat(folder, "e.frt", O_WRONLY | O_CREAT, 0644));
  close(folder);
  // A failing disk: stat of one name fails. strace matches the path as given:
  // the walk looks at a name in its folder.
  const std::string disk = (Work() / "disk").string();
  WriteFile(disk + "/a.frt", kPlainSource);
  WriteFile(disk + "/b.frt", kPlainSource);
  const std::vector<std::string> failingStat = {"/usr/bin/strace", "-f", "-qq", "-o", "/dev/null", "-P",
                                                "b.frt", "-e", "trace=%%stat", "-e",
                                                "inject=%%stat:error=EIO"};
  struct Case {
    std::vector<std::string> wrapper;
    std::string path;
    std::string out;
    std::size_t converted;
  };
  const Case cases[] = {
      {kAsUser, "locked", "locked/sub/c.frt: invalid input: cannot read the folder entry: Permission denied\n", 0},
      {{}, "deep", deep + ": invalid input: cannot read the folder entry: File name too long\n", 0},
      {failingStat, disk,
       disk + "/a.frt -> " + disk + "/QZ_a.frt" + kPlainLine + disk +
           "/b.frt: invalid input: cannot read the folder entry: Input/output error\n",
       1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    if (!c.wrapper.empty() && !fs::exists(c.wrapper[0])) continue;
    if (c.wrapper == kAsUser && !CanRunAsUser()) continue;
    const auto result = RunBehind(c.wrapper, {"-n", "-r", "-b", c.path});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(WithoutTime(result.err), std::to_string(c.converted) +
                                           " converted, 0 not necessary, 1 failed in T s (dry run: nothing written)\n");
  }
  // Too deep for the paths that remove_all takes.
  EXPECT_EQ(testing::RunProcess("/bin/rm", {"-rf", "deep"}, Work(), Root()).exitCode, 0);
}

TEST_F(QuarnelBatchTest, OutputFolderIsMadeFirstAndRemovedWhenLeftEmpty) {
  WriteFile(Work() / "jobs/a.frt", kPlainSource);
  WriteFile(Work() / "jobs/sub/bad.frt", "@i1KRV330\r\n@t1XYZ\r\n");
  fs::create_directory(Work() / "shut");
  ASSERT_EQ(chmod(Work().c_str(), 0755), 0);
  const std::string nothing = "quarnel: nothing was converted\n";
  struct Case {
    bool asUser;
    std::vector<std::string> arguments;
    int exitCode;
    std::string err;  // the summary's time left out
    std::vector<std::string> made;  // what the run leaves below Work()
  };
  const Case cases[] = {
      // Nothing converted: the folders made are gone again.
      {false, {"-q", "-o", "new/deeper", "missing.frt"}, 1,
       "missing.frt -> new/deeper/QZ_missing.frt: invalid input: cannot open the source: No such file or "
       "directory\n0 converted, 0 not necessary, 1 failed in T s\n",
       {}},
      {false, {"-q", "-r", "-o", "out", "jobs"}, 1,
       "jobs/sub/bad.frt -> out/sub/QZ_bad.frt: invalid format file: line 2: header line of kind t lacks the "
       "file-type tag \"FRT\" at positions 4 to 6\n1 converted, 0 not necessary, 1 failed in T s\n",
       {"out/", "out/QZ_a.frt"}},
      // One message, not one per file, and nothing written.
      {true, {"-o", "shut/out", "jobs"}, 2, "quarnel: cannot create the folder shut/out: Permission denied\n" + nothing,
       {}},
      {true, {"-o", "shut", "jobs"}, 2, "quarnel: cannot write into the folder shut: Permission denied\n" + nothing,
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.arguments));
    if (c.asUser && !CanRunAsUser()) continue;
    const auto before = WorkTree();
    const auto result = RunBehind(c.asUser ? kAsUser : std::vector<std::string>{}, c.arguments);
    EXPECT_EQ(result.exitCode, c.exitCode);
    EXPECT_EQ(WithoutTime(result.err), c.err);
    std::vector<std::string> made;
    for (const auto& [name, content] : WorkTree()) {
      if (before.count(name) == 0) made.push_back(name);
    }
    EXPECT_EQ(made, c.made);
    fs::remove_all(Work() / "out");
  }
}

TEST_F(QuarnelBatchTest, OutputFolderMirrorsTheFolders) {
  MakeJobs();
  WriteFile(Work() / "out/sub/QZ_d.frt", kOldTarget);
  const auto result = Run({"-r", "-o", "out", "jobs"});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(WithoutTime(result.err), "6 converted, 0 not necessary, 0 failed in T s\n");
  std::map<std::string, std::string> out;
  for (const auto& [name, content] : WorkTree()) {
    if (name.rfind("out/", 0) == 0) out[name] = content;
  }
  const std::map<std::string, std::string> expected = {
      {"out/", ""}, {"out/QZ_A.FRT", kPlainConverted}, {"out/QZ_b.frt", kPlainConverted},      {"out/QZ_c.Frt", kPlainConverted},
      {"out/QZ_sub-z.frt", kPlainConverted}, {"out/sub/", ""},                    {"out/sub/QZ_d.frt", kPlainConverted},
      {"out/x.frt/", ""},                    {"out/x.frt/QZ_y.frt", kPlainConverted},
  };
  EXPECT_EQ(out, expected);
}

// Root walking a user's folder follows only root's links to files: another
// user's link (here to a file only root may read) is a failure naming it.
TEST_F(QuarnelBatchTest, FolderWalkFollowsOnlyTrustedLinks) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  WriteFile(Work() / "jobs/a.frt", kPlainSource);
  WriteFile(Work() / "b.frt", kPlainSource);
  WriteFile(Root() / "key.frt", kPlainSource);
  ASSERT_EQ(chmod((Root() / "key.frt").c_str(), 0600), 0);
  fs::create_symlink(Root() / "key.frt", Work() / "jobs/key.frt");
  ASSERT_EQ(lchown((Work() / "jobs/key.frt").c_str(), 4333, 4333), 0);
  fs::create_symlink("../b.frt", Work() / "jobs/root.frt");
  const auto result = Run({"-o", "out", "jobs"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.out, "jobs/a.frt -> out/QZ_a.frt" + kPlainLine +
                            "jobs/key.frt: invalid input: the link belongs to user 4333, not to you or root; it is "
                            "not followed\n"
                            "jobs/root.frt -> out/QZ_root.frt" + kPlainLine);
  EXPECT_FALSE(fs::exists(Work() / "out/QZ_key.frt"));
}

// Another user's swaps while root's batch runs, strace holding one call of
// the batch until they are made: a file swapped for a link to root's file or
// for a FIFO after the walk is a failure naming it (never read, never a
// hang); a sub-folder swapped for a link to root's folder still gives the
// file the walk listed. The -o folders are made only where root checked
// them, never through the user's link, and only a folder root made is
// removed, even where the user has put another in its place.
TEST_F(QuarnelBatchTest, SwapsByAnotherUserNeverLeadRootElsewhere) {
  if (!CanRunAsUser() || !fs::exists("/usr/bin/strace")) GTEST_SKIP() << "needs root, setpriv and strace";
  // LeakSanitizer cannot run under ptrace: a sanitized program under strace checks no leaks.
  setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
  const std::string secretText = "@i1KRV330\r\nroot's own\r\n";
  WriteFile(Root() / "secret/key.frt", secretText);
  WriteFile(Root() / "secret/c.frt", secretText);
  ASSERT_EQ(chmod((Root() / "secret").c_str(), 0700), 0);
  fs::create_directory(Root() / "victim");
  fs::create_directory(Root() / "swap");
  fs::permissions(Root(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
  const std::string secret = (Root() / "secret").string();
  const std::string replaced = ": invalid input: the source was replaced after its folder was read; it is not read\n";
  struct Case {
    std::vector<std::string> files;  // the user's: sources, "DIR/" folders, "LINK>TEXT" links
    std::string held;                // the call strace holds, "" for none
    std::string swap;                // the user's commands meanwhile
    std::string out;
    std::vector<std::string> tree;   // what out/ holds afterwards
  };
  const Case cases[] = {
      {{"jobs/a.frt", "jobs/b.frt", "jobs/sub/c.frt"},
       "mkdirat:delay_exit=3000000:when=1",
       "rm jobs/a.frt jobs/b.frt && ln -s " + secret + "/key.frt jobs/a.frt && mkfifo jobs/b.frt && "
       "mv jobs/sub jobs/moved && ln -s " + secret + " jobs/sub",
       "jobs/a.frt -> out/QZ_a.frt" + replaced + "jobs/b.frt -> out/QZ_b.frt" + replaced +
           "jobs/sub/c.frt -> out/sub/QZ_c.frt" + kPlainLine,
       {"out/", "out/sub/", "out/sub/QZ_c.frt"}},
      {{"jobs/x/y/a.frt", "out/", "out/x>" + (Root() / "victim").string()},
       "",
       "",
       "jobs/x/y/a.frt -> out/x/y/QZ_a.frt: invalid input: cannot create the folder out/x: the link out/x belongs "
       "to user 4333, not to you or root; it is not followed\n",
       {"out/", "out/x"}},
      // The user's folder out/x/y, put where root's stood, is not removed.
      // (A file in out/ spares it the case probe, whose own unlinkat would be held.)
      {{"jobs/x/y/bad.frt", "out/notes.txt"},
       "unlinkat:delay_enter=3000000:when=1",
       "mv out/x out/x-old && mkdir -p out/x/y",
       "jobs/x/y/bad.frt -> out/x/y/QZ_bad.frt: invalid format file: line 2: header line of kind t lacks the "
       "file-type tag \"FRT\" at positions 4 to 6\n",
       {"out/", "out/notes.txt", "out/x-old/", "out/x/", "out/x/y/"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.swap);
    fs::remove_all(Work());
    fs::create_directory(Work());
    for (const std::string& file : c.files) {
      if (const auto arrow = file.find('>'); arrow != std::string::npos) {
        fs::create_symlink(file.substr(arrow + 1), Work() / file.substr(0, arrow));
      } else if (file.back() == '/') {
        fs::create_directories(Work() / file);
      } else {
        WriteFile(Work() / file, file.find("bad") != std::string::npos ? "@i1KRV330\r\n@t1XYZ\r\n" : kPlainSource);
      }
    }
    ASSERT_EQ(testing::RunProcess("/bin/chown", {"-hR", "4333:4333", "."}, Work(), Root() / "swap").exitCode, 0);
    ASSERT_EQ(chown(Work().c_str(), 4333, 4333), 0);
    const fs::path log = Root() / "strace.log";
    fs::remove(log);
    std::vector<std::string> arguments = {"-f", "-qq", "-o", log.string()};
    const std::string call = c.held.substr(0, c.held.find(':'));
    if (!c.held.empty()) arguments.insert(arguments.end(), {"-e", "trace=" + call, "-e", "inject=" + c.held});
    arguments.insert(arguments.end(), {QUARNEL_EXECUTABLE, "-j", "1", "-r", "-o", "out", "jobs"});
    const int process = testing::StartProcess("/usr/bin/strace", arguments, Work(), Root());
    if (!c.held.empty()) {
      // strace logs the call as it holds it.
      for (int wait = 0; wait < 3000 && ReadFile(log).find(call + "(") == std::string::npos; ++wait) usleep(10000);
      const auto swap = testing::RunProcess(
          kAsUser[0], {"--reuid=4333", "--regid=4333", "--clear-groups", "/bin/sh", "-c", c.swap}, Work(),
          Root() / "swap");
      EXPECT_EQ(swap.exitCode, 0) << swap.err;
    }
    const auto result = testing::FinishProcess(process, Root());
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, c.out);
    std::vector<std::string> tree;
    for (const auto& [name, content] : WorkTree()) {
      if (name.rfind("out", 0) == 0) tree.push_back(name);
      EXPECT_EQ(content.find("root's own"), std::string::npos) << name;
    }
    EXPECT_EQ(tree, c.tree);
    EXPECT_TRUE(fs::is_empty(Root() / "victim"));
  }
}

// More folders than a batch keeps open: those let go are reopened from
// their parents, on the walk's side and on the -o side.
TEST_F(QuarnelBatchTest, FoldersBeyondThoseKeptOpenAreReopened) {
  const std::size_t folders = 2 * FolderTree::kMostOpenFolders + 3;
  for (std::size_t i = 0; i < folders; ++i) WriteFile(Work() / "jobs" / ("f" + std::to_string(i)) / "a.frt", kPlainSource);
  const auto result = Run({"-q", "-j", "1", "-r", "-o", "out", "jobs"});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(WithoutTime(result.err), std::to_string(folders) + " converted, 0 not necessary, 0 failed in T s\n");
  for (std::size_t i = 0; i < folders; ++i)
    EXPECT_EQ(ReadFile(Work() / "out" / ("f" + std::to_string(i)) / "QZ_a.frt"), kPlainConverted) << i;
}

TEST_F(QuarnelBatchTest, CollidingTargetsAreRefusedBeforeWriting) {
  for (const char* name : {"one/a.frt", "two/a.frt", "one/x/b.frt", "two/x/b.frt", "c.frt", "QZ_c.frt", "d.frt"})
    WriteFile(Work() / name, kPlainSource);
  WriteFile(Work() / "old/QZ_a.frt", kOldTarget);
  fs::create_hard_link(Work() / "old/QZ_a.frt", Work() / "old/QZ_d.frt");
  fs::create_symlink("d.frt", Work() / "QZ_e.frt");
  WriteFile(Work() / "e.frt", kPlainSource);
  // Targets that Quarnel did not write: an original and another instrument's file.
  WriteFile(Work() / "mine/f.frt", kPlainSource);
  WriteFile(Work() / "mine/QZ_f.frt", "@i1KRV330\r\n");
  WriteFile(Work() / "mine/g.frt", kPlainSource);
  WriteFile(Work() / "mine/h.frt", kPlainSource);
  WriteFile(Work() / "mine/QZ_h.frt", "@i1TS9200\r\n");
  const std::string nothing = "quarnel: nothing was converted\n";
  struct Case {
    std::vector<std::string> arguments;
    std::string err;
  };
  const Case cases[] = {
      {{"-o", "out", "one/a.frt", "two/a.frt"},
       "quarnel: one/a.frt and two/a.frt would both be converted into out/QZ_a.frt\n" + nothing},
      {{"-r", "-o", "out", "one", "two"},
       "quarnel: one/a.frt and two/a.frt would both be converted into out/QZ_a.frt\n"
       "quarnel: one/x/b.frt and two/x/b.frt would both be converted into out/x/QZ_b.frt\n" + nothing},
      // Two names of one existing file, through a hard link.
      {{"-o", "old", "one/a.frt", "d.frt"},
       "quarnel: one/a.frt and d.frt would both be converted into old/QZ_d.frt\n" + nothing},
      // Still refused when the other of the two is skipped as a target.
      {{"-o", ".", "c.frt", "QZ_c.frt", "one/c.frt"},
       "quarnel: c.frt and one/c.frt would both be converted into ./QZ_c.frt\n" + nothing},
      // Every such target is named before the batch stops.
      {{"-b", "mine"},
       "quarnel: mine/QZ_f.frt: not replaced: its model line names \"KRV330\", so Quarnel did not write it\n"
       "quarnel: mine/QZ_h.frt: not replaced: its model line names \"TS9200\", so Quarnel did not write it\n"
       "quarnel: to replace such files anyway, use --force\n" + nothing},
  };
  const auto before = WorkTree();
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.arguments));
    const auto result = Run(c.arguments);
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(WorkTree(), before);
  }
  // --force lifts that rule alone.
  EXPECT_EQ(Run({"--force", "-b", "mine"}).exitCode, 0);
  for (const char* name : {"mine/QZ_f.frt", "mine/QZ_g.frt", "mine/QZ_h.frt"}) EXPECT_EQ(ReadFile(Work() / name), kPlainConverted) << name;
}

// In folders that keep case (as this file system's do) names that differ
// only in case are two files; the probe of an empty folder leaves nothing.
TEST_F(QuarnelBatchTest, NamesThatDifferInCaseAreTwoFilesWhereCaseIsKept) {
  WriteFile(Work() / "one/Job.frt", kPlainSource);
  WriteFile(Work() / "two/job.frt", kPlainSource);
  fs::create_directory(Work() / "empty");
  const auto result = Run({"-q", "-o", "empty/out", "one/Job.frt", "two/job.frt"});
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(WorkTree(), (std::map<std::string, std::string>{{"empty/", ""},
                                                           {"empty/out/", ""},
                                                           {"empty/out/QZ_Job.frt", kPlainConverted},
                                                           {"empty/out/QZ_job.frt", kPlainConverted},
                                                           {"one/", ""},
                                                           {"one/Job.frt", kPlainSource},
                                                           {"two/", ""},
                                                           {"two/job.frt", kPlainSource}}));
}

TEST_F(QuarnelBatchTest, JsonRecordsForEveryOutcome) {
  WriteFile(Work() / "narrow.frt", Sample("narrow-krv330.frt"));
  WriteFile(Work() / "plain.frt", kPlainSource);
  WriteFile(Work() / "other.frt", Sample("other-model.frt"));
  WriteFile(Work() / "kind-t.frt", "@i1KRV330\r\n@t1FMT\r\n");
  WriteFile(Work() / "marker.frt", kPlainSource + "\xff" + kPlainSource);
  WriteFile(Work() / "r\xe9seau\xff.frt", kPlainSource);
  const std::string longName = std::string(250, 'n') + ".frt";
  WriteFile(Work() / longName, kPlainSource);

  struct Expected {
    std::string source;
    std::string target;  // "" for null
    std::string outcome;
    bool written;
    std::vector<int> variables;
    std::vector<int> applications;
    double failureLine;  // -1: no failure; 0: a failure of no line
    std::string reason;
    std::size_t notes;
    std::string sourceHex;  // the name's bytes when they are not UTF-8
    std::string model;      // what the model line names; "" for null
  };
  const Expected expected[] = {
      {"narrow.frt", "out/QZ_narrow.frt", "converted", true, {58, 51, 652, 653, 656}, {120, 123}, -1, "", 0, "",
       "KRV330"},
      {"plain.frt", "out/QZ_plain.frt", "converted", true, {}, {}, -1, "", 0, "", "KRV110"},
      // The note says what the model line names instead of an old model.
      {"other.frt", "out/QZ_other.frt", "not-necessary", false, {}, {}, -1, "", 1, "", "TS9200"},
      {"kind-t.frt", "out/QZ_kind-t.frt", "invalid-format", false, {}, {}, 2,
       "header line of kind t lacks the file-type tag \"FRT\" at positions 4 to 6", 0, "", "KRV330"},
      {"marker.frt", "out/QZ_marker.frt", "converted", true, {}, {}, -1, "", 1, "", "KRV110"},
      {"missing.frt", "out/QZ_missing.frt", "invalid-input", false, {}, {}, 0,
       "cannot open the source: No such file or directory", 0, "", ""},
      // Reading a process's own memory at its start fails: a read error.
      {"/proc/self/mem", "out/QZ_mem", "unknown-error", false, {}, {}, 0,
       "cannot read the source: Input/output error", 0, "", ""},
      {longName, "", "invalid-input", false, {}, {}, 0,
       "the target's name, QZ_ and the source's name, would be longer than 255 bytes", 0, "", ""},
      {"r\xef\xbf\xbdseau\xef\xbf\xbd.frt", "out/QZ_r\xef\xbf\xbdseau\xef\xbf\xbd.frt", "converted", true, {}, {},
       -1, "", 0, "72e973656175ff2e667274", "KRV110"},
  };
  std::vector<std::string> arguments = {"--json", "-o", "out"};
  for (const Expected& e : expected) arguments.push_back(e.sourceHex.empty() ? e.source : "r\xe9seau\xff.frt");
  const auto result = Run(arguments);
  EXPECT_EQ(result.exitCode, 1);

  const std::vector<JsonValue> records = ParseRecords(result.out);
  ASSERT_EQ(records.size(), std::size(expected));
  for (std::size_t i = 0; i < records.size(); ++i) {
    const JsonValue& record = records[i];
    const Expected& e = expected[i];
    SCOPED_TRACE(e.source);
    EXPECT_EQ(record["source"].text, e.source);
    EXPECT_EQ(record["target"].IsNull(), e.target.empty());
    EXPECT_EQ(record["target"].text, e.target);
    EXPECT_EQ(record["outcome"].text, e.outcome);
    EXPECT_EQ(record["written"].boolean, e.written);
    EXPECT_EQ(record["model"].IsNull(), e.model.empty());
    EXPECT_EQ(record["model"].text, e.model);
    EXPECT_EQ(record.fields.count("sourceHex") != 0, !e.sourceHex.empty());
    if (!e.sourceHex.empty()) {
      EXPECT_EQ(record["sourceHex"].text, e.sourceHex);
      EXPECT_EQ(record["targetHex"].text, "6f75742f515a5f" + e.sourceHex);
    }
    // The report is the one the one-file form prints, and every entry stands in it as listed.
    if (!e.target.empty() && e.source != "/proc/self/mem") {
      EXPECT_EQ(record["report"].text + "\n", Run({"-n", e.sourceHex.empty() ? e.source : "r\xe9seau\xff.frt"}).out);
    }
    const std::string& report = record["report"].text;
    std::size_t searchFrom = 0;
    for (const auto& [field, numbers] : {std::pair{"variables", e.variables}, {"applications", e.applications}}) {
      ASSERT_EQ(record[field].items.size(), numbers.size()) << field;
      for (std::size_t k = 0; k < numbers.size(); ++k) {
        const JsonValue& entry = record[field].items[k];
        EXPECT_EQ(entry["number"].number, numbers[k]);
        const std::string line = "\n" + std::to_string(numbers[k]) + ": " + entry["description"].text + "\n";
        const std::size_t at = report.find(line, searchFrom);
        EXPECT_NE(at, std::string::npos) << line;
        searchFrom = at == std::string::npos ? searchFrom : at + 1;
      }
    }
    if (e.failureLine < 0) {
      EXPECT_TRUE(record["failure"].IsNull());
    } else {
      EXPECT_EQ(record["failure"]["line"].IsNull(), e.failureLine == 0);
      EXPECT_EQ(record["failure"]["line"].number, e.failureLine);
      EXPECT_EQ(record["failure"]["reason"].text, e.reason);
    }
    EXPECT_EQ(record["notes"].items.size(), e.notes);
  }
}

TEST_F(QuarnelBatchTest, JobsChangeNeitherRecordsNorTheirOrder) {
  const std::string samples[] = {Sample("narrow-krv330.frt"), Sample("wide-krv880.frt"), Sample("other-model.frt"),
                                 kPlainSource, "@i1KRV330\r\n@t1FMT\r\n"};
  for (int i = 0; i < 40; ++i) WriteFile(Work() / "jobs" / ("f" + std::to_string(i) + ".frt"), samples[i % 5]);
  const auto one = Run({"--json", "-j", "1", "-o", "out1", "jobs"});
  const auto four = Run({"--json", "-j4", "-o", "out4", "jobs"});
  EXPECT_EQ(one.exitCode, 1);
  EXPECT_EQ(four.exitCode, 1);
  EXPECT_EQ(std::regex_replace(four.out, std::regex("out4/"), "out1/"), one.out);
  EXPECT_EQ(ParseRecords(one.out).size(), 40u);
  for (int i = 0; i < 40; ++i) {
    const std::string name = "QZ_f" + std::to_string(i) + ".frt";
    EXPECT_EQ(ReadFile(Work() / "out4" / name), ReadFile(Work() / "out1" / name)) << name;
  }
}

TEST_F(QuarnelBatchTest, TextOutputAndExitStatus) {
  WriteFile(Work() / "a.frt", kPlainSource);
  WriteFile(Work() / "b.frt", Sample("other-model.frt"));
  WriteFile(Work() / "bad\x1b[2J.frt", "@i1KRV330\r\n@t1XYZ\r\n");
  const std::string otherModel = "the model line names \"TS9200\", not KRV110, KRV330, KRV440 or KRV880";
  const std::string badLine =
      "bad\\x1b[2J.frt -> QZ_bad\\x1b[2J.frt: invalid format file: line 2: header line of kind t lacks the "
      "file-type tag \"FRT\" at positions 4 to 6\n";
  struct Case {
    std::vector<std::string> arguments;
    int exitCode;
    std::string out;
    std::string err;
  };
  const Case cases[] = {
      {{"-b", "a.frt", "b.frt"}, 0,
       "a.frt -> QZ_a.frt" + kPlainLine + "b.frt -> QZ_b.frt: not necessary; " + otherModel + "\n",
       "1 converted, 1 not necessary, 0 failed in T s\n"},
      // The name's escape sequence must not reach the terminal.
      {{"-b", "a.frt", "bad\x1b[2J.frt"}, 1, "a.frt -> QZ_a.frt" + kPlainLine + badLine,
       "1 converted, 0 not necessary, 1 failed in T s\n"},
      {{"-q", "-b", "a.frt", "bad\x1b[2J.frt"}, 1, "", badLine + "1 converted, 0 not necessary, 1 failed in T s\n"},
      {{"-q", "-b", "a.frt"}, 0, "", "1 converted, 0 not necessary, 0 failed in T s\n"},
      {{"-v", "-b", "a.frt"}, 0, "a.frt -> QZ_a.frt" + kPlainLine + "    Format-File Conversion completed!\n\n\n\n",
       "1 converted, 0 not necessary, 0 failed in T s\n"},
      {{"-b", "empty"}, 0, "", "0 converted, 0 not necessary, 0 failed in T s\n"},
      // `-b *.frt` run again: the earlier target is left to its source.
      {{"-b", "QZ_a.frt", "a.frt"}, 0,
       "QZ_a.frt: skipped; the target of a.frt in this batch\na.frt -> QZ_a.frt" + kPlainLine,
       "1 converted, 0 not necessary, 0 failed, 1 skipped in T s\n"},
      // The one-file form keeps its statuses; -n, -q and --json work there too.
      // A dry run's report says "completed"; standard error says what that means.
      {{"-n", "a.frt", "new.frt"}, 0, "Format-File Conversion completed!\n\n\n",
       "quarnel: new.frt: dry run: nothing written\n"},
      {{"-n", "--json", "a.frt", "new.frt"}, 0,
       "{\"source\": \"a.frt\", \"target\": \"new.frt\", \"outcome\": \"converted\", \"written\": false, "
       "\"model\": \"KRV110\", \"report\": \"Format-File Conversion completed!\\n\\n\", \"variables\": [], "
       "\"applications\": [], \"failure\": null, \"notes\": []}\n",
       "quarnel: new.frt: dry run: nothing written\n"},
      {{"-q", "b.frt", "new.frt"}, 3, "", "quarnel: b.frt: " + otherModel + "\n"},
      {{"--json", "-n", "b.frt", "new.frt"}, 3,
       "{\"source\": \"b.frt\", \"target\": \"new.frt\", \"outcome\": \"not-necessary\", \"written\": false, "
       "\"model\": \"TS9200\", \"report\": \"Format-File Conversion is not necessary!\", \"variables\": [], "
       "\"applications\": [], \"failure\": null, \"notes\": [\"the model line names \\\"TS9200\\\", not KRV110, "
       "KRV330, KRV440 or KRV880\"]}\n",
       "quarnel: b.frt: " + otherModel + "\n"},
  };
  fs::create_directory(Work() / "empty");
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.arguments));
    fs::remove(Work() / "QZ_a.frt");
    const auto result = Run(c.arguments);
    EXPECT_EQ(result.exitCode, c.exitCode);
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(WithoutTime(result.err), c.err);
    if (c.arguments[0] == "-n" || c.arguments[1] == "-n") {
      EXPECT_FALSE(fs::exists(Work() / "new.frt"));
    }
    fs::remove(Work() / "new.frt");
  }
}

TEST_F(QuarnelBatchTest, UsageErrors) {
  const std::string usage =
      "Usage: quarnel [OPTIONS] SOURCE [TARGET]\n"
      "       quarnel [OPTIONS] -o DIR PATH...\n"
      "       quarnel [OPTIONS] -b PATH...\n"
      "       quarnel --help | --version\n";
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"-b"}, "missing PATH"},
      {{"-o"}, "option '-o' needs a value"},
      {{"--output-dir=", "a"}, "option '--output-dir' needs a value"},
      {{"-r", "a.frt"}, "-r works only in a batch (with -o or -b)"},
      {{"-j", "2", "a.frt"}, "-j works only in a batch (with -o or -b)"},
      {{"-b", "-j", "0", "a"}, "-j takes a number of files from 1 to 256, not '0'"},
      {{"-b", "--jobs=x", "a"}, "-j takes a number of files from 1 to 256, not 'x'"},
      {{"-o", "out", "-b", "a"}, "-o and -b cannot be combined"},
      {{"-bqv", "a"}, "-q and -v cannot be combined"},
      {{"-bx", "a"}, "unknown option '-x' in '-bx'"},
      {{"--beside=yes", "a"}, "unknown option '--beside=yes'"},
  };
  for (const auto& [arguments, problem] : cases) {
    SCOPED_TRACE(::testing::PrintToString(arguments));
    const auto result = Run(arguments);
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "quarnel: " + problem + "\n" + usage);
  }
}

// A pipe as the second source holds the batch while the test interrupts it.
TEST_F(QuarnelBatchTest, InterruptedBatchLeavesEveryTargetOldOrNew) {
  WriteFile(Work() / "a.frt", kPlainSource);
  WriteFile(Work() / "c.frt", kPlainSource);
  WriteFile(Work() / "QZ_pipe.frt", kOldTarget);
  WriteFile(Work() / "QZ_c.frt", kOldTarget);
  ASSERT_EQ(mkfifo((Work() / "pipe.frt").c_str(), 0600), 0);

  const int process =
      testing::StartProcess(QUARNEL_EXECUTABLE, {"-j", "1", "-b", "a.frt", "pipe.frt", "c.frt"}, Work(), Root());
  // Opening the pipe waits for the batch to reach it; a.frt's line shows that its target is in place.
  const int pipe = open((Work() / "pipe.frt").c_str(), O_WRONLY);
  ASSERT_GE(pipe, 0);
  ASSERT_EQ(write(pipe, kPlainSource.data(), 20), 20);
  while (ReadFile(Root() / "stdout").empty()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  kill(process, SIGINT);
  const auto result = testing::FinishProcess(process, Root());
  close(pipe);

  EXPECT_EQ(result.signal, SIGINT);
  EXPECT_EQ(ReadFile(Work() / "QZ_a.frt"), kPlainConverted);
  EXPECT_EQ(ReadFile(Work() / "QZ_pipe.frt"), kOldTarget);
  EXPECT_EQ(ReadFile(Work() / "QZ_c.frt"), kOldTarget);
  EXPECT_EQ(result.out, "a.frt -> QZ_a.frt" + kPlainLine);
  // No temporary file is left behind.
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(Work())) names.insert(entry.path().filename().string());
  EXPECT_EQ(names, (std::set<std::string>{"a.frt", "c.frt", "pipe.frt", "QZ_a.frt", "QZ_c.frt", "QZ_pipe.frt"}));
}

// A reader that never reads holds the batch in its write to standard output;
// a signal still ends it, with whole lines printed and no temporary file left.
TEST_F(QuarnelBatchTest, SignalEndsABatchWhoseReaderStalled) {
  constexpr int kFiles = 300;
  for (int i = 0; i < kFiles; ++i) WriteFile(Work() / "src" / ("job-" + std::to_string(i) + ".frt"), kPlainSource);
  ASSERT_EQ(mkfifo((Root() / "stalled").c_str(), 0600), 0);
  const int reader = open((Root() / "stalled").c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  // The smallest pipe fills with a few dozen lines.
  const int capacity = fcntl(reader, F_SETPIPE_SZ, 4096);
  ASSERT_GT(capacity, 0);
  const int process = testing::StartProcess(
      "/bin/sh", {"-c", "exec \"$1\" -o out src > \"$2\"", "sh", QUARNEL_EXECUTABLE, (Root() / "stalled").string()},
      Work(), Root());
  // The batch's printing thread waits in its write once the pipe is full.
  int held = 0;
  while (held == 0 || ReadFile("/proc/" + std::to_string(process) + "/wchan").find("pipe_write") == std::string::npos) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(ioctl(reader, FIONREAD, &held), 0);
  }
  kill(process, SIGTERM);
  // A bound far above any machine's time to end, far below "for ever".
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  siginfo_t ended{};
  while (std::chrono::steady_clock::now() < deadline) {
    ended.si_pid = 0;
    ASSERT_EQ(waitid(P_PID, static_cast<id_t>(process), &ended, WEXITED | WNOHANG | WNOWAIT), 0);
    if (ended.si_pid != 0) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_NE(ended.si_pid, 0) << "still running 2 s after SIGTERM";
  if (ended.si_pid == 0) kill(process, SIGKILL);
  const auto result = testing::FinishProcess(process, Root());
  std::string printed(static_cast<std::size_t>(capacity), '\0');
  printed.resize(static_cast<std::size_t>(std::max<ssize_t>(read(reader, printed.data(), printed.size()), 0)));
  close(reader);

  EXPECT_EQ(result.signal, SIGTERM);
  std::size_t lines = 0;
  for (std::size_t at = 0; at < printed.size(); ++lines) {
    const std::size_t end = printed.find('\n', at);
    ASSERT_NE(end, std::string::npos) << "half a line: " << printed.substr(at);
    EXPECT_NE(printed.substr(at, end - at).find(": converted"), std::string::npos);
    at = end + 1;
  }
  std::size_t inPlace = 0;
  for (const auto& entry : fs::directory_iterator(Work() / "out")) {
    EXPECT_EQ(entry.path().filename().string().rfind("QZ_", 0), 0u) << entry.path();
    if (ReadFile(entry.path()) == kPlainConverted) ++inPlace;
  }
  // Every target without a line is counted where standard error could take it.
  EXPECT_EQ(result.err, "quarnel: stopped by a signal; " + std::to_string(inPlace - lines) +
                            " targets converted without a printed line\n");
}

// Signals, limits and a thread that cannot start, each at a chosen moment:
// a printed line means its target is in place, every other target is as it
// was or converted, and no temporary file is left (a kill at a rename may
// leave its one).
TEST_F(QuarnelBatchTest, SignalsLimitsAndThreadsLeaveEveryTargetOldOrReported) {
  if (!fs::exists("/usr/bin/strace")) GTEST_SKIP() << "needs strace";
  // LeakSanitizer cannot run under ptrace: a sanitized program under strace checks no leaks.
  setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
  struct Case {
    std::string script;  // "$1" is quarnel; the sources are in src
    int exitCode;        // -1 when ended by `signal`
    int signal;
    std::size_t leftovers;
    bool linesTell;  // a line is printed for each target replaced
  };
  const std::string atRename = "exec strace -f -qq -o /dev/null -e trace=renameat -e inject=renameat:signal=";
  const Case cases[] = {
      {atRename + "INT:when=2 \"$1\" -b -j 4 src", -1, SIGINT, 0, true},
      {atRename + "TERM:when=1 \"$1\" -b -j 1 src", -1, SIGTERM, 0, true},
      {atRename + "HUP:when=3 \"$1\" -b src", -1, SIGHUP, 0, true},
      {atRename + "USR1:when=2 \"$1\" -b -j 4 src", -1, SIGUSR1, 0, true},
      {atRename + "KILL:when=3 \"$1\" -b -j 4 src", -1, SIGKILL, 1, false},
      // The second thread, or the first, cannot start.
      {"exec strace -f -qq -o /dev/null -e trace=clone3,clone -e inject=clone3,clone:error=EAGAIN:when=2+ "
       "\"$1\" -b -j 4 src",
       0, 0, 0, true},
      {"exec strace -f -qq -o /dev/null -e trace=clone3,clone -e inject=clone3,clone:error=EAGAIN \"$1\" -b src", 0, 0,
       0, true},
      // A standard output whose reader is gone.
      {"mkfifo p; exec 3<>p 4>p 3<&-; rm p; exec \"$1\" -b -j 4 src >&4", 4, 0, 0, false},
      {"ulimit -f 1; exec \"$1\" -b src", 1, 0, 0, true},
  };
  const std::string source = Sample("wide-krv880.frt");
  WriteFile(Work() / "one.frt", source);
  ASSERT_EQ(Run({"one.frt", "converted.frt"}).exitCode, 0);
  const std::string converted = ReadFile(Work() / "converted.frt");
  for (const Case& row : cases) {
    SCOPED_TRACE(row.script);
    fs::remove_all(Work() / "src");
    for (int i = 1; i <= 6; ++i) {
      WriteFile(Work() / "src" / ("s" + std::to_string(i) + ".frt"), source);
      WriteFile(Work() / "src" / ("QZ_s" + std::to_string(i) + ".frt"), kOldTarget);
    }
    const auto result =
        testing::RunProcess("/bin/sh", {"-c", row.script, "sh", QUARNEL_EXECUTABLE}, Work(), Root());
    EXPECT_EQ(result.exitCode, row.exitCode);
    EXPECT_EQ(result.signal, row.signal);
    std::size_t leftovers = 0;
    for (const auto& entry : fs::directory_iterator(Work() / "src")) {
      const std::string name = entry.path().filename().string();
      if (name.rfind(".quarnel-", 0) == 0) ++leftovers;
      if (name.rfind("QZ_", 0) != 0) continue;
      const std::string target = ReadFile(entry.path());
      EXPECT_TRUE(target == kOldTarget || target == converted) << name;
      const bool printed = result.out.find("-> src/" + name + ": converted") != std::string::npos;
      // A signal may come between a rename and its line: such a target may be
      // converted without a line, never a line printed for a target not in place.
      if (row.linesTell && row.signal != 0 && printed) {
        EXPECT_EQ(target, converted) << name;
      }
      if (row.linesTell && row.signal == 0) {
        EXPECT_EQ(printed, target == converted) << name;
      }
    }
    EXPECT_LE(leftovers, row.leftovers);
  }
}

// On a terminal a batch that takes more than a second shows its progress. The
// pipe holds the batch until the line has had time to show.
TEST_F(QuarnelBatchTest, ProgressLineOnATerminal) {
  WriteFile(Work() / "a.frt", kPlainSource);
  ASSERT_EQ(mkfifo((Work() / "pipe.frt").c_str(), 0600), 0);
  std::thread feeder([this] {
    std::ofstream pipe(Work() / "pipe.frt", std::ios::binary);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    pipe << kPlainSource;
  });
  const std::string command = std::string(QUARNEL_EXECUTABLE) + " -j 1 -b a.frt pipe.frt";
  const auto result = testing::RunProcess("/usr/bin/script", {"-qec", command, "/dev/null"}, Work(), Root());
  feeder.join();
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_NE(result.out.find("\r1 of 2 files, "), std::string::npos) << result.out;
  EXPECT_NE(result.out.find(" files/s"), std::string::npos);
  // Without a terminal, no progress line.
  const auto plain = Run({"-j", "1", "-b", "a.frt"});
  EXPECT_EQ(plain.err.find('\r'), std::string::npos);
}

}  // namespace
}  // namespace quarnel
