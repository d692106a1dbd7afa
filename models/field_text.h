// The text of a fixed-width field of an INQUIRY reply or a package header:
// up to its first NUL byte, without the blanks that pad it.
#pragma once

#include <string_view>

namespace tslflash {

inline std::string_view UnpaddedField(std::string_view field) {
  field = field.substr(0, field.find('\0'));
  return field.substr(0, field.find_last_not_of(' ') + 1);  // npos + 1 is 0: all blanks
}

}  // namespace tslflash
