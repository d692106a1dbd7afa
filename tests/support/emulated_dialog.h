// The main dialog over emulated drives and a package made for the test, shown
// in the test window; nothing runs until the test starts it.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <sstream>
#include <utility>
#include <vector>

#include "app/update_dialog.h"
#include "emulator/drive_emulator.h"
#include "emulator/emulated_transport.h"
#include "tests/app/fake_dialog_view.h"
#include "tests/app/recorded_worker.h"
#include "tests/support/test_doubles.h"
#include "tools/package_builder.h"

namespace tslflash::testing {

// The package this recipe makes; a recipe that does not build fails the test.
inline std::vector<std::uint8_t> BuiltPackage(const PackageRecipe& recipe) {
  BuildResult built = BuildPackage(recipe);
  EXPECT_TRUE(built.Ok()) << built.error;
  return std::move(built.package);
}

// A command that may change the drive: anything carrying data to it (blocks,
// pages), a commit or a download's start or end.
inline bool ChangesTheDrive(const emu::TraceEntry& entry) {
  const std::uint8_t opcode = entry.cdb.at(0);
  return entry.direction == DataDirection::ToDrive || opcode == 0x3B || opcode == 0xF2;
}

struct EmulatedDialog {
  // Builds the package from this recipe, then the dialog over these drives.
  void Make(const std::vector<emu::DriveDescription>& drives, const PackageRecipe& recipe,
            DialogOptions options = {}) {
    package = BuiltPackage(recipe);
    MakeDialog(drives, options);
  }
  // The dialog over these drives and `package` as it stands.
  void MakeDialog(const std::vector<emu::DriveDescription>& drives, DialogOptions options = {}) {
    emulators = emu::MakeEmulators(drives);
    MakeDialogOver(std::make_unique<emu::EmulatedTransport>(emulators), options);
  }
  // The dialog over drives the test reaches through another transport, and
  // `package` as it stands.
  void MakeDialogOver(std::unique_ptr<DriveTransport> transport, DialogOptions options = {}) {
    dialog = std::make_unique<UpdateDialog>(view, std::move(transport), package, clock, diagnostics,
                                            std::make_unique<RecordedWorker>(view), options);
  }

  FakeDialogView view;
  RecordingClock clock;
  std::ostringstream diagnostics;
  std::vector<std::uint8_t> package;
  std::vector<std::shared_ptr<emu::DriveEmulator>> emulators;
  std::unique_ptr<UpdateDialog> dialog;
};

}  // namespace tslflash::testing
