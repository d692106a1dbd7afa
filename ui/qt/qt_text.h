// Texts are bytes; Latin-1 shows every byte as one character and gives the
// same bytes back.
#pragma once

#include <QString>
#include <string_view>

namespace tslflash {

inline QString ToQt(std::string_view text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace tslflash
