// Why a drive is greyed: the one line the tree's tip, the check and the JSON
// give, from the package's id and model names against the drive's.
#include "models/package_fit.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "tests/models/header_fixture.h"

namespace tslflash {
namespace {

constexpr std::string_view kAnyDrive = "*                       ";
constexpr std::string_view kLpx412 = "VARN    DVD RW LPX-412A 1.00";  // model TX2370

TEST(PackageFitTest, AGreyedDriveSaysWhyInOneLine) {
  const struct {
    const char* name;
    std::string_view packageId;
    std::string_view altProductName;
    std::string_view tag;
    std::string_view driveText;
    std::optional<std::string> misfit;
  } cases[] = {
      {"any drive of its model", kAnyDrive, "TX2370", "KOVA", kLpx412, std::nullopt},
      {"its own drive", "VARN    DVD RW LPX-412A ", "", "KOVA", kLpx412, std::nullopt},
      {"another drive's", "VARN    DVD RW LPX-650A ", "", "KOVA", kLpx412,
       "the package is for the drive \"VARN    DVD RW LPX-650A\" only"},
      {"another model", kAnyDrive, "TX2350", "KOVA", kLpx412,
       "the package is for model TX2350, this drive is model TX2370"},
      // An enclosure name is blank padded; the padding is not shown.
      {"an enclosure's package", kAnyDrive, "EPX-412UX ", "KOVA", kLpx412,
       "the package is for model EPX-412UX, this drive is model TX2370"},
      {"a drive the catalogue lacks", kAnyDrive, "TX2370", "KOVA", "OTHERCO CD-RW 52X       2.00",
       "the package is for model TX2370; the model catalogue does not know this drive"},
      {"no tag", kAnyDrive, "TX2370", "XXXX", kLpx412, "the package does not carry its tag"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const testing::HeaderOnlyPackage package =
        testing::MakePackage(c.packageId, c.altProductName, "VR", c.tag);
    EXPECT_EQ(PackageMisfit(c.driveText, package), c.misfit);
    EXPECT_EQ(PackageFitsDrive(c.driveText, package), !c.misfit);
  }
}

}  // namespace
}  // namespace tslflash
