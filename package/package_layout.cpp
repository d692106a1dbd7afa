#include "package/package_layout.h"

#include <algorithm>

namespace tslflash {
namespace {

using layout::Field;

template <std::size_t N>
std::array<char, N> ReadText(std::span<const std::uint8_t> bytes, Field field) {
  std::array<char, N> text{};
  for (std::size_t i = 0; i < N; ++i) text[i] = static_cast<char>(bytes[field.offset + i]);
  return text;
}

template <std::size_t N>
void WriteText(std::span<std::uint8_t> bytes, Field field, const std::array<char, N>& text) {
  for (std::size_t i = 0; i < N; ++i) bytes[field.offset + i] = static_cast<std::uint8_t>(text[i]);
}

std::string_view PartOf(const PackageHeader& header, Field part) {
  return {header.altProductId.data() + part.offset, part.width};
}

template <std::size_t N>
std::optional<std::array<std::uint8_t, N>> CopyAt(std::span<const std::uint8_t> package,
                                                  std::size_t offset) {
  if (package.size() < offset + N) return std::nullopt;
  std::array<std::uint8_t, N> copy{};
  std::ranges::copy(package.subspan(offset, N), copy.begin());
  return copy;
}

}  // namespace

std::string_view AltProductName(const PackageHeader& header) {
  return PartOf(header, layout::kAltProductName);
}
std::string_view VariantMark(const PackageHeader& header) {
  return PartOf(header, layout::kVariantMark);
}
std::string_view RevisionPattern(const PackageHeader& header) {
  return PartOf(header, layout::kRevisionPattern);
}

PackageHeader DecodeHeader(const PackageHeaderCopy& bytes) {
  PackageHeader header;
  header.tag = ReadText<layout::kTag.width>(bytes, layout::kTag);
  header.protocolDigit = static_cast<char>(bytes[layout::kProtocolDigit.offset]);
  header.inquiryId = ReadText<layout::kInquiryId.width>(bytes, layout::kInquiryId);
  header.altProductId = ReadText<layout::kAltProductId.width>(bytes, layout::kAltProductId);
  header.imageSumLinear = ReadLe16(bytes, layout::kImageSumLinear.offset);
  header.imageSumRotated = ReadLe16(bytes, layout::kImageSumRotated.offset);
  header.imageLength = ReadLe32(bytes, layout::kImageLength.offset);
  return header;
}

PackageHeaderCopy EncodeHeader(const PackageHeader& header) {
  PackageHeaderCopy bytes{};
  WriteText(bytes, layout::kTag, header.tag);
  bytes[layout::kProtocolDigit.offset] = static_cast<std::uint8_t>(header.protocolDigit);
  WriteText(bytes, layout::kInquiryId, header.inquiryId);
  WriteText(bytes, layout::kAltProductId, header.altProductId);
  WriteLe16(bytes, layout::kImageSumLinear.offset, header.imageSumLinear);
  WriteLe16(bytes, layout::kImageSumRotated.offset, header.imageSumRotated);
  WriteLe32(bytes, layout::kImageLength.offset, header.imageLength);
  return bytes;
}

PackageExtension DecodeExtension(const PackageExtensionCopy& bytes) {
  PackageExtension extension;
  extension.extRevision = ReadText<layout::kExtRevision.width>(bytes, layout::kExtRevision);
  extension.extSumLinear = ReadLe16(bytes, layout::kExtSumLinear.offset);
  extension.extSumRotated = ReadLe16(bytes, layout::kExtSumRotated.offset);
  extension.extImageLength = ReadLe32(bytes, layout::kExtImageLength.offset);
  return extension;
}

PackageExtensionCopy EncodeExtension(const PackageExtension& extension) {
  PackageExtensionCopy bytes{};
  WriteText(bytes, layout::kExtRevision, extension.extRevision);
  WriteLe16(bytes, layout::kExtSumLinear.offset, extension.extSumLinear);
  WriteLe16(bytes, layout::kExtSumRotated.offset, extension.extSumRotated);
  WriteLe32(bytes, layout::kExtImageLength.offset, extension.extImageLength);
  return bytes;
}

std::optional<PackageExtensionCopy> ExtensionCopyOf(std::span<const std::uint8_t> package) {
  return CopyAt<kExtensionSize>(package, kHeaderSize);
}

std::uint16_t ReadLe16(std::span<const std::uint8_t> bytes, std::size_t offset) {
  return static_cast<std::uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

std::uint32_t ReadLe32(std::span<const std::uint8_t> bytes, std::size_t offset) {
  return ReadLe16(bytes, offset) | (std::uint32_t{ReadLe16(bytes, offset + 2)} << 16);
}

void WriteLe16(std::span<std::uint8_t> bytes, std::size_t offset, std::uint16_t value) {
  bytes[offset] = static_cast<std::uint8_t>(value);
  bytes[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

void WriteLe32(std::span<std::uint8_t> bytes, std::size_t offset, std::uint32_t value) {
  WriteLe16(bytes, offset, static_cast<std::uint16_t>(value));
  WriteLe16(bytes, offset + 2, static_cast<std::uint16_t>(value >> 16));
}

}  // namespace tslflash
