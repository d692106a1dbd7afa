// The model table: a drive's model code finds its row by prefix, a code
// without a row updates the plain way, and the family rule decides which
// packages serve a base model.
#include "models/model_traits.h"

#include <gtest/gtest.h>

namespace tslflash {
namespace {

TEST(ModelTraitsTest, EachCodeFindsItsRowByPrefix) {
  struct Case {
    const char* code;
    bool ejectFirst, longSettle, storedImage, twoBanks;
    std::optional<std::uint8_t> modelCodeByte;
    AtThreshold atThreshold;
  };
  const Case cases[] = {
      {"TK300B", true, true, false, false, std::nullopt, AtThreshold::Nothing},
      {"TK580B", false, false, true, false, std::nullopt, AtThreshold::Nothing},
      {"471K", false, false, false, true, std::nullopt, AtThreshold::Nothing},
      {"471KB", false, false, false, true, std::nullopt, AtThreshold::Nothing},
      {"TK500B", false, false, false, false, 0x00, AtThreshold::NoDowngrade},
      {"TK505B", false, false, false, false, 0x05, AtThreshold::NoDowngrade},
      {"TK530B", false, false, false, false, 0x30, AtThreshold::PresetModelCode},
      {"TK530", false, false, false, false, std::nullopt, AtThreshold::Nothing},
      {"TX2300", false, false, false, false, std::nullopt, AtThreshold::Nothing},
      {"", false, false, false, false, std::nullopt, AtThreshold::Nothing},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    const ModelTraits t = TraitsOf(c.code);
    EXPECT_EQ(t.ejectFirst, c.ejectFirst);
    EXPECT_EQ(t.longSettle, c.longSettle);
    EXPECT_EQ(t.storedImage, c.storedImage);
    EXPECT_EQ(t.twoBanks, c.twoBanks);
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

}  // namespace
}  // namespace tslflash
