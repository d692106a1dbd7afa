// What the engine tells the person in front of the tool while it checks a
// drive and updates it: log lines, questions in message boxes, the stage the
// run has reached and the outcome that ends it. The dialog implements it;
// tests record it. Nothing here knows a window.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "transport/command_result.h"
#include "update/outcome_code.h"

namespace tslflash {

enum class BoxButtons : std::uint8_t { Ok, OkCancel };
enum class BoxIcon : std::uint8_t { None, Exclamation, Information, Stop };
enum class BoxAnswer : std::uint8_t { Ok, Cancel };

// What a box asking OK or Cancel asks the person to agree to, so that a
// script can give its consent by name rather than by position.
enum class BoxPurpose : std::uint8_t {
  Notice,          // anything else: a box with only OK, or one no consent answers
  StartupWarning,  // the warning before the drives are listed
  ConfirmUpdate,   // the last question before the image is sent
  Reinstall,       // the drive already runs the package's revision
  Older,           // the drive runs a newer revision than the package's
  Restart,         // the offer to restart the computer after the update
};

struct MessageBox {
  std::string text;
  std::optional<std::string> caption;  // nothing: the application's title
  BoxButtons buttons = BoxButtons::Ok;
  BoxIcon icon = BoxIcon::None;
  BoxPurpose purpose = BoxPurpose::Notice;
  friend bool operator==(const MessageBox&, const MessageBox&) = default;
};

// Where a run has got to, for what the window shows beside the log: the
// progress timer, the bar and the window's Close command.
enum class RunStage : std::uint8_t {
  Preparing,   // confirmed, the drive not yet changed by the run: the progress timer starts
  Writing,     // the image goes to the drive: the window may not be closed
  WriteEnded,  // sending it failed: Close is back (the outcome has reset the bar)
  Written,     // the image is in: the bar is full, the timer stops, Close is back
  Stopped,     // ended before writing, without an outcome: the bar and the timer are reset
};

// The command of a transfer that failed it: which command, what it carried
// (page, block or bank, counted from 1, of how many) and the drive's reply.
struct CommandFailure {
  std::string_view command;
  std::string_view unit;
  std::uint32_t index = 0;
  std::uint32_t count = 0;
  CommandReply reply;
};

// How much of the image the drive has accepted so far: `sent` of `total`
// units ("pages" or "blocks").
struct TransferProgress {
  std::string_view unit;
  std::uint32_t sent = 0;
  std::uint32_t total = 0;
  friend bool operator==(const TransferProgress&, const TransferProgress&) = default;
};

// What the drive reports once it answers again after the transfer.
struct DriveConfirmation {
  enum class State : std::uint8_t {
    NewFirmware,  // the package's new revision
    OldFirmware,  // another revision: the new one is not active yet, or not there
    NoAnswer,     // the drive did not answer
  };
  State state = State::NoAnswer;
  std::string revision;  // what it reports; empty without an answer
};

class RunEvents {
 public:
  virtual ~RunEvents() = default;
  virtual void Log(std::string_view line) = 0;
  // Waits for the person's answer.
  virtual BoxAnswer Ask(const MessageBox& box) = 0;
  virtual void Stage(RunStage stage) = 0;
  // A refusal or failure: its fixed log lines and box.
  virtual void Outcome(OutcomeCode code) = 0;
  // The command that failed a transfer, before the transfer's outcome.
  virtual void Failed(const CommandFailure& failure) = 0;
  // Each unit the drive accepted; only a listener that shows it cares.
  virtual void Progress(const TransferProgress& /*progress*/) {}
  // What the drive reported after the transfer.
  virtual void Confirmed(const DriveConfirmation& /*confirmation*/) {}
};

}  // namespace tslflash
