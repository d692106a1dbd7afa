// The command path of a whole transfer: a 2 MiB image written page by page by
// buffer id, each page read back and compared, then committed, through the
// drive registry, the drive command set and the transfer routine to an
// emulated drive, against the same commands handed straight to the emulator.
// Both count the heap allocations of their timed part; the emulator's own
// (its trace, its download memory, the accepted image) are in both, so the
// difference is what the tool's path adds.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <ostream>
#include <streambuf>
#include <vector>

#include "bench/allocation_count.h"
#include "emulator/drive_emulator.h"
#include "emulator/emulated_transport.h"
#include "tools/package_builder.h"
#include "transport/cdb.h"
#include "transport/clock.h"
#include "transport/drive_commands.h"
#include "transport/drive_registry.h"
#include "update/transfer_protocols.h"

namespace tslflash {
namespace {

constexpr std::uint32_t kImageSize = 2 * 1024 * 1024;
constexpr std::uint32_t kPages = kImageSize / kPageSize;
// The image-size query, a write and a read per page, the commit.
constexpr std::uint32_t kCommandsPerTransfer = 1 + 2 * kPages + 1;

emu::DriveDescription TwoMebibyteDrive() {
  emu::DriveDescription drive;
  drive.vendor = "VARN";
  drive.product = "DVD RW LPX-650A";
  drive.revision = "1.02";
  drive.imageSizeKiB = kImageSize / 1024;
  return drive;
}

// Takes the transfer routine's progress lines and keeps nothing.
class DiscardBuffer final : public std::streambuf {
 protected:
  int_type overflow(int_type c) override { return traits_type::not_eof(c); }
  std::streamsize xsputn(const char_type*, std::streamsize count) override { return count; }
};

// Runs `transfer` once per iteration on a fresh drive that `prepare` made;
// only `transfer` is timed and counted. A failed transfer ends the benchmark.
template <typename Prepare, typename Transfer>
void TimeTransfers(benchmark::State& state, Prepare prepare, Transfer transfer) {
  std::uint64_t allocations = 0;
  // The previous drive goes while the timer is paused: its teardown is not the transfer's.
  decltype(prepare()) prepared;
  for (auto _ : state) {
    state.PauseTiming();
    prepared = prepare();
    state.ResumeTiming();
    const std::uint64_t before = bench::AllocationCount();
    const bool done = transfer(*prepared);
    allocations += bench::AllocationCount() - before;
    if (!done) {
      state.SkipWithError("the transfer did not complete");
      return;
    }
  }
  const double commands = static_cast<double>(state.iterations()) * kCommandsPerTransfer;
  state.counters["allocs_per_command"] = static_cast<double>(allocations) / commands;
  state.counters["allocs_per_transfer"] =
      static_cast<double>(allocations) / static_cast<double>(state.iterations());
  state.SetBytesProcessed(state.iterations() * std::int64_t{kImageSize});
}

// The tool's path: what the update run does for a '0' package once the drive
// is chosen.
// The run's events, unheard: nothing fails in the measured transfers.
class SilentEvents final : public RunEvents {
 public:
  void Log(std::string_view) override {}
  BoxAnswer Ask(const MessageBox&) override { return BoxAnswer::Cancel; }
  void Stage(RunStage) override {}
  void Outcome(OutcomeCode) override {}
  void Failed(const CommandFailure&) override {}
};

struct ToolPath {
  explicit ToolPath(const std::vector<std::uint8_t>& source) : image(source) {
    drive = std::make_shared<emu::DriveEmulator>(TwoMebibyteDrive());
    registry = std::make_unique<DriveRegistry>(
        std::make_unique<emu::EmulatedTransport>(std::vector{drive}));
    ready = registry->InitTransport() && registry->EnumerateDrives() == 1;
    commands = std::make_unique<DriveCommands>(
        *registry, [](std::string_view) {}, clock, diagnostics);
  }

  bool Transfer() {
    const TransferContext context{*commands, clock, diagnostics, image, kImageSize, {}, events};
    return ready && TransferBufferPages(context) == TransferResult::Done;
  }

  const std::vector<std::uint8_t>& image;
  std::shared_ptr<emu::DriveEmulator> drive;
  std::unique_ptr<DriveRegistry> registry;
  NoWaitClock clock;
  DiscardBuffer discard;
  std::ostream diagnostics{&discard};
  SilentEvents events;
  std::unique_ptr<DriveCommands> commands;
  bool ready = false;
};

// The baseline: the same commands straight to the emulator from its own copy
// of the image, every page read back into one buffer and compared.
struct DirectPath {
  // The INQUIRY of enumeration first, so both drives start the transfer alike.
  explicit DirectPath(const std::vector<std::uint8_t>& source)
      : image(source), drive(TwoMebibyteDrive()), readBack(kPageSize) {
    std::array<std::uint8_t, kInquiryLength> reply{};
    ready = Execute(BuildInquiry(kInquiryLength), DataDirection::FromDrive, reply.data(),
                    kInquiryLength);
  }

  bool Execute(const Cdb& cdb, DataDirection direction, std::uint8_t* data, std::uint32_t length) {
    const CommandRequest request{std::span(cdb).first(CdbLengthFor(cdb[0])), direction, data,
                                 length, DriveCommands::kDataTimeout};
    return drive.Execute(request).result == CommandResult::Completed;
  }

  bool Transfer() {
    std::array<std::uint8_t, kImageSizeReplyLength> reply{};
    if (!ready ||
        !Execute(BuildQueryImageSize(), DataDirection::FromDrive, reply.data(), reply.size())) {
      return false;
    }
    for (std::uint32_t offset = 0; offset < kImageSize; offset += kPageSize) {
      const auto id = static_cast<std::uint8_t>(offset >> 16);
      const auto low = static_cast<std::uint16_t>(offset);
      std::uint8_t* page = image.data() + offset;
      if (!Execute(BuildWritePageById(id, low, kPageSize), DataDirection::ToDrive, page,
                   kPageSize) ||
          !Execute(BuildReadPageById(id, low, kPageSize), DataDirection::FromDrive, readBack.data(),
                   kPageSize) ||
          std::memcmp(page, readBack.data(), kPageSize) != 0) {
        return false;
      }
    }
    return Execute(BuildCommitImage(), DataDirection::NoData, nullptr, 0);
  }

  std::vector<std::uint8_t> image;
  emu::DriveEmulator drive;
  std::vector<std::uint8_t> readBack;
  bool ready = false;
};

void BM_TransferViaRegistry(benchmark::State& state) {
  const std::vector<std::uint8_t> image = SynthesizeImage(kImageSize, 11);
  TimeTransfers(
      state, [&image] { return std::make_unique<ToolPath>(image); },
      [](ToolPath& path) { return path.Transfer(); });
}

void BM_TransferDirect(benchmark::State& state) {
  const std::vector<std::uint8_t> image = SynthesizeImage(kImageSize, 11);
  TimeTransfers(
      state, [&image] { return std::make_unique<DirectPath>(image); },
      [](DirectPath& path) { return path.Transfer(); });
}

BENCHMARK(BM_TransferViaRegistry)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TransferDirect)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tslflash
