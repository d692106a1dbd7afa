#include "tests/vm/tcmu_ring.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/uio.h>
#include <unistd.h>

// The C library has defined struct iovec already, as the kernel's own
// <linux/uio.h> would again: the ring's header takes the first.
#define __LINUX_UIO_H
#include <linux/target_core_user.h>

#include <array>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace tslflash::vm {
namespace {

// The target copies as many CDB bytes as the operation code's group says in
// the kernel's own table: a vendor command (groups 6 and 7) keeps ten.
std::size_t TargetCdbLength(std::uint8_t opcode) {
  constexpr std::array<std::size_t, 8> kByGroup = {6, 10, 10, 12, 16, 12, 10, 10};
  return kByGroup[opcode >> 5];
}

constexpr std::size_t kFixedSenseBytes = 18;

std::uint32_t* MailboxWord(std::uint8_t* map, std::size_t offset) {
  return reinterpret_cast<std::uint32_t*>(map + offset);
}

bool Inside(std::uint64_t offset, std::uint64_t length, std::size_t size) {
  return offset <= size && length <= size - offset;
}

}  // namespace

std::unique_ptr<TcmuRing> TcmuRing::Open(std::string& error) {
  std::error_code ignored;
  for (const auto& device : std::filesystem::directory_iterator("/sys/class/uio", ignored)) {
    std::string name;
    std::getline(std::ifstream(device.path() / "name"), name);
    if (!name.starts_with("tcm-user/")) continue;
    std::string sizeText;
    std::getline(std::ifstream(device.path() / "maps/map0/size"), sizeText);
    const std::size_t size = std::stoull(sizeText, nullptr, 0);
    const std::string node = "/dev/" + device.path().filename().string();
    const int fd = open(node.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
      error = node + ": " + std::strerror(errno);
      return nullptr;
    }
    void* map = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (map == MAP_FAILED) {
      error = node + ": mmap: " + std::strerror(errno);
      close(fd);
      return nullptr;
    }
    const auto* mailbox = static_cast<const tcmu_mailbox*>(map);
    if (mailbox->version != TCMU_MAILBOX_VERSION) {
      error = node + ": mailbox version " + std::to_string(mailbox->version);
      munmap(map, size);
      close(fd);
      return nullptr;
    }
    return std::unique_ptr<TcmuRing>(new TcmuRing(fd, static_cast<std::uint8_t*>(map), size));
  }
  error = "no TCM-User device under /sys/class/uio";
  return nullptr;
}

TcmuRing::~TcmuRing() {
  munmap(map_, size_);
  close(fd_);
}

bool TcmuRing::Serve(const Answerer& answer, const std::function<bool()>& stop) {
  for (;;) {
    if (!AnswerQueued(answer)) return false;
    if (stop()) return true;
    pollfd ready{fd_, POLLIN, 0};
    const int count = poll(&ready, 1, 200);
    if (count < 0 && errno != EINTR) return false;
    std::uint32_t events = 0;
    if (count > 0 && read(fd_, &events, sizeof events) != sizeof events) return false;
  }
}

bool TcmuRing::AnswerQueued(const Answerer& answer) {
  const auto* mailbox = reinterpret_cast<const tcmu_mailbox*>(map_);
  const std::uint32_t ringOffset = mailbox->cmdr_off;
  const std::uint32_t ringSize = mailbox->cmdr_size;
  const bool readLength = (mailbox->flags & TCMU_MAILBOX_FLAG_CAP_READ_LEN) != 0;
  std::uint32_t* head = MailboxWord(map_, offsetof(tcmu_mailbox, cmd_head));
  std::uint32_t* tail = MailboxWord(map_, offsetof(tcmu_mailbox, cmd_tail));
  std::uint32_t at = __atomic_load_n(tail, __ATOMIC_RELAXED);
  bool answered = false;
  while (at != __atomic_load_n(head, __ATOMIC_ACQUIRE)) {
    if (!Inside(std::uint64_t{ringOffset} + at, sizeof(tcmu_cmd_entry), size_)) return false;
    auto* entry = reinterpret_cast<tcmu_cmd_entry*>(map_ + ringOffset + at);
    const std::uint32_t length = tcmu_hdr_get_len(entry->hdr.len_op);
    if (length == 0) return false;
    switch (tcmu_hdr_get_op(entry->hdr.len_op)) {
      case TCMU_OP_PAD:
        break;
      case TCMU_OP_CMD: {
        // The request and the reply share the entry: read all of it first.
        RingCommand command;
        const std::uint64_t cdbOffset = entry->req.cdb_off;
        if (!Inside(cdbOffset, 1, size_)) return false;
        const std::size_t cdbLength = TargetCdbLength(map_[cdbOffset]);
        if (!Inside(cdbOffset, cdbLength, size_)) return false;
        command.cdb = {map_ + cdbOffset, cdbLength};
        const std::uint32_t pieces = entry->req.iov_cnt;
        const auto* vectors =
            reinterpret_cast<const std::uint8_t*>(entry) + offsetof(tcmu_cmd_entry, req.iov);
        for (std::uint32_t piece = 0; piece < pieces; ++piece) {
          iovec vector{};
          std::memcpy(&vector, vectors + piece * sizeof vector, sizeof vector);
          // Offsets into the map, not addresses.
          const auto offset = reinterpret_cast<std::uintptr_t>(vector.iov_base);
          if (!Inside(offset, vector.iov_len, size_)) return false;
          command.buffers.emplace_back(map_ + offset, vector.iov_len);
        }
        const RingAnswer reply = answer(command);
        entry->rsp.scsi_status = reply.status;
        if (reply.sense) {
          std::array<std::uint8_t, kFixedSenseBytes> sense{0x70};
          sense[2] = reply.sense->key;
          sense[7] = kFixedSenseBytes - 8;
          sense[12] = reply.sense->asc;
          sense[13] = reply.sense->ascq;
          std::memcpy(entry->rsp.sense_buffer, sense.data(), sense.size());
        }
        if (reply.returned && readLength) {
          entry->rsp.read_len = *reply.returned;
          entry->hdr.uflags |= TCMU_UFLAG_READ_LEN;
        }
        break;
      }
      default:
        entry->hdr.uflags |= TCMU_UFLAG_UNKNOWN_OP;
    }
    at = (at + length) % ringSize;
    __atomic_store_n(tail, at, __ATOMIC_RELEASE);
    answered = true;
  }
  // A four-byte write tells the kernel the ring moved.
  const std::uint32_t done = 0;
  return !answered || write(fd_, &done, sizeof done) == sizeof done;
}

}  // namespace tslflash::vm
