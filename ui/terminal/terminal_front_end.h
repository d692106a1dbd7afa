// The terminal front end: runs the main dialog in a terminal, or from a
// script with every answer given in advance.
#pragma once

#include <cstddef>
#include <functional>
#include <iosfwd>
#include <optional>
#include <vector>

#include "app/dialog_setup.h"
#include "transport/clock.h"
#include "ui/dialog_view.h"
#include "ui/terminal/terminal_text.h"

namespace tslflash {

// How a terminal session ended.
enum class TerminalEnd : std::uint8_t {
  Completed,       // the dialog ran to its end: a drive selected, or left without one
  EndedAtStartup,  // start-up ended the dialog: warning declined, drives not reachable
  NoAnswer,        // a box asking OK or Cancel found no answer
  NoSuchDrive,     // the drive to select is not in the tree
  Updated,         // Upgrade was pressed and the update completed
  NotUpdated,      // Upgrade was pressed (or asked for) and no update completed
  NoConsent,       // a box the consent given does not answer: it counted as Cancel
};

struct TerminalResult {
  TerminalResult(TerminalEnd ended = TerminalEnd::Completed,  // NOLINT: a plain end converts
                 std::optional<OutcomeCode> reported = std::nullopt)
      : end(ended), outcome(reported) {}
  TerminalEnd end;
  std::optional<OutcomeCode> outcome;  // with NotUpdated: the refusal or failure reported
};

// Pressing Upgrade: the dialog's own handler, or a test's.
using UpgradeHandler = std::function<void(UpdateDialog&)>;

// After start-up: what the session does instead of the selections and
// Upgrade (a check of the drives).
using SessionHandler = std::function<TerminalResult(UpdateDialog&)>;

struct TerminalOptions {
  // Selected in order, as clicks in the tree: 0 the tree's root, else the
  // drive's number from 1. None: the person selects, then chooses Upgrade,
  // another drive or Exit until Exit.
  std::vector<std::size_t> selections;
  std::vector<BoxAnswer> answers;            // for the boxes that ask OK or Cancel, in order
  std::optional<terminal::Consent> consent;  // answers the boxes by what they ask
  bool interactive = true;                   // false: never read the input
  bool about = false;                        // show the About box and end
  bool inputIsTerminal = false;
  bool outputIsTerminal = false;
  UpgradeHandler upgrade;  // pressed once after the selections; empty: never pressed
  SessionHandler session;  // in place of the selections and Upgrade
  // Called with the dialog as the session ends, before it is destroyed.
  std::function<void(const UpdateDialog&, const TerminalResult&)> finished;
};

struct TerminalStreams {
  std::istream& in;
  std::ostream& out;  // the dialog, with the engine's diagnostic lines
  std::ostream& err;  // the session's own errors
};

TerminalResult RunTerminalFrontEnd(const DialogSetup& setup, const TerminalOptions& options,
                                   const TerminalStreams& streams, Clock& clock);

}  // namespace tslflash
