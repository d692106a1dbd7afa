// The support report: one plain-text file a user attaches to a request for
// help. It names the program and the system, every drive and what the tool
// decided about it, the package, the last run's log and the commands sent,
// and the history; nothing in it tells who the user is.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "app/os_facts.h"
#include "app/update_dialog.h"
#include "app/version_text.h"
#include "transport/command_log.h"
#include "update/run_events.h"

namespace tslflash {

struct SupportReportInput {
  BuildInfo build;
  std::chrono::system_clock::time_point writtenAt;
  OsFacts os;  // the system, and the names the report leaves out
  std::vector<ListedDrive> drives;
  std::span<const std::uint8_t> package;
  std::string logPane;
  // The command that failed the last run's transfer, if one did.
  std::optional<CommandFailure> lastFailure;
  CommandLog::Snapshot commands;
  std::string history;
};

std::string SupportReportText(const SupportReportInput& input);

}  // namespace tslflash
