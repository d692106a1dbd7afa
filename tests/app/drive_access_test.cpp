// Who may write to which drive, checked through the test window and emulated
// drives: one writer per drive from Upgrade to the run's end, the rights to
// write asked before anything is sent, the sample package kept off real
// drives, messages of the transport in the log pane, and no window for a
// process started with raised privileges.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/command_line.h"
#include "app/update_dialog.h"
#include "tests/package/package_fixture.h"
#include "tests/support/emulated_dialog.h"
#include "tools/package_builder.h"

namespace tslflash {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using testing::SampleDrive;

constexpr std::string_view kSampleLine =
    "This build carries a sample firmware package; it writes only to emulated drives.";
constexpr std::string_view kInUse =
    "The drive emulated:0 is in use by another program; nothing was sent to it.";
constexpr std::string_view kNoRights =
    "Writing firmware needs raw SCSI access (CAP_SYS_RAWIO). Start the tool as root, for example "
    "from the desktop menu's administrator entry or with sudo.";

MessageBox Warning(std::string_view text) {
  return {std::string(text), "Warning", BoxButtons::Ok, BoxIcon::Exclamation};
}

// A package the sample drive (revision 1.02) takes: every check passes.
PackageRecipe UpdateForSampleDrive() { return testing::PlainRecipe(0x20000, 7); }

// Emulated drives as a platform transport would offer them: with the rights
// this test gives, and with notices about devices that did not open.
class PlatformLikeTransport final : public DriveTransport {
 public:
  PlatformLikeTransport(std::vector<std::shared_ptr<emu::DriveEmulator>> drives,
                        std::optional<std::string> missingRights, std::vector<std::string> unopened)
      : drives_(std::move(drives)),
        missingRights_(std::move(missingRights)),
        unopened_(std::move(unopened)) {}
  bool Init() override { return drives_.Init(); }
  void ScanDrives(const CandidateSink& offer) override {
    for (const std::string& line : unopened_) notice_(line);
    drives_.ScanDrives(offer);
  }
  std::optional<std::string> MissingWriteRights() override { return missingRights_; }
  void UseNotice(TransportNotice notice) override { notice_ = std::move(notice); }

 private:
  emu::EmulatedTransport drives_;
  std::optional<std::string> missingRights_;
  std::vector<std::string> unopened_;
  TransportNotice notice_ = [](std::string_view) { ADD_FAILURE() << "notice before UseNotice"; };
};

class DriveAccessTest : public ::testing::Test {
 protected:
  // Starts `d` over these drives (or over `transport`, when given), its
  // warning accepted, and selects the first drive.
  static void Start(testing::EmulatedDialog& d, const std::vector<emu::DriveDescription>& drives,
                    DialogOptions options = {}, std::unique_ptr<DriveTransport> transport = {}) {
    d.package = testing::BuiltPackage(UpdateForSampleDrive());
    d.emulators = emu::MakeEmulators(drives);
    if (!transport) transport = std::make_unique<emu::EmulatedTransport>(d.emulators);
    d.MakeDialogOver(std::move(transport), options);
    d.view.Answer({BoxAnswer::Ok});
    ASSERT_TRUE(d.dialog->OnInitDialog());
    SelectFirstDrive(d);
  }
  static void SelectFirstDrive(testing::EmulatedDialog& d) {
    d.view.SelectTreeItem(2);  // the first drive, after the root
    d.dialog->OnDriveSelChanged(d.view.GetSelectedTreeItem());
  }
  // Presses Upgrade with these answers ready and returns the commands it sent.
  static std::size_t Upgrade(testing::EmulatedDialog& d, std::initializer_list<BoxAnswer> answers) {
    const std::size_t before = d.emulators[0]->Trace().size();
    d.view.boxes.clear();
    d.view.Answer(answers);
    d.dialog->OnUpgrade();
    return d.emulators[0]->Trace().size() - before;
  }
  static void ExpectRefusedWith(testing::EmulatedDialog& d, std::string_view text,
                                std::size_t sent) {
    EXPECT_EQ(sent, 0u) << "a command reached the drive";
    EXPECT_THAT(d.view.boxes, ElementsAre(Warning(text)));
    EXPECT_TRUE(d.view.texts[ControlId::Log].ends_with(std::string("\r\n") + std::string(text)));
    EXPECT_THAT(d.view.workers, IsEmpty());
    EXPECT_FALSE(d.dialog->RunActive());
  }

  testing::EmulatedDialog first;
};

TEST_F(DriveAccessTest, ADriveAnotherProgramHoldsIsRefusedBeforeAnythingIsSent) {
  emu::DriveDescription held = SampleDrive();
  held.inUse = true;
  held.mediumPresent = true;  // the no-disc check would otherwise be the first command
  Start(first, {held});
  ExpectRefusedWith(first, kInUse, Upgrade(first, {BoxAnswer::Ok}));
}

TEST_F(DriveAccessTest, TheHoldLastsFromUpgradeToTheRunsEndAndRefusesASecondCopy) {
  Start(first, {SampleDrive()});
  EXPECT_EQ(Upgrade(first, {}), 0u) << "nothing before the run for this package";
  ASSERT_TRUE(first.dialog->RunActive());
  EXPECT_TRUE(first.emulators[0]->Held());

  // A second copy of the tool over the same drive is refused at once.
  testing::EmulatedDialog second;
  second.package = first.package;
  second.emulators = first.emulators;
  second.MakeDialogOver(std::make_unique<emu::EmulatedTransport>(second.emulators));
  second.view.Answer({BoxAnswer::Ok});
  ASSERT_TRUE(second.dialog->OnInitDialog());
  SelectFirstDrive(second);
  ExpectRefusedWith(second, kInUse, Upgrade(second, {BoxAnswer::Ok}));

  // The run ends (the user declines its confirmation): the drive is free.
  first.view.Answer({BoxAnswer::Cancel, BoxAnswer::Ok});
  ASSERT_EQ(first.view.workers.size(), 1u);
  first.view.workers.front()();
  EXPECT_FALSE(first.dialog->RunActive());
  EXPECT_FALSE(first.emulators[0]->Held());
  second.view.workers.clear();
  EXPECT_EQ(Upgrade(second, {}), 0u);
  EXPECT_TRUE(second.dialog->RunActive());
}

TEST_F(DriveAccessTest, ARefusedUpgradeGivesTheDriveBack) {
  emu::DriveDescription newer = SampleDrive();
  newer.revision = "1.09";  // newer than the package: the user is asked and declines
  Start(first, {newer});
  Upgrade(first, {BoxAnswer::Cancel, BoxAnswer::Ok});
  EXPECT_FALSE(first.dialog->RunActive());
  EXPECT_FALSE(first.emulators[0]->Held());
}

TEST_F(DriveAccessTest, WithoutTheRightsToWriteNothingIsSentAndTheDriveIsLeftFree) {
  const auto drives = emu::MakeEmulators({SampleDrive()});
  Start(first, {}, {},
        std::make_unique<PlatformLikeTransport>(drives, std::string(kNoRights),
                                                std::vector<std::string>{}));
  first.emulators = drives;
  SelectFirstDrive(first);
  ExpectRefusedWith(first, kNoRights, Upgrade(first, {BoxAnswer::Ok}));
  EXPECT_FALSE(drives[0]->Held());
}

TEST_F(DriveAccessTest, DevicesThatDidNotOpenAreNamedInTheLogPane) {
  first.package = testing::BuiltPackage(UpdateForSampleDrive());
  first.MakeDialogOver(std::make_unique<PlatformLikeTransport>(
      emu::MakeEmulators({}), std::nullopt,
      std::vector<std::string>{"/dev/sr1 could not be opened: Permission denied"}));
  first.view.Answer({BoxAnswer::Ok, BoxAnswer::Ok});
  ASSERT_TRUE(first.dialog->OnInitDialog());
  EXPECT_EQ(first.view.texts[ControlId::Log],
            "\r\n/dev/sr1 could not be opened: Permission denied");
  EXPECT_EQ(first.view.boxes.back().text, "No Device found!");
}

TEST_F(DriveAccessTest, TheSamplePackageListsRealDrivesGreyedAndWritesNone) {
  struct Case {
    const char* name;
    DialogOptions options;
    bool sampleOnly;
  };
  for (const Case& c :
       {Case{"sample, real drives", {.samplePackage = true}, true},
        Case{"sample, emulated drives", {.emulatedDrives = true, .samplePackage = true}, false},
        Case{"real package", {}, false}}) {
    SCOPED_TRACE(c.name);
    testing::EmulatedDialog d;
    Start(d, {SampleDrive()}, c.options);
    const std::string& log = d.view.texts[ControlId::Log];
    // The tree's colour is the package check's, unless every drive is greyed.
    ASSERT_EQ(d.view.items.size(), 2u);
    EXPECT_EQ(d.view.items[1].color, c.sampleOnly ? std::optional(kGreyedDrive) : std::nullopt);
    const std::size_t sent = Upgrade(d, {BoxAnswer::Ok});
    if (c.sampleOnly) {
      EXPECT_THAT(log, HasSubstr(std::string("\r\n") + std::string(kSampleLine)));
      ExpectRefusedWith(d, std::string(kSampleLine) + " Nothing was sent to emulated:0.", sent);
    } else {
      EXPECT_THAT(log, Not(HasSubstr(kSampleLine)));
      EXPECT_TRUE(d.dialog->RunActive());
    }
  }
}

TEST(RaisedPrivilegesTest, TheWindowIsNeverOfferedToAProcessStartedWithThem) {
  struct Case {
    const char* name;
    bool terminalAsked;
    bool raised;
    FrontEnd frontEnd;
    bool windowRefused;
  };
  const auto display = [](std::string_view name) -> std::optional<std::string> {
    if (name == "DISPLAY") return ":0";
    return std::nullopt;
  };
  for (const Case& c :
       {Case{"ordinary", false, false, FrontEnd::Window, false},
        Case{"raised", false, true, FrontEnd::Terminal, true},
        Case{"raised, terminal asked for", true, true, FrontEnd::Terminal, false}}) {
    CommandLine line;
    line.terminal = c.terminalAsked;
    const FrontEndChoice choice =
        ChooseFrontEndFor(line, true, display, WindowSystem::NeedsDisplay, c.raised);
    EXPECT_EQ(choice.frontEnd, c.frontEnd) << c.name;
    EXPECT_EQ(choice.windowRefused, c.windowRefused) << c.name;
  }
}

}  // namespace
}  // namespace tslflash
