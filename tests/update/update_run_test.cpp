// The update run through the dialog, its test window and an emulated drive:
// each protocol flashes the drive with exactly the image that was checked,
// and every way the run ends shows the user what happened, in order.
#include "update/update_run.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>

#include "package/package_layout.h"
#include "tests/update/run_harness.h"
#include "update/announcing_restarter.h"
#include "update/hex_text.h"

namespace tslflash {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using testing::RecipeFor;
using testing::RevisionLines;
using testing::RunHarness;
using testing::RunSetup;
using Bytes = std::vector<std::uint8_t>;
using Lines = std::vector<std::string>;
using std::chrono::milliseconds;

constexpr std::size_t kPage = 16384;
constexpr std::string_view kLongRestartText =
    "Upgrade completed! Do you want to Restart the computer Now ?\n\nIf your device is an "
    "external model (USB/1394), please also cycle power on your device to ensure it will "
    "function properly.";
constexpr std::string_view kTransferFailedBox =
    "Updating incomplete or interrupted! \n\nPlease retry after rebooting your computer and "
    "ensure the drive is\nproperly installed and detected by the operating system.\nAlso remove "
    "any media from the drive.\n\nIt is highly recommended to terminate all applications before "
    "updating.\n\nIf the problem persists, please contact product support.";

// The stored checksum lines the run starts with.
Lines SumLines(const RunHarness& h, PackageForm form) {
  const std::size_t at = form == PackageForm::Varn2340 ? 70 : 56;
  return {"log Linear CheckSum : " + HexWord(ReadLe16(h.package, at)),
          "log Rotated CheckSum : " + HexWord(ReadLe16(h.package, at + 2))};
}

Lines Join(std::initializer_list<Lines> parts) {
  Lines all;
  for (const Lines& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

const Lines kConfirmed = {"log Check Sum match !!", "box Do you really want to upgrade ?",
                          "StartTimer 1"};
const Lines kTransferStarts = {"log Start to upgrade...", "log Don't turn off the power!!",
                               "EnableCloseCommand off"};
Lines Succeeded(std::string_view line) {
  return {"log  ",       "log " + std::string(line), "log  ", "SetProgressPosition 100",
          "StopTimer 1", "EnableCloseCommand on"};
}
// The harness's drives keep reporting their revision until a power cycle.
const std::string kStillOldFirmware =
    "The drive still reports firmware 1.02: the new firmware takes effect after a restart or "
    "power cycle.";
const Lines kTransferFailed = {"SetProgressPosition 0",
                               "StopTimer 1",
                               "log  ",
                               "log ======== FAIL ========",
                               "box " + std::string(kTransferFailedBox),
                               "log  ",
                               "EnableCloseCommand on"};

Bytes Pages(std::size_t count, std::uint64_t seed) { return SynthesizeImage(count * kPage, seed); }

RunSetup PlainRun(char digit, Bytes image) {
  RunSetup setup;
  setup.recipe = RecipeFor(digit, std::move(image));
  return setup;
}

// A summed-pages run for a drive with the small buffer: the image goes as
// stored, the model-code blocks are marked and restored, the hardware class
// checked.
RunSetup StoredSummed(Bytes image) {
  RunSetup setup = PlainRun('2', std::move(image));
  setup.drive.bufferSizeKiB = 2048;
  setup.plan = testing::PlanOf(0x30, true, true);
  return setup;
}

// A summed-pages run for a large-buffer drive: the image is inflated first.
RunSetup InflatedSummed(Bytes stored) {
  RunSetup setup = PlainRun('2', std::move(stored));
  setup.plan = testing::PlanOf(0x00, true, true);
  return setup;
}

struct FlashCase {
  const char* name;
  RunSetup setup;
  // What the drive must hold afterwards, read from the harness.
  std::function<Bytes(const RunHarness&)> expected;
  emu::Protocol protocol;
  std::function<void(const RunHarness&)> check = [](const RunHarness&) {};
};

std::vector<FlashCase> FlashCases() {
  std::vector<FlashCase> cases;
  {
    RunSetup setup = PlainRun('0', Pages(2, 1));
    setup.drive.imageSizeKiB = 32;
    // The second page reads back wrong four times, then right.
    setup.drive.faults.push_back(
        {emu::FaultKind::CorruptReadBack, emu::ForOpcode{0x3C, 0x02, 2}, 4});
    cases.push_back({"buffer pages, a page read back wrong four times", setup,
                     [](const RunHarness& h) { return h.PackageBytes(64, 2 * kPage); },
                     emu::Protocol::BufferPages,
                     [](const RunHarness& h) {
                       EXPECT_EQ(h.diagnostics.str(),
                                 "\nFirmware will be upgraded!\n\n\nTransferring firmware..."
                                 "Transfer of 1 page 16k bytes\nTransfer of 2 page 16k bytes\n");
                     }});
  }
  cases.push_back({"signed pages from offset 64", PlainRun('1', Pages(2, 2)),
                   [](const RunHarness& h) { return h.PackageBytes(64, 2 * kPage); },
                   emu::Protocol::SignedPages});
  cases.push_back(
      {"summed pages as stored", StoredSummed(Pages(2, 3)),
       [](const RunHarness& h) { return h.PackageBytes(64, 2 * kPage); },
       emu::Protocol::SummedPages,
       [](const RunHarness& h) {
         // The run's marker is gone again, the drive's own bytes kept.
         EXPECT_THAT(*h.drive->GetParameterBlock(0x02), ElementsAre(0x30, 0x00, 0x12, 0x34));
         EXPECT_THAT(*h.drive->GetParameterBlock(0x24), ElementsAre(0x30, 0x00, 0xAB, 0xCD));
       }});
  {
    RunSetup setup = StoredSummed(SynthesizeImage(2 * kPage + 12, 4));
    setup.recipe.altProductName = "TQ70";  // a check per page; the last 12 bytes are not sent
    cases.push_back({"summed pages with a check per page", setup,
                     [](const RunHarness& h) { return h.PackageBytes(64, 2 * kPage); },
                     emu::Protocol::SummedPages,
                     [](const RunHarness& h) {
                       std::set<std::pair<int, int>> checks;
                       for (const auto& entry : h.RunTrace()) {
                         if (entry.cdb[0] == 0xFA) checks.emplace(entry.cdb[3], entry.cdb[4]);
                       }
                       EXPECT_EQ(checks.size(), 2u) << "each page carries its own check";
                     }});
  }
  {
    const Bytes raw = Pages(2, 5);
    cases.push_back({"summed pages inflated", InflatedSummed(PackDeflated(raw)),
                     [raw](const RunHarness&) { return raw; }, emu::Protocol::SummedPages});
  }
  // 128 pages are sent as stored, even to a drive that takes inflated images.
  cases.push_back({"summed pages, 128 stored pages to a large-buffer drive",
                   InflatedSummed(Pages(128, 24)),
                   [](const RunHarness& h) { return h.PackageBytes(64, 128 * kPage); },
                   emu::Protocol::SummedPages});
  cases.push_back({"small blocks, the last one partial",
                   PlainRun('3', SynthesizeImage(2 * 4096 + 100, 6)),
                   [](const RunHarness& h) { return h.PackageBytes(64, 2 * 4096 + 100); },
                   emu::Protocol::SmallBlocks});
  {
    RunSetup setup = PlainRun('4', Pages(8, 7));
    setup.drive.bankSize = 65536;
    setup.modelCode = "471K";
    cases.push_back({"banked pages, bank 1 first", setup,
                     [](const RunHarness& h) { return h.PackageBytes(64, 8 * kPage); },
                     emu::Protocol::BankedPages,
                     [](const RunHarness& h) {
                       std::vector<int> banks;
                       for (const auto& entry : h.RunTrace()) {
                         if (entry.cdb[0] == 0x3B && entry.cdb[1] == 0x06) {
                           banks.push_back(entry.cdb[3]);
                         }
                       }
                       EXPECT_THAT(banks, ElementsAre(1, 1, 1, 1, 0, 0, 0, 0));
                     }});
  }
  {
    // The extended layout checks the second image; that image is sent.
    RunSetup setup = PlainRun('0', Pages(1, 8));
    setup.recipe.second = SecondImageRecipe{Pages(2, 9), "1.08"};
    setup.drive.imageSizeKiB = 32;
    setup.form = PackageForm::Varn2340;
    cases.push_back(
        {"buffer pages of the second image", setup,
         [](const RunHarness& h) { return h.PackageBytes(64 + 14 + kPage + 40, 2 * kPage); },
         emu::Protocol::BufferPages});
  }
  {
    RunSetup setup = PlainRun('3', Pages(1, 10));
    setup.recipe.second = SecondImageRecipe{Pages(2, 11), "1.08"};
    setup.form = PackageForm::Varn2300;
    cases.push_back({"small blocks of the first image after the extension", setup,
                     [](const RunHarness& h) { return h.PackageBytes(78, kPage); },
                     emu::Protocol::SmallBlocks});
  }
  return cases;
}

TEST(UpdateRun, EachProtocolFlashesTheImageThatWasChecked) {
  for (const FlashCase& c : FlashCases()) {
    SCOPED_TRACE(c.name);
    RunHarness h(c.setup);
    std::map<int, milliseconds> timersWhileSettling;
    bool closeWhileSettling = true;
    h.clock.onSleep = [&h, &timersWhileSettling, &closeWhileSettling] {
      timersWhileSettling = h.view.timers;
      closeWhileSettling = h.view.closeEnabled;
    };
    EXPECT_EQ(h.Run({BoxAnswer::Ok, BoxAnswer::Cancel}), 1);
    EXPECT_EQ(h.drive->ReceivedImage(), c.expected(h));
    EXPECT_THAT(timersWhileSettling, ElementsAre(std::pair(kProgressTimer, milliseconds(700))));
    EXPECT_FALSE(closeWhileSettling);
    EXPECT_EQ(h.drive->ReceivedProtocol(), c.protocol);
    EXPECT_THAT(h.Transcript(), ElementsAreArray(Join({SumLines(h, c.setup.form),
                                                       kConfirmed,
                                                       kTransferStarts,
                                                       Succeeded("======== SUCCEED ========"),
                                                       {"log " + kStillOldFirmware},
                                                       {"box " + std::string(kLongRestartText)}})));
    ASSERT_FALSE(h.clock.sleeps.empty()) << "the run never came to settle";
    EXPECT_EQ(h.clock.sleeps.back(), milliseconds(5000)) << "the drive settles";
    EXPECT_EQ(h.rebootRequests, 0);
    c.check(h);
  }
}

TEST(UpdateRun, VariantChoosesTheSuccessLineAndTheRestartBoxes) {
  const MessageBox shortOffer{"Upgrade completed! Do you want to Restart the computer Now ?",
                              "Reboot Warning", BoxButtons::OkCancel, BoxIcon::Exclamation,
                              BoxPurpose::Restart};
  const MessageBox updated{"\n Firmware has been updated successfully !   \n", "Information",
                           BoxButtons::Ok, BoxIcon::Information};
  MessageBox rebootOffer = shortOffer;
  rebootOffer.text = "\n Your computer needs to be rebooted.    \n";
  MessageBox emptyOffer = shortOffer;
  emptyOffer.text = "";
  struct Case {
    const char* mark;
    std::vector<BoxAnswer> answers;
    const char* successLine;
    std::vector<MessageBox> boxesAfterConfirmation;
  };
  const Case cases[] = {
      {"TW", {BoxAnswer::Ok, BoxAnswer::Cancel}, "Done", {shortOffer}},
      {"VR",
       {BoxAnswer::Ok, BoxAnswer::Ok, BoxAnswer::Cancel},
       "======== SUCCEED ========",
       {updated, rebootOffer}},
      // The information box closed some other way leaves the offer without text.
      {"VR",
       {BoxAnswer::Ok, BoxAnswer::Cancel, BoxAnswer::Cancel},
       "======== SUCCEED ========",
       {updated, emptyOffer}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mark);
    RunSetup setup = PlainRun('1', Pages(1, 12));
    setup.recipe.variantMark = c.mark;
    RunHarness h(setup);
    EXPECT_EQ(h.Run(c.answers), 1);
    EXPECT_THAT(h.Log(), Contains(c.successLine));
    ASSERT_EQ(h.view.boxes.size(), 1 + c.boxesAfterConfirmation.size());
    EXPECT_EQ(h.view.boxes[0],
              (MessageBox{"Do you really want to upgrade ?", std::nullopt, BoxButtons::OkCancel,
                          BoxIcon::Exclamation, BoxPurpose::ConfirmUpdate}));
    EXPECT_EQ(std::vector(h.view.boxes.begin() + 1, h.view.boxes.end()), c.boxesAfterConfirmation);
  }
}

// Every protocol's image, taken by a drive that runs it at once, is
// confirmed by the revision the drive then reports; the tree shows it.
TEST(UpdateRun, EachProtocolsImageIsConfirmedByTheRevisionTheDriveReports) {
  for (FlashCase c : FlashCases()) {
    SCOPED_TRACE(c.name);
    c.setup.drive.activatesAs = "1.07";
    c.setup.drive.activatesAtOnce = true;
    RunHarness h(c.setup);
    EXPECT_EQ(h.Run({BoxAnswer::Ok, BoxAnswer::Cancel}), 1);
    EXPECT_THAT(h.Log(), Contains("The drive now reports firmware 1.07."));
    EXPECT_THAT(h.view.items.at(1).text, EndsWith(" 1.07"));
  }
}

// The command that closes the transfer refused: the drive keeps its old
// revision, or reports the package's revision as it did before the run (a
// reinstall, even one whose drive took the image), and the run says so in
// one line instead of "Upgrade completed!". Only a drive that changed to the
// new revision shows that the update took.
TEST(UpdateRun, AFailedClosingCommandIsJudgedByTheRevisionBeforeAndAfter) {
  struct Case {
    const char* name;
    RunSetup setup;
    emu::ForOpcode closing;
    emu::FaultKind kind;  // Fail: refused; FailAfter: carried out, then failed
    std::string line;     // the one line on the revision
    bool succeeds = false;
  };
  RunSetup blocks = PlainRun('3', Pages(1, 31));
  RunSetup reinstall = PlainRun('0', Pages(8, 30));
  reinstall.drive.revision = "1.07";
  const Case cases[] = {
      {"the image commit",
       PlainRun('0', Pages(8, 30)),
       {0x3B, 0x04},
       emu::FaultKind::Fail,
       "The image commit failed and the drive still reports firmware 1.02."},
      {"the download end",
       blocks,
       {0xF2, 0x04},
       emu::FaultKind::Fail,
       "The download end failed and the drive still reports firmware 1.02."},
      {"the bank commit",
       PlainRun('4', Pages(2, 32)),
       {0x3B, 0x07},
       emu::FaultKind::Fail,
       "The bank commit failed and the drive still reports firmware 1.02."},
      {"the image commit of a reinstall",
       reinstall,
       {0x3B, 0x04},
       emu::FaultKind::Fail,
       "The image commit failed and the drive still reports firmware 1.07."},
      {"the image commit of a reinstall the drive took",
       reinstall,
       {0x3B, 0x04},
       emu::FaultKind::FailAfter,
       "The image commit failed and the drive still reports firmware 1.07."},
      {"the image commit the drive took",
       PlainRun('0', Pages(8, 30)),
       {0x3B, 0x04},
       emu::FaultKind::FailAfter,
       "The drive now reports firmware 1.07.",
       true},
  };
  for (Case c : cases) {
    SCOPED_TRACE(c.name);
    c.setup.drive.activatesAs = "1.07";
    c.setup.drive.activatesAtOnce = true;
    c.setup.drive.faults.push_back({c.kind, c.closing, emu::kAlways});
    RunHarness h(c.setup);
    EXPECT_EQ(h.Run({BoxAnswer::Ok, BoxAnswer::Ok}), c.succeeds ? 1 : 0);
    const Lines log = h.Log();
    EXPECT_THAT(RevisionLines(log), ElementsAre(c.line));
    EXPECT_EQ(std::ranges::count(log, "======== SUCCEED ========"), c.succeeds ? 1 : 0);
    EXPECT_EQ(std::ranges::count(log, "======== FAIL ========"), c.succeeds ? 0 : 1);
    if (c.succeeds) {
      EXPECT_THAT(log, Contains("The drive did not acknowledge the image commit, but it reports "
                                "the new firmware."));
      continue;
    }
    EXPECT_EQ(h.dialog->LastOutcome(), OutcomeCode::TransferFailed);
    for (const MessageBox& box : h.view.boxes) EXPECT_THAT(box.text, Not(HasSubstr("completed")));
  }
}

// A confirming INQUIRY that completes without the data it asked for is no
// answer, never an empty revision, whether the transfer closed or not.
TEST(UpdateRun, AConfirmationWithoutDataIsNoAnswer) {
  emu::Fault noData{emu::FaultKind::NoData};
  emu::Fault nothingSaid{emu::FaultKind::ShortReply};
  emu::Fault cutShort{emu::FaultKind::ShortReply};
  cutShort.length = 20;
  struct Case {
    const char* name;
    emu::Fault fault;
    bool closingFails;
    Lines said;
  };
  const Case cases[] = {
      {"no data, reported whole", noData, false, {"The drive did not answer after the update."}},
      {"no data, and said so", nothingSaid, false, {"The drive did not answer after the update."}},
      {"20 bytes", cutShort, false, {"The drive did not answer after the update."}},
      {"no data after a failed commit",
       noData,
       true,
       {"The image commit failed and the drive did not answer after it."}},
  };
  for (Case c : cases) {
    SCOPED_TRACE(c.name);
    RunSetup setup = PlainRun('0', Pages(8, 33));
    // Every INQUIRY after the enumeration's.
    c.fault.when = emu::ForOpcode{0x12, std::nullopt, 2};
    c.fault.times = emu::kAlways;
    setup.drive.faults.push_back(c.fault);
    if (c.closingFails)
      setup.drive.faults.push_back({emu::FaultKind::Fail, emu::ForOpcode{0x3B, 0x04}});
    RunHarness h(setup);
    EXPECT_EQ(h.Run({BoxAnswer::Ok, BoxAnswer::Cancel}), c.closingFails ? 0 : 1);
    EXPECT_EQ(RevisionLines(h.Log()), c.said);
    const std::optional<DriveConfirmation> seen = h.dialog->LastConfirmation();
    ASSERT_TRUE(seen.has_value());
    EXPECT_EQ(seen->state, DriveConfirmation::State::NoAnswer);
  }
}

TEST(UpdateRun, RestartOfferAsksTheRestarterOnlyOnOk) {
  const MessageBox rebootFail{"Reboot Fail!!", std::nullopt, BoxButtons::Ok, BoxIcon::Stop};
  struct Case {
    const char* name;
    BoxAnswer answer;
    bool grant;
    bool restarter;
    int requests;
    std::optional<MessageBox> lastBox;
  };
  const Case cases[] = {
      {"OK: the restarter is asked", BoxAnswer::Ok, true, true, 1, std::nullopt},
      {"Cancel: nobody is asked", BoxAnswer::Cancel, true, true, 0, std::nullopt},
      {"a refused reboot is reported", BoxAnswer::Ok, false, true, 1, rebootFail},
      {"no restarter is a refused reboot", BoxAnswer::Ok, true, false, 0, rebootFail},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RunSetup setup = PlainRun('1', Pages(1, 12));
    setup.grantReboot = c.grant;
    RunHarness h(setup);
    if (!c.restarter) h.dialog->UseRestarter(nullptr);
    EXPECT_EQ(h.Run({BoxAnswer::Ok, c.answer, BoxAnswer::Ok}), 1);
    EXPECT_EQ(h.rebootRequests, c.requests);
    const bool asked = c.answer == BoxAnswer::Ok;
    EXPECT_EQ(h.Log().back(), asked ? "Restart the computer" : kStillOldFirmware);
    ASSERT_EQ(h.view.boxes.size(), c.lastBox ? 3u : 2u);
    EXPECT_EQ(c.lastBox.value_or(h.view.boxes.back()), h.view.boxes.back());
  }
}

TEST(UpdateRun, EmulatedRestartOnlyAnnouncesItself) {
  RunHarness h(PlainRun('1', Pages(1, 12)));
  h.dialog->UseRestarter(std::make_unique<AnnouncingRestarter>(
      [&h](std::string_view text) { h.dialog->AppendLog(text); }));
  EXPECT_EQ(h.Run({BoxAnswer::Ok, BoxAnswer::Ok}), 1);
  const Lines log = h.Log();
  ASSERT_GE(log.size(), 2u);
  EXPECT_THAT(Lines(log.end() - 2, log.end()),
              ElementsAre("Restart the computer",
                          "Restart requested: an emulated run does not restart the computer."));
  EXPECT_EQ(h.view.boxes.size(), 2u) << "no Reboot Fail!! box";
}

// Nothing that could change the drive reaches it, and the log says so.
TEST(UpdateRun, EndsBeforeAnythingIsSent) {
  struct Case {
    const char* name;
    RunSetup setup;
    std::vector<BoxAnswer> answers;
    Lines afterSums;
  };
  RunSetup digitFive = PlainRun('5', Pages(1, 13));
  RunSetup tooManyBlocks = PlainRun('3', SynthesizeImage(256 * 4096 + 1, 14));
  RunSetup tooShort = PlainRun('1', SynthesizeImage(kPage - 1, 15));
  RunSetup notTwoBanks = PlainRun('4', Pages(3, 16));
  notTwoBanks.modelCode = "471K";
  RunSetup otherSize = PlainRun('0', Pages(2, 16));
  otherSize.drive.imageSizeKiB = 64;
  RunSetup noSizeReply = PlainRun('0', Pages(2, 16));
  noSizeReply.drive.faults.push_back({emu::FaultKind::Fail, emu::ForOpcode{0x3C, 0x01}});
  // 40,000 bytes inflate to two whole pages and 7,232 bytes more: the pages
  // alone are not the image.
  RunSetup partialPage = InflatedSummed(PackDeflated(SynthesizeImage(40000, 16)));
  partialPage.plan.storeModelCodeFlag = false;
  const Lines refusalEnd = {"log Nothing was sent to the drive; its firmware is unchanged.",
                            "SetProgressPosition 0",
                            "StopTimer 1",
                            "log  ",
                            "log ======== FAIL ========",
                            "box " + std::string(kTransferFailedBox),
                            "log  "};
  const Case cases[] = {
      {"a protocol digit outside 0..4 ends without a box",
       digitFive,
       {},
       {"log Check Sum match !!", "log The package names an unknown transfer protocol.",
        "log Nothing was sent to the drive; its firmware is unchanged."}},
      {"cancel on the confirmation",
       PlainRun('1', Pages(1, 13)),
       {BoxAnswer::Cancel, BoxAnswer::Ok},
       {"log Check Sum match !!", "box Do you really want to upgrade ?", "SetProgressPosition 0",
        "StopTimer 1", "log User cancelled.", "box User cancelled."}},
      {"more blocks than one byte counts",
       tooManyBlocks,
       {BoxAnswer::Ok},
       Join({{"log Check Sum match !!", "log The image is too long for this transfer."},
             refusalEnd})},
      {"not one whole page",
       tooShort,
       {BoxAnswer::Ok},
       Join({{"log Check Sum match !!", "log The image is too short for this transfer."},
             refusalEnd})},
      {"a two-bank drive and three pages",
       notTwoBanks,
       {BoxAnswer::Ok},
       Join({{"log Check Sum match !!",
              "log The image does not fill this drive's two 64 KiB banks."},
             refusalEnd})},
      // The transfer's own refusals before its first page.
      {"the drive expects an image of another size",
       otherSize,
       {BoxAnswer::Ok, BoxAnswer::Ok},
       Join({kConfirmed, kTransferStarts, refusalEnd, {"EnableCloseCommand on"}})},
      {"the drive does not say which size it expects",
       noSizeReply,
       {BoxAnswer::Ok, BoxAnswer::Ok},
       Join({kConfirmed, kTransferStarts, refusalEnd, {"EnableCloseCommand on"}})},
      {"an inflated image that does not end on a whole page",
       partialPage,
       {BoxAnswer::Ok, BoxAnswer::Ok},
       Join({kConfirmed,
             {"log The inflated image does not end on a whole page (7232 bytes left over); it "
              "is not sent."},
             refusalEnd})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RunHarness h(c.setup);
    EXPECT_EQ(h.Run(c.answers), 0);
    EXPECT_THAT(h.Transcript(),
                ElementsAreArray(Join({SumLines(h, PackageForm::Plain), c.afterSums})));
    EXPECT_FALSE(std::ranges::any_of(h.RunTrace(), testing::ChangesTheDrive));
    EXPECT_THAT(h.view.timers, IsEmpty());
  }
}

TEST(UpdateRun, ChangedImageByteIsAChecksumMismatch) {
  RunSetup setup = PlainRun('1', Pages(1, 17));
  RunHarness h(setup);
  h.package[64 + 100] ^= 0x01;  // the stored sums stay as they were
  EXPECT_EQ(h.Run({BoxAnswer::Ok}), 0);
  EXPECT_THAT(
      h.Transcript(),
      ElementsAreArray(Join({SumLines(h, PackageForm::Plain),
                             {"SetProgressPosition 0", "StopTimer 1", "log Check Sum not match !!",
                              "box CheckSum not match !!"}})));
  EXPECT_THAT(h.RunTrace(), IsEmpty());
}

// The drive that is ejected instead of prepared, unless the package is the
// generic one; it gets 50 s more to settle.
TEST(UpdateRun, EjectingModelSkipsThePreparation) {
  struct Case {
    const char* inquiryId;
    bool ejected;
    std::vector<milliseconds> settle;
  };
  const Case cases[] = {
      {"VARN    DVD RW LPX-650A 1.07", true, {milliseconds(50000), milliseconds(5000)}},
      {"ATAPI   DVD+RW UNBRANDED1.07", false, {milliseconds(5000)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.inquiryId);
    RunSetup setup = StoredSummed(Pages(2, 18));
    setup.recipe.inquiryId = c.inquiryId;
    setup.modelCode = "TK300B";
    RunHarness h(setup);
    EXPECT_EQ(h.Run({BoxAnswer::Ok, BoxAnswer::Cancel}), 1);
    EXPECT_EQ(h.drive->Ejected(), c.ejected);
    std::vector<std::uint8_t> opcodes;
    for (const auto& entry : h.RunTrace()) opcodes.push_back(entry.cdb[0]);
    EXPECT_EQ(std::ranges::count(opcodes, 0xFD) > 0, !c.ejected) << "the handshake";
    EXPECT_EQ(h.clock.sleeps, c.settle);
    EXPECT_EQ(h.drive->ReceivedImage(), h.PackageBytes(64, 2 * kPage));
  }
}

// The model-code blocks the run marked get their old bytes back.
TEST(UpdateRun, PreparationRefusalsEndBeforeAnyPage) {
  struct Case {
    const char* name;
    RunSetup setup;
    Lines end;
    bool restored = true;
  };
  RunSetup noVendorCommands = StoredSummed(Pages(2, 19));
  noVendorCommands.drive.vendorCommands = false;
  RunSetup blockRefused = StoredSummed(Pages(2, 19));
  blockRefused.drive.faults.push_back({emu::FaultKind::Fail, emu::ForOpcode{0xF5, 0x03, 2}});
  RunSetup restoreRefused = StoredSummed(Pages(2, 19));
  restoreRefused.drive.faults.push_back(
      {emu::FaultKind::Fail, emu::ForOpcode{0xF5, 0x03, 2}, emu::kAlways});
  RunSetup classUnread = StoredSummed(Pages(2, 19));
  // The two stores read first; the third read is the hardware class's.
  classUnread.drive.faults.push_back({emu::FaultKind::TimeOut, emu::ForOpcode{0xF5, 0x01, 3}});
  RunSetup wrongClass = StoredSummed(Pages(2, 19));
  wrongClass.plan = testing::PlanOf(0x30, false, true);  // the drive's blocks hold code 5
  RunSetup silentBuffer = InflatedSummed(PackDeflated(Pages(2, 19)));
  silentBuffer.plan.verifyModelCodeFlag = false;
  silentBuffer.drive.faults.push_back({emu::FaultKind::TimeOut, emu::ForOpcode{0x5A}});
  const Lines notAllowed = {"SetProgressPosition 0", "StopTimer 1",
                            "log The drive is not allowed to be updated.",
                            "box The drive is not allowed to be updated."};
  const Lines commandFailed = {"SetProgressPosition 0", "StopTimer 1", "log On Command Fail !!",
                               "box Command Fail."};
  const Case cases[] = {
      {"the drive refuses the handshake", noVendorCommands,
       Join({{"log This Model is not support."}, commandFailed})},
      {"the second model-code block is not stored", blockRefused, notAllowed},
      {"the second block is not stored, nor either put back", restoreRefused,
       Join({{"log The drive's model-code blocks 02h and 24h were changed and could not be "
              "restored."},
             notAllowed}),
       false},
      {"the hardware class's model-code read times out", classUnread, commandFailed},
      {"the hardware class does not match", wrongClass, notAllowed},
      {"the drive does not say which buffer it has", silentBuffer, commandFailed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RunHarness h(c.setup);
    EXPECT_EQ(h.Run({BoxAnswer::Ok, BoxAnswer::Ok}), 0);
    EXPECT_THAT(h.Transcript(),
                ElementsAreArray(Join({SumLines(h, PackageForm::Plain), kConfirmed, c.end})));
    for (const auto& entry : h.RunTrace()) EXPECT_NE(entry.cdb[0], 0xFA) << "no page was sent";
    if (c.restored) {
      EXPECT_EQ(h.drive->GetParameterBlock(0x02), c.setup.drive.parameterBlocks.at(0x02));
      EXPECT_EQ(h.drive->GetParameterBlock(0x24), c.setup.drive.parameterBlocks.at(0x24));
    }
  }
}

// The 4 bytes in front of the stream are not read. Whatever they hold, a
// stream that ends within its bytes (zlib has then verified its check value)
// is flashed, padding after it or not; one cut off or corrupt is refused
// before any page, and the run says so.
TEST(UpdateRun, InflatedImageIsJudgedByItsStreamAlone) {
  const Bytes raw = Pages(6, 20);
  const Bytes stream = DeflateStream(raw);
  ASSERT_GE(stream.size(), 2 * kPage) << "the stream needs more than one page";
  Bytes corrupt = stream;
  corrupt[200] ^= 0xFF;
  const Bytes cut(stream.begin(), stream.end() - static_cast<std::ptrdiff_t>(kPage));
  // Whole pages: the prefix, the stream, then `fill` to the end of the pages
  // the stream needs and `extraPages` more.
  const auto image = [](std::uint32_t prefix, const Bytes& bytes, std::uint8_t fill,
                        std::size_t extraPages) {
    const std::size_t pages = (bytes.size() + 132 + kPage - 1) / kPage + extraPages;
    Bytes packed(pages * kPage, fill);
    WriteLe32(packed, 0, prefix);
    std::ranges::copy(bytes, packed.begin() + 4);
    return packed;
  };
  struct Prefix {
    const char* name;
    std::uint32_t value;
  };
  const Prefix prefixes[] = {{"zero", 0},
                             {"arbitrary", 0x5EC7A1B2},
                             {"the length", static_cast<std::uint32_t>(raw.size())}};
  struct Stream {
    const char* name;
    const Bytes& bytes;
    std::uint8_t fill;
    std::size_t extraPages;
    bool flashes;
  };
  const Stream streams[] = {
      {"complete", stream, 0x00, 0, true},
      {"followed by padding", stream, 0xA5, 1, true},
      {"cut off by a page", cut, 0x00, 0, false},
      {"corrupt", corrupt, 0x00, 0, false},
  };
  const Lines refused = {"SetProgressPosition 0", "StopTimer 1",
                         "log The firmware image could not be decompressed.",
                         "log Nothing was sent to the drive; its firmware is unchanged."};
  for (const Prefix& prefix : prefixes) {
    for (const Stream& c : streams) {
      SCOPED_TRACE(std::string(prefix.name) + " prefix, " + c.name + " stream");
      const RunSetup setup = InflatedSummed(image(prefix.value, c.bytes, c.fill, c.extraPages));
      RunHarness h(setup);
      if (c.flashes) {
        EXPECT_EQ(h.Run({BoxAnswer::Ok, BoxAnswer::Cancel}), 1);
        EXPECT_EQ(h.drive->ReceivedImage(), raw);
        continue;
      }
      EXPECT_EQ(h.Run({BoxAnswer::Ok}), 0);
      EXPECT_THAT(h.Transcript(),
                  ElementsAreArray(Join({SumLines(h, PackageForm::Plain), kConfirmed, refused})));
      for (const auto& entry : h.RunTrace()) EXPECT_NE(entry.cdb[0], 0xFA) << "no page was sent";
      EXPECT_FALSE(h.drive->ReceivedImage().has_value());
      // The blocks the run marked are put back.
      EXPECT_EQ(h.drive->GetParameterBlock(0x02), setup.drive.parameterBlocks.at(0x02));
      EXPECT_EQ(h.drive->GetParameterBlock(0x24), setup.drive.parameterBlocks.at(0x24));
    }
  }
}

TEST(UpdateRun, FailedTransferGivesTheCloseCommandBack) {
  RunSetup setup = PlainRun('1', Pages(2, 21));
  setup.drive.faults.push_back({emu::FaultKind::Fail, emu::ForOpcode{0xFD, 0x07, 2}});
  RunHarness h(setup);
  EXPECT_EQ(h.Run({BoxAnswer::Ok, BoxAnswer::Ok}), 0);
  EXPECT_THAT(h.Transcript(), ElementsAreArray(Join({SumLines(h, PackageForm::Plain), kConfirmed,
                                                     kTransferStarts, kTransferFailed})));
  EXPECT_TRUE(h.view.closeEnabled);
}

// Part of the image may be in the drive: the marked blocks stay as they are,
// and the log names them.
TEST(UpdateRun, FailedTransferNamesTheBlocksLeftChanged) {
  RunSetup setup = StoredSummed(Pages(2, 21));
  setup.drive.faults.push_back({emu::FaultKind::Fail, emu::ForOpcode{0xFA, std::nullopt, 2}});
  RunHarness h(setup);
  EXPECT_EQ(h.Run({BoxAnswer::Ok, BoxAnswer::Ok}), 0);
  EXPECT_THAT(h.Transcript(),
              ElementsAreArray(Join(
                  {SumLines(h, PackageForm::Plain),
                   kConfirmed,
                   kTransferStarts,
                   {"log The drive's model-code blocks 02h and 24h were changed and have not been "
                    "restored."},
                   kTransferFailed})));
  EXPECT_THAT(*h.drive->GetParameterBlock(0x02), ElementsAre(0x30, 0x51, 0x12, 0x34));
}

TEST(UpdateRun, UnrestoredModelCodeBlocksEndTheRunWithoutARestartOffer) {
  RunSetup setup = StoredSummed(Pages(2, 22));
  // The third and fourth stores are the restore's.
  setup.drive.faults.push_back({emu::FaultKind::Fail, emu::ForOpcode{0xF5, 0x03, 3}});
  RunHarness h(setup);
  EXPECT_EQ(h.Run({BoxAnswer::Ok}), 0);
  EXPECT_EQ(h.drive->ReceivedImage(), h.PackageBytes(64, 2 * kPage));
  EXPECT_THAT(
      h.Transcript(),
      ElementsAreArray(Join({SumLines(h, PackageForm::Plain),
                             kConfirmed,
                             kTransferStarts,
                             Succeeded("======== SUCCEED ========"),
                             {"log The drive's model-code blocks 02h and 24h were changed and "
                              "could not be restored."}})));
  EXPECT_THAT(*h.drive->GetParameterBlock(0x02), ElementsAre(0x30, 0x51, 0x12, 0x34));
}

}  // namespace
}  // namespace tslflash
