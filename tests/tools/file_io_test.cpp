// The output file's own steps, where the programs cannot reach them: the
// rename that puts the file in place, and the folder it leaves behind.
#include "tools/file_io.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "tests/support/tool_run.h"

namespace tslflash {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using testing::Slurp;

class OutputFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(::testing::TempDir()) / ("file_io_test_" + std::to_string(getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Path(std::string_view name) const { return (dir_ / name).string(); }
  std::set<std::string> Names() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }

  static std::span<const std::uint8_t> Bytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
  }

 private:
  fs::path dir_;
};

// What stood at the path was fine when the file was made and is a folder
// when it is put in place: the rename fails (EISDIR), and that failure is
// the answer, not a success.
TEST_F(OutputFileTest, ARenameThatFailsIsReportedAndLeavesNothing) {
  const std::string path = Path("report.txt");
  OpenedOutputFile opened = CreateOutputFile(path);
  ASSERT_EQ(opened.error, "");
  fs::create_directory(path);
  std::ofstream(path + "/kept") << "kept\n";
  struct stat before {};
  ASSERT_EQ(lstat(path.c_str(), &before), 0);

  EXPECT_EQ(opened.file->Commit(Bytes("report\n")), "cannot write " + path + ": is a directory");
  opened.file.reset();

  struct stat after {};
  ASSERT_EQ(lstat(path.c_str(), &after), 0);
  EXPECT_TRUE(S_ISDIR(after.st_mode));
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(Slurp(path + "/kept"), "kept\n");
  EXPECT_THAT(Names(), ElementsAre("report.txt")) << "the temporary file is gone";
}

// A regular file is replaced whole; links in the folders above the file are
// the user's own path and are followed; nothing else is left beside it.
TEST_F(OutputFileTest, ReplacesARegularFileAndLeavesOnlyIt) {
  fs::create_directory(Path("real"));
  fs::create_directory_symlink(Path("real"), Path("linked"));
  std::ofstream(Path("real/report.txt")) << "an earlier report\n";

  EXPECT_EQ(OutputFileProblem(Path("linked/report.txt")), "");
  EXPECT_EQ(WriteFileAtomically(Path("linked/report.txt"), "the new report\n"), "");
  EXPECT_EQ(Slurp(Path("real/report.txt")), "the new report\n");
  EXPECT_EQ(PrepareOutputFolder(Path("real")), "");
  EXPECT_EQ(WriteFileInFolder(Path("real"), "drive-1.bin", Bytes("image")), "");
  EXPECT_EQ(Slurp(Path("real/drive-1.bin")), "image");

  std::set<std::string> inReal;
  for (const auto& entry : fs::directory_iterator(Path("real"))) {
    inReal.insert(entry.path().filename().string());
  }
  EXPECT_THAT(inReal, ElementsAre("drive-1.bin", "report.txt"));
}

}  // namespace
}  // namespace tslflash
