// Stand-ins the tests share: a reporter and a clock that record instead of
// showing or sleeping, a transport that cannot start, and the emulated drives
// most tests talk to.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "emulator/drive_description.h"
#include "transport/clock.h"
#include "transport/drive_transport.h"
#include "update/run_events.h"

namespace tslflash::testing {

// Keeps the log lines, boxes, stages and outcomes instead of showing them; a
// box is answered from `answers`, and one without an answer fails the test.
class RecordingReporter final : public RunEvents {
 public:
  void Log(std::string_view text) override { log.emplace_back(text); }
  BoxAnswer Ask(const MessageBox& box) override {
    boxes.push_back(box);
    if (answers.empty()) {
      ADD_FAILURE() << "unanswered box: " << box.text;
      return BoxAnswer::Cancel;
    }
    const BoxAnswer answer = answers.front();
    answers.erase(answers.begin());
    return answer;
  }
  void Stage(RunStage stage) override { stages.push_back(stage); }
  void Outcome(OutcomeCode code) override { outcomes.push_back(code); }
  void Failed(const CommandFailure& failure) override { failures.push_back(failure); }
  // The log as the notice of drive commands.
  TransportNotice Notice() {
    return [this](std::string_view text) { Log(text); };
  }
  std::vector<std::string> log;
  std::vector<MessageBox> boxes;
  std::vector<BoxAnswer> answers;
  std::vector<RunStage> stages;
  std::vector<OutcomeCode> outcomes;
  std::vector<CommandFailure> failures;
};

// Records the pauses instead of sleeping; `onSleep`, when set, looks at the
// system while it waits.
class RecordingClock final : public Clock {
 public:
  void Sleep(std::chrono::milliseconds duration) override {
    sleeps.push_back(duration);
    if (onSleep) onSleep();
  }
  std::vector<std::chrono::milliseconds> sleeps;
  std::function<void()> onSleep;
};

// A transport the platform cannot start; asking it for drives is a fault.
class RefusingTransport final : public DriveTransport {
 public:
  bool Init() override { return false; }
  void ScanDrives(const CandidateSink&) override { ADD_FAILURE() << "scanned without a transport"; }
  std::optional<std::string> MissingWriteRights() override { return std::nullopt; }
};

// A drive answering INQUIRY with these texts, everything else as a drive
// comes by default.
inline emu::DriveDescription DriveNamed(std::string vendor, std::string product,
                                        std::string revision) {
  emu::DriveDescription d;
  d.vendor = std::move(vendor);
  d.product = std::move(product);
  d.revision = std::move(revision);
  return d;
}

// The same from a 24-character id as the tool reads it: vendor (8), then
// product (16).
inline emu::DriveDescription DriveWithId(std::string_view id, std::string revision) {
  return DriveNamed(std::string(id.substr(0, 8)), std::string(id.substr(8, 16)),
                    std::move(revision));
}

// The drive the sample packages are made for.
inline emu::DriveDescription SampleDrive() { return DriveNamed("VARN", "DVD RW LPX-650A", "1.02"); }

// The sample drive with both model-code blocks (code 5, marker clear), no
// disc, and the image-size reply of a 128 KiB drive.
inline emu::DriveDescription MakerDrive() {
  emu::DriveDescription d = SampleDrive();
  d.parameterBlocks = {{0x02, {0x05, 0x00, 0x12, 0x34}}, {0x24, {0x05, 0x00, 0xAB, 0xCD}}};
  return d;
}

}  // namespace tslflash::testing
