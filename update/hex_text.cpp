#include "update/hex_text.h"

#include <iomanip>
#include <sstream>

namespace tslflash {

namespace {

std::string HexUpper(std::uint32_t value, int digits) {
  std::ostringstream text;
  text << std::hex << std::uppercase << std::setfill('0') << std::setw(digits) << value;
  return text.str();
}

}  // namespace

std::string HexWord(std::uint32_t value) { return HexUpper(value, 4); }

std::string HexLower(std::uint32_t value) {
  std::ostringstream text;
  text << std::hex << value;
  return text.str();
}

}  // namespace tslflash
