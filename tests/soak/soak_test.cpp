// Many updates in a row through the whole dialog, each against a fresh
// emulated drive with a fault drawn from a seed: the eligibility checks on
// the UI thread, the run on a worker thread that hands every view call over,
// and timer ticks, tree selections and close attempts on the UI thread while
// it runs. Success must be reported exactly when the drive holds the whole
// image, and no run may leave descriptors or heap behind.
#include <gtest/gtest.h>
#include <malloc.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "app/update_dialog.h"
#include "emulator/drive_description.h"
#include "emulator/emulated_transport.h"
#include "models/model_traits.h"
#include "package/embedded_package.h"
#include "package/image_staging.h"
#include "tests/app/fake_dialog_view.h"
#include "tests/app/recorded_worker.h"
#include "transport/clock.h"
#include "ui/ui_dispatcher.h"
#include "ui/ui_thread_view.h"

namespace tslflash {
namespace {

using testing::FakeDialogView;

constexpr int kRuns = 200;
constexpr int kWarmUpRuns = 20;
// Heap the allocator may keep in its caches after the warm-up, in bytes.
constexpr std::size_t kHeapSlack = 64 * 1024;
// A whole run on the demo drive sends about this many commands; faults strike within it.
constexpr std::uint32_t kCommandsPerRun = 24;
constexpr TreeItem kFirstDrive = 2;  // the root is the first item

std::size_t OpenDescriptors() {
  const std::filesystem::directory_iterator fds("/proc/self/fd");
  return static_cast<std::size_t>(std::distance(begin(fds), end(fds)));
}

std::size_t HeapInUse() { return mallinfo2().uordblks; }

// The image bytes the embedded package sends.
std::vector<std::uint8_t> ExpectedImage(std::span<const std::uint8_t> package) {
  const FirmwarePackage firmware = ParseFirmwarePackage(package);
  const ImagePlan plan = PlanImage(firmware.header, {}, PackageForm::Plain,
                                   PackageUsesPerPageSums(firmware.AltProductName()));
  const auto bytes = package.subspan(static_cast<std::size_t>(plan.start),
                                     static_cast<std::size_t>(plan.Length()));
  return {bytes.begin(), bytes.end()};
}

// One fault in three runs is none; the others strike one command of the run,
// once or from then on.
std::vector<emu::Fault> RandomFaults(std::mt19937& random) {
  if (std::uniform_int_distribution(0, 2)(random) == 0) return {};
  constexpr emu::FaultKind kKinds[] = {emu::FaultKind::Fail, emu::FaultKind::TimeOut,
                                       emu::FaultKind::Sense, emu::FaultKind::CorruptReadBack,
                                       emu::FaultKind::FailWithoutSense};
  emu::Fault fault;
  fault.kind = kKinds[std::uniform_int_distribution<std::size_t>(0, std::size(kKinds) - 1)(random)];
  fault.when =
      emu::AtCommand{std::uniform_int_distribution<std::uint32_t>(1, kCommandsPerRun)(random)};
  fault.times = std::bernoulli_distribution(0.25)(random) ? emu::kAlways : 1;
  return {fault};
}

struct RunEnd {
  bool reportedSuccess = false;
  // The drive holds the whole image: a run whose closing command failed is
  // no success, since the demo drive never reports a new revision.
  bool imageArrived = false;
  int refusedCloses = 0;  // close attempts while the worker ran
};

// What the UI thread does between hand-overs while the run is on the worker.
void PokeWhileRunning(UpdateDialog& dialog, FakeDialogView& window, RunEnd& end) {
  for (const auto& [timerId, period] : window.timers) dialog.OnTimer(timerId);
  window.SelectTreeItem(kFirstDrive);
  dialog.OnDriveSelChanged(kFirstDrive);
  if (!dialog.CanClose()) ++end.refusedCloses;
}

RunEnd OneUpdate(emu::DriveDescription drive, std::span<const std::uint8_t> package,
                 const std::vector<std::uint8_t>& image) {
  FakeDialogView window;
  // Every box is answered OK; a run asks fewer than this.
  for (int box = 0; box < 12; ++box) window.Answer({BoxAnswer::Ok});
  EventLoopDispatcher dispatcher;
  UiThreadView view(window, dispatcher);
  NoWaitClock clock;
  std::ostringstream diagnostics;
  const auto emulators = emu::MakeEmulators({std::move(drive)});
  UpdateDialog dialog(view, std::make_unique<emu::EmulatedTransport>(emulators), package, clock,
                      diagnostics, std::make_unique<testing::RecordedWorker>(window),
                      {.emulatedDrives = true});
  RunEnd end;
  if (!dialog.OnInitDialog()) return end;
  window.SelectTreeItem(kFirstDrive);
  dialog.OnDriveSelChanged(kFirstDrive);
  dialog.OnUpgrade();
  if (!window.workers.empty()) {
    std::atomic<bool> done = false;
    std::thread worker([&] {
      window.workers.front()();
      done = true;
      dispatcher.Wake();
    });
    dispatcher.ServeUntil([&] {
      if (!done) PokeWhileRunning(dialog, window, end);
      return done.load();
    });
    worker.join();
    EXPECT_GT(end.refusedCloses, 0) << "the dialog could be closed during the run";
  }
  EXPECT_TRUE(dialog.CanClose());
  end.reportedSuccess = dialog.LastRunCompleted();
  end.imageArrived = emulators.front()->ReceivedImage() == image;
  return end;
}

// A new seed each time, unless TSLFLASH_SOAK_SEED repeats a printed one.
unsigned Seed() {
  if (const char* given = std::getenv("TSLFLASH_SOAK_SEED")) {
    return static_cast<unsigned>(std::strtoul(given, nullptr, 10));
  }
  return std::random_device{}();
}

std::string Describe(const std::vector<emu::Fault>& faults) {
  if (faults.empty()) return "no fault";
  const emu::Fault& fault = faults.front();
  return "fault kind " + std::to_string(static_cast<int>(fault.kind)) + " at command " +
         std::to_string(std::get<emu::AtCommand>(fault.when).number) + ", " +
         (fault.times == emu::kAlways ? "always" : "once");
}

TEST(SoakTest, ManyFaultyUpdatesReportSuccessExactlyWhenTheImageArrivedAndLeakNothing) {
  const unsigned seed = Seed();
  std::cout << "soak seed " << seed << " (TSLFLASH_SOAK_SEED=" << seed << " repeats it)\n";
  RecordProperty("seed", std::to_string(seed));
  std::mt19937 random(seed);
  const emu::LoadedDrives demo =
      emu::LoadDriveDescriptionFile(TSLFLASH_EMULATOR_DRIVES_DIR "/demo.json");
  ASSERT_TRUE(demo.Ok()) << demo.error;
  const std::span<const std::uint8_t> package = EmbeddedPackage();
  const std::vector<std::uint8_t> image = ExpectedImage(package);

  std::size_t descriptors = 0;
  std::size_t heap = 0;
  int successes = 0;
  for (int run = 0; run < kRuns; ++run) {
    emu::DriveDescription drive = demo.drives.front();
    drive.faults = RandomFaults(random);
    const std::string fault = Describe(drive.faults);
    const RunEnd end = OneUpdate(std::move(drive), package, image);
    ASSERT_EQ(end.reportedSuccess, end.imageArrived)
        << "run " << run << ", seed " << seed << ", " << fault;
    successes += end.reportedSuccess ? 1 : 0;
    if (run == kWarmUpRuns) {
      descriptors = OpenDescriptors();
      heap = HeapInUse();
    } else if (run > kWarmUpRuns) {
      ASSERT_LE(OpenDescriptors(), descriptors) << "run " << run << ", seed " << seed;
      ASSERT_LE(HeapInUse(), heap + kHeapSlack) << "run " << run << ", seed " << seed;
    }
  }
  // Faults that strike late or not at all leave runs that succeed.
  EXPECT_GT(successes, 0);
}

}  // namespace
}  // namespace tslflash
