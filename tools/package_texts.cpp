#include "tools/package_texts.h"

#include <cstdio>

namespace tslflash {

std::string_view DescribeRule(ImageRangeRule rule) {
  switch (rule) {
    case ImageRangeRule::PerPageSumModel:
      return "rule 1 (alternate id of a per-page-sum drive: range 64..L+52, per-page sums on)";
    case ImageRangeRule::SecondImage:
      return "rule 2 (VARN_2340: the second image, imageLength+118 .. +L)";
    case ImageRangeRule::ExtendedFirst:
      return "rule 3 (VARN_2300: the first image of the extended layout, 78..L+78)";
    case ImageRangeRule::Plain:
      break;
  }
  return "rule 4 (plain layout: 64..L+64)";
}

std::string_view DescribeRangeStatus(ImageRangeStatus status) {
  switch (status) {
    case ImageRangeStatus::NegativeLength:
      return "image range has a negative length (L is below the 12 bytes rule 1 leaves unsent)";
    case ImageRangeStatus::LongerThanArea:
      return "image range is over the 2 MiB limit of an image";
    case ImageRangeStatus::PastPackage:
      return "image range runs past the end of the package (inconsistent lengths)";
    case ImageRangeStatus::NotLocated:
      return "image range not looked for";
    case ImageRangeStatus::Usable:
      break;
  }
  return "image range lies inside the package";
}

std::string_view DescribeTrailerStatus(TrailerStatus status) {
  switch (status) {
    case TrailerStatus::PackageTooShort:
      return "package is too short to hold its header and extension";
    case TrailerStatus::NoSecondImage:
      return "extImageLength is 0, which the extended layout refuses";
    case TrailerStatus::OverBound:
      return "trailer lies beyond the extended layout's bound of 0x200100";
    case TrailerStatus::PastEnd:
      return "trailer would run past the end of the package (inconsistent lengths)";
    case TrailerStatus::Found:
      break;
  }
  return "trailer lies inside the package";
}

std::string_view DescribeProtocolDigit(char digit) {
  switch (digit) {
    case '0':
      return "buffer pages: 16 KiB pages by buffer id, read back and compared";
    case '1':
      return "signed pages: 16 KiB vendor pages carrying the signature";
    case '2':
      return "summed pages: 16 KiB vendor pages carrying checksums, optionally inflated";
    case '3':
      return "small blocks: 4 KiB blocks with their own checksums";
    case '4':
      return "banked pages: 16 KiB pages in 64 KiB banks, read back and compared";
    default:
      return "no transfer protocol: an update run ends after the image check";
  }
}

std::string Quoted(std::string_view text) {
  std::string quoted = "\"";
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte == 0) {
      quoted += "\\0";
    } else if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (byte < 0x20 || byte > 0x7E) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      quoted += escaped;
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}

std::string Hex16(std::uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04X", value);
  return text;
}

}  // namespace tslflash
