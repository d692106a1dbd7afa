// The catalogue and threshold data as shipped, and how the two tables are
// searched.
#include "models/model_catalogue.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "models/internal_drives.h"

namespace tslflash {
namespace {

using ::testing::Optional;
using ::testing::SizeIs;

std::map<std::string_view, std::vector<std::string_view>> CodesById() {
  std::map<std::string_view, std::vector<std::string_view>> codes;
  for (const CatalogueRow& row : ModelCatalogue()) codes[row.driveId].push_back(row.modelCode);
  return codes;
}

TEST(ModelCatalogueTest, ShipsTheCataloguedRowsAndCodes) {
  const auto rows = ModelCatalogue();
  ASSERT_THAT(rows, SizeIs(137));

  std::map<std::string_view, int> rowsPerCode;
  for (const CatalogueRow& row : rows) {
    EXPECT_EQ(row.driveId.size(), kDriveIdLength) << row.driveId;
    EXPECT_GE(row.modelCode.size(), 4u) << row.modelCode;
    EXPECT_LE(row.modelCode.size(), 6u) << row.modelCode;
    ++rowsPerCode[row.modelCode];
  }
  EXPECT_THAT(rowsPerCode, SizeIs(31));
  const auto most = std::ranges::max_element(rowsPerCode, {}, [](auto& e) { return e.second; });
  EXPECT_EQ(most->second, 10);
  EXPECT_GE(std::ranges::count_if(rowsPerCode, [](auto& e) { return e.second == 10; }), 2);
}

TEST(ModelCatalogueTest, TwoIdsAreListedTwiceAndTheFirstRowWins) {
  std::vector<std::pair<std::string_view, std::vector<std::string_view>>> repeated;
  for (const auto& entry : CodesById()) {
    if (entry.second.size() > 1) repeated.emplace_back(entry);
  }
  ASSERT_THAT(repeated, SizeIs(2));
  for (const auto& [id, codes] : repeated) {
    ASSERT_THAT(codes, SizeIs(2)) << id;
    EXPECT_NE(codes[0], codes[1]) << id;
    EXPECT_THAT(LookUpModelCode(id), Optional(codes[0])) << id;
  }
}

TEST(ModelCatalogueTest, EveryListedIdIsFound) {
  // Includes the last row: the search runs to the end of the table.
  for (const auto& [id, codes] : CodesById()) {
    EXPECT_THAT(LookUpModelCode(id), Optional(codes.front())) << id;
  }
}

TEST(ModelCatalogueTest, CodesTheEligibilityAndRunRulesNameAreCatalogued) {
  std::set<std::string_view> codes;
  for (const CatalogueRow& row : ModelCatalogue()) codes.insert(row.modelCode);
  for (std::string_view code : {"TK505B", "TK530B", "TK300B", "471K", "TQ70", "TX2370", "TX2100",
                                "TX2110", "TX2120", "TX2125", "TX2300", "TX2350", "TR200K"}) {
    EXPECT_TRUE(codes.contains(code)) << code;
  }
  // These come only from a package or a substitution, never from the catalogue.
  EXPECT_FALSE(codes.contains("TK500B"));
  EXPECT_FALSE(codes.contains("TK580B"));
}

TEST(ModelCatalogueTest, LooksUpTheInternalAndSampleDrives) {
  for (const InternalDrive& drive : kInternalDrives) {
    EXPECT_THAT(LookUpModelCode(drive.driveId), Optional(drive.modelCode)) << drive.driveId;
  }
  EXPECT_THAT(LookUpModelCode("VARN    DVD RW LPX-650A "), Optional(std::string_view("TK300B")));
}

TEST(ModelCatalogueTest, OnlyTheExactTwentyFourCharacterIdMatches) {
  for (std::string_view id : {
           "VARN    DVD RW LPX-402A 1.07",  // with the revision
           "VARN    DVD RW LPX-402A",       // trailing blank missing
           "varn    DVD RW LPX-402A ",      // other case
           "VARN    DVD RW LPX-999A ",      // not catalogued
           "",
       }) {
    EXPECT_EQ(LookUpModelCode(id), std::nullopt) << id;
  }
}

TEST(RevisionThresholdTableTest, ShipsSevenDistinctOemRows) {
  const auto rows = RevisionThresholdTable();
  ASSERT_THAT(rows, SizeIs(7));
  std::set<std::string_view> ids;
  std::map<std::string_view, int> rowsPerCode;
  for (const ThresholdRow& row : rows) {
    EXPECT_EQ(row.driveId.size(), kDriveIdLength) << row.driveId;
    EXPECT_EQ(row.threshold.size(), 4u) << row.driveId;
    // The drive's catalogue entry must agree, or eligibility would refuse it.
    EXPECT_THAT(LookUpModelCode(row.driveId), Optional(row.modelCode)) << row.driveId;
    ids.insert(row.driveId);
    ++rowsPerCode[row.modelCode];
  }
  EXPECT_THAT(ids, SizeIs(7));
  EXPECT_EQ(rowsPerCode, (std::map<std::string_view, int>{{"TK505B", 3}, {"TK530B", 4}}));
}

TEST(RevisionThresholdTableTest, FindsTheRowOfAListedIdOnly) {
  for (const ThresholdRow& row : RevisionThresholdTable()) {
    const auto found = FindThresholdRow(row.driveId);
    ASSERT_TRUE(found.has_value()) << row.driveId;
    EXPECT_EQ(found->threshold, row.threshold);
    EXPECT_EQ(found->modelCode, row.modelCode);
  }
  EXPECT_EQ(FindThresholdRow("KOVA    CD-RW TK505B    "), std::nullopt);  // catalogued only
  EXPECT_EQ(FindThresholdRow(""), std::nullopt);
}

}  // namespace
}  // namespace tslflash
