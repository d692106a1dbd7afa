// The ASPI layer's request blocks, byte for byte as the layer reads and
// writes them: packed, zero-filled before use. Pointer fields take the
// width of the process's pointers, so the command block is 80 bytes in a
// 32-bit process and 88 in a 64-bit one; the checks below hold either way.
// Shared by the transport and by the test build of the layer.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tslflash::aspi {

// Commands (SRB_Cmd).
inline constexpr std::uint8_t SC_HA_INQUIRY = 0x00;
inline constexpr std::uint8_t SC_GET_DEV_TYPE = 0x01;
inline constexpr std::uint8_t SC_EXEC_SCSI_CMD = 0x02;
inline constexpr std::uint8_t SC_ABORT_SRB = 0x03;

// Request status (SRB_Status, and bits 8-15 of the support information).
inline constexpr std::uint8_t SS_PENDING = 0x00;
inline constexpr std::uint8_t SS_COMP = 0x01;
inline constexpr std::uint8_t SS_ABORTED = 0x02;
inline constexpr std::uint8_t SS_ERR = 0x04;
inline constexpr std::uint8_t SS_NO_ADAPTERS = 0xE8;

// Host adapter status (SRB_HaStat).
inline constexpr std::uint8_t HASTAT_OK = 0x00;
inline constexpr std::uint8_t HASTAT_TIMEOUT = 0x09;

// Request flags (SRB_Flags).
inline constexpr std::uint8_t SRB_DIR_IN = 0x08;
inline constexpr std::uint8_t SRB_DIR_OUT = 0x10;
inline constexpr std::uint8_t SRB_EVENT_NOTIFY = 0x40;

// Device type of a CD/DVD device (SRB_DeviceType).
inline constexpr std::uint8_t kCdDvdDevice = 0x05;

// Sense bytes the layer copies into a command block.
inline constexpr std::size_t SENSE_LEN = 14;

#pragma pack(push, 1)

struct SRB_HAInquiry {
  std::uint8_t SRB_Cmd;
  std::uint8_t SRB_Status;
  std::uint8_t SRB_HaId;
  std::uint8_t SRB_Flags;
  std::uint32_t SRB_Hdr_Rsvd;
  std::uint8_t HA_Count;
  std::uint8_t HA_SCSI_ID;
  std::uint8_t HA_ManagerId[16];
  std::uint8_t HA_Identifier[16];
  std::uint8_t HA_Unique[16];  // byte 3: targets per adapter
  std::uint16_t HA_Rsvd1;
};

struct SRB_GDEVBlock {
  std::uint8_t SRB_Cmd;
  std::uint8_t SRB_Status;
  std::uint8_t SRB_HaId;
  std::uint8_t SRB_Flags;
  std::uint32_t SRB_Hdr_Rsvd;
  std::uint8_t SRB_Target;
  std::uint8_t SRB_Lun;
  std::uint8_t SRB_DeviceType;
  std::uint8_t SRB_Rsvd1;
};

struct SRB_ExecSCSICmd {
  std::uint8_t SRB_Cmd;
  std::uint8_t SRB_Status;
  std::uint8_t SRB_HaId;
  std::uint8_t SRB_Flags;
  std::uint32_t SRB_Hdr_Rsvd;
  std::uint8_t SRB_Target;
  std::uint8_t SRB_Lun;
  std::uint16_t SRB_Rsvd1;
  std::uint32_t SRB_BufLen;
  std::uint8_t* SRB_BufPointer;
  std::uint8_t SRB_SenseLen;
  std::uint8_t SRB_CDBLen;
  std::uint8_t SRB_HaStat;
  std::uint8_t SRB_TargStat;
  void* SRB_PostProc;  // with SRB_EVENT_NOTIFY: the event the layer signals
  std::uint8_t SRB_Rsvd2[20];
  std::uint8_t CDBByte[16];
  std::uint8_t SenseArea[SENSE_LEN + 2];
};

// Asks the layer to abandon a request still in progress.
struct SRB_Abort {
  std::uint8_t SRB_Cmd;
  std::uint8_t SRB_Status;
  std::uint8_t SRB_HaId;
  std::uint8_t SRB_Flags;
  std::uint32_t SRB_Hdr_Rsvd;
  void* SRB_ToAbort;
};

#pragma pack(pop)

static_assert(sizeof(SRB_HAInquiry) == 60);
static_assert(offsetof(SRB_HAInquiry, HA_Unique) == 42);
static_assert(sizeof(SRB_GDEVBlock) == 12);
static_assert(offsetof(SRB_GDEVBlock, SRB_DeviceType) == 10);

inline constexpr std::size_t kPointerGrowth = sizeof(void*) - 4;
static_assert(offsetof(SRB_ExecSCSICmd, SRB_BufLen) == 12);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_BufPointer) == 16);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_SenseLen) == 20 + kPointerGrowth);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_HaStat) == 22 + kPointerGrowth);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_PostProc) == 24 + kPointerGrowth);
static_assert(offsetof(SRB_ExecSCSICmd, CDBByte) == 48 + 2 * kPointerGrowth);
static_assert(offsetof(SRB_ExecSCSICmd, SenseArea) == 64 + 2 * kPointerGrowth);
static_assert(sizeof(SRB_ExecSCSICmd) == 80 + 2 * kPointerGrowth);
static_assert(offsetof(SRB_Abort, SRB_ToAbort) == 8);

// The layer's two entry points.
using GetASPI32SupportInfoFunction = std::uint32_t (*)();
using SendASPI32CommandFunction = std::uint32_t (*)(void* requestBlock);

}  // namespace tslflash::aspi
