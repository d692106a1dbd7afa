#include "package/package_layout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string_view>
#include <vector>

#include "package/firmware_package.h"

namespace tslflash {
namespace {

void Put(PackageHeaderCopy& bytes, std::size_t offset, std::string_view text) {
  for (char c : text) bytes[offset++] = static_cast<std::uint8_t>(c);
}

// A header written byte by byte at the offsets drives and packages agree on.
PackageHeaderCopy HandMadeHeader() {
  PackageHeaderCopy bytes{};
  Put(bytes, 0, "KOVA2");
  Put(bytes, 8, "VARN    DVD RW LPX-650A 1.07");
  Put(bytes, 38, "EPX-412UX VR*.**");
  bytes[56] = 0x34;  // imageSumLinear 0x1234
  bytes[57] = 0x12;
  bytes[58] = 0xCD;  // imageSumRotated 0xABCD
  bytes[59] = 0xAB;
  bytes[60] = 0x0C;  // imageLength 0x0020000C
  bytes[61] = 0x00;
  bytes[62] = 0x20;
  bytes[63] = 0x00;
  return bytes;
}

TEST(PackageLayoutTest, HeaderFieldsDecodeFromTheirOffsetsAndEncodeBack) {
  const PackageHeaderCopy bytes = HandMadeHeader();
  const PackageHeader header = DecodeHeader(bytes);
  EXPECT_EQ(std::string_view(header.tag.data(), 4), "KOVA");
  EXPECT_EQ(header.protocolDigit, '2');
  EXPECT_EQ(std::string_view(header.inquiryId.data(), 28), "VARN    DVD RW LPX-650A 1.07");
  EXPECT_EQ(AltProductName(header), "EPX-412UX ");
  EXPECT_EQ(VariantMark(header), "VR");
  EXPECT_EQ(RevisionPattern(header), "*.**");
  EXPECT_EQ(header.imageSumLinear, 0x1234);
  EXPECT_EQ(header.imageSumRotated, 0xABCD);
  EXPECT_EQ(header.imageLength, 0x0020000Cu);
  EXPECT_EQ(EncodeHeader(header), bytes);
}

TEST(PackageLayoutTest, ExtensionFieldsDecodeFromTheirOffsetsAndEncodeBack) {
  const PackageExtensionCopy bytes = {'1',  '.',  '0',  '8',  ' ',  ' ',  0x11,
                                      0x22, 0x33, 0x44, 0x01, 0x02, 0x03, 0x04};
  const PackageExtension extension = DecodeExtension(bytes);
  EXPECT_EQ(std::string_view(extension.extRevision.data(), 6), "1.08  ");
  EXPECT_EQ(extension.extSumLinear, 0x2211);
  EXPECT_EQ(extension.extSumRotated, 0x4433);
  EXPECT_EQ(extension.extImageLength, 0x04030201u);
  EXPECT_EQ(EncodeExtension(extension), bytes);
}

TEST(PackageLayoutTest, CopiesNeedTheWholeHeaderAndExtension) {
  const std::vector<std::uint8_t> package(kHeaderSize + kExtensionSize, 0x5A);
  const std::span<const std::uint8_t> bytes(package);
  EXPECT_TRUE(ParseFirmwarePackage(bytes.first(kHeaderSize)).HasWholeHeader());
  EXPECT_FALSE(ParseFirmwarePackage(bytes.first(kHeaderSize - 1)).HasWholeHeader());
  EXPECT_TRUE(ExtensionCopyOf(bytes).has_value());
  EXPECT_FALSE(ExtensionCopyOf(bytes.first(kHeaderSize + kExtensionSize - 1)).has_value());
}

// The fields the drive list, the checks and the run read, from one parse.
TEST(FirmwarePackageTest, NamesEachHeaderFieldAndKeepsTheBytes) {
  const PackageHeaderCopy header = HandMadeHeader();
  std::vector<std::uint8_t> bytes(header.begin(), header.end());
  bytes.resize(100, 0x77);
  const FirmwarePackage package = ParseFirmwarePackage(bytes);
  EXPECT_EQ(package.bytes.data(), bytes.data());
  EXPECT_EQ(package.bytes.size(), 100u);
  EXPECT_EQ(package.headerCopy, header);
  EXPECT_EQ(package.header, DecodeHeader(header));
  EXPECT_TRUE(package.HasWholeHeader());
  EXPECT_TRUE(package.HasMakerTag());
  EXPECT_EQ(package.ProtocolDigit(), '2');
  EXPECT_EQ(package.InquiryId(), "VARN    DVD RW LPX-650A 1.07");
  EXPECT_EQ(package.PackageId(), "VARN    DVD RW LPX-650A ");
  EXPECT_EQ(package.Revision(), "1.07");
  EXPECT_EQ(package.AltProductName(), "EPX-412UX ");
  EXPECT_EQ(package.VariantMark(), "VR");
  EXPECT_EQ(package.RevisionPattern(), "*.**");
}

// A package cut inside its header is still read: what it lacks reads as zero,
// so no field holds bytes from beyond the package.
TEST(FirmwarePackageTest, MissingHeaderBytesReadAsZero) {
  const PackageHeaderCopy header = HandMadeHeader();
  for (const std::size_t size :
       {std::size_t{0}, std::size_t{5}, std::size_t{40}, kHeaderSize - 1}) {
    SCOPED_TRACE(size);
    const FirmwarePackage package = ParseFirmwarePackage(std::span(header).first(size));
    PackageHeaderCopy expected{};
    std::copy_n(header.begin(), size, expected.begin());
    EXPECT_EQ(package.headerCopy, expected);
    EXPECT_EQ(package.header, DecodeHeader(expected));
    EXPECT_EQ(package.bytes.size(), size);
    EXPECT_FALSE(package.HasWholeHeader());
  }
  EXPECT_FALSE(ParseFirmwarePackage(std::span(header).first(3)).HasMakerTag());
  EXPECT_EQ(ParseFirmwarePackage(std::span(header).first(40)).AltProductName(),
            std::string_view("EP\0\0\0\0\0\0\0\0", 10))
      << "altProductName starts at 38: two of its bytes are in, the rest read as zero";
}

}  // namespace
}  // namespace tslflash
