// The Windows command line converts a small folder with wide names in one
// batch. Usage: batch_win32_test <path of quarnel-cli.exe> [gtest options]
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "quarnel/version.h"

namespace {

namespace fs = std::filesystem;

std::wstring g_program;

const std::string kPlainSource = "@i1KRV110 Total Station\r\n@t1FRT test\r\n$\"Pt \"010800011;101\r\n";
const std::string kPlainConverted = "@i1QZ21/25/27\r\n@t1FRT test\r\n$\"Pt \"01080000011;00101\r\n";

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const fs::path& path, const std::string& content) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << content;
}

// Text as read back from a console program's output, with its CR LF as LF.
std::string ReadOutput(const fs::path& path) {
  std::string text = ReadFile(path);
  std::erase(text, '\r');
  return text;
}

// Runs the program in `folder` with `arguments` (already quoted), its
// standard output and error in out.txt and err.txt there.
// @return the exit code, or -1.
long RunIn(const fs::path& folder, const std::wstring& arguments) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  PROCESS_INFORMATION process{};
  // Wine now and then fails to start a process at once; a second try is no
  // part of what is tested, and a failure to start says why.
  for (int attempt = 1;; ++attempt) {
    HANDLE out = CreateFileW((folder / L"out.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                             CREATE_ALWAYS, 0, nullptr);
    HANDLE err = CreateFileW((folder / L"err.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                             CREATE_ALWAYS, 0, nullptr);
    BOOL started = FALSE;
    if (out != INVALID_HANDLE_VALUE && err != INVALID_HANDLE_VALUE) {
      STARTUPINFOW startup{};
      startup.cb = sizeof startup;
      startup.dwFlags = STARTF_USESTDHANDLES;
      startup.hStdOutput = out;
      startup.hStdError = err;
      std::wstring commandLine = L"\"" + g_program + L"\" " + arguments;
      started = CreateProcessW(g_program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                               folder.c_str(), &startup, &process);
    }
    const DWORD error = GetLastError();
    if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
    if (err != INVALID_HANDLE_VALUE) CloseHandle(err);
    if (started) break;
    std::fprintf(stderr, "attempt %d: cannot start the program (error %lu)\n", attempt,
                 static_cast<unsigned long>(error));
    if (attempt == 2) return -1;
    Sleep(1000);
  }
  DWORD exitCode = 0;
  DWORD waited = WAIT_FAILED;
  for (int attempt = 1; attempt <= 3 && waited == WAIT_FAILED; ++attempt) {
    waited = WaitForSingleObject(process.hProcess, 120000);
    if (waited == WAIT_FAILED)
      std::fprintf(stderr, "attempt %d: cannot wait for the program (error %lu)\n", attempt,
                   static_cast<unsigned long>(GetLastError()));
  }
  const bool ended = waited == WAIT_OBJECT_0;
  GetExitCodeProcess(process.hProcess, &exitCode);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return ended ? static_cast<long>(exitCode) : -1;
}

TEST(BatchWin32Test, ConvertsAFolderWithWideNames) {
  const fs::path folder = fs::temp_directory_path() / (L"quarnel-batch-" + std::to_wstring(GetCurrentProcessId()));
  const fs::path jobs = folder / L"Gel\u00e4nde \u03a9";
  WriteFile(jobs / L"Messung \u00fc.frt", kPlainSource);
  WriteFile(jobs / L"\u65e5\u672c.FRT", kPlainSource);
  WriteFile(jobs / L"Unter/\u00e9.frt", kPlainSource);
  WriteFile(jobs / L"QZ_alt.frt", kPlainSource);

  const long exitCode = RunIn(folder, L"-r -o \"Ausgabe \u00df\" \"Gel\u00e4nde \u03a9\"");
  const std::string errors = ReadOutput(folder / L"err.txt");
  const fs::path converted = folder / L"Ausgabe \u00df";
  EXPECT_EQ(exitCode, 0) << errors;
  EXPECT_EQ(errors.substr(0, errors.find(" in ")), "3 converted, 0 not necessary, 0 failed");
  // Names in UTF-8, sorted by their UTF-16 units: "M" and "U" before the CJK name.
  const std::string line = ": converted, 0 variables to move, 0 applications removed\n";
  EXPECT_EQ(ReadOutput(folder / L"out.txt"),
            "Gel\xc3\xa4nde \xce\xa9\\Messung \xc3\xbc.frt -> Ausgabe \xc3\x9f\\QZ_Messung \xc3\xbc.frt" + line +
                "Gel\xc3\xa4nde \xce\xa9\\Unter\\\xc3\xa9.frt -> Ausgabe \xc3\x9f\\Unter\\QZ_\xc3\xa9.frt" + line +
                "Gel\xc3\xa4nde \xce\xa9\\\xe6\x97\xa5\xe6\x9c\xac.FRT -> Ausgabe \xc3\x9f\\QZ_\xe6\x97\xa5\xe6\x9c\xac.FRT" +
                line);
  EXPECT_EQ(ReadFile(converted / L"QZ_Messung \u00fc.frt"), kPlainConverted);
  EXPECT_EQ(ReadFile(converted / L"QZ_\u65e5\u672c.FRT"), kPlainConverted);
  EXPECT_EQ(ReadFile(converted / L"Unter/QZ_\u00e9.frt"), kPlainConverted);
  EXPECT_FALSE(fs::exists(converted / L"QZ_QZ_alt.frt"));
  std::error_code ignored;
  fs::remove_all(folder, ignored);
}

TEST(BatchWin32Test, WildcardsHelpAndTheProgramsName) {
  const fs::path folder = fs::temp_directory_path() / (L"quarnel-wild-" + std::to_wstring(GetCurrentProcessId()));
  WriteFile(folder / L"a.frt", kPlainSource);
  WriteFile(folder / L"b.frt", kPlainSource);
  const std::string line = ": converted, 0 variables to move, 0 applications removed\n";
  struct Case {
    const wchar_t* arguments;
    long exitCode;
    std::string out;  // its beginning
    std::string err;  // its beginning
  };
  const Case cases[] = {
      // cmd.exe leaves the pattern to the program.
      {L"-b *.frt", 0, "a.frt -> QZ_a.frt" + line + "b.frt -> QZ_b.frt" + line,
       "2 converted, 0 not necessary, 0 failed in "},
      // Again: the pattern now matches the earlier targets too.
      {L"-b *.frt", 0,
       "QZ_a.frt: skipped; the target of a.frt in this batch\nQZ_b.frt: skipped; the target of b.frt in this "
       "batch\na.frt -> QZ_a.frt" + line + "b.frt -> QZ_b.frt" + line,
       "2 converted, 0 not necessary, 0 failed, 2 skipped in "},
      {L"-b nothing*.frt", 1, "nothing*.frt -> QZ_nothing*.frt: invalid input", ""},
      {L"/?", 0, "Usage: quarnel-cli [OPTIONS] SOURCE [TARGET]\n", ""},
      {L"--bogus", 2, "", "quarnel-cli: "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(fs::path(c.arguments).string());
    EXPECT_EQ(RunIn(folder, c.arguments), c.exitCode);
    const std::string out = ReadOutput(folder / L"out.txt");
    const std::string err = ReadOutput(folder / L"err.txt");
    EXPECT_EQ(out.substr(0, c.out.size()), c.out) << out;
    EXPECT_EQ(err.substr(0, c.err.size()), c.err) << err;
  }
  std::error_code ignored;
  fs::remove_all(folder, ignored);
}

// The wildcard the program expands itself gives two names: the second, an
// instrument's own file, is kept unless --force says otherwise.
TEST(BatchWin32Test, TargetsQuarnelDidNotWriteAreKept) {
  const fs::path folder = fs::temp_directory_path() / (L"quarnel-kept-" + std::to_wstring(GetCurrentProcessId()));
  const std::string original = "@i1KRV880\r\n";
  struct Case {
    const wchar_t* arguments;
    std::string target;  // b.frt before the run
    long exitCode;
    std::string err;  // "" when b.frt takes the conversion
  };
  const Case cases[] = {
      {L"*.frt", original, 2,
       "quarnel-cli: b.frt: not replaced: its model line names \"KRV880\", so Quarnel did not write it\n"
       "quarnel-cli: to convert several files, use -b; to replace it anyway, use --force\n"},
      {L"a.frt b.frt", "@i1TS9200\r\n", 2,
       "quarnel-cli: b.frt: not replaced: its model line names \"TS9200\", so Quarnel did not write it\n"
       "quarnel-cli: to convert several files, use -b; to replace it anyway, use --force\n"},
      {L"--force *.frt", original, 0, ""},
      {L"a.frt b.frt", kPlainConverted, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(fs::path(c.arguments).string());
    WriteFile(folder / L"a.frt", kPlainSource);
    WriteFile(folder / L"b.frt", c.target);
    EXPECT_EQ(RunIn(folder, c.arguments), c.exitCode);
    EXPECT_EQ(ReadOutput(folder / L"err.txt"), c.err);
    EXPECT_EQ(ReadFile(folder / L"b.frt"), c.err.empty() ? kPlainConverted : c.target);
    EXPECT_EQ(ReadFile(folder / L"a.frt"), kPlainSource);
  }
  std::error_code ignored;
  fs::remove_all(folder, ignored);
}

TEST(BatchWin32Test, CarriesAVersionResource) {
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeW(g_program.c_str(), &handle);
  ASSERT_GT(size, 0u);
  std::string block(size, '\0');
  ASSERT_TRUE(GetFileVersionInfoW(g_program.c_str(), 0, size, block.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, DWORD{QUARNEL_VERSION_MAJOR} << 16 | QUARNEL_VERSION_MINOR);
  EXPECT_EQ(fixed->dwFileVersionLS, DWORD{QUARNEL_VERSION_PATCH} << 16 | QUARNEL_VERSION_BUILD);
  wchar_t* product = nullptr;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\StringFileInfo\\040904E4\\ProductName",
                             reinterpret_cast<void**>(&product), &length));
  EXPECT_EQ(std::wstring(product), L"Quarnel");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: batch_win32_test <path of quarnel-cli.exe> [gtest options]\n");
    return 2;
  }
  g_program = argv[1];
  return RUN_ALL_TESTS();
}
