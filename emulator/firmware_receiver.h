// The emulated drive's firmware intake: the five ways the tool sends an image
// (pages by buffer id, signed pages, summed pages, small blocks, pages in
// banks), each checked the way the drive checks it before it accepts the
// image.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <vector>

#include "emulator/download_memory.h"
#include "emulator/scsi_wire.h"
#include "transport/drive_transport.h"

namespace tslflash::emu {

// How an accepted image reached the drive.
enum class Protocol : std::uint8_t {
  BufferPages,  // WRITE BUFFER mode 7 by buffer id, committed by mode 4
  SignedPages,  // FDh 07h
  SummedPages,  // FAh
  SmallBlocks,  // F2h 03h blocks, closed by F2h 04h
  BankedPages,  // WRITE BUFFER mode 6, committed bank by bank with mode 7
};

struct ReceivedFirmware {
  std::vector<std::uint8_t> image;
  Protocol protocol = Protocol::BufferPages;
};

class FirmwareReceiver {
 public:
  // expectedImageSize: what the drive's image-size reply announces (a mode 4
  // commit activates exactly that much). bankSize: bytes per bank of a banked
  // download; 0 keeps the whole image in bank 0.
  FirmwareReceiver(std::uint32_t expectedImageSize, std::uint32_t bankSize);

  TransportReply WriteBuffer(const CommandRequest& request);  // 3Bh modes 4, 6, 7
  TransportReply ReadBack(const CommandRequest& request);     // 3Ch mode 2
  TransportReply Download(const CommandRequest& request);     // F2h 01h, 03h, 04h
  TransportReply SignedPage(const CommandRequest& request);   // FDh 07h, signature checked
  TransportReply SummedPage(const CommandRequest& request);   // FAh

  const std::optional<ReceivedFirmware>& Received() const { return received_; }
  const DownloadMemory& Memory() const { return memory_; }

 private:
  // What the drive compares an assembled image against, when the protocol
  // carries image checksums.
  struct ImageSums {
    std::uint16_t linear = 0;
    std::optional<std::uint16_t> rotated;
  };

  TransportReply WriteData(std::uint32_t address, std::uint32_t length,
                           const CommandRequest& request);
  TransportReply CommitBank(std::uint8_t bank);
  TransportReply SmallBlock(const CommandRequest& request);
  TransportReply EndDownload(CdbBytes cdb);
  TransportReply StorePage(std::uint32_t index, std::uint16_t pageCheck,
                           std::optional<std::uint16_t> alternativeCheck,
                           const CommandRequest& request);
  // Takes [0, length) of the download memory as the image, provided every
  // byte of it arrived and the sums, when given, match.
  TransportReply Accept(std::uint64_t length, Protocol protocol,
                        std::optional<ImageSums> sums = std::nullopt);

  const std::uint32_t expectedImageSize_;
  const std::uint32_t bankSize_;
  DownloadMemory memory_;
  std::set<std::uint8_t> committedBanks_;
  bool bankRefused_ = false;
  std::optional<ReceivedFirmware> received_;
};

}  // namespace tslflash::emu
