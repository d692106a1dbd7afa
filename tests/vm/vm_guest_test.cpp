// Runs inside the test VM against the kernel's SCSI stack: the tool's own
// registry and SG_IO transport talk to scsi_debug's CD/DVD device. Each check
// prints PASS or FAIL; the host script counts them.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "transport/clock.h"
#include "transport/drive_commands.h"
#include "transport/drive_registry.h"
#include "transport/platform_transport.h"

namespace tslflash {
namespace {

int failures = 0;

// The bench's chunks: 16 KiB, as the update sends them. scsi_debug answers
// each mode 7 chunk with a unit attention that fails the next WRITE BUFFER, so
// no tool can send a second one; mode 0Eh (with offsets, save, defer
// activation) takes the same CDB and data phase without it.
constexpr std::uint32_t kBenchChunk = 16384;
constexpr std::uint8_t kBenchMode = 0x0E;
constexpr int kBenchChunks = 256;
constexpr int kBenchRounds = 7;

void Check(std::string_view name, bool ok, const std::string& detail = {}) {
  std::printf("%s %.*s %s\n", ok ? "PASS" : "FAIL", static_cast<int>(name.size()), name.data(),
              detail.c_str());
  if (!ok) ++failures;
}

std::string SenseText(const CommandReply& reply) {
  std::array<char, 16> text{};
  std::snprintf(text.data(), text.size(), "%02X/%02X/%02X", reply.sense.key, reply.sense.asc,
                reply.sense.ascq);
  return text.data();
}

bool SenseIs(const CommandReply& reply, SenseBytes expected) {
  return reply.category == ReplyCategory::CheckCondition && reply.sense == expected;
}

void WriteSysfs(const char* path, const char* value) { std::ofstream(path) << value; }

CommandReply Inquiry(DriveRegistry& registry, std::span<std::uint8_t> reply) {
  const std::array<std::uint8_t, 6> cdb{0x12, 0, 0, 0, static_cast<std::uint8_t>(reply.size()), 0};
  return registry.ExecuteCommand(cdb, DataDirection::FromDrive, reply.data(),
                                 static_cast<std::uint32_t>(reply.size()),
                                 DriveRegistry::kEnumerationTimeout);
}

CommandReply TestUnitReady(DriveRegistry& registry, std::chrono::seconds timeout) {
  const std::array<std::uint8_t, 6> cdb{};
  return registry.ExecuteCommand(cdb, DataDirection::NoData, nullptr, 0, timeout);
}

constexpr std::uint8_t kDownloadWithOffsets = 0x07;  // and save: the update's mode

// WRITE BUFFER of one chunk at a byte offset, mode 7 unless told.
CommandReply WriteBufferChunk(DriveRegistry& registry, std::span<std::uint8_t> chunk,
                              std::uint32_t offset, std::uint8_t mode = kDownloadWithOffsets) {
  const auto length = static_cast<std::uint32_t>(chunk.size());
  const std::array<std::uint8_t, 10> cdb{0x3B,
                                         mode,
                                         0,
                                         static_cast<std::uint8_t>(offset >> 16),
                                         static_cast<std::uint8_t>(offset >> 8),
                                         static_cast<std::uint8_t>(offset),
                                         static_cast<std::uint8_t>(length >> 16),
                                         static_cast<std::uint8_t>(length >> 8),
                                         static_cast<std::uint8_t>(length),
                                         0};
  return registry.ExecuteCommand(cdb, DataDirection::ToDrive, chunk.data(), length,
                                 std::chrono::seconds{15});
}

void CheckEnumeration(DriveRegistry& registry) {
  Check("transport-init", registry.InitTransport());
  const std::uint8_t count = registry.EnumerateDrives();
  Check("enumeration-finds-drive", count >= 1, "count=" + std::to_string(count));
  if (count == 0) return;
  Check("select-first", registry.SelectDrive(0));
  const auto text = registry.FormatDriveText().value_or("");
  Check("identity-registered",
        text.find("Linux") != std::string::npos && text.find("scsi_debug") != std::string::npos,
        "'" + text + "'");
  Check("location", registry.SelectedLocation().value_or("") == "/dev/sr0",
        registry.SelectedLocation().value_or("<none>"));
}

void CheckCommands(DriveRegistry& registry) {
  std::array<std::uint8_t, 56> shortReply{};
  Check("inquiry-56", Inquiry(registry, shortReply) == CommandResult::Completed &&
                          (shortReply[0] & 0x1F) == 0x05);
  std::array<std::uint8_t, 125> longReply{};
  Check("inquiry-125", Inquiry(registry, longReply) == CommandResult::Completed &&
                           std::memcmp(longReply.data() + 8, "Linux   ", 8) == 0);
  std::array<std::uint8_t, 16384> chunk{};
  // scsi_debug takes the microcode and then reports that it changed (6/3F/16).
  Check("write-buffer-mode7", WriteBufferChunk(registry, chunk, 0) == CommandResult::Completed);
  const CommandReply afterDownload = TestUnitReady(registry, std::chrono::seconds{15});
  Check("unit-attention-after-download", SenseIs(afterDownload, {0x06, 0x3F, 0x16}),
        SenseText(afterDownload));
}

void CheckDescriptorSense(DriveRegistry& registry) {
  WriteSysfs("/sys/bus/pseudo/drivers/scsi_debug/dsense", "1");
  // An unsupported opcode gives 05/20/00, here in descriptor format (72h).
  const std::array<std::uint8_t, 12> vendor{0xF5};
  const CommandReply result =
      registry.ExecuteCommand(vendor, DataDirection::NoData, nullptr, 0, std::chrono::seconds{15});
  Check("descriptor-sense", SenseIs(result, {0x05, 0x20, 0x00}), SenseText(result));
  WriteSysfs("/sys/bus/pseudo/drivers/scsi_debug/dsense", "0");
  const CommandReply fixed =
      registry.ExecuteCommand(vendor, DataDirection::NoData, nullptr, 0, std::chrono::seconds{15});
  Check("fixed-sense", SenseIs(fixed, {0x05, 0x20, 0x00}), SenseText(fixed));
}

void CheckTimeOut(DriveRegistry& registry) {
  // A response delay (in jiffies) well past the one-second time-out.
  WriteSysfs("/sys/bus/pseudo/drivers/scsi_debug/delay", "3000");
  const CommandReply result = TestUnitReady(registry, std::chrono::seconds{1});
  WriteSysfs("/sys/bus/pseudo/drivers/scsi_debug/delay", "0");
  Check("timeout-classified", result.category == ReplyCategory::TimedOut,
        "category=" + std::to_string(static_cast<int>(result.category)));
}

// Keeps the lines the drive commands have to tell the user.
struct RecordingReporter {
  TransportNotice Notice() {
    return [this](std::string_view text) { log.emplace_back(text); };
  }
  std::vector<std::string> log;
};

// scsi_debug's CD/DVD device has a medium, answers no vendor opcode and no
// capabilities page.
void CheckDriveCommands(DriveRegistry& registry) {
  RecordingReporter reporter;
  SystemClock clock;
  std::ostringstream diagnostics;
  DriveCommands commands(registry, reporter.Notice(), clock, diagnostics);
  std::array<std::uint8_t, DriveCommands::kExtendedInquiryLength> reply{};
  Check("extended-inquiry", commands.ReadExtendedInquiry(reply) == CommandResult::Completed &&
                                std::memcmp(reply.data() + 16, "scsi_debug", 10) == 0);
  // Each command runs before its sense is read: an argument list has no order.
  Check("check-no-disc-with-medium", commands.CheckNoDisc() == DiscCheck::DiscPossible);
  Check("wait-ready-with-medium", !commands.WaitForDriveReady());
  const bool handshake = commands.VendorHandshake();
  Check("vendor-handshake-refused",
        !handshake && reporter.log.size() == 1 && reporter.log[0] == "This Model is not support.",
        reporter.log.empty() ? "<no line>" : reporter.log[0]);
  Check("buffer-size-not-large", !commands.CheckBufferSize());
  Check("eject-medium", commands.EjectMedium());
}

// Run as an unprivileged user: the device opens, but the kernel refuses
// WRITE BUFFER, and the tool says once how to get the rights.
int RunWithoutPrivilege() {
  std::vector<std::string> notices;
  DriveRegistry registry(
      MakePlatformTransport([&notices](std::string_view text) { notices.emplace_back(text); }));
  Check("unprivileged-enumeration",
        registry.InitTransport() && registry.EnumerateDrives() >= 1 && registry.SelectDrive(0));
  std::array<std::uint8_t, 16384> chunk{};
  const CommandReply first = WriteBufferChunk(registry, chunk, 0);
  const CommandReply second = WriteBufferChunk(registry, chunk, 0);
  Check("privilege-refused",
        first == CommandResult::Failed && second == CommandResult::Failed && notices.size() == 1 &&
            notices[0].find("CAP_SYS_RAWIO") != std::string::npos &&
            notices[0].find("/dev/sr0") != std::string::npos,
        notices.empty() ? "<no notice>" : "'" + notices[0] + "'");
  return failures;
}

// More devices than the registry holds: it keeps the first eight.
int RunManyDevices() {
  DriveRegistry registry(MakePlatformTransport());
  const bool initialized = registry.InitTransport();
  const std::uint8_t count = registry.EnumerateDrives();
  Check("more-than-eight-registers-eight", initialized && count == DriveRegistry::kMaxDrives,
        "count=" + std::to_string(count));
  return failures;
}

// QEMU's emulated CD/DVD drives with an empty tray (scsi-cd on virtio-scsi,
// ide-cd through libata): no disc, and no vendor commands.
int RunEmptyTray() {
  DriveRegistry registry(MakePlatformTransport());
  const bool found =
      registry.InitTransport() && registry.EnumerateDrives() >= 1 && registry.SelectDrive(0);
  const auto text = registry.FormatDriveText().value_or("");
  Check("emulated-cd-identity", found && text.find("QEMU") != std::string::npos, "'" + text + "'");
  if (!found) return failures;
  RecordingReporter reporter;
  SystemClock clock;
  std::ostringstream diagnostics;
  DriveCommands commands(registry, reporter.Notice(), clock, diagnostics);
  // The drive's unit attentions are past once CheckNoDisc has polled them away.
  Check("empty-tray-no-disc", commands.CheckNoDisc() == DiscCheck::NoDisc);
  const CommandReply unitReady = TestUnitReady(registry, std::chrono::seconds{15});
  Check("empty-tray-sense", SenseIs(unitReady, {0x02, 0x3A, 0x00}), SenseText(unitReady));
  Check("empty-tray-wait-ready", commands.WaitForDriveReady());
  const CommandReply handshake = registry.ExecuteCommand(
      BuildVendorHandshake(), DataDirection::NoData, nullptr, 0, std::chrono::seconds{15});
  Check("empty-tray-handshake-refused", SenseIs(handshake, {0x05, 0x20, 0x00}),
        SenseText(handshake));
  return failures;
}

// Reads `count` 16 KiB chunks from `file` and sends them at consecutive
// offsets through the registry, as the peer does with --bpw; the bench runs
// it as a process of its own.
int RunChunks(const std::string& file, int count) {
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(count) * kBenchChunk);
  std::ifstream in(file, std::ios::binary);
  if (!in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()))) {
    return 1;
  }
  DriveRegistry registry(MakePlatformTransport());
  if (!registry.InitTransport() || registry.EnumerateDrives() == 0) return 1;
  for (std::size_t offset = 0; offset < bytes.size(); offset += kBenchChunk) {
    const auto chunk = std::span(bytes).subspan(offset, kBenchChunk);
    if (WriteBufferChunk(registry, chunk, static_cast<std::uint32_t>(offset), kBenchMode) !=
        CommandResult::Completed) {
      return 1;
    }
  }
  return 0;
}

// Wall time of one run of a program in milliseconds; negative when it failed.
double TimedRun(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  int status = 0;
  if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0 ||
      waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    return -1;
  }
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

double Median(std::vector<double> values) {
  std::ranges::sort(values);
  return values[values.size() / 2];
}

// Microseconds per chunk command of this program's SG_IO path and of the peer
// tool, both reading their chunks from the same file. Each side runs as a
// process for one chunk and for kBenchChunks + 1; the difference over
// kBenchChunks leaves out start-up, enumeration and opening the device. Rounds alternate the two
// sides; the medians go on one BENCH line, and nothing about them is checked.
int RunBench(const std::string& self, const std::string& peer) {
  // Answer at once: the commands' own cost is measured, not a response delay.
  WriteSysfs("/sys/bus/pseudo/drivers/scsi_debug/delay", "0");
  const std::string file = "/tmp/chunks.bin";
  const std::size_t most = (kBenchChunks + 1) * std::size_t{kBenchChunk};
  std::ofstream(file, std::ios::binary)
      .write(std::vector<char>(most).data(), static_cast<std::streamsize>(most));
  const auto ours = [&self, &file](int count) {
    return TimedRun({self, "chunks", file, std::to_string(count)});
  };
  const auto theirs = [&peer, &file](int count) {
    const std::size_t length = static_cast<std::size_t>(count) * kBenchChunk;
    return TimedRun({peer, "--mode=" + std::to_string(kBenchMode),
                     "--bpw=" + std::to_string(kBenchChunk), "--length=" + std::to_string(length),
                     "--in=" + file, "/dev/sr0"});
  };
  std::vector<double> oursUs;
  std::vector<double> theirsUs;
  bool completed = true;
  for (int round = 0; round < kBenchRounds; ++round) {
    const double ourOne = ours(1), ourMany = ours(kBenchChunks + 1);
    const double peerOne = theirs(1), peerMany = theirs(kBenchChunks + 1);
    completed = completed && ourOne >= 0 && ourMany >= 0 && peerOne >= 0 && peerMany >= 0;
    oursUs.push_back((ourMany - ourOne) * 1000 / kBenchChunks);
    theirsUs.push_back((peerMany - peerOne) * 1000 / kBenchChunks);
  }
  Check("bench-chunks-sent-by-both", completed);
  if (completed) {
    const double sgIo = Median(oursUs), sgWriteBuffer = Median(theirsUs);
    std::printf("BENCH sg_io_us=%.1f peer_us=%.1f ratio=%.3f chunks=%d rounds=%d\n", sgIo,
                sgWriteBuffer, sgIo / sgWriteBuffer, kBenchChunks, kBenchRounds);
  }
  return failures;
}

// The kernel keeps a second exclusive open out, and the lock names its
// holder: a second registry in this very process is refused and told who.
void CheckExclusiveHold() {
  DriveRegistry first(MakePlatformTransport());
  DriveRegistry second(MakePlatformTransport());
  const bool found = first.InitTransport() && first.EnumerateDrives() >= 1 &&
                     second.InitTransport() && second.EnumerateDrives() >= 1;
  if (!found) return Check("hold-found-drive", false);
  HoldAttempt held = first.HoldSelected();
  const HoldAttempt refused = second.HoldSelected();
  const std::string self = "guest-test, process " + std::to_string(getpid());
  Check("hold-taken", held.hold != nullptr, held.reason);
  Check("second-hold-refused-naming-holder",
        refused.hold == nullptr && refused.inUse && refused.holder == self,
        "holder='" + refused.holder + "' reason='" + refused.reason + "'");
  held.hold.reset();
  const HoldAttempt again = second.HoldSelected();
  Check("hold-free-after-release", again.hold != nullptr, again.reason);
}

// Holds the first drive as the tool does until killed: another program in
// the tool's way. Says HELD once it has it.
int HoldDrive(int seconds) {
  DriveRegistry registry(MakePlatformTransport());
  if (!registry.InitTransport() || registry.EnumerateDrives() == 0) return 1;
  const HoldAttempt attempt = registry.HoldSelected();
  if (attempt.hold == nullptr) return 1;
  std::printf("HELD\n");
  std::fflush(stdout);
  sleep(static_cast<unsigned>(seconds));
  return 0;
}

// Writes FILE onto the medium from its first block with WRITE(10), for a
// filesystem to mount from it.
int FillMedium(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                  std::istreambuf_iterator<char>()};
  DriveRegistry registry(MakePlatformTransport());
  if (bytes.empty() || !registry.InitTransport() || registry.EnumerateDrives() == 0) return 1;
  // The root checks ejected the medium: load it again. The medium change
  // is reported once as a unit attention, so the capacity is asked twice.
  const std::array<std::uint8_t, 6> load{0x1B, 0, 0, 0, 0x03, 0};
  (void)registry.ExecuteCommand(load, DataDirection::NoData, nullptr, 0, std::chrono::seconds{15});
  std::array<std::uint8_t, 8> capacity{};
  const std::array<std::uint8_t, 10> readCapacity{0x25};
  const auto readIt = [&] {
    return registry.ExecuteCommand(readCapacity, DataDirection::FromDrive, capacity.data(),
                                   capacity.size(), std::chrono::seconds{15});
  };
  CommandReply read = readIt();
  if (!read.Good()) read = readIt();
  if (!read.Good()) {
    std::printf("fill: READ CAPACITY failed, sense %s\n", SenseText(read).c_str());
    return 1;
  }
  const std::uint32_t block = std::uint32_t{capacity[4]} << 24 | std::uint32_t{capacity[5]} << 16 |
                              std::uint32_t{capacity[6]} << 8 | capacity[7];
  if (block == 0) return 1;
  bytes.resize((bytes.size() + block - 1) / block * block);
  constexpr std::uint32_t kBlocksPerWrite = 16;
  for (std::uint32_t lba = 0; lba * block < bytes.size(); lba += kBlocksPerWrite) {
    const auto count = static_cast<std::uint16_t>(
        std::min<std::size_t>(kBlocksPerWrite, bytes.size() / block - lba));
    const std::array<std::uint8_t, 10> cdb{0x2A,
                                           0,
                                           static_cast<std::uint8_t>(lba >> 24),
                                           static_cast<std::uint8_t>(lba >> 16),
                                           static_cast<std::uint8_t>(lba >> 8),
                                           static_cast<std::uint8_t>(lba),
                                           0,
                                           static_cast<std::uint8_t>(count >> 8),
                                           static_cast<std::uint8_t>(count),
                                           0};
    const CommandReply written =
        registry.ExecuteCommand(cdb, DataDirection::ToDrive, bytes.data() + lba * block,
                                count * block, std::chrono::seconds{15});
    if (!written.Good()) {
      std::printf("fill: WRITE(10) at %u failed, sense %s\n", lba, SenseText(written).c_str());
      return 1;
    }
  }
  return 0;
}

int RunAsRoot() {
  CheckExclusiveHold();
  DriveRegistry registry(MakePlatformTransport());
  CheckEnumeration(registry);
  if (registry.GetDriveCount() > 0) {
    CheckCommands(registry);
    CheckDescriptorSense(registry);
    CheckTimeOut(registry);
    CheckDriveCommands(registry);
  }
  return failures;
}

}  // namespace
}  // namespace tslflash

int main(int argc, char** argv) {
  using namespace tslflash;
  const std::string_view mode = argc > 1 ? argv[1] : "root";
  if (mode == "unprivileged") RunWithoutPrivilege();
  if (mode == "many") RunManyDevices();
  if (mode == "root") RunAsRoot();
  if (mode == "empty-tray") RunEmptyTray();
  // chunks FILE N: the bench's own side, silent; bench PEER: both sides, timed.
  if (mode == "chunks" && argc > 3) return RunChunks(argv[2], std::atoi(argv[3]));
  if (mode == "hold" && argc > 2) return HoldDrive(std::atoi(argv[2]));
  if (mode == "fill" && argc > 2) return FillMedium(argv[2]);
  if (mode == "bench" && argc > 2) RunBench(argv[0], argv[2]);
  std::printf("GUEST-DONE failures=%d\n", failures);
  return failures == 0 ? 0 : 1;
}
