// Which layout the embedded package is read with. The form is decided per
// drive while checking eligibility and kept as process-wide text elsewhere;
// this subsystem only ever takes it as a parameter.
#pragma once

#include <string_view>

namespace tslflash {

enum class PackageForm {
  Plain,     // header, one image, trailer
  Varn2340,  // extended layout, the second image is sent
  Varn2300,  // extended layout, the first image is sent
};

inline constexpr std::string_view kVarn2340Text = "VARN_2340";
inline constexpr std::string_view kVarn2300Text = "VARN_2300";

constexpr std::string_view PackageFormText(PackageForm form) {
  switch (form) {
    case PackageForm::Varn2340:
      return kVarn2340Text;
    case PackageForm::Varn2300:
      return kVarn2300Text;
    case PackageForm::Plain:
      break;
  }
  return {};
}

// Only the two tags select the extended layout; any other text reads as plain.
constexpr PackageForm PackageFormFromText(std::string_view text) {
  if (text == kVarn2340Text) return PackageForm::Varn2340;
  if (text == kVarn2300Text) return PackageForm::Varn2300;
  return PackageForm::Plain;
}

constexpr bool IsExtended(PackageForm form) { return form != PackageForm::Plain; }

static_assert(PackageFormFromText(PackageFormText(PackageForm::Varn2340)) == PackageForm::Varn2340);
static_assert(PackageFormFromText(PackageFormText(PackageForm::Varn2300)) == PackageForm::Varn2300);
static_assert(PackageFormFromText("") == PackageForm::Plain);

}  // namespace tslflash
