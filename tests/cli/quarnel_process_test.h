// What the command-line tests share: a fresh folder per test in which the
// real quarnel runs, and a small source that converts without a list.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "process_runner.h"

namespace quarnel::testing {

// A small narrow file that lists nothing in its report, and its conversion.
inline const std::string kPlainSource = "@i1KRV110 Total Station\r\n@t1FRT test\r\n$\"Pt \"010800011;101\r\n";
inline const std::string kPlainConverted = "@i1QZ21/25/27\r\n@t1FRT test\r\n$\"Pt \"01080000011;00101\r\n";

std::string ReadFile(const std::filesystem::path& path);
// Creates the folders above `path` as needed.
void WriteFile(const std::filesystem::path& path, const std::string& content);

class QuarnelProcessTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Where quarnel runs; Root() holds it and the captured output beside it.
  std::filesystem::path Work() const { return root_ / "work"; }
  std::filesystem::path Root() const { return root_; }

  // Runs quarnel in Work(); "{work}" in an argument stands for Work()'s absolute path.
  ProcessResult Run(std::vector<std::string> arguments) const;

  // The same behind `wrapper`, a program and its arguments (setpriv, strace).
  // quarnel runs from a copy that an unprivileged user can reach: the build
  // may sit under a private home.
  ProcessResult RunBehind(const std::vector<std::string>& wrapper, std::vector<std::string> arguments) const;

 private:
  std::filesystem::path root_;
};

}  // namespace quarnel::testing
