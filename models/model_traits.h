// What sets one drive model's update apart from the rest, as data: each row
// of the table names a model code and its quirks. The update run, the
// protocols and the Upgrade checks consult the row of the selected drive's
// model code; whether a package is for the per-page-sum drives, which decides
// how its image is staged, is read from the table too. No model name is tested
// anywhere else.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace tslflash {

// What a revision at or below the model's threshold row means.
enum class AtThreshold : std::uint8_t {
  Nothing,
  NoDowngrade,      // the drive may not be downgraded
  PresetModelCode,  // the drive's model-code blocks get model code "0" first
};

struct ModelTraits {
  std::string_view code{};   // the model code the row is for; a drive's code starts with it
  bool ejectFirst = false;   // the tray is ejected instead of preparing the drive
  bool longSettle = false;   // 50 s more to settle after the transfer
  bool storedImage = false;  // takes the image as stored, never inflated
  bool twoBanks = false;     // takes the image in two 64 KiB banks
  // Takes the image with each page's own sum, and the package's image ends
  // 12 bytes short of its length. Chosen by the package's altProductName
  // (PackageUsesPerPageSums), not by the drive's model code.
  bool perPageSums = false;
  // The byte the run stores into the model-code blocks around the transfer.
  std::optional<std::uint8_t> modelCodeByte{};
  AtThreshold atThreshold = AtThreshold::Nothing;
  // A drive of this code may be the base model (its buffer or model-code
  // block tells), and is then handled as that model.
  std::optional<std::string_view> baseModel{};
  // Packages naming any of these serve the model (besides its own code).
  std::optional<std::string_view> familyOf{};
};

// The row whose code the model code starts with; a row of no quirks for any
// other code.
[[nodiscard]] ModelTraits TraitsOf(std::string_view modelCode);

// Whether a package whose altProductName (10 characters) is this is made for
// per-page-sum drives: it names a model code of such a row, whole (up to its
// first NUL), or all ten characters of an enclosure that holds such a drive.
[[nodiscard]] bool PackageUsesPerPageSums(std::string_view altProductName);

// Whether a package naming `packageModel` is made for drives of `model`:
// the same model, compared on `width` characters, or one of its family.
[[nodiscard]] bool PackageServesModel(std::string_view packageModel, std::string_view model,
                                      std::size_t width);

}  // namespace tslflash
