// The model table: a drive's model code finds its row by prefix, a code
// without a row updates the plain way, the family rule decides which
// packages serve a base model, and a package's altProductName whether its
// image is read for per-page sums.
#include "models/model_traits.h"

#include <gtest/gtest.h>

#include <string_view>

namespace tslflash {
namespace {

TEST(ModelTraitsTest, EachCodeFindsItsRowByPrefix) {
  struct Case {
    const char* code;
    bool ejectFirst, longSettle, storedImage, twoBanks, perPageSums;
    std::optional<std::uint8_t> modelCodeByte;
    AtThreshold atThreshold;
  };
  const Case cases[] = {
      {"TK300B", true, true, false, false, false, std::nullopt, AtThreshold::Nothing},
      {"TK580B", false, false, true, false, false, std::nullopt, AtThreshold::Nothing},
      {"471K", false, false, false, true, false, std::nullopt, AtThreshold::Nothing},
      {"471KB", false, false, false, true, false, std::nullopt, AtThreshold::Nothing},
      {"TK500B", false, false, false, false, false, 0x00, AtThreshold::NoDowngrade},
      {"TK505B", false, false, false, false, false, 0x05, AtThreshold::NoDowngrade},
      {"TK530B", false, false, false, false, false, 0x30, AtThreshold::PresetModelCode},
      {"TK530", false, false, false, false, false, std::nullopt, AtThreshold::Nothing},
      {"TX2300", false, false, false, false, false, std::nullopt, AtThreshold::Nothing},
      {"TX2370", false, false, false, false, true, std::nullopt, AtThreshold::Nothing},
      {"TQ70", false, false, false, false, true, std::nullopt, AtThreshold::Nothing},
      {"", false, false, false, false, false, std::nullopt, AtThreshold::Nothing},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    const ModelTraits t = TraitsOf(c.code);
    EXPECT_EQ(t.ejectFirst, c.ejectFirst);
    EXPECT_EQ(t.longSettle, c.longSettle);
    EXPECT_EQ(t.storedImage, c.storedImage);
    EXPECT_EQ(t.twoBanks, c.twoBanks);
    EXPECT_EQ(t.perPageSums, c.perPageSums);
    EXPECT_EQ(t.modelCodeByte, c.modelCodeByte);
    EXPECT_EQ(t.atThreshold, c.atThreshold);
  }
  EXPECT_EQ(TraitsOf("TK505B").baseModel, "TK500B");
  EXPECT_EQ(TraitsOf("TK500B").baseModel, std::nullopt);
}

TEST(ModelTraitsTest, BaseModelTakesItsFamilysPackagesOthersOnlyTheirOwn) {
  EXPECT_TRUE(PackageServesModel("TK500B", "TK500B", 6));
  EXPECT_TRUE(PackageServesModel("TK505B", "TK500B", 6));
  EXPECT_FALSE(PackageServesModel("TK530B", "TK500B", 6));
  EXPECT_TRUE(PackageServesModel("TK505B", "TK505B", 6));
  EXPECT_FALSE(PackageServesModel("TK500B", "TK505B", 6)) << "a TK505B drive is not a base model";
  // Compared on the width asked for: ten characters tell these apart, six do not.
  EXPECT_TRUE(PackageServesModel("TX2300XY", "TX2300", 6));
  EXPECT_FALSE(PackageServesModel("TX2300XY", "TX2300", 10));
}

// Which packages are read for per-page sums: a per-page-sum model code ends
// at the first NUL of the ten characters, an enclosure name fills all ten.
TEST(ModelTraitsTest, PerPageSumPackagesGoByTheirAltProductName) {
  using namespace std::string_view_literals;
  const struct {
    std::string_view altProductName;  // 10 characters
    bool perPageSums;
  } cases[] = {
      {"TQ70\0\0\0\0\0\0"sv, true},
      {"TQ70X\0\0\0\0\0"sv, false},  // the code must end where the name ends
      {"TQ70      "sv, false},       // a code padded with blanks is not the code
      {"TX2370\0\0\0\0"sv, true},
      {"TX23700\0\0\0"sv, false},
      {"EPX-412UXT"sv, true},  // drive C's enclosures
      {"EPX-412UX "sv, true},
      {"EPX-412UXS"sv, false},
      {"EPX-402UX "sv, false},  // drive A's enclosure: no per-page sums
      {"TX2300\0\0\0\0"sv, false},
      {"TK300B\0\0\0\0"sv, false},
      {"\0\0\0\0\0\0\0\0\0\0"sv, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PackageUsesPerPageSums(c.altProductName), c.perPageSums) << c.altProductName;
  }
}

}  // namespace
}  // namespace tslflash
