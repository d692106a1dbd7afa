// The POSIX append file: it is never reached through a symbolic link, and an
// append is on the disk when it returns: the file synced after the write,
// and the folder too when the append made the file.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/append_file_posix.h"
#include "tests/app/history_samples.h"

namespace tslflash {
namespace {

namespace fs = std::filesystem;
using ::testing::Contains;
using ::testing::Not;
using testing::Slurped;

// What a sync call was given: which file, and how long it was then.
struct Synced {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  bool operator==(const Synced&) const = default;
  friend void PrintTo(const Synced& s, std::ostream* os) {
    *os << "inode " << s.inode << " at " << s.size << " bytes";
  }
};

std::vector<Synced> synced;  // NOLINT: a plain function pointer has no state of its own
int syncError = 0;           // NOLINT: as above

int RecordingSync(int descriptor) {
  struct stat status {};
  if (fstat(descriptor, &status) == 0)
    synced.push_back({status.st_dev, status.st_ino, status.st_size});
  if (syncError != 0) {
    errno = syncError;
    return -1;
  }
  return fsync(descriptor);
}

Synced Now(const std::string& path) {
  struct stat status {};
  EXPECT_EQ(lstat(path.c_str(), &status), 0) << path;
  return {status.st_dev, status.st_ino, status.st_size};
}

class AppendFileTest : public testing::HistoryFolderTest {
 protected:
  void SetUp() override {
    HistoryFolderTest::SetUp();
    synced.clear();
    syncError = 0;
  }

  std::string Append(const std::string& path, std::string_view line) {
    const OpenedAppendFile opened = OpenAppendFile(path, RecordingSync);
    if (!opened.error.empty()) return opened.error;
    return AppendLine(*opened.file, line);
  }
};

TEST_F(AppendFileTest, AnAppendSyncsTheFileAfterItsWriteAndANewFilesFolder) {
  fs::create_directory(Path("history"));
  const std::string path = Path("history/history.jsonl");

  ASSERT_EQ(Append(path, "{\"first\":1}"), "");
  EXPECT_THAT(synced, Contains(Now(path))) << "the file, with the line in it";
  EXPECT_THAT(synced, Contains(Now(Path("history")))) << "the folder that took its name";

  synced.clear();
  ASSERT_EQ(Append(path, "{\"second\":2}"), "");
  EXPECT_THAT(synced, Contains(Now(path)));
  EXPECT_EQ(Slurped(path), "{\"first\":1}\n{\"second\":2}\n");

  syncError = EIO;
  EXPECT_EQ(Append(path, "{\"third\":3}"), "input/output error");
}

// Whatever a link points to, nothing is written there and the link stays.
TEST_F(AppendFileTest, NothingIsReachedThroughASymbolicLink) {
  fs::create_directory(Path("history"));
  fs::create_directory(Path("elsewhere"));
  std::ofstream(Path("outside.jsonl")) << "{\"theirs\":1}\n";
  const struct {
    std::string name;
    std::string path;
    std::string reason;
  } cases[] = {
      {"to a file outside", "history/outside.jsonl", "a symbolic link, not followed"},
      {"dangling", "history/dangling.jsonl", "a symbolic link, not followed"},
      {"a loop", "history/loop.jsonl", "a symbolic link, not followed"},
      {"its folder", "linked/history.jsonl", "its folder is a symbolic link, not followed"},
      {"its folder, with a slash", "linked//history.jsonl",
       "its folder is a symbolic link, not followed"},
  };
  fs::create_symlink(Path("outside.jsonl"), Path("history/outside.jsonl"));
  fs::create_symlink(Path("nowhere.jsonl"), Path("history/dangling.jsonl"));
  fs::create_symlink(Path("history/loop.jsonl"), Path("history/loop.jsonl"));
  fs::create_directory_symlink(Path("elsewhere"), Path("linked"));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Append(Path(c.path), "{}"), c.reason);
  }
  EXPECT_EQ(Slurped(Path("outside.jsonl")), "{\"theirs\":1}\n");
  EXPECT_FALSE(fs::exists(fs::symlink_status(Path("nowhere.jsonl"))));
  EXPECT_TRUE(fs::is_empty(Path("elsewhere")));
  EXPECT_THAT(synced, Not(Contains(Now(Path("outside.jsonl")))));
}

}  // namespace
}  // namespace tslflash
