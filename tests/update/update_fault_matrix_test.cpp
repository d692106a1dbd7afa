// Every command of a full update run fails in turn, in every way a command
// can fail: no run may report success unless the drive holds the whole,
// correct image, and every run ends with the timer stopped, the Close command
// enabled and a word to the user.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "tests/update/run_harness.h"

namespace tslflash {
namespace {

using ::testing::Contains;
using testing::RecipeFor;
using testing::RunHarness;
using testing::RunSetup;
using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kPage = 16384;
constexpr std::string_view kSucceeded = "======== SUCCEED ========";
// The lines that end a run that did not succeed.
constexpr std::string_view kFailureLines[] = {
    "======== FAIL ========",
    "Check Sum not match !!",  // the model-code read's handshake refused
    "On Command Fail !!",
    "The drive is not allowed to be updated.",
    "The firmware image could not be decompressed.",
};

struct MatrixRun {
  const char* name;
  RunSetup setup;
  // What the drive must hold after a successful run.
  std::function<Bytes(const RunHarness&)> expected;
  // The command that closes the transfer. When only it fails, the run still
  // counts the transfer as done: every unit is in the drive's memory.
  std::function<bool(const std::vector<std::uint8_t>& cdb)> closes;
};

bool Never(const std::vector<std::uint8_t>&) { return false; }

RunSetup Plain(char digit, Bytes image) {
  RunSetup setup;
  setup.recipe = RecipeFor(digit, std::move(image));
  return setup;
}

std::vector<MatrixRun> MatrixRuns() {
  const auto packageImage = [](std::size_t length) {
    return [length](const RunHarness& h) { return h.PackageBytes(64, length); };
  };
  std::vector<MatrixRun> runs;

  RunSetup buffer = Plain('0', SynthesizeImage(2 * kPage, 1));
  buffer.drive.imageSizeKiB = 32;
  runs.push_back({"buffer pages", buffer, packageImage(2 * kPage),
                  [](const auto& cdb) { return cdb[0] == 0x3B && cdb[1] == 0x04; }});

  runs.push_back(
      {"signed pages", Plain('1', SynthesizeImage(2 * kPage, 2)), packageImage(2 * kPage), Never});

  RunSetup stored = Plain('2', SynthesizeImage(2 * kPage, 3));
  stored.drive.bufferSizeKiB = 2048;
  stored.plan = testing::PlanOf(0x30, true, true);
  runs.push_back({"summed pages as stored", stored, packageImage(2 * kPage), Never});

  const Bytes raw = SynthesizeImage(40000, 4);
  RunSetup inflated = Plain('2', PackDeflated(raw));
  inflated.plan = testing::PlanOf(0x00, true, true);
  runs.push_back({"summed pages inflated", inflated,
                  [raw](const RunHarness&) { return Bytes(raw.begin(), raw.begin() + 2 * kPage); },
                  Never});

  runs.push_back({"small blocks", Plain('3', SynthesizeImage(2 * 4096 + 100, 5)),
                  packageImage(2 * 4096 + 100),
                  [](const auto& cdb) { return cdb[0] == 0xF2 && cdb[1] == 0x04; }});

  RunSetup banked = Plain('4', SynthesizeImage(8 * kPage, 6));
  banked.drive.bankSize = 65536;
  banked.modelCode = "471K";
  runs.push_back(
      {"banked pages in two banks", banked, packageImage(8 * kPage), [](const auto& cdb) {
         // The commit of bank 0: mode 7 without data.
         return cdb[0] == 0x3B && cdb[1] == 0x07 && cdb[3] == 0 && cdb[8] == 0;
       }});
  return runs;
}

struct FaultKind {
  emu::FaultKind kind;
  const char* name;
  std::uint8_t status = 0;  // kind Status only
};

const FaultKind kFaultKinds[] = {
    {emu::FaultKind::FailWithoutSense, "failed command"},
    {emu::FaultKind::TimeOut, "time-out"},
    {emu::FaultKind::Fail, "CHECK CONDITION"},
    {emu::FaultKind::CorruptReadBack, "corrupted read-back"},
    {emu::FaultKind::Status, "BUSY", 0x08},
    {emu::FaultKind::Status, "RESERVATION CONFLICT", 0x18},
    {emu::FaultKind::NoData, "read without data"},
};

bool EndedVisibly(const std::vector<std::string>& log) {
  for (const std::string_view line : kFailureLines) {
    if (std::ranges::find(log, line) != log.end()) return true;
  }
  return std::ranges::find(log, kSucceeded) != log.end();
}

// Checks one run with the command at `position` (from 1) struck by `kind`.
void CheckStruckRun(const MatrixRun& run, const FaultKind& kind, std::uint32_t position) {
  RunHarness h(run.setup);
  const std::uint32_t number = h.CommandsBeforeRun() + position;
  emu::Fault fault{kind.kind, emu::AtCommand{number}};
  fault.status = kind.status;
  h.drive->AddFault(fault);
  (void)h.Run({BoxAnswer::Ok, BoxAnswer::Ok, BoxAnswer::Ok, BoxAnswer::Ok, BoxAnswer::Ok});

  const std::vector<std::string> log = h.Log();
  EXPECT_TRUE(EndedVisibly(log));
  EXPECT_TRUE(h.view.timers.empty()) << "timer 1 still runs";
  EXPECT_TRUE(h.view.closeEnabled);
  if (std::ranges::find(log, kSucceeded) == log.end()) return;

  const Bytes expected = run.expected(h);
  if (h.drive->ReceivedImage() == expected) return;
  const auto trace = h.drive->Trace();
  const bool closingFailed = kind.kind != emu::FaultKind::CorruptReadBack &&
                             kind.kind != emu::FaultKind::NoData && number <= trace.size() &&
                             run.closes(trace[number - 1].cdb);
  EXPECT_TRUE(closingFailed) << "success reported, but the drive does not hold the image";
  EXPECT_EQ(h.drive->DownloadMemoryBytes(0, static_cast<std::uint32_t>(expected.size())), expected);
}

TEST(UpdateFaultMatrix, NoRunReportsSuccessWithoutTheWholeImage) {
  for (const MatrixRun& run : MatrixRuns()) {
    SCOPED_TRACE(run.name);
    std::size_t commands = 0;
    {
      RunHarness clean(run.setup);
      ASSERT_EQ(clean.Run({BoxAnswer::Ok, BoxAnswer::Cancel}), 1);
      ASSERT_EQ(clean.drive->ReceivedImage(), run.expected(clean));
      commands = clean.RunTrace().size();
    }
    for (const FaultKind& kind : kFaultKinds) {
      for (std::uint32_t position = 1; position <= commands; ++position) {
        SCOPED_TRACE(std::string(kind.name) + " at command " + std::to_string(position));
        CheckStruckRun(run, kind, position);
      }
    }
  }
}

}  // namespace
}  // namespace tslflash
