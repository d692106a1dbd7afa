// The history file: where it is, how a line is appended, and that a crash at
// any byte of an append leaves every earlier record readable.
#include "app/history_file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/append_file.h"
#include "tests/app/history_samples.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tslflash {
namespace {

using ::testing::ElementsAre;
using testing::HistoryFolderTest;
using ::testing::IsEmpty;
using testing::SampleRecord;
using testing::Slurped;
using testing::WriteRaw;

std::vector<std::string> IdsOf(const HistoryRead& read) {
  std::vector<std::string> ids;
  for (const HistoryRecord& record : read.records) ids.push_back(record.id);
  return ids;
}

struct PathCase {
  std::string name;
  HistoryPlatform platform;
  std::map<std::string, std::string, std::less<>> environment;
  std::optional<std::string> path;
  std::string reason;
};

TEST(HistoryPath, ComesFromTheStateFolderTheEnvironmentNames) {
  const std::string noFolder = "neither XDG_STATE_HOME nor HOME names a folder";
  const std::vector<PathCase> rows{
      {"XDG state home",
       HistoryPlatform::Linux,
       {{"XDG_STATE_HOME", "/var/u/state"}, {"HOME", "/home/u"}},
       "/var/u/state/tslflash/history.jsonl",
       ""},
      {"trailing slash",
       HistoryPlatform::Linux,
       {{"XDG_STATE_HOME", "/var/u/state/"}},
       "/var/u/state/tslflash/history.jsonl",
       ""},
      {"only HOME",
       HistoryPlatform::Linux,
       {{"HOME", "/home/u"}},
       "/home/u/.local/state/tslflash/history.jsonl",
       ""},
      {"empty XDG",
       HistoryPlatform::Linux,
       {{"XDG_STATE_HOME", ""}, {"HOME", "/home/u"}},
       "/home/u/.local/state/tslflash/history.jsonl",
       ""},
      {"relative XDG is ignored",
       HistoryPlatform::Linux,
       {{"XDG_STATE_HOME", "state"}, {"HOME", "/home/u"}},
       "/home/u/.local/state/tslflash/history.jsonl",
       ""},
      {"relative HOME", HistoryPlatform::Linux, {{"HOME", "u"}}, std::nullopt, noFolder},
      {"none on Linux",
       HistoryPlatform::Linux,
       {{"LOCALAPPDATA", "C:\\Users\\u\\AppData\\Local"}},
       std::nullopt,
       noFolder},
      {"Windows",
       HistoryPlatform::Windows,
       {{"LOCALAPPDATA", "C:\\Users\\u\\AppData\\Local"}, {"HOME", "/home/u"}},
       "C:\\Users\\u\\AppData\\Local\\tslflash\\history.jsonl",
       ""},
      {"none on Windows",
       HistoryPlatform::Windows,
       {{"XDG_STATE_HOME", "/s"}, {"HOME", "/home/u"}, {"LOCALAPPDATA", ""}},
       std::nullopt,
       "LOCALAPPDATA is not set"},
  };
  for (const PathCase& row : rows) {
    SCOPED_TRACE(row.name);
    const HistoryEnvironment environment =
        [&row](std::string_view name) -> std::optional<std::string> {
      const auto found = row.environment.find(name);
      if (found == row.environment.end()) return std::nullopt;
      return found->second;
    };
    const HistoryLocation location = HistoryPath(environment, row.platform);
    EXPECT_EQ(location.path, row.path);
    EXPECT_EQ(location.reason, row.reason);
  }
}

using HistoryFile = HistoryFolderTest;

TEST_F(HistoryFile, AppendsMakeTheFoldersAndTheFileAndReadBackInOrder) {
  const std::string path = Path("state/deeper/tslflash/history.jsonl");
#ifndef _WIN32
  const mode_t mask = umask(022);
#endif
  ASSERT_EQ(AppendHistory(path, EncodeHistoryRecord(SampleRecord("a"))), "");
  ASSERT_EQ(AppendHistory(path, EncodeHistoryRecord(SampleRecord("b"))), "");
  ASSERT_EQ(AppendHistory(path, EncodeHistoryCompletion({"a", "2026-12-12T08:00:00Z",
                                                         Confirmation::Confirmed, "1.05"})),
            "");
#ifndef _WIN32
  umask(mask);
  // Only the user may read what was written to which drive.
  for (const std::string folder : {"state", "state/deeper", "state/deeper/tslflash"}) {
    struct stat status {};
    ASSERT_EQ(stat(Path(folder).c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0700u) << folder;
  }
  struct stat status {};
  ASSERT_EQ(stat(path.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600u);
#endif
  EXPECT_EQ(Slurped(path), EncodeHistoryRecord(SampleRecord("a")) + "\n" +
                               EncodeHistoryRecord(SampleRecord("b")) + "\n" +
                               EncodeHistoryCompletion(
                                   {"a", "2026-12-12T08:00:00Z", Confirmation::Confirmed, "1.05"}) +
                               "\n");
  const HistoryRead read = ReadHistory(path);
  EXPECT_EQ(read.error, "");
  EXPECT_THAT(read.warnings, IsEmpty());
  ASSERT_THAT(IdsOf(read), ElementsAre("a", "b"));
  EXPECT_EQ(read.records[0].confirmation, Confirmation::Confirmed);
}

// A crash leaves some first bytes of the line being appended. Wherever the
// cut falls, every record before it stays whole, the torn line costs exactly
// one warning, and the next append is read. Each file takes a run of cuts in
// turn, so torn lines also pile up between good ones, and stays below the
// rotation size.
TEST_F(HistoryFile, SurvivesACutAtEveryByteOfAnAppend) {
  // Ids of one length, so that every cut falls at the same byte of each.
  const auto tornId = [](std::size_t cut) {
    std::string digits = std::to_string(cut);
    return "torn" + std::string(4 - digits.size(), '0') + digits;
  };
  const std::size_t length = EncodeHistoryRecord(SampleRecord(tornId(0))).size() + 1;
  constexpr std::size_t kCutsAFile = 200;
  for (std::size_t from = 0; from <= length; from += kCutsAFile) {
    const std::string path = Path("history" + std::to_string(from) + ".jsonl");
    ASSERT_EQ(AppendHistory(path, EncodeHistoryRecord(SampleRecord("first"))), "");
    std::vector<std::string> ids{"first"};
    std::vector<std::string> warnings;
    std::size_t lines = 1;
    for (std::size_t cut = from; cut <= std::min(length, from + kCutsAFile - 1); ++cut) {
      SCOPED_TRACE("cut after " + std::to_string(cut) + " of " + std::to_string(length));
      const std::string torn = EncodeHistoryRecord(SampleRecord(tornId(cut))) + "\n";
      WriteRaw(path, std::string_view(torn).substr(0, cut));
      const std::string next = "next" + std::to_string(cut);
      ASSERT_EQ(AppendHistory(path, EncodeHistoryRecord(SampleRecord(next))), "");
      // Nothing of it is no line; all but its line break is a whole record.
      if (cut >= torn.size() - 1) ids.push_back(tornId(cut));
      if (cut > 0) ++lines;
      if (cut > 0 && cut < torn.size() - 1) {
        warnings.push_back("history: line " + std::to_string(lines) +
                           " is incomplete and was skipped");
      }
      ids.push_back(next);
      ++lines;
    }
    ASSERT_LT(std::filesystem::file_size(path), kHistoryRotationSize);
    const HistoryRead read = ReadHistory(path);
    EXPECT_EQ(read.error, "");
    EXPECT_EQ(read.warnings, warnings);
    EXPECT_EQ(IdsOf(read), ids);
    for (const HistoryRecord& record : read.records) EXPECT_EQ(record, SampleRecord(record.id));
  }
}

// A file grown past the rotation size is moved aside at the next append,
// once every record a later line may still name (the run still going or cut
// off, the drive still to be read again) is written again at its end. Both
// files read as one, each record once; the rotation after drops the older
// file, and the lines that named its records quietly, but not what is
// still unsettled.
TEST_F(HistoryFile, AFullFileIsRotatedKeepingEveryUnsettledRecord) {
  const std::string path = Path("history.jsonl");
  const std::string older = path + ".1";
  const auto line = [](const HistoryRecord& record) { return EncodeHistoryRecord(record) + "\n"; };
  const auto judgement = [](const std::string& id) {
    return EncodeHistoryCompletion({id, "2026-12-12T08:00:00Z", Confirmation::Confirmed, "1.05"});
  };
  HistoryRecord open = SampleRecord("open");
  open.open = true;
  HistoryRecord waiting = SampleRecord("waiting");
  waiting.confirmation = Confirmation::WrittenNotActive;
  HistoryRecord judged = waiting;
  judged.id = "judged";
  std::string full =
      line(open) + line(waiting) + line(judged) + judgement("judged") + "\n{\"kind\"\n";
  std::vector<std::string> ids{"open", "waiting", "judged"};
  // Filled to the size with settled records; each past one grows it.
  const auto fill = [&](std::string& text, std::string_view name) {
    for (int n = 0; text.size() < kHistoryRotationSize; ++n) {
      ids.push_back(std::string(name) + std::to_string(n));
      text += line(SampleRecord(ids.back()));
    }
  };
  fill(full, "old");
  WriteRaw(path, full);

  ASSERT_EQ(AppendHistory(path, EncodeHistoryRecord(SampleRecord("new"))), "");
  ids.push_back("new");
  EXPECT_EQ(Slurped(older), full + line(open) + line(waiting));
  EXPECT_EQ(Slurped(path), line(SampleRecord("new")));
  HistoryRead read = ReadHistory(path);
  EXPECT_EQ(read.error, "");
  EXPECT_THAT(read.warnings,
              ElementsAre("history: line 5 of " + older + " is incomplete and was skipped"));
  EXPECT_EQ(IdsOf(read), ids);
  EXPECT_EQ(read.records.front(), open);

  // The waiting record judged; the judged one's record goes with the older
  // file, its completion stays.
  ASSERT_EQ(AppendHistory(path, judgement("waiting")), "");
  ASSERT_EQ(AppendHistory(path, judgement("judged")), "");
  std::string next;
  ids.assign({"new"});
  fill(next, "mid");
  WriteRaw(path, next);
  ASSERT_EQ(AppendHistory(path, EncodeHistoryRecord(SampleRecord("newest"))), "");
  ids.push_back("open");
  ids.push_back("newest");
  EXPECT_EQ(Slurped(path), line(SampleRecord("newest")));
  read = ReadHistory(path);
  EXPECT_THAT(read.warnings, IsEmpty());
  EXPECT_EQ(IdsOf(read), ids);
  EXPECT_EQ(read.records[ids.size() - 2], open);
}

// Something other than a file where the older file goes: nothing is moved
// onto it, the file keeps its records and grows, and each read says why.
TEST_F(HistoryFile, AnOlderFileThatIsNoFileStopsTheRotationAndIsSaid) {
  const std::string path = Path("history.jsonl");
  std::filesystem::create_directories(path + ".1/inside");
  std::string full;
  for (int n = 0; full.size() < kHistoryRotationSize; ++n) {
    full += EncodeHistoryRecord(SampleRecord("r" + std::to_string(n))) + "\n";
  }
  WriteRaw(path, full);
  ASSERT_EQ(AppendHistory(path, EncodeHistoryRecord(SampleRecord("new"))), "");
  EXPECT_EQ(Slurped(path), full + EncodeHistoryRecord(SampleRecord("new")) + "\n");
  const HistoryRead read = ReadHistory(path);
  EXPECT_EQ(read.error, "");
  EXPECT_THAT(read.warnings,
              ElementsAre("history: cannot read " + path + ".1: a folder, not a file"));
  EXPECT_EQ(read.records.back().id, "new");
}

// A file far past any size this program lets it reach (made otherwise): its
// newest lines are read, with one warning and without the line the window
// cuts into, and the next append rotates it.
TEST_F(HistoryFile, AFileOfAnySizeIsReadFromItsNewestLines) {
  const std::string path = Path("history.jsonl");
  WriteRaw(path, "");
  std::filesystem::resize_file(path, std::uintmax_t{100} << 20);  // sparse: no time to write
  std::string tail = "\n";
  std::vector<std::string> ids;
  while (tail.size() < kHistoryReadWindow + 4096) {
    ids.push_back("r" + std::to_string(ids.size()));
    tail += EncodeHistoryRecord(SampleRecord(ids.back())) + "\n";
  }
  WriteRaw(path, tail);
  const auto large = [](const std::string& file) {
    return "history: " + file + " is larger than 4 MiB; only its newest 4 MiB are read";
  };
  HistoryRead read = ReadHistory(path);
  EXPECT_EQ(read.error, "");
  EXPECT_THAT(read.warnings, ElementsAre(large(path)));
  ASSERT_FALSE(read.records.empty());
  const auto first = std::find(ids.begin(), ids.end(), read.records.front().id);
  EXPECT_GT(first, ids.begin());
  EXPECT_EQ(IdsOf(read), std::vector<std::string>(first, ids.end()));

  ASSERT_EQ(AppendHistory(path, EncodeHistoryRecord(SampleRecord("new"))), "");
  EXPECT_EQ(Slurped(path), EncodeHistoryRecord(SampleRecord("new")) + "\n");
  read = ReadHistory(path);
  EXPECT_THAT(read.warnings, ElementsAre(large(path + ".1")));
  EXPECT_EQ(read.records.back().id, "new");
}

// A file that hands over a few bytes a write, and can fail at each step.
class FakeAppendFile final : public AppendFile {
 public:
  std::string contents;
  std::size_t bytesPerWrite = 3;
  std::string lastByteError, writeError, syncError;
  int syncs = 0;

  LastByteRead LastByte() override {
    if (!lastByteError.empty()) return {std::nullopt, lastByteError};
    if (contents.empty()) return {};
    return {contents.back(), {}};
  }
  AppendWrite Write(std::string_view bytes) override {
    if (!writeError.empty()) return {0, writeError};
    const std::size_t taken = std::min(bytes.size(), bytesPerWrite);
    contents.append(bytes.substr(0, taken));
    return {taken, {}};
  }
  std::string Sync() override {
    ++syncs;
    return syncError;
  }
};

TEST(AppendLine, WritesTheWholeLineThroughShortWritesEndingATornOneFirst) {
  struct Case {
    std::string name, before, after;
  };
  for (const Case& row : std::vector<Case>{{"empty file", "", "{record}\n"},
                                           {"ended file", "{a}\n", "{a}\n{record}\n"},
                                           {"torn last line", "{a}\n{b", "{a}\n{b\n{record}\n"}}) {
    SCOPED_TRACE(row.name);
    FakeAppendFile file;
    file.contents = row.before;
    EXPECT_EQ(AppendLine(file, "{record}"), "");
    EXPECT_EQ(file.contents, row.after);
    EXPECT_EQ(file.syncs, 1);
  }
}

TEST(AppendLine, AFailureAtAnyStepIsReportedAndNeverSynced) {
  FakeAppendFile unreadable;
  unreadable.lastByteError = "input/output error";
  EXPECT_EQ(AppendLine(unreadable, "{r}"), "input/output error");
  EXPECT_EQ(unreadable.contents, "");

  FakeAppendFile full;
  full.writeError = "no space left on device";
  EXPECT_EQ(AppendLine(full, "{r}"), "no space left on device");
  EXPECT_EQ(full.syncs, 0);

  FakeAppendFile stuck;  // takes nothing: no endless loop
  stuck.bytesPerWrite = 0;
  EXPECT_EQ(AppendLine(stuck, "{r}"), "nothing was written");
  EXPECT_EQ(stuck.syncs, 0);

  FakeAppendFile unsynced;
  unsynced.syncError = "input/output error";
  EXPECT_EQ(AppendLine(unsynced, "{r}"), "input/output error");
}

TEST_F(HistoryFile, RefusesWhatCannotBeOneRecordOrOneFile) {
  const std::string path = Path("tslflash/history.jsonl");
  EXPECT_EQ(AppendHistory(path, "{\"a\":1}\n{\"b\":2}"),
            "history: cannot write " + path + ": a record must be one line");
  EXPECT_EQ(AppendHistory(path, ""),
            "history: cannot write " + path + ": a record must be one line");
  EXPECT_FALSE(std::filesystem::exists(Path("tslflash")));

  WriteRaw(Path("file"), "x");
  const std::string underAFile = Path("file/history.jsonl");
  EXPECT_EQ(AppendHistory(underAFile, "{}"),
            "history: cannot create " + Path("file") + ": exists and is not a folder");

  std::filesystem::create_directories(Path("folder.jsonl"));
  EXPECT_THAT(AppendHistory(Path("folder.jsonl"), "{}"),
              ::testing::StartsWith("history: cannot write " + Path("folder.jsonl") + ": "));
#ifndef _WIN32
  ASSERT_EQ(mkfifo(Path("fifo.jsonl").c_str(), 0600), 0);  // no reader: must not wait
  EXPECT_EQ(AppendHistory(Path("fifo.jsonl"), "{}"),
            "history: cannot write " + Path("fifo.jsonl") + ": not a regular file");
#endif
}

TEST_F(HistoryFile, AMissingFileHoldsNoRecordsAndAnUnreadableOneIsAnError) {
  const HistoryRead missing = ReadHistory(Path("none/history.jsonl"));
  EXPECT_EQ(missing.error, "");
  EXPECT_THAT(missing.records, IsEmpty());
  EXPECT_THAT(missing.warnings, IsEmpty());

  std::filesystem::create_directories(Path("folder.jsonl"));
  const HistoryRead folder = ReadHistory(Path("folder.jsonl"));
  EXPECT_THAT(folder.error,
              ::testing::StartsWith("history: cannot read " + Path("folder.jsonl") + ": "));
  EXPECT_THAT(folder.records, IsEmpty());
}

}  // namespace
}  // namespace tslflash
