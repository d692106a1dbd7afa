// The Upgrade button's checks through the test window and emulated drives:
// each refusal in its order, each accepted path with the plan it leaves, the
// start of the run, and the revision rules on their own.
#include "models/eligibility.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "app/update_dialog.h"
#include "tests/support/emulated_dialog.h"
#include "tools/package_builder.h"

namespace tslflash {

void PrintTo(const MessageBox& box, std::ostream* os) {
  *os << "{\"" << box.text << "\", " << box.caption.value_or("(title)") << ", purpose "
      << static_cast<int>(box.purpose) << "}";
}

namespace {

using ::testing::ElementsAre;
using testing::FakeDialogView;
using ::testing::IsEmpty;
using Lines = std::vector<std::string>;

constexpr std::string_view kKova2300 = "KOVA    DVD-RW TX2300   ";
constexpr std::string_view kKova2350 = "KOVA    DVD-RW TX2350   ";
constexpr std::string_view kKova2370S = "KOVA    DVD-RW TX2370S  ";
constexpr std::string_view kKova505 = "KOVA    CD-RW TK505B    ";
constexpr std::string_view kKova530 = "KOVA    CD-RW TK530B    ";
constexpr std::string_view kDriveA = "VARN    DVD RW LPX-402A ";
constexpr std::string_view kDriveB = "VARN    DVD RW LPX-407A ";
constexpr std::string_view kDriveC = "VARN    DVD RW LPX-412A ";
constexpr std::string_view kLcx5232 = "VARN    CD-RW LCX-5232A ";  // threshold 1.20, TK505B
constexpr std::string_view kLcx5240 = "VARN    CD-RW LCX-5240A ";  // threshold 1.10, TK530B
constexpr std::string_view kUncatalogued = "OTHERCO NOT CATALOGUED  ";
constexpr std::string_view kVarnLabel = "VARN      VR";

const std::string kNotAllowed = "The drive is not allowed to be updated.";
const std::string kDowngrade = "UPGRADE Only! Can't downgrade this drive.";
const std::string kDisc =
    "The update cannot proceed because there is a disc in the selected drive. Remove the disc "
    "and retry the operation.";

MessageBox Warning(std::string text) {
  return {std::move(text), "Warning", BoxButtons::Ok, BoxIcon::Exclamation};
}
const MessageBox kNotAllowedBox = Warning(kNotAllowed);
const MessageBox kDowngradeBox = Warning(kDowngrade);
const MessageBox kDiscBox = Warning(kDisc);
const MessageBox kCancelledBox{"User cancelled.", std::nullopt, BoxButtons::Ok, BoxIcon::None};
// Asked for the drive's own revision; a newer one asks the same, to allow an
// older package.
const MessageBox kAlreadyUpdatedBox{
    "Your drive's firmware is already the most updated !    \n\nDo you wish to continue ?",
    "Warning", BoxButtons::OkCancel, BoxIcon::Exclamation, BoxPurpose::Reinstall};
const MessageBox kOlderPackageBox = [] {
  MessageBox box = kAlreadyUpdatedBox;
  box.purpose = BoxPurpose::Older;
  return box;
}();
const MessageBox kNoDriveBox{"No drive selected.Please select a drive to flash!", std::nullopt,
                             BoxButtons::Ok, BoxIcon::Exclamation};

std::string Announce(std::string revision) { return " ==> New firmware Version : " + revision; }

// What passes between an Upgrade and the user: the answers ready for its
// boxes, the lines it adds to the log, and the boxes it shows.
struct Exchange {
  std::vector<BoxAnswer> answers;
  Lines log;
  std::vector<MessageBox> boxes;
};
// These lines and no box.
Exchange Logged(Lines log) { return {{}, std::move(log), {}}; }
// The package's revision announced, and no box.
Exchange Announced(std::string revision) { return Logged({Announce(std::move(revision)), " "}); }
// These lines and one box, acknowledged.
Exchange Warned(Lines log, MessageBox box) {
  return {{BoxAnswer::Ok}, std::move(log), {std::move(box)}};
}

// The 10-byte model code field as the run reads it.
std::string Code(std::string_view code) {
  std::string field(code);
  field.resize(10, '\0');
  return field;
}

using Adjust = std::function<void(emu::DriveDescription&)>;

emu::DriveDescription Drive(std::string_view id, std::string revision, const Adjust& adjust = {}) {
  emu::DriveDescription d = testing::DriveWithId(id, std::move(revision));
  if (adjust) adjust(d);
  return d;
}

void WithDisc(emu::DriveDescription& d) { d.mediumPresent = true; }
void UnderVarnLabel(emu::DriveDescription& d) { d.enclosure = std::string(kVarnLabel); }
// A TK505B drive that is not the base model: a smaller buffer and code 5.
void NotBaseModel(emu::DriveDescription& d) {
  d.bufferSizeKiB = 2048;
  d.parameterBlocks[0x24] = {0x05, 0x00, 0x00, 0x00};
}
void WithCodeBlocks(emu::DriveDescription& d) {
  d.parameterBlocks = {{0x02, {0x05, 0x51, 0xAB, 0xCD}}, {0x24, {0x05, 0x51, 0xAB, 0xCD}}};
}

// id empty: a package for any drive.
PackageRecipe Package(std::string_view id, std::string_view revision, std::string_view altName,
                      std::string_view mark, std::string_view pattern = "1.**") {
  PackageRecipe recipe;
  recipe.inquiryId =
      (id.empty() ? "*" + std::string(23, ' ') : std::string(id)) + std::string(revision);
  recipe.altProductName = std::string(altName);
  recipe.altProductNameNulPadded = true;
  recipe.variantMark = std::string(mark);
  recipe.revisionPattern = std::string(pattern);
  recipe.image = SynthesizeImage(0x1000, 3);
  return recipe;
}

PackageRecipe Extended(PackageRecipe recipe, std::string extRevision) {
  recipe.second = SecondImageRecipe{SynthesizeImage(0x1000, 4), std::move(extRevision)};
  return recipe;
}

PackageRecipe Tagged(PackageRecipe recipe, std::string tag) {
  recipe.tag = std::move(tag);
  return recipe;
}

struct PlanFields {
  std::uint32_t modelCodeByte;
  bool storeModelCodeFlag;
  bool verifyModelCodeFlag;
  friend bool operator==(const PlanFields&, const PlanFields&) = default;
  friend std::ostream& operator<<(std::ostream& os, const PlanFields& p) {
    return os << "{" << p.modelCodeByte << ", " << p.storeModelCodeFlag << ", "
              << p.verifyModelCodeFlag << "}";
  }
};
PlanFields Fields(const UpdatePlan& plan) {
  return {plan.modelCodeByte, plan.storeModelCodeFlag, plan.verifyModelCodeFlag};
}
constexpr PlanFields kEmptyPlan{0, false, false};

bool IsExtendedInquiry(const emu::TraceEntry& entry) {
  return entry.cdb.size() > 4 && entry.cdb[0] == 0x12 && entry.cdb[4] == 0x7D;
}

// A refusal of the model or revision disables Upgrade until the next
// selection; an earlier one leaves the buttons enabled.
enum class UpgradeButton { Enabled, Disabled };
enum class EnclosureInquiry { Unchecked, Sent, NotSent };
enum class PackageBytes { AsBuilt, Corrupted };

class EligibilityTest : public ::testing::Test, protected testing::EmulatedDialog {
 protected:
  // A fresh dialog over these drives and this package, its warning accepted.
  void Start(const std::vector<emu::DriveDescription>& drives, const PackageRecipe& recipe,
             PackageBytes bytes = PackageBytes::AsBuilt) {
    view = FakeDialogView{};
    package = testing::BuiltPackage(recipe);
    if (bytes == PackageBytes::Corrupted) package.at(kHeaderSize) ^= 0xFF;
    MakeDialog(drives);
    view.Answer({BoxAnswer::Ok});
    ASSERT_TRUE(dialog->OnInitDialog());
  }

  // Selects the drive at this position of the tree, presses Upgrade with
  // these answers ready for its boxes, and returns the log lines it added.
  Lines Upgrade(std::size_t position, const std::vector<BoxAnswer>& answers) {
    view.SelectTreeItem(static_cast<TreeItem>(position + 2));  // after the root
    dialog->OnDriveSelChanged(view.GetSelectedTreeItem());
    view.boxes.clear();
    for (const BoxAnswer answer : answers) view.Answer({answer});
    const std::string before = view.texts[ControlId::Log];
    dialog->OnUpgrade();
    return LinesAddedTo(before);
  }

  Lines LinesAddedTo(const std::string& before) {
    const std::string& after = view.texts[ControlId::Log];
    EXPECT_TRUE(after.starts_with(before)) << "the log pane was cleared";
    Lines lines;
    std::string_view rest = std::string_view(after).substr(std::min(before.size(), after.size()));
    while (rest.starts_with("\r\n")) {
      rest.remove_prefix(2);
      const std::size_t end = rest.find("\r\n");
      lines.emplace_back(rest.substr(0, end));
      rest.remove_prefix(end == std::string_view::npos ? rest.size() : end);
    }
    return lines;
  }

  // The model code the checks settled on, in its 10-byte field.
  std::string SelectedCode() {
    std::string code = dialog->LastVerdict().job.modelCode;
    code.resize(10, '\0');
    return code;
  }

  // The started run, declined at its confirmation: the dialog is free again.
  void CancelRun() {
    view.Answer({BoxAnswer::Cancel, BoxAnswer::Ok});
    view.workers.back()();
    EXPECT_TRUE(dialog->CanClose());
    EXPECT_TRUE(view.enabled[ControlId::Upgrade]);
    EXPECT_TRUE(view.enabled[ControlId::Exit]);
    EXPECT_THAT(view.timers, ::testing::IsEmpty());
  }

  // The same drive and package checked only, in a fresh dialog: the verdict
  // the Upgrade path gave, but nothing asked and nothing changed on the
  // drive. A rewrite the person declined is one a check says it would ask.
  void ExpectTheCheckAgrees(Verdict upgraded, const emu::DriveDescription& drive,
                            const PackageRecipe& recipe,
                            PackageBytes bytes = PackageBytes::AsBuilt) {
    Start({drive}, recipe, bytes);
    view.boxes.clear();
    const std::optional<DriveCheck> check = dialog->CheckDrive(0);
    ASSERT_TRUE(check);
    EXPECT_THAT(view.boxes, IsEmpty()) << "a check asks nothing";
    EXPECT_FALSE(std::ranges::any_of(emulators[0]->Trace(), testing::ChangesTheDrive))
        << "a check changes nothing";
    EXPECT_EQ(check->verdict.rewrite, upgraded.rewrite);
    if (upgraded.refusal == OutcomeCode::UserCancelled) {
      EXPECT_TRUE(check->verdict.mayUpdate);
      EXPECT_EQ(check->verdict.steps.back().check, UpgradeCheck::Revision);
      return;
    }
    EXPECT_EQ(check->verdict.steps, upgraded.steps);
    EXPECT_EQ(check->verdict.refusal, upgraded.refusal);
    EXPECT_EQ(check->verdict.mayUpdate, upgraded.mayUpdate);
    EXPECT_EQ(check->verdict.presetModelCodes, upgraded.presetModelCodes);
    EXPECT_EQ(check->verdict.job.modelCode, upgraded.job.modelCode);
  }

  bool ExtendedInquirySent(std::size_t drive) {
    return std::ranges::any_of(emulators[drive]->Trace(), IsExtendedInquiry);
  }

  void ExpectRunStarted() {
    EXPECT_TRUE(dialog->RunActive());
    EXPECT_FALSE(view.enabled[ControlId::Upgrade]);
    EXPECT_FALSE(view.enabled[ControlId::Exit]);
    EXPECT_EQ(view.progressLow, 0);
    EXPECT_EQ(view.progressHigh, 100);
    EXPECT_EQ(view.progressPosition, 0);
    EXPECT_EQ(view.progressStep, 1);
    // Started last, with everything it reads in place; not run here.
    EXPECT_EQ(view.workers.size(), 1u);
    ASSERT_FALSE(view.calls.empty());
    EXPECT_EQ(view.calls.back(), "StartWorker");
  }
};

TEST_F(EligibilityTest, RootItemSelectedShowsOnlyItsBox) {
  Start({Drive(kKova2300, "1.20")}, Package(kKova2300, "1.50", "TX2300", "TW"));
  view.SelectTreeItem(1);  // the root
  dialog->OnDriveSelChanged(view.GetSelectedTreeItem());
  const std::size_t commands = emulators[0]->Trace().size();
  view.boxes.clear();
  view.Answer({BoxAnswer::Ok});

  dialog->OnUpgrade();

  EXPECT_THAT(view.boxes, ElementsAre(kNoDriveBox));
  EXPECT_EQ(view.texts[ControlId::Log], "No drive selected.");
  EXPECT_EQ(emulators[0]->Trace().size(), commands);
  EXPECT_THAT(view.workers, IsEmpty());
}

struct Refusal {
  const char* name;
  emu::DriveDescription drive;
  PackageRecipe package;
  Exchange exchange;
  OutcomeCode outcome;  // what the terminal front end's exit status carries
  UpgradeButton upgrade;
  EnclosureInquiry enclosure = EnclosureInquiry::Unchecked;
  PackageBytes bytes = PackageBytes::AsBuilt;
};

TEST_F(EligibilityTest, EachCheckRefusesInItsOrder) {
  using enum UpgradeButton;
  using enum EnclosureInquiry;
  const emu::Fault extendedInquiryFails{
      .kind = emu::FaultKind::Fail, .when = emu::ForOpcode{.opcode = 0x12, .fromOccurrence = 2}};
  const Exchange disc = Warned({kDisc}, kDiscBox);
  const Exchange notAllowed = Warned({kNotAllowed}, kNotAllowedBox);
  // Refusals of the model or revision come after the announcement.
  const Exchange notAllowedAfterAnnouncing =
      Warned({Announce("1.50"), " ", kNotAllowed}, kNotAllowedBox);
  const Exchange cancelled{{BoxAnswer::Cancel, BoxAnswer::Ok},
                           {Announce("2.0c"), " ", "User cancelled."},
                           {kAlreadyUpdatedBox, kCancelledBox}};
  Exchange olderCancelled = cancelled;
  olderCancelled.boxes.front() = kOlderPackageBox;
  const auto always = [](emu::FaultKind kind, emu::ForOpcode when, SenseBytes sense = {}) {
    return emu::Fault{kind, when, emu::kAlways, sense};
  };
  const emu::Fault modelReadFails = always(emu::FaultKind::Fail, {.opcode = 0xF5});
  const emu::Fault modelReadTimesOut = always(emu::FaultKind::TimeOut, {.opcode = 0xF5});
  const emu::Fault bufferQueryTimesOut = always(emu::FaultKind::TimeOut, {.opcode = 0x5A});
  const emu::Fault unitAttention =
      always(emu::FaultKind::Sense, {.opcode = 0x00}, SenseBytes{0x06, 0x28, 0x00});
  const auto smallBuffer = [](emu::Fault fault) {
    return [fault](emu::DriveDescription& d) {
      d.bufferSizeKiB = 2048;
      d.faults = {fault};
    };
  };
  const Exchange commandFailed =
      Warned({Announce("1.50"), " ", "On Command Fail !!"}, Warning("Command Fail."));
  const Exchange trayUnanswered = Warned({"On Command Fail !!"}, Warning("Command Fail."));
  const auto trayCheck = [&](emu::FaultKind kind) { return always(kind, {.opcode = 0x00}); };
  const Refusal cases[] = {
      {"a disc in the drive, variant 20: before the drive is identified",
       Drive(kDriveA, "1.00",
             [](auto& d) {
               WithDisc(d);
               UnderVarnLabel(d);
             }),
       Extended(Package(kDriveA, "1.50", "TX2300", "NX"), "2.05VL"), disc, OutcomeCode::DiscInDrive,
       Enabled, NotSent},
      {"a disc in the drive, variant 30", Drive(kKova2300, "1.00", WithDisc),
       Package(kKova2300, "1.50", "TX2300", "VR"), disc, OutcomeCode::DiscInDrive, Enabled},
      {"a disc spinning up, variant 30",
       Drive(kKova2300, "1.00",
             [](auto& d) {
               WithDisc(d);
               d.becomingReadyPolls = 3;
             }),
       Package(kKova2300, "1.50", "TX2300", "VR"), disc, OutcomeCode::DiscInDrive, Enabled},
      // A tray check without an answer says nothing about a disc.
      {"a tray check that times out",
       Drive(kKova2300, "1.00", [&](auto& d) { d.faults = {trayCheck(emu::FaultKind::TimeOut)}; }),
       Package(kKova2300, "1.50", "TX2300", "VR"), trayUnanswered, OutcomeCode::CommandFailed,
       Enabled},
      {"a tray check that fails without sense",
       Drive(kKova2300, "1.00",
             [&](auto& d) { d.faults = {trayCheck(emu::FaultKind::FailWithoutSense)}; }),
       Package(kKova2300, "1.50", "TX2300", "VR"), trayUnanswered, OutcomeCode::CommandFailed,
       Enabled},
      {"a tray that keeps reporting a unit attention",
       Drive(kKova2300, "1.00", [&](auto& d) { d.faults = {unitAttention}; }),
       Package(kKova2300, "1.50", "TX2300", "VR"),
       Warned({std::string(kUnitAttentionText), kDisc}, kDiscBox), OutcomeCode::DiscInDrive,
       Enabled},
      {"drive A outside variant 30, its enclosure still read",
       Drive(kDriveA, "1.00", UnderVarnLabel),
       Extended(Package(kDriveA, "1.50", "TX2300", "NX"), "2.05VL"), notAllowed,
       OutcomeCode::IdentityNotAllowed, Enabled, Sent},
      {"drive B inside an enclosure",
       Drive(kDriveB, "1.00", [](auto& d) { d.enclosure = "EPX-402UX VR"; }),
       Package(kDriveB, "1.50", "TX2350", "TW"), notAllowed, OutcomeCode::IdentityNotAllowed,
       Enabled},
      {"drive C whose extended INQUIRY fails",
       Drive(kDriveC, "1.00", [&](auto& d) { d.faults = {extendedInquiryFails}; }),
       Package(kDriveC, "1.50", "TX2370", "TW"), notAllowed, OutcomeCode::IdentityNotAllowed,
       Enabled},
      {"a package without the maker's tag", Drive(kKova2300, "1.20"),
       Tagged(Package(kKova2300, "1.50", "TX2300", "TW"), "KOVB"), notAllowed,
       OutcomeCode::IdentityNotAllowed, Enabled},
      {"a package whose checksums do not match", Drive(kKova2300, "1.20"),
       Package(kKova2300, "1.50", "TX2300", "TW"), notAllowed, OutcomeCode::IdentityNotAllowed,
       Enabled, Unchecked, PackageBytes::Corrupted},
      {"a package for another drive", Drive(kKova2300, "1.20"),
       Package(kKova2350, "1.50", "TX2350", "TW"), notAllowedAfterAnnouncing,
       OutcomeCode::ModelNotAllowed, Disabled},
      {"a package for any drive, the drive not catalogued", Drive(kUncatalogued, "1.20"),
       Package("", "1.50", "TX2300", "TW"), notAllowedAfterAnnouncing, OutcomeCode::ModelNotAllowed,
       Disabled},
      {"a package for any drive of another model", Drive(kKova2300, "1.20"),
       Package("", "1.50", "TX2350", "TW"), notAllowedAfterAnnouncing, OutcomeCode::ModelNotAllowed,
       Disabled},
      {"a threshold row of another model", Drive(kLcx5232, "1.30"),
       Package(kLcx5232, "1.50", "TK530B", "TW"), notAllowedAfterAnnouncing,
       OutcomeCode::ModelNotAllowed, Disabled},
      {"the recovery rules refuse", Drive(kKova2300, "FS01"), Package("", "1.50", "TX2300", "TW"),
       notAllowedAfterAnnouncing, OutcomeCode::IdentityNotAllowed, Disabled},
      // A TK505B drive that does not say whether it is the base model is not
      // taken for one.
      {"TK505B refusing the vendor handshake",
       Drive(kKova505, "1.20",
             [](auto& d) {
               d.bufferSizeKiB = 2048;
               d.vendorCommands = false;
             }),
       Package("", "1.50", "TK505B", "TW"),
       Warned({Announce("1.50"), " ", "This Model is not support.", "Check Sum not match !!"},
              Warning("CheckSum not match !!")),
       OutcomeCode::ChecksumMismatch, Disabled},
      {"TK505B whose model-code read fails", Drive(kKova505, "1.20", smallBuffer(modelReadFails)),
       Package("", "1.50", "TK505B", "TW"), commandFailed, OutcomeCode::CommandFailed, Disabled},
      {"TK505B whose model-code read times out",
       Drive(kKova505, "1.20", smallBuffer(modelReadTimesOut)), Package("", "1.50", "TK505B", "TW"),
       commandFailed, OutcomeCode::CommandFailed, Disabled},
      {"TK505B whose buffer query times out",
       Drive(kKova505, "1.20", [&](auto& d) { d.faults = {bufferQueryTimesOut}; }),
       Package("", "1.50", "TK505B", "TW"), commandFailed, OutcomeCode::CommandFailed, Disabled},
      {"a revision that does not fit the pattern", Drive(kKova2300, "2.00"),
       Package(kKova2300, "1.50", "TX2300", "TW"), notAllowedAfterAnnouncing,
       OutcomeCode::ModelNotAllowed, Disabled},
      {"a downgrade at or below the threshold", Drive(kLcx5232, "1.15", NotBaseModel),
       Package(kLcx5232, "1.10", "TK505B", "TW"),
       Warned({Announce("1.10"), " ", kDowngrade}, kDowngradeBox), OutcomeCode::DowngradeRefused,
       Disabled},
      {"the same version, cancelled", Drive(kKova2300, "2.0C"),
       Package(kKova2300, "2.0c", "TX2300", "TW", "*.**"), cancelled, OutcomeCode::UserCancelled,
       Disabled},
      {"a newer version, cancelled", Drive(kKova2300, "2.1a"),
       Package(kKova2300, "2.0c", "TX2300", "TW", "*.**"), olderCancelled,
       OutcomeCode::UserCancelled, Disabled},
  };
  for (const Refusal& c : cases) {
    SCOPED_TRACE(c.name);
    Start({c.drive}, c.package, c.bytes);
    EXPECT_EQ(Upgrade(0, c.exchange.answers), c.exchange.log);
    EXPECT_EQ(view.boxes, c.exchange.boxes);
    EXPECT_EQ(view.enabled[ControlId::Upgrade], c.upgrade == Enabled);
    EXPECT_EQ(dialog->LastOutcome(), c.outcome);
    EXPECT_FALSE(std::ranges::any_of(emulators[0]->Trace(), testing::ChangesTheDrive))
        << "nothing written";
    EXPECT_THAT(view.workers, IsEmpty());
    EXPECT_FALSE(dialog->RunActive());
    if (c.enclosure != Unchecked) {
      EXPECT_EQ(ExtendedInquirySent(0), c.enclosure == Sent);
    }
    ExpectTheCheckAgrees(dialog->LastVerdict(), c.drive, c.package, c.bytes);
  }
}

struct Acceptance {
  const char* name;
  emu::DriveDescription drive;
  PackageRecipe package;
  Exchange exchange;
  std::string_view modelCode;  // what the run reads as the drive's model
  PlanFields plan = kEmptyPlan;
  PackageForm form = PackageForm::Plain;
  bool perPageSums = false;  // the image is read as the per-page-sum drives take it
};

TEST_F(EligibilityTest, EachAcceptedPathFillsThePlanAndStartsTheRun) {
  const Exchange confirmed{{BoxAnswer::Ok}, {Announce("2.0c"), " "}, {kAlreadyUpdatedBox}};
  const Exchange olderConfirmed{{BoxAnswer::Ok}, {Announce("2.0c"), " "}, {kOlderPackageBox}};
  const Acceptance cases[] = {
      {"an update", Drive(kKova2300, "1.20"), Package(kKova2300, "1.50", "TX2300", "TW"),
       Announced("1.50"), "TX2300"},
      {"the same version, confirmed", Drive(kKova2300, "2.0C"),
       Package(kKova2300, "2.0c", "TX2300", "TW", "*.**"), confirmed, "TX2300"},
      {"a newer version, confirmed", Drive(kKova2300, "2.1a"),
       Package(kKova2300, "2.0c", "TX2300", "TW", "*.**"), olderConfirmed, "TX2300"},
      {"an older version under a wildcard pattern", Drive(kKova2300, "1.9z"),
       Package(kKova2300, "2.0c", "TX2300", "TW", "*.**"), Announced("2.0c"), "TX2300"},
      {"any revision under ****", Drive(kKova2300, "9.99"),
       Package(kKova2300, "1.00", "TX2300", "TW", "****"), Announced("1.00"), "TX2300"},
      {"a pattern without wildcards, the drive reading like it", Drive(kKova2300, "1.50"),
       Package(kKova2300, "1.50", "TX2300", "TW", "1.50"), Announced("1.50"), "TX2300"},
      {"a package for any drive, the revision written differently", Drive(kKova2300, "1-20"),
       Package("", "1.50", "TX2300", "TW"), Announced("1.50"), "TX2300"},
      {"TK530B above its threshold",
       Drive(kLcx5240, "1.20"),
       Package("", "1.50", "TK530B", "TW"),
       Announced("1.50"),
       "TK530B",
       {48, true, true}},
      {"TK530B at its threshold",
       Drive(kLcx5240, "1.10"),
       Package("", "1.50", "TK530B", "TW"),
       Announced("1.50"),
       "TK530B",
       {48, true, false}},
      {"TK505B, not the base model",
       Drive(kLcx5232, "1.30", NotBaseModel),
       Package("", "1.50", "TK505B", "TW"),
       Announced("1.50"),
       "TK505B",
       {5, true, true}},
      {"TK505B with an 8192 KiB buffer is a TK500B",
       Drive(kLcx5232, "1.30"),
       Package("", "1.50", "TK505B", "TW"),
       Announced("1.50"),
       "TK500B",
       {0, true, true}},
      {"TK505B whose code block says 0 is a TK500B",
       Drive(kKova505, "1.20", [](auto& d) { d.bufferSizeKiB = 2048; }),
       Package("", "1.50", "TK500B", "TW"),
       Announced("1.50"),
       "TK500B",
       {0, true, false}},
      {"TK505B at its threshold, upgraded", Drive(kLcx5232, "1.15", NotBaseModel),
       Package(kLcx5232, "1.50", "TK505B", "TW"), Announced("1.50"), "TK505B"},
      {"recovery, first stage, the package's own revision", Drive(kKova2300, "FS12"),
       Package(kKova2300, "FS12", "TX2300", "KV", "FS**"), Announced("FS12"), "TX2300"},
      {"recovery, second stage", Drive(kKova2370S, "fsa1"),
       Package(kKova2370S, "1.50", "TX2370", "TW"), Announced("1.50"), "TX2370", kEmptyPlan,
       PackageForm::Plain, true},
      {"recovery with a package for any drive", Drive("ZIRA    ZR-DVD 1648     ", "FS11"),
       Package("", "1.50", "TQ70", "TW"), Announced("1.50"), "TQ70", kEmptyPlan, PackageForm::Plain,
       true},
      {"variant 40 does not look for a disc", Drive(kKova2300, "1.20", WithDisc),
       Package(kKova2300, "1.50", "TX2300", "KV"), Announced("1.50"), "TX2300"},
      {"variant 30, drive A under the VARN label", Drive(kDriveA, "1.00", UnderVarnLabel),
       Extended(Package(kDriveA, "1.50", "TX2300", "VR"), "2.05VL"),
       Logged({"It will be updated from  1.00  To  2.05VL", " "}), "TX2300", kEmptyPlan,
       PackageForm::Varn2340},
      {"variant 30, bare drive A", Drive(kDriveA, "1.00"),
       Extended(Package(kDriveA, "1.50", "TX2300", "VR"), "2.05VL"),
       Logged({"It will be updated from  1.00  To  1.50", " "}), "TX2300", kEmptyPlan,
       PackageForm::Varn2300},
      {"variant 30, drive C", Drive(kDriveC, "1.00"), Package(kDriveC, "1.50", "TX2370", "VR"),
       Logged({"It will be updated from  1.00  To  1.50", " "}), "TX2370", kEmptyPlan,
       PackageForm::Plain, true},
      {"variant 30, drive C in its enclosure",
       Drive(kDriveC, "1.00", [](auto& d) { d.enclosure = "EPX-412UX VR"; }),
       Package(kDriveC, "1.50", "EPX-412UX ", "VR"),
       Logged({"It will be updated from  1.00  To  1.50", " "}), "EPX-412UX ", kEmptyPlan,
       PackageForm::Plain, true},
  };
  for (const Acceptance& c : cases) {
    SCOPED_TRACE(c.name);
    Start({c.drive}, c.package);
    EXPECT_EQ(Upgrade(0, c.exchange.answers), c.exchange.log);
    EXPECT_EQ(view.boxes, c.exchange.boxes);
    EXPECT_EQ(SelectedCode(), Code(c.modelCode));
    EXPECT_EQ(Fields(dialog->LastVerdict().job.plan), c.plan);
    EXPECT_EQ(dialog->LastVerdict().job.packaging.form, c.form);
    // The image the run will send, where the builder sealed its sums.
    const StageResult& staged = dialog->LastVerdict().job.staged;
    EXPECT_EQ(staged.plan.perPageSumMode, c.perPageSums);
    EXPECT_TRUE(staged.SumsMatch());
    ExpectRunStarted();
    ExpectTheCheckAgrees(dialog->LastVerdict(), c.drive, c.package);
  }
}

// Code "0" goes into both model-code blocks once a TK530B drive at its
// threshold is accepted; a block the drive refuses does not stop the update.
// Cancelled at the run's confirmation, the blocks get their old bytes back.
TEST_F(EligibilityTest, TK530BAtItsThresholdGetsItsModelCodePreset) {
  constexpr emu::ParameterBlock kBefore = {0x05, 0x51, 0xAB, 0xCD};
  constexpr emu::ParameterBlock kPreset = {0x30, 0x00, 0xAB, 0xCD};
  const emu::Fault firstReadFails{.kind = emu::FaultKind::Fail,
                                  .when = emu::ForOpcode{.opcode = 0xF5, .secondByte = 0x01}};
  struct Case {
    const char* name;
    std::vector<emu::Fault> faults;
    emu::ParameterBlock block02;
    emu::ParameterBlock block24;
  };
  const Case cases[] = {
      {"both blocks", {}, kPreset, kPreset},
      {"the first block refused", {firstReadFails}, kBefore, kPreset},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Start({Drive(kLcx5240, "1.05",
                 [&](auto& d) {
                   WithCodeBlocks(d);
                   d.faults = c.faults;
                 })},
          Package("", "1.50", "TK530B", "TW"));
    EXPECT_EQ(Upgrade(0, {}), (Lines{Announce("1.50"), " "}));
    EXPECT_EQ(emulators[0]->GetParameterBlock(0x02), c.block02);
    EXPECT_EQ(emulators[0]->GetParameterBlock(0x24), c.block24);
    ExpectRunStarted();

    view.Answer({BoxAnswer::Cancel});
    view.Answer({BoxAnswer::Ok});
    view.workers.back()();
    EXPECT_EQ(dialog->LastOutcome(), OutcomeCode::UserCancelled);
    EXPECT_EQ(emulators[0]->GetParameterBlock(0x02), kBefore);
    EXPECT_EQ(emulators[0]->GetParameterBlock(0x24), kBefore);
  }
  // Above the threshold nothing is preset.
  Start({Drive(kLcx5240, "1.20", WithCodeBlocks)}, Package("", "1.50", "TK530B", "TW"));
  Upgrade(0, {});
  EXPECT_EQ(emulators[0]->GetParameterBlock(0x02), kBefore);
  EXPECT_EQ(emulators[0]->GetParameterBlock(0x24), kBefore);
}

// A TK505B drive's buffer is asked first; its model-code block only when the
// buffer does not tell.
TEST_F(EligibilityTest, BaseModelIsToldByTheBufferBeforeTheModelCode) {
  const auto modelCodeReads = [&] {
    return std::ranges::count_if(emulators[0]->Trace(), [](const emu::TraceEntry& e) {
      return e.cdb[0] == 0xF5 && e.cdb[1] == 0x01;
    });
  };
  Start({Drive(kKova505, "1.20")}, Package("", "1.50", "TK505B", "TW"));
  Upgrade(0, {});
  EXPECT_EQ(SelectedCode(), Code("TK500B"));
  EXPECT_EQ(modelCodeReads(), 0);

  Start({Drive(kKova505, "1.20", NotBaseModel)}, Package("", "1.50", "TK505B", "TW"));
  Upgrade(0, {});
  EXPECT_EQ(SelectedCode(), Code("TK505B"));
  EXPECT_EQ(modelCodeReads(), 1);
}

// Flags a threshold row set for one drive must not reach the run of another.
TEST_F(EligibilityTest, EachEvaluationStartsFromAClearedPlan) {
  Start({Drive(kLcx5240, "1.20"), Drive(kKova530, "1.20"), Drive(kKova530, "FS01")},
        Package("", "1.50", "TK530B", "TW"));
  Upgrade(0, {});
  EXPECT_EQ(Fields(dialog->LastVerdict().job.plan), (PlanFields{48, true, true}));
  CancelRun();

  Upgrade(1, {});
  EXPECT_EQ(Fields(dialog->LastVerdict().job.plan), (PlanFields{48, true, false}));
  CancelRun();

  // No recovery rule takes this drive; nothing of the last plan is left.
  EXPECT_EQ(Upgrade(2, {BoxAnswer::Ok}), (Lines{Announce("1.50"), " ", kNotAllowed}));
  EXPECT_EQ(Fields(dialog->LastVerdict().job.plan), kEmptyPlan);
  EXPECT_EQ(SelectedCode(), Code("TK530B"));
  EXPECT_EQ(view.workers.size(), 2u);
}

// The layout chosen for drive A must not be used for the next drive: that
// would check, and send, drive A's image to it.
TEST_F(EligibilityTest, PackageFormOfDriveADoesNotCarryOverToTheNextDrive) {
  Start({Drive(kDriveA, "1.00", UnderVarnLabel), Drive(kKova2300, "1.00")},
        Extended(Package("", "1.50", "TX2300", "VR"), "2.05VL"));
  EXPECT_EQ(Upgrade(0, {}), (Lines{"It will be updated from  1.00  To  2.05VL", " "}));
  EXPECT_EQ(dialog->LastVerdict().job.packaging.form, PackageForm::Varn2340);
  CancelRun();

  // Read as the plain layout, the package made for drive A does not check out.
  EXPECT_EQ(Upgrade(1, {BoxAnswer::Ok}), (Lines{kNotAllowed}));
  EXPECT_EQ(dialog->LastVerdict().job.packaging.form, PackageForm::Plain);
  EXPECT_EQ(dialog->LastVerdict().job.packaging.extension, PackageExtensionCopy{});
  EXPECT_EQ(view.workers.size(), 1u);
}

TEST(CompareRevisionsTest, WildcardPositionsDecide) {
  struct Case {
    std::string_view pattern, package, drive;
    bool downgradeForbidden, generic;
    RevisionVerdict verdict;
  };
  using enum RevisionVerdict;
  const Case cases[] = {
      {"*.**", "2.0c", "2.0C", false, false, Same},
      {"*.**", "2.0c", "1.9z", false, false, Proceed},
      {"*.**", "2.0c", "2.1a", false, false, Newer},
      {"*.**", "2.0c", "2.1a", true, false, NoDowngrade},
      {"*.**", "2.0c", "2.0a", true, false, Proceed},
      {"1.5*", "1.5a", "1.5A", false, false, Same},
      {"****", "1.00", "9.99", true, false, Proceed},
      {"****", "1.00", "1.00", false, false, Proceed},
      // Without a wildcard nothing is compared but the pattern itself.
      {"1.50", "1.50", "1.50", false, false, Proceed},
      {"a.**", "A.10", "a.05", false, false, Proceed},
      // The package itself does not fit.
      {"1.**", "2.50", "2.20", false, false, NotFitting},
      // A drive that names its revisions differently.
      {"1.**", "1.50", "1-20", false, false, NotFitting},
      {"1.**", "1.50", "1-20", false, true, Proceed},
      {"1.**", "1.50", "2.20", false, true, Proceed},
      // A blank pattern position: passed over where the package revision
      // ends, but a difference once the wildcards have not decided.
      {std::string_view("1.* ", 4), std::string_view("1.5\0", 4), "1.4 ", false, false, Proceed},
      {std::string_view("1.* ", 4), std::string_view("1.5\0", 4), "1.5 ", false, false, Same},
      {std::string_view("1. *", 4), std::string_view("1.\0a", 4), "1. a", false, false, NotFitting},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.pattern) + " / " + std::string(c.package) + " / " +
                 std::string(c.drive));
    EXPECT_EQ(CompareRevisions({c.pattern, c.package, c.drive, c.downgradeForbidden, c.generic}),
              c.verdict);
  }
}

TEST(ClassifyByThresholdTest, AboveOrAtOrBelowByModel) {
  struct Case {
    std::string_view drive, threshold, model;
    ThresholdVerdict verdict;
  };
  using enum ThresholdVerdict;
  const Case cases[] = {
      {"1.21", "1.20", "TK505B", CheckHardwareClass},
      {"2.00", "1.99", "TK530B", CheckHardwareClass},
      {"1.30", "1.20", "TQ70", CheckHardwareClass},
      {"1.0c", "1.0B", "TK505B", CheckHardwareClass},
      {"1.20", "1.20", "TK505B", NoDowngrade},
      {"1.19", "1.20", "TK500B", NoDowngrade},
      {"1.0b", "1.0B", "TK505B", NoDowngrade},
      {"0.99", "1.20", "TK530B", PresetModelCode},
      {"1.20", "1.20", "TK530B", PresetModelCode},
      {"1.10", "1.20", "TQ70", None},
      // The first three characters count on their low 7 bits, the last whole.
      {"\xB1.20", "1.20", "TK505B", NoDowngrade},
      {"1.2\xB0", "1.20", "TK505B", CheckHardwareClass},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.drive) + " against " + std::string(c.threshold));
    EXPECT_EQ(ClassifyByThreshold(c.drive, c.threshold, c.model), c.verdict);
  }
}

}  // namespace
}  // namespace tslflash
