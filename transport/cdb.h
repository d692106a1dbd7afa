// Command descriptor blocks: every CDB the tool sends is built here, one typed
// builder per command, in a zero-filled 12-byte block. Numbers inside CDBs are
// big-endian. The transport sends as many bytes as the opcode's group demands.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace tslflash {

using Cdb = std::array<std::uint8_t, 12>;
static_assert(sizeof(Cdb) == 12);

namespace cdb_detail {
constexpr void PutBe16(Cdb& cdb, std::size_t at, std::uint16_t value) {
  cdb[at] = static_cast<std::uint8_t>(value >> 8);
  cdb[at + 1] = static_cast<std::uint8_t>(value);
}
constexpr void PutBe24(Cdb& cdb, std::size_t at, std::uint32_t value) {
  cdb[at] = static_cast<std::uint8_t>(value >> 16);
  PutBe16(cdb, at + 1, static_cast<std::uint16_t>(value));
}
constexpr void PutBe32(Cdb& cdb, std::size_t at, std::uint32_t value) {
  cdb[at] = static_cast<std::uint8_t>(value >> 24);
  PutBe24(cdb, at + 1, value & 0xFFFFFFu);
}
}  // namespace cdb_detail

namespace opcode {
inline constexpr std::uint8_t kTestUnitReady = 0x00;
inline constexpr std::uint8_t kInquiry = 0x12;
inline constexpr std::uint8_t kStartStopUnit = 0x1B;
inline constexpr std::uint8_t kWriteBuffer = 0x3B;
inline constexpr std::uint8_t kReadBuffer = 0x3C;
inline constexpr std::uint8_t kModeSense10 = 0x5A;
inline constexpr std::uint8_t kDownload = 0xF2;
inline constexpr std::uint8_t kParameterBlock = 0xF5;
inline constexpr std::uint8_t kSummedPage = 0xFA;
inline constexpr std::uint8_t kVendorControl = 0xFD;
}  // namespace opcode

// The four characters every vendor command and package carries.
inline constexpr std::array<std::uint8_t, 4> kVendorSignature = {'K', 'O', 'V', 'A'};

// Parameter area and blocks of the drive's vendor parameters (F5h commands).
inline constexpr std::uint8_t kParameterArea = 0xA2;
inline constexpr std::uint8_t kModelBlockPrimary = 0x02;
inline constexpr std::uint8_t kModelBlockSecondary = 0x24;
inline constexpr std::uint8_t kParameterBlockLength = 4;

// Allocation lengths of the fixed replies.
inline constexpr std::uint8_t kInquiryLength = 0x38;  // 56: enumeration
// The ASPI layer's scan asks for the standard 36 bytes only.
inline constexpr std::uint8_t kAspiInquiryLength = 0x24;      // 36
inline constexpr std::uint8_t kExtendedInquiryLength = 0x7D;  // 125: enclosure identity
inline constexpr std::uint8_t kCapabilitiesPageLength = 0x1E;
inline constexpr std::uint8_t kImageSizeReplyLength = 0x64;  // 100

inline constexpr std::uint32_t kPageSize = 16384;
inline constexpr std::uint16_t kSmallBlockPayload = 4096;
inline constexpr std::uint16_t kSmallBlockSize = kSmallBlockPayload + 2;

constexpr Cdb BuildTestUnitReady() { return Cdb{opcode::kTestUnitReady}; }

constexpr Cdb BuildInquiry(std::uint8_t allocationLength) {
  Cdb cdb{opcode::kInquiry};
  cdb[4] = allocationLength;
  return cdb;
}

// MODE SENSE(10), current values of the capabilities page 2Ah.
constexpr Cdb BuildModeSenseCapabilities() {
  Cdb cdb{opcode::kModeSense10};
  cdb[2] = 0x2A;
  cdb_detail::PutBe16(cdb, 7, kCapabilitiesPageLength);
  return cdb;
}

// START STOP UNIT with LoEj = 1, Start = 0.
constexpr Cdb BuildEject() {
  Cdb cdb{opcode::kStartStopUnit};
  cdb[4] = 0x02;
  return cdb;
}

// READ BUFFER mode 1: the drive's image-size descriptor.
constexpr Cdb BuildQueryImageSize() {
  Cdb cdb{opcode::kReadBuffer, 0x01};
  cdb_detail::PutBe24(cdb, 6, kImageSizeReplyLength);
  return cdb;
}

// WRITE BUFFER mode 7 / READ BUFFER mode 2 addressed by buffer id + 16-bit offset.
constexpr Cdb BuildWritePageById(std::uint8_t bufferId, std::uint16_t offset, std::uint16_t count) {
  Cdb cdb{opcode::kWriteBuffer, 0x07, bufferId};
  cdb_detail::PutBe16(cdb, 4, offset);
  cdb_detail::PutBe16(cdb, 7, count);
  return cdb;
}
constexpr Cdb BuildReadPageById(std::uint8_t bufferId, std::uint16_t offset, std::uint16_t count) {
  Cdb cdb = BuildWritePageById(bufferId, offset, count);
  cdb[0] = opcode::kReadBuffer;
  cdb[1] = 0x02;
  return cdb;
}

// WRITE BUFFER mode 6 / READ BUFFER mode 2 addressed by a 24-bit offset whose
// high byte is either offset bits 16-23 or a bank number.
constexpr Cdb BuildWritePageByOffset(std::uint8_t highByte, std::uint16_t offset,
                                     std::uint16_t count) {
  Cdb cdb{opcode::kWriteBuffer, 0x06, 0x00, highByte};
  cdb_detail::PutBe16(cdb, 4, offset);
  cdb_detail::PutBe16(cdb, 7, count);
  return cdb;
}
constexpr Cdb BuildReadPageByOffset(std::uint8_t highByte, std::uint16_t offset,
                                    std::uint16_t count) {
  Cdb cdb = BuildWritePageByOffset(highByte, offset, count);
  cdb[0] = opcode::kReadBuffer;
  cdb[1] = 0x02;
  return cdb;
}

// WRITE BUFFER mode 4 without data: activate the image written by id.
constexpr Cdb BuildCommitImage() { return Cdb{opcode::kWriteBuffer, 0x04}; }

// WRITE BUFFER mode 7 without data: activate one bank written by offset.
constexpr Cdb BuildCommitBank(std::uint8_t bank) {
  return Cdb{opcode::kWriteBuffer, 0x07, 0x00, bank};
}

constexpr Cdb BuildBeginDownload() { return Cdb{opcode::kDownload, 0x01}; }

// F2h 04h carries the image length in 24 bits; a longer image cannot be described.
constexpr std::optional<Cdb> BuildEndDownload(std::uint32_t imageLength) {
  if (imageLength > 0xFFFFFFu) return std::nullopt;
  Cdb cdb{opcode::kDownload, 0x04};
  cdb_detail::PutBe24(cdb, 7, imageLength);
  cdb[11] = 0x01;
  return cdb;
}

// F2h 03h: one 4 KiB block plus its two checksum bytes at a byte offset.
constexpr Cdb BuildSmallBlock(std::uint32_t byteOffset) {
  Cdb cdb{opcode::kDownload, 0x03};
  cdb_detail::PutBe32(cdb, 2, byteOffset);
  cdb_detail::PutBe16(cdb, 8, kSmallBlockSize);
  return cdb;
}

constexpr Cdb BuildVendorHandshake() {
  return Cdb{opcode::kVendorControl, 0xF1,
             kVendorSignature[0],    kVendorSignature[1],
             kVendorSignature[2],    kVendorSignature[3]};
}

constexpr Cdb BuildReadParameterBlock(std::uint8_t block) {
  return Cdb{opcode::kParameterBlock, 0x01, 0x00, kParameterArea, 0x00, block, 0x00,
             kParameterBlockLength};
}
constexpr Cdb BuildWriteParameterBlock(std::uint8_t block) {
  Cdb cdb = BuildReadParameterBlock(block);
  cdb[1] = 0x03;
  return cdb;
}

// FAh: one page of the summed-pages protocol.
struct SummedPageFields {
  std::uint16_t imageLinear = 0;
  std::uint16_t pageCheck = 0;
  std::uint8_t pageIndex = 0;
  std::uint16_t imageRotated = 0;
  std::uint8_t pageCount = 0;
};
constexpr Cdb BuildSummedPage(const SummedPageFields& f) {
  Cdb cdb{opcode::kSummedPage};
  cdb_detail::PutBe16(cdb, 1, f.imageLinear);
  cdb_detail::PutBe16(cdb, 3, f.pageCheck);
  cdb[5] = f.pageIndex;
  cdb[6] = 0x01;
  cdb_detail::PutBe16(cdb, 7, f.imageLinear);
  cdb_detail::PutBe16(cdb, 9, f.imageRotated);
  cdb[11] = f.pageCount;
  return cdb;
}

// FDh 07h: one page of the signed-pages protocol, numbered from 1.
struct SignedPageFields {
  std::uint16_t pageSum = 0;  // low 16 bits of the page's byte sum
  std::uint16_t imageLinear = 0;
  std::uint8_t pageNumber = 0;
  std::uint8_t pageCount = 0;
};
constexpr Cdb BuildSignedPage(const SignedPageFields& f) {
  Cdb cdb{opcode::kVendorControl, 0x07,
          kVendorSignature[0],    kVendorSignature[1],
          kVendorSignature[2],    kVendorSignature[3]};
  cdb_detail::PutBe16(cdb, 6, f.pageSum);
  cdb_detail::PutBe16(cdb, 8, f.imageLinear);
  cdb[10] = f.pageNumber;
  cdb[11] = f.pageCount;
  return cdb;
}

// The layouts that drives rely on, pinned at compile time.
static_assert(BuildInquiry(kInquiryLength) == Cdb{0x12, 0, 0, 0, 0x38});
static_assert(BuildModeSenseCapabilities() == Cdb{0x5A, 0, 0x2A, 0, 0, 0, 0, 0, 0x1E});
static_assert(BuildQueryImageSize() == Cdb{0x3C, 0x01, 0, 0, 0, 0, 0, 0, 0x64});
static_assert(BuildEndDownload(0x20000C) ==
              Cdb{0xF2, 0x04, 0, 0, 0, 0, 0, 0x20, 0x00, 0x0C, 0x00, 0x01});
static_assert(!BuildEndDownload(0x1000000).has_value());
static_assert(BuildWritePageById(0x01, 0x4000, 0x4000) ==
              Cdb{0x3B, 0x07, 0x01, 0x00, 0x40, 0x00, 0x00, 0x40, 0x00});
static_assert(BuildWritePageByOffset(0x01, 0x4000, 0x4000) ==
              Cdb{0x3B, 0x06, 0x00, 0x01, 0x40, 0x00, 0x00, 0x40, 0x00});
static_assert(BuildReadPageById(0x01, 0x4000, 0x4000) ==
              Cdb{0x3C, 0x02, 0x01, 0x00, 0x40, 0x00, 0x00, 0x40, 0x00});
static_assert(BuildSmallBlock(0x1000) == Cdb{0xF2, 0x03, 0, 0, 0x10, 0x00, 0, 0, 0x10, 0x02});
static_assert(BuildVendorHandshake() == Cdb{0xFD, 0xF1, 0x4B, 0x4F, 0x56, 0x41});
static_assert(BuildWriteParameterBlock(0x24) == Cdb{0xF5, 0x03, 0, 0xA2, 0, 0x24, 0, 0x04});

}  // namespace tslflash
