// Binding a package to a VARN internal drive by the enclosure identity the
// drive reports, through an emulated drive.
#include "models/enclosure_identity.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

#include "emulator/drive_emulator.h"
#include "models/field_text.h"
#include "tests/models/header_fixture.h"
#include "tests/support/emulated_drive_fixture.h"

namespace tslflash {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

constexpr std::string_view kVarnLabel = "VARN      VR";
constexpr std::string_view kAnyDrive = "*                       ";
constexpr std::string_view kSampleDrive = "VARN    DVD RW LPX-650A ";
constexpr std::size_t kImageBytes = 32;

// Header, then 14 extension bytes that read 64..77, then image bytes.
std::vector<std::uint8_t> MakePackage(const PackageHeaderCopy& header, std::size_t size) {
  std::vector<std::uint8_t> package(size);
  std::iota(package.begin(), package.end(), std::uint8_t{0});
  std::ranges::copy(header, package.begin());
  return package;
}

PackageExtensionCopy PackageExtensionBytes() {
  PackageExtensionCopy extension{};
  std::iota(extension.begin(), extension.end(), std::uint8_t{64});
  return extension;
}

// A state that no accepted check of B or C and no refusal may touch.
PackageState UntouchedState() {
  PackageState state;
  state.extension.fill(0xEE);
  return state;
}

class EnclosureIdentityTest : public testing::EmulatedDriveTest {
 protected:
  // An emulated drive with the internal drive's id reporting this identity
  // (empty: zero bytes).
  void Start(const InternalDrive& internal, std::string_view enclosure) {
    emu::DriveDescription description = testing::DriveWithId(internal.driveId, "1.00");
    description.enclosure = std::string(enclosure);
    EmulatedDriveTest::Start(description);
  }

  bool Check(const InternalDrive& internal, std::string_view packageId,
             std::string_view altProductName,
             std::size_t packageSize = kHeaderSize + kExtensionSize + kImageBytes) {
    const PackageHeaderCopy header = testing::MakeHeader(packageId, altProductName);
    const std::vector<std::uint8_t> package = MakePackage(header, packageSize);
    return CheckEnclosureIdentity(internal, *commands, ParseFirmwarePackage(package), state);
  }

  PackageState state = UntouchedState();
};

struct IdentityCase {
  const char* name;
  const InternalDrive& drive;
  std::string_view enclosure;
  std::string_view packageId;
  std::string_view altProductName;
  bool accepted;
};

TEST_F(EnclosureIdentityTest, EnclosuresTakeTheirOwnPackagesAndLeaveTheFormAlone) {
  const InternalDrive& a = kInternalDriveA;
  const InternalDrive& b = kInternalDriveB;
  const InternalDrive& c = kInternalDriveC;
  const IdentityCase cases[] = {
      {"A in its enclosure, package for the bare drive", a, "EPX-402UX VR", a.driveId, "TX2300",
       false},
      {"A in its enclosure, package for it", a, "EPX-402UX VR", a.driveId, "EPX-402UX ", true},
      {"A in its enclosure, package for the other", a, "EPX-402UX VR", a.driveId, "EPX-402UXT",
       false},
      {"A in the T enclosure, package for it", a, "EPX-402UXTVR", a.driveId, "EPX-402UXT", true},
      {"A in the T enclosure, package for the other", a, "EPX-402UXTVR", a.driveId, "EPX-402UX ",
       false},
      {"A under the label, package for another code", a, kVarnLabel, a.driveId, "TX2350", false},
      {"A, package for another drive", a, kVarnLabel, kSampleDrive, "TX2300", false},
      {"B under the label", b, kVarnLabel, b.driveId, "TX2350", true},
      {"B under the label, package for another code", b, kVarnLabel, b.driveId, "TX2300", false},
      {"B in an enclosure", b, "EPX-402UX VR", b.driveId, "TX2350", false},
      {"B in an enclosure, package naming it", b, "EPX-402UX VR", b.driveId, "EPX-402UX ", false},
      {"B bare", b, "", b.driveId, "TX2350", false},
      {"B, any-drive package", b, kVarnLabel, kAnyDrive, "TX2350", true},
      {"C in its enclosure, package for it", c, "EPX-412UX VR", c.driveId, "EPX-412UX ", true},
      {"C in its enclosure, package for the bare drive", c, "EPX-412UX VR", c.driveId, "TX2370",
       false},
      {"C under the label", c, kVarnLabel, c.driveId, "TX2370", true},
      {"C bare", c, "", c.driveId, "TX2370", true},
      // Only the first enclosure of C is told apart; the others go by code.
      {"C in the T enclosure, package naming it", c, "EPX-412UXTVR", c.driveId, "EPX-412UXT",
       false},
      {"C in the T enclosure, package for the bare drive", c, "EPX-412UXTVR", c.driveId, "TX2370",
       true},
      {"C, any-drive package", c, "", kAnyDrive, "TX2370", true},
      {"C, package made for A", c, kVarnLabel, a.driveId, "TX2370", false},
  };
  for (const IdentityCase& k : cases) {
    SCOPED_TRACE(k.name);
    Start(k.drive, k.enclosure);
    EXPECT_EQ(Check(k.drive, k.packageId, k.altProductName), k.accepted);
    EXPECT_EQ(state.form, PackageForm::Plain);
    EXPECT_EQ(state.extension, UntouchedState().extension);
    EXPECT_EQ(state.enclosureIdentity, UnpaddedField(k.enclosure));  // kept for the record
  }
}

TEST_F(EnclosureIdentityTest, DriveAUnderTheLabelOrBareChoosesTheExtendedForm) {
  const struct {
    std::string_view enclosure;
    std::string_view packageId;
    PackageForm form;
  } cases[] = {
      {kVarnLabel, kInternalDriveA.driveId, PackageForm::Varn2340},
      {kVarnLabel, kAnyDrive, PackageForm::Varn2340},
      {"", kInternalDriveA.driveId, PackageForm::Varn2300},  // all-zero identity
      {"EPX-412UX VR", kInternalDriveA.driveId, PackageForm::Varn2300},
      {"VARN       R", kInternalDriveA.driveId, PackageForm::Varn2300},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(std::string(k.enclosure) + " / " + std::string(k.packageId));
    Start(kInternalDriveA, k.enclosure);
    state = UntouchedState();
    // Only the first 6 characters of the code count.
    EXPECT_TRUE(Check(kInternalDriveA, k.packageId, "TX2300XY"));
    EXPECT_EQ(state.form, k.form);
    EXPECT_EQ(state.extension, PackageExtensionBytes());
  }
}

TEST_F(EnclosureIdentityTest, AsksTheDriveOnceForItsExtendedInquiryData) {
  Start(kInternalDriveB, kVarnLabel);
  EXPECT_FALSE(Check(kInternalDriveB, kSampleDrive, "TX2350"));  // refused after asking
  EXPECT_THAT(SentCdbs(), ElementsAre(ElementsAre(0x12, 0, 0, 0, 0x7D, 0)));
  EXPECT_THAT(reporter.log, IsEmpty());
  EXPECT_THAT(reporter.outcomes, IsEmpty());
}

TEST_F(EnclosureIdentityTest, AFailedInquiryRefusesAndLeavesTheStateAlone) {
  for (emu::FaultKind kind :
       {emu::FaultKind::Fail, emu::FaultKind::TimeOut, emu::FaultKind::FailWithoutSense}) {
    SCOPED_TRACE(static_cast<int>(kind));
    Start(kInternalDriveA, kVarnLabel);
    drive->AddFault(emu::Fault{kind, emu::ForOpcode{0x12}});
    EXPECT_FALSE(Check(kInternalDriveA, kInternalDriveA.driveId, "TX2300"));
    EXPECT_EQ(state.form, PackageForm::Plain);
    EXPECT_EQ(state.extension, UntouchedState().extension);
    EXPECT_THAT(reporter.log, IsEmpty());
    EXPECT_THAT(reporter.outcomes, IsEmpty());
  }
}

TEST_F(EnclosureIdentityTest, APackageTooShortForAnExtensionIsRefused) {
  Start(kInternalDriveA, kVarnLabel);
  EXPECT_FALSE(
      Check(kInternalDriveA, kInternalDriveA.driveId, "TX2300", kHeaderSize + kExtensionSize - 1));
  EXPECT_EQ(state.form, PackageForm::Plain);
  EXPECT_EQ(state.extension, UntouchedState().extension);

  // Exactly header and extension is enough to read from.
  EXPECT_TRUE(
      Check(kInternalDriveA, kInternalDriveA.driveId, "TX2300", kHeaderSize + kExtensionSize));
  EXPECT_THAT(state.extension, ElementsAreArray(PackageExtensionBytes()));
}

}  // namespace
}  // namespace tslflash
