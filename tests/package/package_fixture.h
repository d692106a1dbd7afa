// Packages for the package tests, made by the package builder, and the few
// edits that turn them into the faulty packages a test needs.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "package/checksum.h"
#include "package/firmware_package.h"
#include "package/package_layout.h"
#include "tools/package_builder.h"

namespace tslflash::testing {

inline PackageRecipe PlainRecipe(std::size_t imageSize, std::uint64_t seed = 1) {
  PackageRecipe recipe;
  recipe.inquiryId = "VARN    DVD RW LPX-650A 1.07";
  recipe.altProductName = "TK300B";
  recipe.altProductNameNulPadded = true;
  recipe.variantMark = "TW";
  recipe.revisionPattern = "1.**";
  recipe.image = SynthesizeImage(imageSize, seed);
  return recipe;
}

inline PackageRecipe ExtendedRecipe(std::size_t firstSize, std::size_t secondSize) {
  PackageRecipe recipe = PlainRecipe(firstSize, 1);
  recipe.second = SecondImageRecipe{SynthesizeImage(secondSize, 2), "1.08"};
  return recipe;
}

inline std::vector<std::uint8_t> Built(const PackageRecipe& recipe) {
  BuildResult built = BuildPackage(recipe);
  EXPECT_TRUE(built.Ok()) << built.error;
  return std::move(built.package);
}

inline PackageHeader HeaderOf(const std::vector<std::uint8_t>& package) {
  return ParseFirmwarePackage(package).header;
}

inline PackageExtension ExtensionOf(const std::vector<std::uint8_t>& package) {
  return DecodeExtension(*ExtensionCopyOf(package));
}

inline void Rewrite(std::vector<std::uint8_t>& package, const PackageHeader& header) {
  std::ranges::copy(EncodeHeader(header), package.begin());
}

inline void Rewrite(std::vector<std::uint8_t>& package, const PackageExtension& extension) {
  std::ranges::copy(EncodeExtension(extension), package.begin() + kHeaderSize);
}

// Writes a trailer at offset that matches the bytes before it.
inline void Reseal(std::vector<std::uint8_t>& package, std::size_t offset) {
  package.resize(offset + kTrailerSize);
  const ChecksumPair sums = ChecksumsOf(std::span(package).first(offset));
  WriteLe16(package, offset, sums.linear);
  WriteLe16(package, offset + 2, sums.rotated);
}

}  // namespace tslflash::testing
