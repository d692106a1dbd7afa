// The identification data the tool carries beside its package: the model
// catalogue, which maps a drive's INQUIRY id to the maker's model code, and the
// revision threshold table of OEM drives that need extra handling. Both are
// kept as text files in this folder and turned into tables by the build.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>

namespace tslflash {

// A drive id is INQUIRY vendor (8) + product (16), blank padded.
inline constexpr std::size_t kDriveIdLength = 24;

struct CatalogueRow {
  std::string_view driveId;
  std::string_view modelCode;  // 4 to 6 characters
};

struct ThresholdRow {
  std::string_view driveId;
  std::string_view threshold;  // a 4-character revision
  std::string_view modelCode;
};

// Rows in stored order.
std::span<const CatalogueRow> ModelCatalogue();
std::span<const ThresholdRow> RevisionThresholdTable();

// The first row whose id equals driveId exactly (24 characters, case
// sensitive) decides; an id listed again further down is never returned.
std::optional<std::string_view> LookUpModelCode(std::string_view driveId);
std::optional<ThresholdRow> FindThresholdRow(std::string_view driveId);

}  // namespace tslflash
