// The command log over a fake transport: what passes through it reaches the
// drive and comes back unchanged, what it keeps of each command, its bound,
// and the line each command reads as.
#include "transport/command_log.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <deque>
#include <thread>

#include "transport/cdb.h"

namespace tslflash {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

// What the fake drive was handed, with the caller's buffer as a pointer: a
// decorator that copied the buffer would show here.
struct Received {
  std::vector<std::uint8_t> cdb;
  DataDirection direction;
  std::uint8_t* data;
  std::uint32_t length;
  std::chrono::seconds timeout;
};

// Answers each command with the next scripted reply (a good one when none is
// left), after filling a data-in buffer with `fill`.
struct FakeDrive {
  std::deque<TransportReply> replies;
  std::uint8_t fill = 0xA5;
  std::chrono::milliseconds delay{0};
  std::vector<Received> received;
  bool held = false;
};

class FakeDevice final : public DriveDevice {
 public:
  FakeDevice(std::shared_ptr<FakeDrive> drive, std::string location)
      : drive_(std::move(drive)), location_(std::move(location)) {}
  TransportReply Execute(const CommandRequest& request) override {
    drive_->received.push_back({{request.cdb.begin(), request.cdb.end()},
                                request.direction,
                                request.data,
                                request.length,
                                request.timeout});
    if (request.direction == DataDirection::FromDrive) {
      std::fill_n(request.data, request.length, drive_->fill);
    }
    if (drive_->delay > 0ms) std::this_thread::sleep_for(drive_->delay);
    if (drive_->replies.empty()) return {CommandResult::Completed, std::nullopt};
    const TransportReply reply = drive_->replies.front();
    drive_->replies.pop_front();
    return reply;
  }
  HoldAttempt HoldExclusively() override {
    drive_->held = true;
    HoldAttempt attempt;
    attempt.inUse = true;
    attempt.holder = "another program";
    return attempt;
  }
  std::string Location() const override { return location_; }

 private:
  std::shared_ptr<FakeDrive> drive_;
  std::string location_;
};

class FakeTransport final : public DriveTransport {
 public:
  bool Init() override { return false; }
  void ScanDrives(const CandidateSink& offer) override {
    for (std::size_t i = 0; i < drives.size(); ++i) {
      if (!offer(std::make_unique<FakeDevice>(drives[i], "/dev/sr" + std::to_string(i)))) return;
    }
  }
  std::uint8_t InquiryLength() const override { return kAspiInquiryLength; }
  std::optional<std::string> MissingWriteRights() override { return "no rights"; }
  void UseNotice(TransportNotice notice) override { notice("told"); }

  std::vector<std::shared_ptr<FakeDrive>> drives;
};

// The fake's drives behind the command log, each opened once.
struct Logged {
  explicit Logged(std::size_t driveCount, std::size_t capacity = CommandLog::kDefaultCapacity)
      : log(std::make_shared<CommandLog>(capacity)) {
    auto fake = std::make_unique<FakeTransport>();
    for (std::size_t i = 0; i < driveCount; ++i) {
      fake->drives.push_back(std::make_shared<FakeDrive>());
    }
    drives = fake->drives;
    transport = LogCommands(std::move(fake), log);
    transport->ScanDrives([this](std::unique_ptr<DriveDevice> device) {
      devices.push_back(std::move(device));
      return true;
    });
  }
  std::shared_ptr<CommandLog> log;
  std::vector<std::shared_ptr<FakeDrive>> drives;
  std::unique_ptr<DriveTransport> transport;
  std::vector<std::unique_ptr<DriveDevice>> devices;
};

const Cdb kWrite = BuildWritePageByOffset(0x00, 0x4000, 0x4000);
const Cdb kInquiry = BuildInquiry(kInquiryLength);
const Cdb kReadPage = BuildReadPageByOffset(0x00, 0x4000, 0x4000);
const Cdb kUnitReady = BuildTestUnitReady();

CommandRequest Request(const Cdb& cdb, DataDirection direction, std::vector<std::uint8_t>& data,
                       std::chrono::seconds timeout = 15s) {
  return {std::span(cdb).first(CdbLengthFor(cdb[0])), direction,
          direction == DataDirection::NoData ? nullptr : data.data(),
          static_cast<std::uint32_t>(direction == DataDirection::NoData ? 0 : data.size()),
          timeout};
}

struct ReplyCase {
  const char* name;
  Cdb cdb;
  DataDirection direction;
  std::uint32_t length;
  TransportReply reply;
  // What the log keeps of it.
  ReplyCategory category;
  std::uint32_t transferred;
  std::vector<std::uint8_t> replyData;
};

std::vector<ReplyCase> ReplyCases() {
  const TransportReply good{CommandResult::Completed, std::nullopt, std::nullopt, 0x00};
  const TransportReply refused{CommandResult::Failed, SenseBytes{0x05, 0x24, 0x00}, std::nullopt,
                               0x02};
  const TransportReply busy{CommandResult::Failed, std::nullopt, std::nullopt, 0x08};
  const TransportReply silent{CommandResult::TimedOut, std::nullopt};
  const TransportReply lost{CommandResult::Failed, std::nullopt};
  const TransportReply shortInquiry{CommandResult::Completed, std::nullopt, 36u, 0x00};
  return {
      {"a page written",
       kWrite,
       DataDirection::ToDrive,
       16384,
       good,
       ReplyCategory::Good,
       16384,
       {}},
      {"a page refused with sense",
       kWrite,
       DataDirection::ToDrive,
       16384,
       refused,
       ReplyCategory::CheckCondition,
       0,
       {}},
      {"a busy drive",
       kUnitReady,
       DataDirection::NoData,
       0,
       busy,
       ReplyCategory::OtherStatus,
       0,
       {}},
      {"no answer in time",
       kWrite,
       DataDirection::ToDrive,
       16384,
       silent,
       ReplyCategory::TimedOut,
       0,
       {}},
      {"no status at all",
       kUnitReady,
       DataDirection::NoData,
       0,
       lost,
       ReplyCategory::TransportError,
       0,
       {}},
      // The data of a short reply is kept, as far as it arrived...
      {"an INQUIRY answered in part", kInquiry, DataDirection::FromDrive, 56, shortInquiry,
       ReplyCategory::Good, 36, std::vector<std::uint8_t>(36, 0xA5)},
      // ... a page read back is not.
      {"a page read back",
       kReadPage,
       DataDirection::FromDrive,
       16384,
       good,
       ReplyCategory::Good,
       16384,
       {}},
  };
}

TEST(CommandLog, PassesEveryCommandAndReplyThroughUnchanged) {
  for (const ReplyCase& c : ReplyCases()) {
    SCOPED_TRACE(c.name);
    Logged logged(1);
    logged.drives[0]->replies = {c.reply};
    std::vector<std::uint8_t> data(c.length, 0x11);
    const CommandRequest request = Request(c.cdb, c.direction, data, 200s);

    const TransportReply reply = logged.devices[0]->Execute(request);

    EXPECT_EQ(reply.result, c.reply.result);
    EXPECT_EQ(reply.sense, c.reply.sense);
    EXPECT_EQ(reply.transferred, c.reply.transferred);
    EXPECT_EQ(reply.status, c.reply.status);
    ASSERT_EQ(logged.drives[0]->received.size(), 1u);
    const Received& received = logged.drives[0]->received[0];
    EXPECT_THAT(received.cdb, ElementsAreArray(request.cdb));
    EXPECT_EQ(received.direction, request.direction);
    EXPECT_EQ(received.data, request.data);  // the caller's own buffer
    EXPECT_EQ(received.length, request.length);
    EXPECT_EQ(received.timeout, 200s);
  }
}

TEST(CommandLog, TheTransportAndItsDrivesAnswerAsTheWrappedOnes) {
  Logged logged(2);
  EXPECT_FALSE(logged.transport->Init());
  EXPECT_EQ(logged.transport->InquiryLength(), kAspiInquiryLength);
  EXPECT_EQ(logged.transport->MissingWriteRights(), "no rights");
  std::string notice;
  logged.transport->UseNotice([&notice](std::string_view text) { notice = text; });
  EXPECT_EQ(notice, "told");

  ASSERT_EQ(logged.devices.size(), 2u);
  EXPECT_EQ(logged.devices[1]->Location(), "/dev/sr1");
  const HoldAttempt hold = logged.devices[1]->HoldExclusively();
  EXPECT_TRUE(logged.drives[1]->held);
  EXPECT_TRUE(hold.inUse);
  EXPECT_EQ(hold.holder, "another program");
  EXPECT_TRUE(logged.log->Read().commands.empty());
  EXPECT_EQ(LogCommands(nullptr, logged.log), nullptr);
}

TEST(CommandLog, KeepsWhatEachCommandCarriedAndWhatCameBack) {
  for (const ReplyCase& c : ReplyCases()) {
    SCOPED_TRACE(c.name);
    Logged logged(2);
    logged.drives[1]->replies = {c.reply};
    std::vector<std::uint8_t> data(c.length);
    const auto before = std::chrono::system_clock::now();
    (void)logged.devices[1]->Execute(Request(c.cdb, c.direction, data, 200s));
    const auto after = std::chrono::system_clock::now();

    const CommandLog::Snapshot snapshot = logged.log->Read();
    ASSERT_EQ(snapshot.commands.size(), 1u);
    const LoggedCommand& kept = snapshot.commands[0];
    EXPECT_EQ(kept.device, "/dev/sr1");
    EXPECT_THAT(kept.cdb, ElementsAreArray(std::span(c.cdb).first(CdbLengthFor(c.cdb[0]))));
    EXPECT_EQ(kept.direction, c.direction);
    EXPECT_EQ(kept.length, c.length);
    EXPECT_EQ(kept.timeout, 200s);
    EXPECT_EQ(kept.reply.category, c.category);
    EXPECT_EQ(kept.reply.status, c.reply.status);
    EXPECT_EQ(kept.reply.sense, c.reply.sense.value_or(SenseBytes{}));
    EXPECT_EQ(kept.reply.transferred, c.transferred);
    EXPECT_EQ(kept.replyData, c.replyData);
    EXPECT_GE(kept.sentAt, before);
    EXPECT_LE(kept.sentAt, after);
    EXPECT_EQ(snapshot.dropped, 0u);
  }
}

TEST(CommandLog, TimesHowLongTheDriveTookToAnswer) {
  Logged logged(1);
  logged.drives[0]->delay = 30ms;
  std::vector<std::uint8_t> none;
  const auto started = std::chrono::steady_clock::now();
  (void)logged.devices[0]->Execute(Request(kUnitReady, DataDirection::NoData, none));
  const auto took = std::chrono::steady_clock::now() - started;

  const LoggedCommand kept = logged.log->Read().commands.at(0);
  EXPECT_GE(kept.duration, 30ms);
  EXPECT_LE(kept.duration, took);
}

TEST(CommandLog, KeepsOnlyTheLastCommandsAndCountsTheOthers) {
  Logged logged(1, 3);
  std::vector<std::uint8_t> none;
  for (std::uint8_t n = 1; n <= 5; ++n) {
    Cdb cdb = kUnitReady;
    cdb[5] = n;  // the control byte tells the commands apart
    (void)logged.devices[0]->Execute(Request(cdb, DataDirection::NoData, none));
  }
  const CommandLog::Snapshot snapshot = logged.log->Read();
  std::vector<std::uint8_t> kept;
  for (const LoggedCommand& command : snapshot.commands) kept.push_back(command.cdb.at(5));
  EXPECT_THAT(kept, ElementsAre(3, 4, 5));
  EXPECT_EQ(snapshot.dropped, 2u);
  EXPECT_EQ(logged.drives[0]->received.size(), 5u);
}

// The run's worker sends while the window reads the log.
TEST(CommandLog, RecordsFromOneThreadWhileAnotherReads) {
  constexpr int kCommands = 2000;
  Logged logged(1, kCommands);
  std::atomic<bool> sending = true;
  std::thread reader([&] {
    while (sending) {
      const CommandLog::Snapshot snapshot = logged.log->Read();
      for (const LoggedCommand& command : snapshot.commands) ASSERT_EQ(command.device, "/dev/sr0");
    }
  });
  std::vector<std::uint8_t> none;
  for (int i = 0; i < kCommands; ++i) {
    (void)logged.devices[0]->Execute(Request(kUnitReady, DataDirection::NoData, none));
  }
  sending = false;
  reader.join();
  EXPECT_EQ(logged.log->Read().commands.size(), static_cast<std::size_t>(kCommands));
}

TEST(CommandLog, EachCommandReadsAsOneLine) {
  // 12:00:01.234 UTC on a day in 2026.
  const auto at =
      std::chrono::sys_days(std::chrono::year{2026} / 12 / 11) + 12h + 0min + 1s + 234ms;
  auto command = [&](Cdb cdb, DataDirection direction, std::uint32_t length, CommandReply reply,
                     std::chrono::microseconds took) {
    LoggedCommand c;
    c.sentAt = std::chrono::system_clock::time_point(at);
    c.device = "/dev/sr1";
    c.cdb.assign(cdb.begin(), cdb.begin() + static_cast<std::ptrdiff_t>(CdbLengthFor(cdb[0])));
    c.direction = direction;
    c.length = length;
    c.timeout = 200s;
    c.reply = reply;
    c.duration = took;
    return c;
  };
  struct Case {
    LoggedCommand command;
    const char* line;
  };
  const Case cases[] = {
      {command(kWrite, DataDirection::ToDrive, 16384, {ReplyCategory::Good, 0x00, {}, 16384},
               12'400us),
       "12:00:01.234 /dev/sr1 3B 06 00 00 40 00 00 40 00 00 ToDrive 16384 200s -> good, 16384 "
       "bytes, 12 ms"},
      {command(kWrite, DataDirection::ToDrive, 16384,
               {ReplyCategory::CheckCondition, 0x02, {0x05, 0x24, 0x00}, 0}, 3'000us),
       "12:00:01.234 /dev/sr1 3B 06 00 00 40 00 00 40 00 00 ToDrive 16384 200s -> check "
       "condition, sense 05/24/00, 0 bytes, 3 ms"},
      {command(kUnitReady, DataDirection::NoData, 0, {ReplyCategory::OtherStatus, 0x08, {}, 0},
               400us),
       "12:00:01.234 /dev/sr1 00 00 00 00 00 00 NoData 0 200s -> status 0x08 (busy), 0 bytes, "
       "0 ms"},
      {command(kReadPage, DataDirection::FromDrive, 16384, {ReplyCategory::TimedOut, {}, {}, 0},
               200'000'000us),
       "12:00:01.234 /dev/sr1 3C 02 00 00 40 00 00 40 00 00 FromDrive 16384 200s -> timed out, 0 "
       "bytes, 200000 ms"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(FormatLoggedCommand(c.command), c.line);
  }
}

}  // namespace
}  // namespace tslflash
