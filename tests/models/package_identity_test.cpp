// What the package header alone decides: the tag, the tool variant, the
// internal drive the package names, and the captions of variant 30.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string_view>

#include "models/internal_drives.h"
#include "models/tool_variant.h"
#include "models/variant_captions.h"
#include "resources/texts.h"
#include "tests/models/header_fixture.h"

namespace tslflash {
namespace {

using namespace std::string_view_literals;
using testing::MakePackage;
using ::testing::Optional;

constexpr std::string_view kAnyDrive = "*                       ";

TEST(PackageTagTest, OnlyTheMakersTagInCapitalsPasses) {
  EXPECT_TRUE(MakePackage(kAnyDrive, "TX2300", "VR", "KOVA").package.HasMakerTag());
  for (std::string_view tag : {"kova"sv, "KOV\0"sv, "AVOK"sv, "\0\0\0\0"sv}) {
    EXPECT_FALSE(MakePackage(kAnyDrive, "TX2300", "VR", tag).package.HasMakerTag()) << tag;
  }
}

TEST(ToolVariantTest, TheMarkChoosesTheVariantWhateverItsCase) {
  const struct {
    std::string_view mark;
    ToolVariant variant;
  } cases[] = {
      {"TW", ToolVariant::Tw},    {"tw", ToolVariant::Tw},        {"NX", ToolVariant::Nx},
      {"nX", ToolVariant::Nx},    {"VR", ToolVariant::Vr},        {"vr", ToolVariant::Vr},
      {"Vr", ToolVariant::Vr},    {"KV", ToolVariant::Kv},        {"kv", ToolVariant::Kv},
      {"V ", ToolVariant::Other}, {"RV", ToolVariant::Other},     {"VL", ToolVariant::Other},
      {"  ", ToolVariant::Other}, {"\0\0"sv, ToolVariant::Other},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DetermineToolVariant(MakePackage(kAnyDrive, "TX2300", c.mark)), c.variant) << c.mark;
  }
  EXPECT_EQ(static_cast<int>(ToolVariant::Tw), 10);
  EXPECT_EQ(static_cast<int>(ToolVariant::Nx), 20);
  EXPECT_EQ(static_cast<int>(ToolVariant::Vr), 30);
  EXPECT_EQ(static_cast<int>(ToolVariant::Kv), 40);
  EXPECT_EQ(static_cast<int>(ToolVariant::Other), 90);
}

TEST(PackageDriveNameTest, ModelCodeOrEnclosureNameDesignatesTheDrive) {
  const std::string_view a = kInternalDriveA.displayName;
  const std::string_view b = kInternalDriveB.displayName;
  const std::string_view c = kInternalDriveC.displayName;
  const struct {
    std::string_view altProductName;
    std::optional<std::string_view> name;
  } cases[] = {
      {"TX2300", a},
      {"TX2300X", a},  // only 6 characters of a code count
      {"TX2300 ABC", a},
      {"EPX-402UX ", a},
      {"EPX-402UXT", a},
      {"TX2350", b},
      {"TX2370", c},
      {"EPX-412UX ", c},
      {"EPX-412UXT", c},
      {"EPX-402UX", std::nullopt},  // an enclosure name needs all 10 characters
      {"EPX-407UX ", std::nullopt},
      {"TX230", std::nullopt},
      {"tx2300", std::nullopt},
      {"TK300B", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& k : cases) {
    EXPECT_EQ(PackageDriveName(MakePackage(kAnyDrive, k.altProductName)), k.name)
        << k.altProductName;
  }
}

TEST(InternalDriveTest, FindsADriveByItsExactId) {
  for (const InternalDrive& drive : kInternalDrives) {
    const auto found = FindInternalDrive(drive.driveId);
    ASSERT_TRUE(found.has_value()) << drive.driveId;
    EXPECT_EQ(found->letter, drive.letter);
  }
  EXPECT_EQ(FindInternalDrive("VARN    DVD RW LPX-650A "), std::nullopt);
  EXPECT_EQ(FindInternalDrive("VARN    DVD RW LPX-402A"), std::nullopt);
}

TEST(VariantCaptionsTest, VariantThirtyNamesItsDriveAndRelabelsTheDialog) {
  const auto captions = ApplyVariantCaptions(ToolVariant::Vr, MakePackage(kAnyDrive, "EPX-412UXT"));
  ASSERT_TRUE(captions.has_value());
  EXPECT_EQ(captions->title, "Flash Program for VARN DVD RW LPX-412A");
  EXPECT_EQ(captions->devicesLabel, "Please select target &Drive:");
  EXPECT_EQ(captions->exitCaption, "&Close");
  EXPECT_EQ(captions->upgradeCaption, "&Update");
}

TEST(VariantCaptionsTest, WithoutADriveNameTheTitleIsThePrefixAlone) {
  const auto captions = ApplyVariantCaptions(ToolVariant::Vr, MakePackage(kAnyDrive, "TK300B"));
  ASSERT_TRUE(captions.has_value());
  EXPECT_EQ(captions->title, "Flash Program for ");
  EXPECT_EQ(captions->devicesLabel, kStringSelectDrive.text);
  EXPECT_EQ(captions->exitCaption, kStringClose.text);
  EXPECT_EQ(captions->upgradeCaption, kStringUpdate.text);
}

TEST(VariantCaptionsTest, OtherVariantsKeepTheDialogsCaptions) {
  for (ToolVariant variant :
       {ToolVariant::Tw, ToolVariant::Nx, ToolVariant::Kv, ToolVariant::Other}) {
    EXPECT_EQ(ApplyVariantCaptions(variant, MakePackage(kAnyDrive, "TX2300")), std::nullopt)
        << static_cast<int>(variant);
  }
}

}  // namespace
}  // namespace tslflash
