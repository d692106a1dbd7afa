// The program cut off as kill -9, a crash or a power loss cuts it off: run
// with its output in files, then sent SIGKILL at a chosen moment. What it
// printed until then is what a person would have seen.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "tests/support/tool_run.h"

namespace tslflash::testing {

struct KilledRun {
  bool killed = false;  // false: it had ended on its own
  std::string out;
  std::string err;
};

// The moment of the kill: `after` has passed since the start, counted from
// when the standard output first showed the whole line `line`, if one is
// given (at most a minute is waited for it).
struct KillMoment {
  std::chrono::microseconds after{0};
  std::string_view line;
};

inline KilledRun RunAndKill(const std::string& program, const std::vector<std::string>& args,
                            const std::string& outPath, const std::string& errPath,
                            KillMoment moment) {
  std::vector<std::string> words{program};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  const pid_t child = fork();
  if (child < 0) return {};
  if (child == 0) {
    const int in = open("/dev/null", O_RDONLY);
    const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0 || dup2(in, STDIN_FILENO) < 0 ||
        dup2(out, STDOUT_FILENO) < 0 || dup2(err, STDERR_FILENO) < 0) {
      _exit(127);
    }
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  bool ended = false;
  if (!moment.line.empty()) {
    const std::string wanted = "\n" + std::string(moment.line) + "\n";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (!ended && Slurp(outPath).find(wanted) == std::string::npos &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      ended = waitpid(child, &status, WNOHANG) == child;
    }
  }
  if (!ended) {
    std::this_thread::sleep_for(moment.after);
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
  }
  return {WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL, Slurp(outPath), Slurp(errPath)};
}

}  // namespace tslflash::testing
