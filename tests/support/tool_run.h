// A program run the way people run it: a subprocess with arguments, its
// output streams and exit status. Each test gets a folder of its own for the
// files it hands the program and the ones the program writes.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tslflash::testing {

struct ToolRun {
  int exitCode = -1;  // -1 when the program did not exit normally
  std::string out;
  std::string err;
};

// One argument for the shell, exactly as given.
inline std::string ShellQuoted(std::string_view text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// The whole file; empty when there is none.
inline std::string Slurp(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class ToolRunTest : public ::testing::Test {
 protected:
  explicit ToolRunTest(std::string program) : program_(std::move(program)) {}

  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    // A parameterised test's name has a slash; one folder, not two, so
    // TearDown leaves nothing behind.
    std::string name = info->name();
    std::replace(name.begin(), name.end(), '/', '_');
    dir_ = std::filesystem::path(::testing::TempDir()) /
           (std::filesystem::path(program_).filename().string() + "_" + name + "_" +
            std::to_string(getpid()));
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override {
    if (!HasFailure()) std::filesystem::remove_all(dir_);
  }

  const std::filesystem::path& Dir() const { return dir_; }
  std::string Path(std::string_view name) const { return (dir_ / name).string(); }
  // The bytes of this file in the test's folder; none when it is missing.
  std::vector<std::uint8_t> ReadFile(std::string_view name) const {
    const std::string text = Slurp(Path(name));
    return {text.begin(), text.end()};
  }

  // Standard input is empty, so nothing can wait for a person.
  ToolRun Run(const std::vector<std::string>& args) const {
    std::string command = ShellQuoted(program_);
    for (const std::string& arg : args) command += " " + ShellQuoted(arg);
    command += " </dev/null >" + ShellQuoted(Path("stdout")) + " 2>" + ShellQuoted(Path("stderr"));
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, Slurp(Path("stdout")),
            Slurp(Path("stderr"))};
  }

 private:
  std::string program_;
  std::filesystem::path dir_;
};

}  // namespace tslflash::testing
