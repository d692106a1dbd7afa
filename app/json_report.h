// What tslflash prints with --json: one document on standard output for the
// drive list, a check, an update run, the history, the version, the About
// box, the help or an error, each with its schema version and the program's
// exit status. docs/json/ holds the schema.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "app/check_report.h"
#include "app/update_dialog.h"
#include "app/update_history.h"
#include "app/version_text.h"

namespace tslflash {

inline constexpr int kJsonSchemaVersion = 1;

struct JsonContext {
  std::span<const std::uint8_t> package;
  bool emulated = false;
  int exitStatus = 0;
};

std::string DrivesJson(const UpdateDialog& dialog, const JsonContext& context);
std::string CheckJson(const std::vector<CheckedDrive>& drives, const JsonContext& context);
// The last press of Upgrade on the selected drive, as it ended.
std::string UpgradeJson(const UpdateDialog& dialog, const JsonContext& context);
std::string ErrorJson(std::string_view error, int exitStatus);
// --history: the records, in the order they were appended.
std::string HistoryJson(const std::vector<HistoryRecord>& records, int exitStatus);
// --version: the program, its build and the package it carries.
std::string VersionJson(const BuildInfo& build, std::span<const std::uint8_t> package);
// --about: the About box's caption and lines.
std::string AboutJson(int exitStatus);
// --help: the text --help prints.
std::string HelpJson(std::string_view help);

}  // namespace tslflash
