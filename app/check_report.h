// tslflash --check: each drive's verdict as the Upgrade checks give it,
// without asking anything or changing anything on the drive, as text for a
// person.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "app/update_dialog.h"

namespace tslflash {

struct CheckedDrive {
  std::size_t number = 0;  // as in the tree, from 1
  ListedDrive drive;
  DriveCheck check;
};

// Each check of a drive in order, with "transfer" last for the run's own
// refusals before anything is sent; the result of a check the evaluation
// never reached is not listed.
enum class CheckResult : std::uint8_t { Passed, Failed };
struct CheckLine {
  std::string_view name;  // "empty-tray", "model", "transfer"...
  CheckResult result;
};
std::vector<CheckLine> CheckLines(const DriveCheck& check);

std::string_view ProtocolName(TransferProtocol protocol);  // "summed-pages"...
// The boxes the run would ask, by what they ask: "update", "reinstall", "older".
std::vector<std::string_view> Confirmations(const Verdict& verdict);

// Checks every drive the selections name (each drive from 1; none or 0:
// every drive), in the tree's order.
std::vector<CheckedDrive> CheckDrives(UpdateDialog& dialog,
                                      const std::vector<std::size_t>& selections);

std::string CheckReportText(const std::vector<CheckedDrive>& drives);

}  // namespace tslflash
