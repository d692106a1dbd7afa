#include "models/model_traits.h"

#include <algorithm>
#include <array>
#include <string>

#include "models/internal_drives.h"
#include "transport/drive_commands.h"

namespace tslflash {
namespace {

constexpr std::size_t kCodeLength = 6;  // model codes are compared on 6 characters

// The model table. A model absent here updates the plain way.
constexpr std::array<ModelTraits, 8> kModels = {{
    {.code = "TK300B", .ejectFirst = true, .longSettle = true},
    {.code = "TK580B", .storedImage = true},
    {.code = "471K", .twoBanks = true},
    {.code = "TK500B",
     .modelCodeByte = kModelCodeZero,
     .atThreshold = AtThreshold::NoDowngrade,
     .familyOf = "TK500B"},
    {.code = "TK505B",
     .modelCodeByte = kModelCodeFive,
     .atThreshold = AtThreshold::NoDowngrade,
     .baseModel = "TK500B",
     .familyOf = "TK500B"},
    {.code = "TK530B",
     .modelCodeByte = kModelCodeDigitZero,
     .atThreshold = AtThreshold::PresetModelCode},
    {.code = "TQ70", .perPageSums = true},
    {.code = "TX2370", .perPageSums = true},
}};

// A fixed-width field of a text; what the text lacks reads as NUL bytes.
std::string FieldOf(std::string_view text, std::size_t width) {
  std::string field(text.substr(0, width));
  field.resize(width, '\0');
  return field;
}

}  // namespace

ModelTraits TraitsOf(std::string_view modelCode) {
  const std::string code = FieldOf(modelCode, kCodeLength);
  const auto row = std::ranges::find_if(kModels, [&code](const ModelTraits& m) {
    return std::string_view(code).starts_with(m.code);
  });
  return row == kModels.end() ? ModelTraits{} : *row;
}

bool PackageUsesPerPageSums(std::string_view altProductName) {
  const std::string_view code = altProductName.substr(0, altProductName.find('\0'));
  const auto namesRow = [code](const ModelTraits& m) { return m.perPageSums && m.code == code; };
  const auto holdsOne = [altProductName](const InternalDrive& drive) {
    return TraitsOf(drive.modelCode).perPageSums &&
           std::ranges::find(drive.enclosureNames, altProductName) != drive.enclosureNames.end();
  };
  return std::ranges::any_of(kModels, namesRow) || std::ranges::any_of(kInternalDrives, holdsOne);
}

bool PackageServesModel(std::string_view packageModel, std::string_view model, std::size_t width) {
  const ModelTraits traits = TraitsOf(model);
  if (traits.familyOf && FieldOf(model, kCodeLength) == FieldOf(*traits.familyOf, kCodeLength)) {
    return TraitsOf(packageModel).familyOf == traits.familyOf;
  }
  return FieldOf(packageModel, width) == FieldOf(model, width);
}

}  // namespace tslflash
