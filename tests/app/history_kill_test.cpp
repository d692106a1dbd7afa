// A process killed while it appends to the history: whatever the moment,
// every line but the one being written parses, and each append that
// returned success is in the file.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/history_file.h"
#include "tests/app/history_samples.h"

namespace tslflash {
namespace {

using testing::HistoryFolderTest;
using testing::SampleRecord;
using testing::Slurped;

using HistoryKill = HistoryFolderTest;

// Larger than a page, so that the kernel may stop a write part way when
// the kill arrives.
HistoryRecord LargeRecord(const std::string& id) {
  HistoryRecord record = SampleRecord(id);
  record.drive.enclosureIdentity = std::string(48 * 1024, 'e');
  return record;
}

// Appends records for ever, telling the parent on the pipe each one that
// was appended (its number as four bytes).
[[noreturn]] void AppendUntilKilled(const std::string& path, int round, int report) {
  for (std::uint32_t number = 0;; ++number) {
    const std::string id = std::to_string(round) + "-" + std::to_string(number);
    if (!AppendHistory(path, EncodeHistoryRecord(LargeRecord(id))).empty()) _exit(3);
    if (write(report, &number, sizeof number) != sizeof number) _exit(4);
  }
}

// The numbers (from 1) of the file's lines that are not a record.
std::set<std::size_t> BadLines(const std::string& text) {
  std::set<std::size_t> bad;
  std::size_t number = 0;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    ++number;
    if (ReadHistoryText(text.substr(start, end - start)).records.size() != 1) bad.insert(number);
    start = end + 1;
  }
  return bad;
}

TEST_F(HistoryKill, EveryRecordReportedAppendedSurvivesAKillAtAnyMoment) {
  const std::string path = Path("history.jsonl");
  std::mt19937 random(std::random_device{}());
  std::uniform_int_distribution<int> delay(0, 30000);  // microseconds: an append takes some
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
  std::set<std::string> appended;
  std::set<std::size_t> torn;  // lines that earlier kills tore
  int rounds = 0;
  int tears = 0;
  while (std::chrono::steady_clock::now() < deadline || rounds < 5) {
    int report[2];
    ASSERT_EQ(pipe(report), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      close(report[0]);
      AppendUntilKilled(path, rounds, report[1]);
    }
    close(report[1]);
    std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
    kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the appending child ended on its own: " << status;
    std::uint32_t number = 0;
    while (read(report[0], &number, sizeof number) == sizeof number) {
      appended.insert(std::to_string(rounds) + "-" + std::to_string(number));
    }
    close(report[0]);

    const std::string text = Slurped(path);
    const std::set<std::size_t> bad = BadLines(text);
    const HistoryRead read = ReadHistory(path);
    ASSERT_EQ(read.error, "");
    ASSERT_EQ(read.warnings.size(), bad.size());
    // A kill may tear the line being written, the last; every other bad
    // line was torn by an earlier kill.
    const std::size_t lastLine =
        static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n') +
                                 (text.empty() || text.ends_with('\n') ? 0 : 1));
    for (const std::size_t line : bad) {
      ASSERT_TRUE(torn.contains(line) || line == lastLine) << "line " << line;
    }
    ASSERT_EQ(read.records.size() + bad.size(), lastLine);
    tears += static_cast<int>(bad.size() - torn.size());
    torn = bad;
    std::set<std::string> ids;
    for (const HistoryRecord& record : read.records) ids.insert(record.id);
    for (const std::string& id : appended) ASSERT_TRUE(ids.contains(id)) << id << " was lost";
    ++rounds;
  }
  RecordProperty("rounds", rounds);
  RecordProperty("tears", tears);
  std::printf("%d kills, %d torn lines, %zu records reported appended\n", rounds, tears,
              appended.size());
}

}  // namespace
}  // namespace tslflash
