// One emulated drive reached the way the tool reaches a real one: through the
// registry and the drive command set. What the tests look at starts after
// enumeration, so its INQUIRY does not blur the commands under test.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <sstream>
#include <vector>

#include "emulator/drive_emulator.h"
#include "emulator/emulated_transport.h"
#include "tests/support/test_doubles.h"
#include "transport/drive_commands.h"
#include "transport/drive_registry.h"

namespace tslflash::testing {

class EmulatedDriveTest : public ::testing::Test {
 protected:
  // A fresh, enumerated drive of this description, and nothing yet recorded
  // of what the commands say, pause or write to the diagnostics.
  void Start(const emu::DriveDescription& description) {
    reporter.log.clear();
    reporter.outcomes.clear();
    clock.sleeps.clear();
    diagnostics.str("");
    drive = std::make_shared<emu::DriveEmulator>(description);
    registry = std::make_unique<DriveRegistry>(
        std::make_unique<emu::EmulatedTransport>(std::vector{drive}));
    ASSERT_TRUE(registry->InitTransport());
    ASSERT_EQ(registry->EnumerateDrives(), 1);
    commands = std::make_unique<DriveCommands>(*registry, reporter.Notice(), clock, diagnostics);
    enumerationCommands_ = drive->Trace().size();
  }

  // The commands the drive received since enumeration.
  std::vector<emu::TraceEntry> Sent() const {
    const std::vector<emu::TraceEntry> trace = drive->Trace();
    return {trace.begin() + static_cast<std::ptrdiff_t>(enumerationCommands_), trace.end()};
  }
  std::vector<std::vector<std::uint8_t>> SentCdbs() const {
    std::vector<std::vector<std::uint8_t>> cdbs;
    for (const emu::TraceEntry& entry : Sent()) cdbs.push_back(entry.cdb);
    return cdbs;
  }
  std::vector<std::uint8_t> SentOpcodes() const {
    std::vector<std::uint8_t> opcodes;
    for (const emu::TraceEntry& entry : Sent()) opcodes.push_back(entry.cdb.at(0));
    return opcodes;
  }

  std::shared_ptr<emu::DriveEmulator> drive;
  std::unique_ptr<DriveRegistry> registry;
  RecordingReporter reporter;
  RecordingClock clock;
  std::ostringstream diagnostics;
  std::unique_ptr<DriveCommands> commands;

 private:
  std::size_t enumerationCommands_ = 0;
};

}  // namespace tslflash::testing
