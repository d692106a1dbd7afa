// Texts every front end shows the same way: the application's name (the
// caption of a message box that names none) and the About box.
#pragma once

#include <string_view>

namespace tslflash {

inline constexpr std::string_view kApplicationName = "TslFlash";
// The caption of every warning box.
inline constexpr std::string_view kWarningCaption = "Warning";
inline constexpr std::string_view kAboutCaption = "About Tessel Flash Tool";
inline constexpr std::string_view kAboutVersion = "Tessel Flash Ver. A-7.8";
inline constexpr std::string_view kAboutSecondLine = "Firmware update for CD/DVD drives";

}  // namespace tslflash
