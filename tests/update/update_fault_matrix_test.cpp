// Every command of a full update run fails in turn, in every way a command
// can fail: no run may report success unless the drive holds the whole,
// correct image, and every run ends with the timer stopped, the Close command
// enabled and a word to the user.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <iomanip>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
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

  const Bytes raw = SynthesizeImage(2 * kPage, 4);
  RunSetup inflated = Plain('2', PackDeflated(raw));
  inflated.plan = testing::PlanOf(0x00, true, true);
  runs.push_back(
      {"summed pages inflated", inflated, [raw](const RunHarness&) { return raw; }, Never});

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

// The command that closes each transfer, struck in every way a command can
// fail, on a drive being updated and on one that already runs the
// package's revision (a reinstall): a drive that takes an image reports the
// new revision at once, so only what it reported before the run tells a
// reinstall's failed commit from a completed update. No run may succeed
// without the drive having accepted and committed the whole image (a
// reinstall whose drive took the image but failed the command ends as a
// failure all the same), and each says once what the drive reports. The
// table is printed.
struct ClosingCase {
  const char* name;
  RunSetup setup;
  emu::ForOpcode closing;
  std::function<Bytes(const RunHarness&)> expected;
};

std::vector<ClosingCase> ClosingCases() {
  const auto packageImage = [](std::size_t length) {
    return [length](const RunHarness& h) { return h.PackageBytes(64, length); };
  };
  RunSetup summed = Plain('2', SynthesizeImage(2 * kPage, 42));
  summed.drive.bufferSizeKiB = 2048;
  summed.plan = testing::PlanOf(0x30, true, true);
  RunSetup twoBanks = Plain('4', SynthesizeImage(8 * kPage, 45));
  twoBanks.drive.bankSize = 65536;
  twoBanks.modelCode = "471K";
  return {
      {"0 image commit",
       Plain('0', SynthesizeImage(8 * kPage, 40)),
       {0x3B, 0x04},
       packageImage(8 * kPage)},
      // The page protocols close with their last page.
      {"1 last signed page",
       Plain('1', SynthesizeImage(2 * kPage, 41)),
       {0xFD, 0x07, 2},
       packageImage(2 * kPage)},
      {"2 last summed page", summed, {0xFA, std::nullopt, 2}, packageImage(2 * kPage)},
      {"3 download end",
       Plain('3', SynthesizeImage(2 * 4096 + 100, 43)),
       {0xF2, 0x04},
       packageImage(2 * 4096 + 100)},
      {"4 bank commit",
       Plain('4', SynthesizeImage(8 * kPage, 44)),
       {0x3B, 0x07},
       packageImage(8 * kPage)},
      {"471K bank 1 commit", twoBanks, {0x3B, 0x07, 1}, packageImage(8 * kPage)},
      {"471K bank 0 commit", twoBanks, {0x3B, 0x07, 2}, packageImage(8 * kPage)},
  };
}

struct ClosingFault {
  const char* name;
  std::optional<emu::Fault> fault;  // its place is the closing command's
  // A fault on every INQUIRY after the enumeration's as well: what the drive
  // reports before and after the transfer does not arrive.
  std::optional<emu::Fault> inquiry = std::nullopt;
};

std::vector<ClosingFault> ClosingFaults() {
  const auto fault = [](emu::FaultKind kind) { return emu::Fault{kind}; };
  emu::Fault reset = fault(emu::FaultKind::Sense);
  reset.sense = {0x06, 0x29, 0x00};
  emu::Fault busy = fault(emu::FaultKind::Status);
  busy.status = 0x08;
  emu::Fault conflict = fault(emu::FaultKind::Status);
  conflict.status = 0x18;
  emu::Fault cutShort = fault(emu::FaultKind::ShortReply);
  cutShort.length = 20;
  // The drive takes the image and resets before it answers.
  emu::Fault resetAfter = fault(emu::FaultKind::FailAfter);
  resetAfter.sense = {0x06, 0x29, 0x00};
  return {
      {"none (the run succeeds)", std::nullopt},
      {"fail", fault(emu::FaultKind::Fail)},
      {"sense 06/29/00", reset},
      {"timeout", fault(emu::FaultKind::TimeOut)},
      {"failWithoutSense", fault(emu::FaultKind::FailWithoutSense)},
      {"status 08", busy},
      {"status 18", conflict},
      {"powerCut", fault(emu::FaultKind::PowerCut)},
      {"failAfter 06/29/00", resetAfter},
      {"fail, INQUIRY noData", fault(emu::FaultKind::Fail), fault(emu::FaultKind::NoData)},
      {"fail, INQUIRY shortReply 20", fault(emu::FaultKind::Fail), cutShort},
  };
}

struct ClosingRun {
  bool succeeded = false;
  bool imageIn = false;  // the drive accepted and committed the whole image
};

ClosingRun RunStruck(const ClosingCase& c, const ClosingFault& f, std::string_view revision) {
  RunSetup setup = c.setup;
  setup.drive.revision = std::string(revision);
  setup.drive.activatesAs = "1.07";
  setup.drive.activatesAtOnce = true;
  if (f.fault) {
    emu::Fault closing = *f.fault;
    closing.when = c.closing;
    setup.drive.faults.push_back(closing);
  }
  if (f.inquiry) {
    emu::Fault inquiry = *f.inquiry;
    inquiry.when = emu::ForOpcode{0x12, std::nullopt, 2};
    inquiry.times = emu::kAlways;
    setup.drive.faults.push_back(inquiry);
  }
  RunHarness h(setup);
  ClosingRun run;
  run.succeeded = h.Run({BoxAnswer::Ok, BoxAnswer::Ok, BoxAnswer::Ok, BoxAnswer::Ok}) == 1;
  run.imageIn = h.drive->ReceivedImage() == c.expected(h);
  const std::vector<std::string> log = h.Log();
  EXPECT_LE(testing::RevisionLines(log).size(), 1u) << "the drive's revision said twice";
  if (!run.succeeded) {
    EXPECT_EQ(h.dialog->LastOutcome(), OutcomeCode::TransferFailed);
  }
  EXPECT_TRUE(EndedVisibly(log));
  return run;
}

std::string Cell(const ClosingRun& run) {
  if (!run.succeeded) return run.imageIn ? "FAIL, image in" : "FAIL";
  return run.imageIn ? "SUCCEED" : "SUCCEED, NO IMAGE";
}

TEST(UpdateFaultMatrix, NoFailedClosingCommandSucceedsWithoutTheImage) {
  constexpr std::string_view kRevisions[] = {"1.02", "1.07"};
  std::ostringstream table;
  table << std::left << std::setw(20) << "closing command" << std::setw(30) << "fault"
        << std::setw(20) << "update 1.02"
        << "reinstall 1.07\n";
  std::map<std::string_view, std::array<int, 3>> totals;  // runs, successes, without the image
  for (const ClosingCase& c : ClosingCases()) {
    for (const ClosingFault& f : ClosingFaults()) {
      table << std::setw(20) << c.name << std::setw(30) << f.name;
      for (const std::string_view revision : kRevisions) {
        SCOPED_TRACE(std::string(c.name) + ", " + f.name + ", drive at " + std::string(revision));
        const ClosingRun run = RunStruck(c, f, revision);
        EXPECT_FALSE(run.succeeded && !run.imageIn) << "success without the image";
        EXPECT_TRUE(f.fault || (run.succeeded && run.imageIn)) << "the run without a fault";
        std::array<int, 3>& total = totals[revision];
        ++total[0];
        total[1] += run.succeeded ? 1 : 0;
        total[2] += run.succeeded && !run.imageIn ? 1 : 0;
        table << std::setw(20) << Cell(run);
      }
      table << "\n";
    }
  }
  for (const std::string_view revision : kRevisions) {
    const std::array<int, 3>& total = totals[revision];
    table << "drive at " << revision << ": " << total[0] << " runs, " << total[1] << " successes, "
          << total[2] << " without an accepted, committed image\n";
  }
  std::cout << table.str();
}

}  // namespace
}  // namespace tslflash
