#include "transport/command_log.h"

#include <cstdio>
#include <utility>

#include "transport/command_text.h"
#include "transport/reply_facts.h"

namespace tslflash {
namespace {

class LoggedDevice final : public DriveDevice {
 public:
  LoggedDevice(std::unique_ptr<DriveDevice> device, std::shared_ptr<CommandLog> log)
      : device_(std::move(device)), log_(std::move(log)), location_(device_->Location()) {}

  TransportReply Execute(const CommandRequest& request) override {
    LoggedCommand command;
    command.sentAt = std::chrono::system_clock::now();
    const auto started = std::chrono::steady_clock::now();
    const TransportReply reply = device_->Execute(request);
    command.duration = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - started);
    command.device = location_;
    command.cdb.assign(request.cdb.begin(), request.cdb.end());
    command.direction = request.direction;
    command.length = request.length;
    command.timeout = request.timeout;
    command.reply = ReplyFacts(reply, request.length);
    // A command that did not complete moved only what the transport vouches for.
    if (!reply.transferred && !command.reply.Good()) command.reply.transferred = 0;
    if (request.direction == DataDirection::FromDrive && request.data != nullptr &&
        request.length <= CommandLog::kKeptReplyBytes && command.reply.Good()) {
      command.replyData.assign(request.data, request.data + command.reply.transferred);
    }
    log_->Record(std::move(command));
    return reply;
  }
  HoldAttempt HoldExclusively() override { return device_->HoldExclusively(); }
  std::string Location() const override { return location_; }

 private:
  std::unique_ptr<DriveDevice> device_;
  std::shared_ptr<CommandLog> log_;
  std::string location_;
};

class LoggedTransport final : public DriveTransport {
 public:
  LoggedTransport(std::unique_ptr<DriveTransport> transport, std::shared_ptr<CommandLog> log)
      : transport_(std::move(transport)), log_(std::move(log)) {}

  bool Init() override { return transport_->Init(); }
  void ScanDrives(const CandidateSink& offer) override {
    transport_->ScanDrives([&](std::unique_ptr<DriveDevice> device) {
      if (device == nullptr) return offer(nullptr);
      return offer(std::make_unique<LoggedDevice>(std::move(device), log_));
    });
  }
  std::uint8_t InquiryLength() const override { return transport_->InquiryLength(); }
  std::optional<std::string> MissingWriteRights() override {
    return transport_->MissingWriteRights();
  }
  void UseNotice(TransportNotice notice) override { transport_->UseNotice(std::move(notice)); }

 private:
  std::unique_ptr<DriveTransport> transport_;
  std::shared_ptr<CommandLog> log_;
};

// "12:00:01.234", in UTC.
std::string TimeOfDay(std::chrono::system_clock::time_point at) {
  using namespace std::chrono;
  const auto sinceMidnight = floor<milliseconds>(at - floor<days>(at));
  const hh_mm_ss<milliseconds> time(sinceMidnight);
  char text[48];  // room for any int the compiler imagines
  std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", static_cast<int>(time.hours().count()),
                static_cast<int>(time.minutes().count()), static_cast<int>(time.seconds().count()),
                static_cast<int>(time.subseconds().count()));
  return text;
}

}  // namespace

void CommandLog::Record(LoggedCommand command) {
  const std::lock_guard lock(mutex_);
  commands_.push_back(std::move(command));
  while (commands_.size() > capacity_) {
    commands_.pop_front();
    ++dropped_;
  }
}

CommandLog::Snapshot CommandLog::Read() const {
  const std::lock_guard lock(mutex_);
  return {{commands_.begin(), commands_.end()}, dropped_};
}

std::unique_ptr<DriveTransport> LogCommands(std::unique_ptr<DriveTransport> transport,
                                            std::shared_ptr<CommandLog> log) {
  if (transport == nullptr) return nullptr;  // no way to reach drives stays none
  return std::make_unique<LoggedTransport>(std::move(transport), std::move(log));
}

std::string FormatLoggedCommand(const LoggedCommand& command) {
  std::string line = TimeOfDay(command.sentAt);
  line.append(" ").append(command.device).append(" ");
  line.append(RequestText(command.cdb, command.direction, command.length, command.timeout));
  line.append(" -> ").append(ReplyText(command.reply));
  line.append(", ").append(std::to_string(command.reply.transferred)).append(" bytes, ");
  line.append(std::to_string(command.duration.count() / 1000)).append(" ms");
  return line;
}

}  // namespace tslflash
