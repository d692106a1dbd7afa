// The dialog's runs kept in a history file: a record for each run that got
// past its checks, appended open before the run changes the drive and closed
// by its end, and at the next start what an earlier run left unsettled (a
// run cut off before its end, an image written but not yet active, an
// interrupted transfer) judged by what the drive reports now.
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
  void RunChangesDrive(const UpdateDialog& dialog) override;
  void RunEnded(const UpdateDialog& dialog) override;

 private:
  void Append(std::string_view line);

  std::string path_;
  std::ostream& errors_;
  // The open record of the run under way, which its end closes; on the
  // run's worker only.
  std::string openId_;
  std::string openTime_;
};

}  // namespace tslflash
