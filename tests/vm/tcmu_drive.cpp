// Serves the first drive of an emulator description to the kernel as a real
// SCSI device in the test VM, through the TCM-User backstore: every command
// the kernel's target passes (INQUIRY included) goes to the emulated drive,
// and one line per command goes to the device's own log. On SIGTERM it writes
// the image the drive accepted, if any, and ends.
//   tcmu-drive DESCRIPTION LOG IMAGE
#include <algorithm>
#include <array>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "emulator/command_trace.h"
#include "emulator/drive_description.h"
#include "emulator/drive_emulator.h"
#include "emulator/scsi_wire.h"
#include "tests/vm/tcmu_ring.h"
#include "transport/cdb.h"

namespace tslflash::vm {
namespace {

volatile std::sig_atomic_t stopRequested = 0;

// The ring does not say which way a command's data goes: the drive knows it
// from the command, as any drive does. The drive's commands that take data.
bool SendsDataToDrive(std::span<const std::uint8_t> cdb) {
  switch (cdb[0]) {
    case opcode::kWriteBuffer:
    case opcode::kDownload:
    case opcode::kSummedPage:
    case opcode::kVendorControl:
      return true;
    case opcode::kParameterBlock:
      return cdb[1] == BuildWriteParameterBlock(0)[1];
    default:
      return false;
  }
}

RingAnswer Answer(emu::DriveEmulator& drive, std::FILE* log, const RingCommand& command) {
  const DataDirection direction = command.buffers.empty()         ? DataDirection::NoData
                                  : SendsDataToDrive(command.cdb) ? DataDirection::ToDrive
                                                                  : DataDirection::FromDrive;
  std::vector<std::uint8_t> data;
  for (const auto buffer : command.buffers) {
    if (direction == DataDirection::ToDrive) {
      data.insert(data.end(), buffer.begin(), buffer.end());
    } else {
      data.resize(data.size() + buffer.size());
    }
  }
  // The target keeps a vendor command's first ten bytes only and zeros past
  // them; the drive reads twelve, as many as the tool's longest command has.
  std::array<std::uint8_t, 16> cdb{};
  std::copy(command.cdb.begin(), command.cdb.end(), cdb.begin());
  const CommandRequest request{std::span(cdb).first(std::max<std::size_t>(command.cdb.size(), 12)),
                               direction, data.data(), static_cast<std::uint32_t>(data.size())};
  const TransportReply reply = drive.Execute(request);

  // The log shows the CDB as it arrived; the device never learns the host's
  // time-out, so it reads 0s.
  CommandRequest arrived = request;
  arrived.cdb = command.cdb;
  std::fprintf(log, "%s\n", emu::FormatTraceEntry(emu::MakeTraceEntry(arrived, reply)).c_str());
  std::fflush(log);

  RingAnswer answer;
  if (direction == DataDirection::FromDrive) {
    const std::uint32_t returned =
        std::min(reply.transferred.value_or(request.length), request.length);
    std::size_t at = 0;
    for (const auto buffer : command.buffers) {
      const std::size_t count = std::min(buffer.size(), returned - at);
      std::memcpy(buffer.data(), data.data() + at, count);
      at += count;
    }
    answer.returned = returned;
  }
  if (reply.status) {
    answer.status = *reply.status;
    answer.sense = reply.sense;
  } else if (reply.result == CommandResult::Completed) {
    answer.status = scsi_status::kGood;
  } else {
    // A drive that fails a command says why; one the emulator leaves
    // without sense (a time-out, a lost answer) reports an internal failure.
    answer.status = scsi_status::kCheckCondition;
    answer.sense = reply.sense.value_or(emu::sense::kInternalFailure);
  }
  return answer;
}

int Serve(const char* descriptionFile, const char* logFile, const char* imageFile) {
  const emu::LoadedDrives loaded = emu::LoadDriveDescriptionFile(descriptionFile);
  if (!loaded.Ok() || loaded.drives.empty()) {
    std::fprintf(stderr, "tcmu-drive: %s: %s\n", descriptionFile,
                 loaded.Ok() ? "no drive" : loaded.error.c_str());
    return 1;
  }
  emu::DriveEmulator drive(loaded.drives.front());
  std::string error;
  const std::unique_ptr<TcmuRing> ring = TcmuRing::Open(error);
  std::FILE* log = std::fopen(logFile, "w");
  if (ring == nullptr || log == nullptr) {
    std::fprintf(stderr, "tcmu-drive: %s\n", ring == nullptr ? error.c_str() : logFile);
    return 1;
  }
  struct sigaction action {};
  action.sa_handler = [](int) { stopRequested = 1; };
  sigaction(SIGTERM, &action, nullptr);
  std::printf("TCMU-DRIVE-READY\n");
  std::fflush(stdout);
  const bool served =
      ring->Serve([&](const RingCommand& command) { return Answer(drive, log, command); },
                  [] { return stopRequested != 0; });
  std::fclose(log);
  if (const auto image = drive.ReceivedImage()) {
    std::ofstream(imageFile, std::ios::binary)
        .write(reinterpret_cast<const char*>(image->data()),
               static_cast<std::streamsize>(image->size()));
  }
  if (!served) std::fprintf(stderr, "tcmu-drive: the ring failed\n");
  return served ? 0 : 1;
}

}  // namespace
}  // namespace tslflash::vm

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: tcmu-drive DESCRIPTION LOG IMAGE\n");
    return 2;
  }
  return tslflash::vm::Serve(argv[1], argv[2], argv[3]);
}
