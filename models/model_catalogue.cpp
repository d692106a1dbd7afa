#include "models/model_catalogue.h"

#include <algorithm>

namespace tslflash {
namespace {

template <typename Row>
const Row* FirstRowFor(std::span<const Row> rows, std::string_view driveId) {
  const auto row = std::ranges::find(rows, driveId, &Row::driveId);
  return row == rows.end() ? nullptr : &*row;
}

}  // namespace

std::optional<std::string_view> LookUpModelCode(std::string_view driveId) {
  const CatalogueRow* row = FirstRowFor(ModelCatalogue(), driveId);
  if (row == nullptr) return std::nullopt;
  return row->modelCode;
}

std::optional<ThresholdRow> FindThresholdRow(std::string_view driveId) {
  const ThresholdRow* row = FirstRowFor(RevisionThresholdTable(), driveId);
  if (row == nullptr) return std::nullopt;
  return *row;
}

}  // namespace tslflash
