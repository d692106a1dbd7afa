// The dialog's runs kept in a history file: a record for each run that got
// past its checks, and at the next start what an earlier run left open (an
// image written but not yet active, an interrupted transfer) finished by
// what the drive reports now.
#pragma once

#include <iosfwd>
#include <string>

#include "app/update_dialog.h"
#include "app/update_history.h"

namespace tslflash {

// Whether the drive runs the image of the run the dialog has just ended, as
// far as that run could tell.
Confirmation ConfirmationOfRun(const UpdateDialog& dialog);

// The record of the run the dialog has just ended.
HistoryRecord RecordOfRun(const UpdateDialog& dialog, std::chrono::system_clock::time_point now);

class FileRunHistory final : public RunHistory {
 public:
  // `errors` takes a line for a file that cannot be read or written.
  FileRunHistory(std::string path, std::ostream& errors)
      : path_(std::move(path)), errors_(errors) {}
  void StartedUp(UpdateDialog& dialog) override;
  void RunEnded(const UpdateDialog& dialog) override;

 private:
  void Append(std::string_view line);

  std::string path_;
  std::ostream& errors_;
};

}  // namespace tslflash
