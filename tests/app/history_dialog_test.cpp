// The dialog keeps its history ahead of the drive: for each protocol, the
// history is told before the run's first command that changes the drive,
// and by then the file holds the run's open record, naming the drive, the
// package and what will be sent; the run's end closes that record under its
// id.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/history_file.h"
#include "app/history_keeper.h"
#include "tests/app/history_samples.h"
#include "tests/support/emulated_dialog.h"

namespace tslflash {
namespace {

constexpr std::size_t kPage = 16384;

// What the history had when the run was about to change the drive.
struct SeenAtStart {
  std::vector<emu::TraceEntry> trace;  // every command the drive had received
  HistoryRead read;
  int calls = 0;
};

// The history file, watched at the moment the run opens its record.
class WatchedHistory final : public RunHistory {
 public:
  WatchedHistory(const std::string& path, const emu::DriveEmulator& drive, SeenAtStart& seen)
      : file_(path, errors_), path_(path), drive_(drive), seen_(seen) {}
  void StartedUp(UpdateDialog& dialog) override { file_.StartedUp(dialog); }
  void RunChangesDrive(const UpdateDialog& dialog) override {
    file_.RunChangesDrive(dialog);
    seen_.trace = drive_.Trace();
    seen_.read = ReadHistory(path_);
    ++seen_.calls;
  }
  void RunEnded(const UpdateDialog& dialog) override { file_.RunEnded(dialog); }

 private:
  std::ostringstream errors_;
  FileRunHistory file_;
  std::string path_;
  const emu::DriveEmulator& drive_;
  SeenAtStart& seen_;
};

struct ProtocolCase {
  const char* name;
  char digit;
  std::uint16_t bufferSizeKiB;  // the summed-pages drive takes the image as stored
};

void PrintTo(const ProtocolCase& c, std::ostream* os) { *os << c.name; }

class HistoryDialogTest : public testing::HistoryFolderTest,
                          protected testing::EmulatedDialog,
                          public ::testing::WithParamInterface<ProtocolCase> {};

TEST_P(HistoryDialogTest, TheOpenRecordIsOnTheDiskBeforeTheDriveIsChanged) {
  // Drive B of the internal drives, which every protocol's package fits.
  emu::DriveDescription drive = testing::DriveNamed("VARN", "DVD RW LPX-407A", "1.00");
  drive.enclosure = "VARN      VR";
  drive.activatesAs = "1.50";
  drive.activatesAtOnce = true;
  drive.bufferSizeKiB = GetParam().bufferSizeKiB;
  PackageRecipe recipe;
  recipe.protocolDigit = GetParam().digit;
  recipe.inquiryId = "*" + std::string(23, ' ') + "1.50";
  recipe.altProductName = "TX2350";
  recipe.altProductNameNulPadded = true;
  recipe.variantMark = "VR";
  recipe.revisionPattern = "1.**";
  recipe.image = SynthesizeImage(8 * kPage, 7);
  Make({drive}, recipe);
  const std::string path = Path("history.jsonl");
  SeenAtStart seen;
  dialog->UseRunHistory(std::make_unique<WatchedHistory>(path, *emulators[0], seen));
  view.Answer({BoxAnswer::Ok});
  ASSERT_TRUE(dialog->OnInitDialog());
  view.SelectTreeItem(2);
  dialog->OnDriveSelChanged(view.GetSelectedTreeItem());
  // The update's confirmation, its notice, and no restart.
  view.Answer({BoxAnswer::Ok, BoxAnswer::Ok, BoxAnswer::Cancel});
  dialog->OnUpgrade();
  ASSERT_EQ(view.workers.size(), 1u);
  view.workers.front()();
  ASSERT_TRUE(dialog->LastRunCompleted()) << dialog->LogPane();

  ASSERT_EQ(seen.calls, 1);
  EXPECT_FALSE(std::ranges::any_of(seen.trace, testing::ChangesTheDrive));
  EXPECT_TRUE(std::ranges::any_of(emulators[0]->Trace(), testing::ChangesTheDrive));
  EXPECT_THAT(seen.read.warnings, ::testing::IsEmpty());
  ASSERT_EQ(seen.read.records.size(), 1u);
  const HistoryRecord& opened = seen.read.records[0];
  EXPECT_TRUE(opened.open);
  EXPECT_EQ(opened.drive,
            (HistoryDrive{"VARN", "DVD RW LPX-407A", "1.00", "VARN      VR", "emulated:0"}));
  EXPECT_EQ(opened.package.revision, "1.50");
  EXPECT_EQ(opened.unitsSent, 0u);
  EXPECT_FALSE(opened.outcome.has_value());

  const HistoryRead ended = ReadHistory(path);
  ASSERT_EQ(ended.records.size(), 1u);
  const HistoryRecord& closed = ended.records[0];
  EXPECT_EQ(closed.id, opened.id);
  EXPECT_EQ(closed.time, opened.time);
  EXPECT_FALSE(closed.open);
  EXPECT_EQ(closed.confirmation, Confirmation::Confirmed);
  // What was announced is what went.
  EXPECT_EQ(closed.unit, opened.unit);
  EXPECT_EQ(closed.unitsTotal, opened.unitsTotal);
  EXPECT_EQ(closed.unitsSent, closed.unitsTotal);
  EXPECT_GT(opened.unitsTotal, 0u);
}

INSTANTIATE_TEST_SUITE_P(Protocols, HistoryDialogTest,
                         ::testing::Values(ProtocolCase{"BufferPages", '0', 8192},
                                           ProtocolCase{"SignedPages", '1', 8192},
                                           ProtocolCase{"SummedPages", '2', 2048},
                                           ProtocolCase{"SmallBlocks", '3', 8192},
                                           ProtocolCase{"BankedPages", '4', 8192}),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

}  // namespace
}  // namespace tslflash
