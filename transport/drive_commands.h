// The standard and vendor commands the tool sends to the selected drive, each
// turning its CommandResult and reply into a small result for the caller.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "transport/cdb.h"
#include "transport/clock.h"
#include "transport/command_result.h"
#include "transport/drive_registry.h"

namespace tslflash {

// Model codes as the drive's parameter blocks hold them.
inline constexpr std::uint8_t kModelCodeZero = 0x00;
inline constexpr std::uint8_t kModelCodeFive = 0x05;
inline constexpr std::uint8_t kModelCodeDigitZero = 0x30;  // the character "0"
inline constexpr std::uint8_t kModelCodeUnknown = 255;

// StoreModelCode results.
inline constexpr std::uint8_t kStoreModelCodeDone = 1;
inline constexpr std::uint8_t kStoreModelCodeFailed = 255;

// One vendor parameter block: model code, marker, two bytes of the drive's own.
using ParameterBlockBytes = std::array<std::uint8_t, kParameterBlockLength>;

// The parameter blocks the tool has written to, each with the bytes it held
// before the first write, so that they can be put back.
class ChangedBlocks {
 public:
  struct Block {
    std::uint8_t number;
    ParameterBlockBytes before;
  };
  // Keeps the first bytes noted for a block: those are the drive's own.
  void Note(std::uint8_t number, const ParameterBlockBytes& before);
  void Forget(std::uint8_t number);
  [[nodiscard]] bool Empty() const { return blocks_.empty(); }
  const std::vector<Block>& List() const { return blocks_; }

 private:
  std::vector<Block> blocks_;
};

// A model-code read: the code, or why there is none.
enum class ModelCodeFailure : std::uint8_t { None, HandshakeRefused, ReadFailed };
struct ModelCodeReading {
  std::optional<std::uint8_t> code;  // 0, 5, 30h, or kModelCodeUnknown for any other byte
  ModelCodeFailure failure = ModelCodeFailure::None;
};

// What the drive says about its buffer. Unknown: it did not answer, so
// nothing that depends on the buffer may be decided from it.
enum class BufferSizeAnswer : std::uint8_t { Large, Smaller, Unknown };

// What the drive says about its tray.
enum class DiscCheck : std::uint8_t {
  NoDisc,        // medium not present
  DiscPossible,  // ready, or an answer that leaves a disc possible
  NoAnswer,      // no status with sense: timed out, failed without sense, busy
};

class DriveCommands {
 public:
  static constexpr std::chrono::seconds kControlTimeout{15};
  static constexpr std::chrono::seconds kDataTimeout{200};
  static constexpr std::chrono::milliseconds kRetryPause{200};
  // A drive restarting its firmware becomes ready well within a minute.
  static constexpr int kMaxReadyPolls = 300;
  // Unit attentions clear within a poll or two; past this the tray state is
  // unknown and the update is refused rather than started on a loaded drive.
  static constexpr int kMaxNoDiscPolls = 25;
  static constexpr std::uint32_t kExtendedInquiryLength = 125;
  // A drive need not return the vendor-specific bytes of the extended
  // INQUIRY: those it leaves out read as zero, as the enclosure check expects.
  // Shorter than a standard INQUIRY, the reply fails.
  static constexpr std::uint32_t kExtendedInquiryNeeded = 36;
  static constexpr std::uint32_t kModeSenseBufferLength = 16384;

  // `notice` takes the lines a command itself has to tell the user.
  DriveCommands(DriveRegistry& registry, TransportNotice notice, Clock& clock,
                std::ostream& diagnostics);

  CommandReply ReadExtendedInquiry(std::span<std::uint8_t, kExtendedInquiryLength> reply);
  // NoDisc only when the drive reports no medium. A drive becoming ready is
  // waited for, as WaitForDriveReady does, then judged; a drive that keeps
  // reporting a unit attention is logged and, like any other answer, counts
  // as a tray that may hold a disc. A reply without sense says nothing about
  // the tray: NoAnswer.
  [[nodiscard]] DiscCheck CheckNoDisc();
  [[nodiscard]] bool VendorHandshake();
  // True when the drive's buffer is 8192 KiB.
  [[nodiscard]] bool CheckBufferSize();
  // Large when the drive's buffer is 8192 KiB; Unknown when it did not answer.
  [[nodiscard]] BufferSizeAnswer ReadBufferSize();
  // The code, or which step gave none: the handshake, or a read that failed
  // or timed out (its zero-filled reply would read as code 0).
  [[nodiscard]] ModelCodeReading ReadModelCode();
  // Read-modify-write of one parameter block; kStoreModelCodeDone or Failed.
  // Only a completed read is written back, and only a completed write counts.
  // `changed`, when given, notes the block's bytes as read before the write
  // is sent: a write that fails may still have changed the block.
  [[nodiscard]] std::uint8_t StoreModelCode(std::uint8_t modelCode, std::uint8_t block, bool marker,
                                            ChangedBlocks* changed = nullptr);
  // Writes these 4 bytes into the block as they are; true when completed.
  [[nodiscard]] bool WriteParameterBlock(std::uint8_t block, const ParameterBlockBytes& bytes);
  // Lets the drive settle; true when it ends up reporting no medium.
  bool WaitForDriveReady();
  // The firmware revision the drive reports in a standard INQUIRY. Nothing
  // when the reply does not hold it: a failed or short read, or one whose
  // own length (byte 4) does not reach the revision, as a read that brought
  // no data while reported whole.
  [[nodiscard]] std::optional<std::string> ReadRevision();
  // The same once the drive answers again (after an update): TEST UNIT READY
  // until it settles, then INQUIRY.
  [[nodiscard]] std::optional<std::string> ReadRevisionWhenReady();
  [[nodiscard]] bool EjectMedium();
  // Reads the image size the drive expects into ExpectedImageSize.
  [[nodiscard]] bool QueryImageSize();
  std::uint32_t ExpectedImageSize() const { return expectedImageSize_; }

  // Page commands: writes send `count` bytes of the page as it lies in the
  // caller's image; reads always ask for a whole page.
  CommandReply WritePageById(std::span<const std::uint8_t> page, std::uint8_t bufferId,
                             std::uint16_t offset, std::uint16_t count);
  CommandReply ReadPageById(std::span<std::uint8_t> page, std::uint8_t bufferId,
                            std::uint16_t offset, std::uint16_t count);
  CommandReply CommitImage();
  CommandReply WritePageByOffset(std::span<const std::uint8_t> page, std::uint8_t highByte,
                                 std::uint16_t offset, std::uint16_t count);
  CommandReply ReadPageByOffset(std::span<std::uint8_t> page, std::uint8_t highByte,
                                std::uint16_t offset, std::uint16_t count);
  CommandReply CommitBank(std::uint8_t bank);
  CommandReply BeginDownload();
  CommandReply EndDownload(std::uint32_t imageLength);
  // One 4 KiB block followed by its two checksum bytes.
  CommandReply SendSmallBlock(std::span<const std::uint8_t> block, std::uint32_t byteOffset);
  // One 16 KiB page of the summed-pages or the signed-pages transfer.
  CommandReply SendSummedPage(std::span<const std::uint8_t> page, const SummedPageFields& fields);
  CommandReply SendSignedPage(std::span<const std::uint8_t> page, const SignedPageFields& fields);

 private:
  CommandReply Send(const Cdb& cdb, DataDirection direction, std::uint8_t* data,
                    std::uint32_t length, std::chrono::seconds timeout);
  // A data-in command whose caller reads the reply's first `needed` bytes.
  CommandReply Read(const Cdb& cdb, std::uint8_t* data, std::uint32_t length, std::uint32_t needed);
  bool SendNoData(const Cdb& cdb, std::chrono::seconds timeout);
  CommandReply WritePage(const Cdb& cdb, std::span<const std::uint8_t> page, std::uint32_t count,
                         std::chrono::seconds timeout);
  CommandReply ReadPage(const Cdb& cdb, std::span<std::uint8_t> page);
  CommandReply TestUnitReady();

  DriveRegistry& registry_;
  TransportNotice notice_;
  Clock& clock_;
  std::ostream& diagnostics_;
  std::uint32_t expectedImageSize_ = 0;
};

}  // namespace tslflash
