// The NT pass-through transport over a fake Windows: the request it hands
// the driver, how it reads what comes back, which drive letters it offers and
// when it closes their handles. No volume is opened.
#include "transport/nt_pass_through_transport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/offered_drives.h"
#include "tests/support/scsi_status_cases.h"
#include "transport/cdb.h"
#include "transport/drive_registry.h"

namespace tslflash {
namespace {

using ::testing::ElementsAre;
using namespace std::chrono_literals;

constexpr std::size_t kRequestSize = sizeof(SCSI_PASS_THROUGH_DIRECT);

// How the fake driver answers one pass-through request: fills the buffer it
// was handed (and the caller's data buffer) and says how the call went.
using DriverAnswer = std::function<IoControlResult(PassThroughRequest&)>;

IoControlResult Good(PassThroughRequest&) { return {true, 0}; }

DriverAnswer CheckCondition(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq) {
  return [=](PassThroughRequest& request) {
    request.header.ScsiStatus = 0x02;
    request.sense[0] = 0x70;
    request.sense[2] = key;
    request.sense[7] = 10;
    request.sense[12] = asc;
    request.sense[13] = ascq;
    return IoControlResult{true, 0};
  };
}

// Answers INQUIRY with vendor, product and revision; everything else with `other`.
DriverAnswer Identity(std::string vendorProductRevision, DriverAnswer other = Good) {
  return [text = std::move(vendorProductRevision), other](PassThroughRequest& request) {
    if (request.header.Cdb[0] != opcode::kInquiry) return other(request);
    auto* data = static_cast<std::uint8_t*>(request.header.DataBuffer);
    data[4] = 31;  // the bytes after byte 4 of the standard 36
    std::memcpy(data + 8, text.data(), text.size());
    return IoControlResult{true, 0};
  };
}

struct FakeVolume {
  char letter;
  bool opens = true;
  UINT type = DRIVE_CDROM;
  DriverAnswer driver = Good;
};

struct OpenCall {
  std::string path;
  DWORD access;
  DWORD share;
  DWORD disposition;
};

class FakeSystem final : public NtPassThroughSystem {
 public:
  explicit FakeSystem(std::vector<FakeVolume> volumes) : volumes_(std::move(volumes)) {}

  HANDLE Open(const std::string& path, DWORD access, DWORD share, DWORD disposition) override {
    opens.push_back({path, access, share, disposition});
    for (std::size_t i = 0; i < volumes_.size(); ++i) {
      if (path == std::string("\\\\.\\") + volumes_[i].letter + ':' && volumes_[i].opens) {
        return HandleOf(i);
      }
    }
    return INVALID_HANDLE_VALUE;
  }

  UINT DriveType(const std::string& root) override {
    roots.push_back(root);
    for (const FakeVolume& volume : volumes_) {
      if (root == std::string{volume.letter, ':', '\\'}) return volume.type;
    }
    return DRIVE_NO_ROOT_DIR;
  }

  IoControlResult IoControl(HANDLE handle, DWORD code, void* in, DWORD inSize, void* out,
                            DWORD outSize) override {
    if (code == FSCTL_LOCK_VOLUME || code == FSCTL_UNLOCK_VOLUME) {
      volumeControls.push_back({handle, code});
      if (code == FSCTL_LOCK_VOLUME && lockError != 0) return {false, lockError};
      return {true, 0};
    }
    EXPECT_EQ(code, static_cast<DWORD>(IOCTL_SCSI_PASS_THROUGH_DIRECT));
    EXPECT_EQ(inSize, kRequestSize);
    EXPECT_EQ(out, in);
    EXPECT_EQ(outSize, sizeof(PassThroughRequest));
    auto& request = *static_cast<PassThroughRequest*>(in);
    requests.push_back(request);
    return VolumeOf(handle).driver(request);
  }

  void Close(HANDLE handle) override { closes.push_back(handle); }
  bool IsAdministrator() override { return administrator; }

  bool administrator = true;
  DWORD lockError = 0;  // what FSCTL_LOCK_VOLUME fails with; 0: it succeeds
  std::vector<std::pair<HANDLE, DWORD>> volumeControls;

  static HANDLE HandleOf(std::size_t index) {
    return reinterpret_cast<HANDLE>(kFirstHandle + index);
  }

  std::vector<OpenCall> opens;
  std::vector<std::string> roots;
  std::vector<HANDLE> closes;
  std::vector<PassThroughRequest> requests;  // as handed to the driver

 private:
  static constexpr std::uintptr_t kFirstHandle = 0x100;

  const FakeVolume& VolumeOf(HANDLE handle) const {
    return volumes_.at(reinterpret_cast<std::uintptr_t>(handle) - kFirstHandle);
  }

  std::vector<FakeVolume> volumes_;
};

struct Scan : testing::OfferedDrives {
  std::shared_ptr<FakeSystem> system;
  NtPassThroughTransport transport;

  explicit Scan(std::vector<FakeVolume> volumes)
      : system(std::make_shared<FakeSystem>(std::move(volumes))), transport(system) {}

  // Keeps every candidate; stops after `limit` of them.
  void Run(std::size_t limit = std::numeric_limits<std::size_t>::max()) {
    Collect(transport, limit);
  }
};

// --- Request building -------------------------------------------------------

TEST(PassThroughRequestTest, FillsEveryFieldAndUsesTheCallersBufferInPlace) {
  struct Case {
    DataDirection direction;
    UCHAR dataIn;
  };
  std::array<std::uint8_t, 64> data{};
  const Cdb cdb = BuildWritePageById(1, 0x4000, 64);
  for (const Case c : {Case{DataDirection::ToDrive, 0}, Case{DataDirection::FromDrive, 1},
                       Case{DataDirection::NoData, 2}}) {
    SCOPED_TRACE(static_cast<int>(c.direction));
    const CommandRequest command{std::span(cdb).first(10), c.direction, data.data(),
                                 static_cast<std::uint32_t>(data.size()), 200s};
    const PassThroughRequest request = BuildPassThroughRequest(command);
    const SCSI_PASS_THROUGH_DIRECT& header = request.header;
    EXPECT_EQ(header.Length, kRequestSize);
    EXPECT_EQ(header.ScsiStatus, 0);
    EXPECT_EQ(header.PathId, 0);
    EXPECT_EQ(header.TargetId, 0);
    EXPECT_EQ(header.Lun, 0);
    EXPECT_EQ(header.CdbLength, 10);
    EXPECT_EQ(header.SenseInfoLength, 32);
    EXPECT_EQ(header.DataIn, c.dataIn);
    EXPECT_EQ(header.DataTransferLength, 64u);
    EXPECT_EQ(header.TimeOutValue, 200u);
    EXPECT_EQ(header.DataBuffer, data.data());
    EXPECT_EQ(header.SenseInfoOffset, kRequestSize);
    EXPECT_THAT(header.Cdb, ElementsAre(0x3B, 0x07, 0x01, 0x00, 0x40, 0x00, 0x00, 0x00, 0x40, 0x00,
                                        0, 0, 0, 0, 0, 0));
    EXPECT_TRUE(std::ranges::all_of(request.sense, [](std::uint8_t b) { return b == 0; }));
  }
}

TEST(PassThroughRequestTest, TimeoutIsInSecondsAndStaysInRange) {
  struct Case {
    std::chrono::seconds timeout;
    ULONG seconds;
  };
  constexpr ULONG kMax = std::numeric_limits<ULONG>::max();
  const Cdb tur = BuildTestUnitReady();
  for (const Case c :
       {Case{15s, 15}, Case{0s, 0}, Case{-5s, 0}, Case{std::chrono::seconds(kMax), kMax},
        Case{std::chrono::seconds::max(), kMax}}) {
    const CommandRequest command{std::span(tur).first(6), DataDirection::NoData, nullptr, 0,
                                 c.timeout};
    EXPECT_EQ(BuildPassThroughRequest(command).header.TimeOutValue, c.seconds)
        << c.timeout.count() << " s";
  }
}

// --- Result classification --------------------------------------------------

TEST(PassThroughClassifyTest, MapsWhatTheDriverReturned) {
  struct Case {
    const char* name;
    IoControlResult call;
    UCHAR scsiStatus;
    CommandResult result;
    std::optional<SenseBytes> sense;
  };
  const std::vector<Case> cases = {
      {"good", {true, 0}, 0x00, CommandResult::Completed, std::nullopt},
      {"CHECK CONDITION", {true, 0}, 0x02, CommandResult::Failed, SenseBytes{2, 0x3A, 0x00}},
      // A failed call's status and sense are not read, whatever they hold.
      {"semaphore time-out", {false, ERROR_SEM_TIMEOUT}, 0x02, CommandResult::TimedOut, {}},
      {"invalid function", {false, ERROR_INVALID_FUNCTION}, 0x02, CommandResult::Failed, {}},
      {"access denied", {false, ERROR_ACCESS_DENIED}, 0x00, CommandResult::Failed, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PassThroughRequest request{};
    request.header.ScsiStatus = c.scsiStatus;
    // Sense 70 00 E2 ..: key 2 beside three flag bits that are not part of it, ASC 3Ah, ASCQ 00.
    request.sense = {0x70, 0x00, 0xE2, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x3A, 0x00};
    const TransportReply reply = ClassifyPassThrough(c.call, request);
    EXPECT_EQ(reply.result, c.result);
    EXPECT_EQ(reply.sense, c.sense);
  }
}

// Status bytes are read as on every other transport; the driver's
// DataTransferLength is the count of bytes that arrived.
TEST(PassThroughClassifyTest, OnlyGoodAndConditionMetComplete) {
  for (const testing::StatusCase& c : testing::kStatusCases) {
    SCOPED_TRACE(c.name);
    PassThroughRequest request{};
    request.header.ScsiStatus = c.status;
    request.header.DataTransferLength = 36;
    request.sense = {0x70, 0x00, 0x02, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x3A, 0x00};
    const TransportReply reply = ClassifyPassThrough({true, 0}, request);
    EXPECT_EQ(reply.result, c.result);
    EXPECT_EQ(reply.sense, c.takesSense ? std::optional(SenseBytes{2, 0x3A, 0}) : std::nullopt);
    if (c.result == CommandResult::Completed) {
      EXPECT_EQ(reply.transferred, 36u);
    }
  }
}

// --- Enumeration --------------------------------------------------------------

TEST(PassThroughScanTest, ProbesCToZInOrderAndOffersOnlyCdDvdVolumesThatOpen) {
  Scan scan({{.letter = 'c', .type = DRIVE_FIXED},
             {.letter = 'd'},
             {.letter = 'e', .opens = false},
             {.letter = 'f', .type = DRIVE_REMOTE},
             {.letter = 'g'},
             {.letter = 'z'}});
  scan.Run();
  EXPECT_THAT(scan.Locations(), ElementsAre("D:", "G:", "Z:"));

  // A and B are never probed; every other letter is, in order.
  ASSERT_EQ(scan.system->opens.size(), 24u);
  for (std::size_t i = 0; i < scan.system->opens.size(); ++i) {
    const OpenCall& open = scan.system->opens[i];
    EXPECT_EQ(open.path, std::string("\\\\.\\") + static_cast<char>('c' + i) + ':');
    EXPECT_EQ(open.access, static_cast<DWORD>(GENERIC_READ | GENERIC_WRITE));
    EXPECT_EQ(open.share, static_cast<DWORD>(FILE_SHARE_READ | FILE_SHARE_WRITE));
    EXPECT_EQ(open.disposition, static_cast<DWORD>(OPEN_EXISTING));
  }
  // Only opened volumes are asked their type; those of another type are closed at once.
  EXPECT_THAT(scan.system->roots, ElementsAre("c:\\", "d:\\", "f:\\", "g:\\", "z:\\"));
  EXPECT_THAT(scan.system->closes, ElementsAre(FakeSystem::HandleOf(0), FakeSystem::HandleOf(3)));
  EXPECT_TRUE(scan.system->requests.empty());
}

TEST(PassThroughScanTest, StopsWhenTheSinkSaysSo) {
  Scan scan({{.letter = 'd'}, {.letter = 'e'}});
  scan.Run(1);
  EXPECT_THAT(scan.Locations(), ElementsAre("D:"));
  EXPECT_EQ(scan.system->opens.size(), 2u);  // c: and d:
}

TEST(PassThroughScanTest, DestroyingADeviceClosesItsHandleOnce) {
  Scan scan({{.letter = 'd'}, {.letter = 'e'}});
  scan.Run();
  ASSERT_EQ(scan.offered.size(), 2u);
  scan.offered[1].reset();
  EXPECT_THAT(scan.system->closes, ElementsAre(FakeSystem::HandleOf(1)));
  scan.offered.clear();
  EXPECT_THAT(scan.system->closes, ElementsAre(FakeSystem::HandleOf(1), FakeSystem::HandleOf(0)));
}

// --- Holding the volume and the rights to write --------------------------------

TEST(PassThroughHoldTest, LocksTheVolumeOnItsOwnHandleUntilTheHoldEnds) {
  Scan scan(std::vector<FakeVolume>{{.letter = 'd'}});
  scan.Run();
  ASSERT_EQ(scan.offered.size(), 1u);
  const HANDLE handle = FakeSystem::HandleOf(0);
  HoldAttempt attempt = scan.offered[0]->HoldExclusively();
  ASSERT_NE(attempt.hold, nullptr);
  EXPECT_THAT(scan.system->volumeControls,
              ElementsAre(std::pair{handle, static_cast<DWORD>(FSCTL_LOCK_VOLUME)}));
  attempt.hold.reset();
  EXPECT_THAT(scan.system->volumeControls,
              ElementsAre(std::pair{handle, static_cast<DWORD>(FSCTL_LOCK_VOLUME)},
                          std::pair{handle, static_cast<DWORD>(FSCTL_UNLOCK_VOLUME)}));
  EXPECT_TRUE(scan.system->requests.empty());
}

TEST(PassThroughHoldTest, AVolumeOthersHaveOpenIsInUseAndNothingIsUnlocked) {
  struct Case {
    DWORD error;
    bool inUse;
  };
  for (const Case c : {Case{ERROR_ACCESS_DENIED, true}, Case{ERROR_SHARING_VIOLATION, true},
                       Case{ERROR_NOT_SUPPORTED, false}}) {
    Scan scan(std::vector<FakeVolume>{{.letter = 'd'}});
    scan.system->lockError = c.error;
    scan.Run();
    ASSERT_EQ(scan.offered.size(), 1u);
    const HoldAttempt attempt = scan.offered[0]->HoldExclusively();
    EXPECT_EQ(attempt.hold, nullptr);
    EXPECT_EQ(attempt.inUse, c.inUse) << c.error;
    EXPECT_EQ(attempt.reason.empty(), c.inUse) << c.error;
    EXPECT_EQ(scan.system->volumeControls.size(), 1u) << "only the lock was asked for";
  }
}

TEST(PassThroughRightsTest, WritingNeedsAnAdministratorsToken) {
  Scan scan(std::vector<FakeVolume>{});
  EXPECT_EQ(scan.transport.MissingWriteRights(), std::nullopt);
  scan.system->administrator = false;
  EXPECT_EQ(scan.transport.MissingWriteRights(),
            "Writing firmware needs administrator rights. Start TslFlash.exe as administrator.");
}

// --- Through the registry -----------------------------------------------------

constexpr const char* kFirst = "VARN    DVD RW LPX-650A 1.02";
constexpr const char* kSecond = "VARN    DVD RW LPX-412A 2.10";

TEST(PassThroughRegistryTest, RegistersDrivesThatAnswerInquiryAndClosesTheOthers) {
  auto system = std::make_shared<FakeSystem>(std::vector<FakeVolume>{
      {.letter = 'd', .driver = Identity(kFirst, CheckCondition(2, 0x3A, 0))},
      {.letter = 'e', .driver = CheckCondition(5, 0x24, 0)},
      {.letter = 'f', .driver = Identity(kSecond)}});
  {
    DriveRegistry registry(std::make_unique<NtPassThroughTransport>(system));
    ASSERT_TRUE(registry.InitTransport());
    ASSERT_EQ(registry.EnumerateDrives(), 2);
    EXPECT_EQ(registry.FormatDriveText(), kFirst);
    EXPECT_EQ(registry.SelectedLocation(), "D:");
    ASSERT_TRUE(registry.SelectDrive(1));
    EXPECT_EQ(registry.FormatDriveText(), kSecond);
    EXPECT_EQ(registry.SelectedLocation(), "F:");
    EXPECT_THAT(system->closes, ElementsAre(FakeSystem::HandleOf(1)));

    // The enumeration INQUIRY as the driver saw it.
    ASSERT_EQ(system->requests.size(), 3u);
    const SCSI_PASS_THROUGH_DIRECT& inquiry = system->requests[0].header;
    EXPECT_EQ(inquiry.CdbLength, 6);
    EXPECT_THAT(std::span(inquiry.Cdb).first(6), ElementsAre(0x12, 0, 0, 0, 0x38, 0));
    EXPECT_EQ(inquiry.DataIn, SCSI_IOCTL_DATA_IN);
    EXPECT_EQ(inquiry.DataTransferLength, 56u);
    EXPECT_EQ(inquiry.TimeOutValue, 15u);

    ASSERT_TRUE(registry.SelectDrive(0));
    const Cdb tur = BuildTestUnitReady();
    const CommandReply reply = registry.ExecuteCommand(tur, DataDirection::NoData, nullptr, 0, 15s);
    EXPECT_EQ(reply.category, ReplyCategory::CheckCondition);
    EXPECT_EQ(reply.sense, (SenseBytes{0x02, 0x3A, 0x00}));
  }
  EXPECT_THAT(system->closes, ElementsAre(FakeSystem::HandleOf(1), FakeSystem::HandleOf(0),
                                          FakeSystem::HandleOf(2)));
}

TEST(PassThroughRegistryTest, CdbLengthFollowsTheOperationCode) {
  struct Case {
    std::uint8_t opcode;
    UCHAR length;
  };
  auto system = std::make_shared<FakeSystem>(
      std::vector<FakeVolume>{{.letter = 'd', .driver = Identity(kFirst)}});
  DriveRegistry registry(std::make_unique<NtPassThroughTransport>(system));
  ASSERT_TRUE(registry.InitTransport());
  ASSERT_EQ(registry.EnumerateDrives(), 1);
  for (const Case c : {Case{0x00, 6}, Case{0x3B, 10}, Case{0x5A, 10}, Case{0xA8, 12},
                       Case{0xF5, 12}, Case{0x88, 16}}) {
    SCOPED_TRACE(static_cast<int>(c.opcode));
    // Bytes past the CDB's length must not reach the request.
    std::array<std::uint8_t, 20> cdb;
    cdb.fill(0xCC);
    cdb[0] = c.opcode;
    EXPECT_EQ(registry.ExecuteCommand(cdb, DataDirection::NoData, nullptr, 0, 15s),
              CommandResult::Completed);
    const SCSI_PASS_THROUGH_DIRECT& sent = system->requests.back().header;
    EXPECT_EQ(sent.CdbLength, c.length);
    EXPECT_EQ(sent.Cdb[0], c.opcode);
    EXPECT_TRUE(std::all_of(sent.Cdb + 1, sent.Cdb + c.length, [](UCHAR b) { return b == 0xCC; }));
    EXPECT_TRUE(
        std::all_of(sent.Cdb + c.length, std::end(sent.Cdb), [](UCHAR b) { return b == 0; }));
  }
}

TEST(PassThroughDeviceTest, RefusesACdbLongerThanTheRequestHolds) {
  Scan scan(std::vector<FakeVolume>{{.letter = 'd'}});
  scan.Run();
  ASSERT_EQ(scan.offered.size(), 1u);
  const std::array<std::uint8_t, 17> cdb{};
  const TransportReply reply =
      scan.offered[0]->Execute({cdb, DataDirection::NoData, nullptr, 0, 15s});
  EXPECT_EQ(reply.result, CommandResult::Failed);
  EXPECT_TRUE(scan.system->requests.empty());
}

}  // namespace
}  // namespace tslflash
