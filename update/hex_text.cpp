#include "update/hex_text.h"

#include <iomanip>
#include <sstream>

namespace tslflash {

std::string HexWord(std::uint32_t value) {
  std::ostringstream text;
  text << std::hex << std::uppercase << std::setfill('0') << std::setw(4) << value;
  return text.str();
}

std::string HexLower(std::uint32_t value) {
  std::ostringstream text;
  text << std::hex << value;
  return text.str();
}

}  // namespace tslflash
