// Plain words for what the package checks find, shared by the package
// builder's errors and the package tool's reports.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "package/image_staging.h"
#include "package/package_check.h"

namespace tslflash {

std::string_view DescribeRule(ImageRangeRule rule);
std::string_view DescribeRangeStatus(ImageRangeStatus status);
std::string_view DescribeTrailerStatus(TrailerStatus status);
std::string_view DescribeProtocolDigit(char digit);

// The text in double quotes, with NUL shown as \0 and other unprintable bytes as \xNN.
std::string Quoted(std::string_view text);
std::string Hex16(std::uint16_t value);

}  // namespace tslflash
