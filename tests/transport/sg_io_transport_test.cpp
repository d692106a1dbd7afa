// The SG_IO transport over a fake kernel: the headers it hands over, how it
// reads what comes back, which /dev/sr<n> it offers, and what the user is told
// when the kernel refuses raw commands. No device is opened.
#include "transport/sg_io_transport.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <linux/cdrom.h>
#include <sys/file.h>

#include <algorithm>
#include <array>
#include <cerrno>
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
#include "transport/sg_io_hold.h"

namespace tslflash {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using namespace std::chrono_literals;

constexpr int kOpenFlags = O_RDWR | O_NONBLOCK | O_CLOEXEC;

// How the fake kernel answers SG_IO on one device: fills the header, the sense
// buffer and the data buffer it was handed, and returns the call's result.
using SgIoAnswer = std::function<SysResult(sg_io_hdr&)>;

SysResult Good(sg_io_hdr&) { return {0, 0}; }

SgIoAnswer Refuse(int error) {
  return [error](sg_io_hdr&) { return SysResult{-1, error}; };
}

SgIoAnswer CheckCondition(std::vector<std::uint8_t> sense) {
  return [sense](sg_io_hdr& header) {
    const std::size_t written = std::min<std::size_t>(sense.size(), header.mx_sb_len);
    std::memcpy(header.sbp, sense.data(), written);
    header.sb_len_wr = static_cast<unsigned char>(written);
    header.status = 0x02;
    header.masked_status = 0x01;
    header.driver_status = 0x08;
    return SysResult{0, 0};
  };
}

// Answers INQUIRY with vendor, product and revision; everything else with `other`.
SgIoAnswer Identity(std::string vendorProductRevision, SgIoAnswer other = Good) {
  return [text = std::move(vendorProductRevision), other](sg_io_hdr& header) {
    if (header.cmdp[0] != opcode::kInquiry) return other(header);
    auto* data = static_cast<std::uint8_t*>(header.dxferp);
    data[4] = 31;  // the bytes after byte 4 of the standard 36
    std::memcpy(data + 8, text.data(), text.size());
    return SysResult{0, 0};
  };
}

std::vector<std::uint8_t> FixedSense(std::uint8_t code, std::uint8_t key, std::uint8_t asc,
                                     std::uint8_t ascq) {
  std::vector<std::uint8_t> sense(18, 0);
  sense[0] = code;
  sense[2] = key;
  sense[7] = 10;  // additional sense length
  sense[12] = asc;
  sense[13] = ascq;
  return sense;
}

struct FakeNode {
  std::string name;   // in /dev
  int openError = 0;  // what opening it fails with; 0: it opens
  bool optical = true;
  SgIoAnswer sgIo = Good;
  int exclusiveError = 0;  // what an O_EXCL open fails with
  int lockError = 0;       // what flock fails with
  std::string holder{};    // who /proc/locks says holds it
};

struct OpenCall {
  std::string path;
  int flags;
};

class FakeSystem final : public SgIoSystem {
 public:
  explicit FakeSystem(std::vector<FakeNode> nodes) : nodes_(std::move(nodes)) {}

  SysResult Open(const std::string& path, int flags) override {
    opens.push_back({path, flags});
    for (std::size_t i = 0; i < nodes_.size(); ++i) {
      if ("/dev/" + nodes_[i].name != path) continue;
      if (nodes_[i].openError != 0) return {-1, nodes_[i].openError};
      if ((flags & O_EXCL) == 0) return {FdOf(i), 0};
      if (nodes_[i].exclusiveError != 0) return {-1, nodes_[i].exclusiveError};
      return {ExclusiveFdOf(i), 0};
    }
    return {-1, ENOENT};
  }

  SysResult Flock(int fd, int operation) override {
    flocks.push_back({fd, operation});
    const int error = nodes_.at(static_cast<std::size_t>(fd - kFirstExclusiveFd)).lockError;
    return error != 0 ? SysResult{-1, error} : SysResult{0, 0};
  }

  std::string LockHolder(const std::string& path) override {
    for (const FakeNode& node : nodes_) {
      if ("/dev/" + node.name == path) return node.holder;
    }
    return {};
  }

  bool HasRawIoCapability() override { return rawIo; }

  void Close(int fd) override { closes.push_back(fd); }

  SysResult Ioctl(int fd, unsigned long request, void* argument) override {
    const FakeNode& node = nodes_.at(static_cast<std::size_t>(fd - kFirstFd));
    if (request == CDROM_GET_CAPABILITY) {
      EXPECT_EQ(argument, nullptr);
      return node.optical ? SysResult{0x7FFFF, 0} : SysResult{-1, ENOTTY};
    }
    EXPECT_EQ(request, static_cast<unsigned long>(SG_IO));
    auto& header = *static_cast<sg_io_hdr*>(argument);
    headers.push_back(header);
    return node.sgIo(header);
  }

  std::vector<std::string> ListOpticalDeviceNames() override {
    std::vector<std::string> names;
    for (const FakeNode& node : nodes_) names.push_back(node.name);
    return names;
  }

  static int FdOf(std::size_t index) { return kFirstFd + static_cast<int>(index); }
  static int ExclusiveFdOf(std::size_t index) {
    return kFirstExclusiveFd + static_cast<int>(index);
  }

  bool rawIo = true;
  std::vector<std::pair<int, int>> flocks;  // descriptor, operation
  std::vector<OpenCall> opens;
  std::vector<int> closes;
  std::vector<sg_io_hdr> headers;  // as handed to SG_IO

 private:
  static constexpr int kFirstFd = 40;
  static constexpr int kFirstExclusiveFd = 140;
  std::vector<FakeNode> nodes_;
};

struct Scan : testing::OfferedDrives {
  std::shared_ptr<FakeSystem> system;
  std::vector<std::string> notices;
  SgIoTransport transport;

  explicit Scan(std::vector<FakeNode> nodes)
      : system(std::make_shared<FakeSystem>(std::move(nodes))),
        transport(system, [this](std::string_view text) { notices.emplace_back(text); }) {}

  // Keeps every candidate; stops after `limit` of them.
  void Run(std::size_t limit = std::numeric_limits<std::size_t>::max()) {
    Collect(transport, limit);
  }
};

// --- Request building -------------------------------------------------------

TEST(SgIoRequestTest, MapsDirectionAndUsesTheCallersBuffersInPlace) {
  struct Case {
    DataDirection direction;
    int expectedDirection;
    bool expectData;
  };
  std::array<std::uint8_t, 64> data{};
  std::array<std::uint8_t, kSgIoSenseLength> sense{};
  const Cdb cdb = BuildWritePageById(1, 0, 64);
  for (const Case c : {Case{DataDirection::ToDrive, SG_DXFER_TO_DEV, true},
                       Case{DataDirection::FromDrive, SG_DXFER_FROM_DEV, true},
                       Case{DataDirection::NoData, SG_DXFER_NONE, false}}) {
    SCOPED_TRACE(static_cast<int>(c.direction));
    // A stray buffer beside NoData must not reach the kernel, which would map it.
    const CommandRequest request{std::span(cdb).first(10), c.direction, data.data(),
                                 static_cast<std::uint32_t>(data.size()), 15s};
    const sg_io_hdr header = BuildSgIoHeader(request, sense);
    EXPECT_EQ(header.interface_id, 'S');
    EXPECT_EQ(header.dxfer_direction, c.expectedDirection);
    EXPECT_EQ(header.cmd_len, 10);
    EXPECT_EQ(header.cmdp, cdb.data());
    EXPECT_EQ(header.dxferp, c.expectData ? data.data() : nullptr);
    EXPECT_EQ(header.dxfer_len, c.expectData ? 64u : 0u);
    EXPECT_EQ(header.sbp, sense.data());
    EXPECT_EQ(header.mx_sb_len, kSgIoSenseLength);
    EXPECT_EQ(header.timeout, 15000u);
    EXPECT_EQ(header.flags, 0u);
    EXPECT_EQ(header.iovec_count, 0);
  }
}

TEST(SgIoRequestTest, CommandLengthIsTheCdbSpanSize) {
  std::array<std::uint8_t, kSgIoSenseLength> sense{};
  const std::array<std::uint8_t, 16> cdb{};
  for (const std::size_t length : {6u, 10u, 12u, 16u}) {
    const CommandRequest request{std::span(cdb).first(length), DataDirection::NoData, nullptr, 0,
                                 15s};
    EXPECT_EQ(BuildSgIoHeader(request, sense).cmd_len, length);
  }
}

TEST(SgIoRequestTest, TimeoutIsInMillisecondsAndSaturates) {
  struct Case {
    std::chrono::seconds timeout;
    unsigned int milliseconds;
  };
  constexpr unsigned int kMax = std::numeric_limits<unsigned int>::max();
  for (const Case c : {Case{15s, 15000}, Case{200s, 200000}, Case{0s, 0}, Case{-5s, 0},
                       Case{4294967s, 4294967000u},  // the longest that fits
                       Case{4294968s, kMax}, Case{std::chrono::seconds::max(), kMax}}) {
    EXPECT_EQ(SgIoTimeoutMilliseconds(c.timeout), c.milliseconds) << c.timeout.count() << " s";
  }
}

// --- Result classification --------------------------------------------------

struct ClassifyCase {
  const char* name;
  SysResult call;
  unsigned char status;
  unsigned short hostStatus;
  unsigned short driverStatus;
  std::vector<std::uint8_t> sense;  // the bytes the kernel wrote
  CommandResult result;
  std::optional<SenseBytes> expectedSense;
  bool privilegeRefused = false;
};

TEST(SgIoClassifyTest, MapsWhatTheKernelReturned) {
  constexpr SysResult kOk{0, 0};
  const auto fixed = FixedSense(0x70, 0x02, 0x3A, 0x00);
  const std::vector<std::uint8_t> descriptor{0x72, 0x05, 0x24, 0x00, 0, 0, 0, 0};
  const auto cut = [](std::vector<std::uint8_t> bytes, std::size_t size) {
    bytes.resize(size);
    return bytes;
  };
  const std::vector<ClassifyCase> cases = {
      {"good", kOk, 0x00, 0, 0, {}, CommandResult::Completed, std::nullopt},
      {"fixed sense", kOk, 0x02, 0, 0x08, fixed, CommandResult::Failed, SenseBytes{2, 0x3A, 0}},
      {"deferred fixed sense, status alone", kOk, 0x02, 0, 0, FixedSense(0x71, 0x06, 0x29, 0x01),
       CommandResult::Failed, SenseBytes{6, 0x29, 1}},
      {"descriptor sense, DRIVER_SENSE alone", kOk, 0x00, 0, 0x08, descriptor,
       CommandResult::Failed, SenseBytes{5, 0x24, 0}},
      {"ATAPI sense with the valid bit", kOk, 0x02, 0, 0x08, FixedSense(0xF0, 0x23, 0x11, 0x05),
       CommandResult::Failed, SenseBytes{3, 0x11, 5}},
      {"sense cut before the ASC", kOk, 0x02, 0, 0x08, cut(fixed, 8), CommandResult::Failed,
       SenseBytes{2, 0, 0}},
      {"sense cut before the ASCQ", kOk, 0x02, 0, 0x08, cut(FixedSense(0x70, 5, 0x24, 7), 13),
       CommandResult::Failed, SenseBytes{5, 0x24, 0}},
      {"no sense", kOk, 0x02, 0, 0x08, {}, CommandResult::Failed, std::nullopt},
      {"unknown sense format", kOk, 0x02, 0, 0x08, FixedSense(0x7F, 2, 0x3A, 0),
       CommandResult::Failed, std::nullopt},
      {"DID_TIME_OUT", kOk, 0x00, 0x03, 0, {}, CommandResult::TimedOut, std::nullopt},
      {"DRIVER_TIMEOUT", kOk, 0x00, 0, 0x06, {}, CommandResult::TimedOut, std::nullopt},
      {"DRIVER_TIMEOUT, retry", kOk, 0x00, 0, 0x16, {}, CommandResult::TimedOut, std::nullopt},
      {"DID_NO_CONNECT", kOk, 0x00, 0x01, 0, {}, CommandResult::Failed, std::nullopt},
      {"DRIVER_ERROR", kOk, 0x00, 0, 0x04, {}, CommandResult::Failed, std::nullopt},
      // A failed call's header is not read, whatever it holds.
      {"EIO", {-1, EIO}, 0x02, 0, 0x08, fixed, CommandResult::Failed, std::nullopt},
      {"EPERM", {-1, EPERM}, 0x00, 0, 0, {}, CommandResult::Failed, std::nullopt, true},
      {"EACCES", {-1, EACCES}, 0x00, 0, 0, {}, CommandResult::Failed, std::nullopt, true},
  };
  for (const ClassifyCase& c : cases) {
    SCOPED_TRACE(c.name);
    // Bytes past what the kernel wrote are stale and must not be read.
    std::array<std::uint8_t, kSgIoSenseLength> sense{};
    sense.fill(0xEE);
    std::ranges::copy(c.sense, sense.begin());
    sg_io_hdr header{};
    header.status = c.status;
    header.host_status = c.hostStatus;
    header.driver_status = c.driverStatus;
    header.sb_len_wr = static_cast<unsigned char>(c.sense.size());
    const SgIoOutcome outcome = ClassifySgIo(c.call, header, sense);
    EXPECT_EQ(outcome.reply.result, c.result);
    EXPECT_EQ(outcome.reply.sense, c.expectedSense);
    EXPECT_EQ(outcome.privilegeRefused, c.privilegeRefused);
  }
}

// The status byte alone, without DRIVER_SENSE, while the sense buffer holds
// sense: BUSY and its kind were not carried out, and a vendor bit on CHECK
// CONDITION still brings its sense.
TEST(SgIoClassifyTest, OnlyGoodAndConditionMetComplete) {
  const auto fixed = FixedSense(0x70, 0x02, 0x3A, 0x00);
  for (const testing::StatusCase& c : testing::kStatusCases) {
    SCOPED_TRACE(c.name);
    std::array<std::uint8_t, kSgIoSenseLength> sense{};
    std::ranges::copy(fixed, sense.begin());
    sg_io_hdr header{};
    header.status = c.status;
    header.sb_len_wr = static_cast<unsigned char>(fixed.size());
    const SgIoOutcome outcome = ClassifySgIo({0, 0}, header, sense);
    EXPECT_EQ(outcome.reply.result, c.result);
    EXPECT_EQ(outcome.reply.sense,
              c.takesSense ? std::optional(SenseBytes{2, 0x3A, 0}) : std::nullopt);
  }
}

// The residue is what did not arrive; one past the request leaves nothing,
// and a negative one (more than asked for) the whole request.
TEST(SgIoClassifyTest, ReportsTheBytesTheResidueSaysArrived) {
  struct Case {
    int resid;
    std::uint32_t transferred;
  };
  for (const Case c :
       {Case{0, 100}, Case{40, 60}, Case{99, 1}, Case{100, 0}, Case{150, 0}, Case{-5, 100}}) {
    SCOPED_TRACE(c.resid);
    sg_io_hdr header{};
    header.dxfer_len = 100;
    header.resid = c.resid;
    const SgIoOutcome outcome = ClassifySgIo({0, 0}, header, {});
    EXPECT_EQ(outcome.reply.result, CommandResult::Completed);
    EXPECT_EQ(outcome.reply.transferred, c.transferred);
  }
}

// --- Commands through an opened device ----------------------------------------

TEST(SgIoDeviceTest, PrivilegeRefusalIsToldOncePerTransportAndEachCommandFails) {
  Scan scan({{.name = "sr0", .sgIo = Refuse(EPERM)}, {.name = "sr1", .sgIo = Refuse(EACCES)}});
  scan.Run();
  ASSERT_EQ(scan.offered.size(), 2u);
  const Cdb write = BuildCommitImage();
  const CommandRequest request{std::span(write).first(10), DataDirection::NoData, nullptr, 0, 15s};
  EXPECT_EQ(scan.offered[0]->Execute(request).result, CommandResult::Failed);
  EXPECT_EQ(scan.offered[0]->Execute(request).result, CommandResult::Failed);
  EXPECT_EQ(scan.offered[1]->Execute(request).result, CommandResult::Failed);
  ASSERT_EQ(scan.notices.size(), 1u);
  EXPECT_THAT(scan.notices[0], HasSubstr("/dev/sr0"));
  EXPECT_THAT(scan.notices[0], HasSubstr("sudo tslflash"));
  EXPECT_THAT(scan.notices[0], Not(HasSubstr("setcap")));
}

TEST(SgIoDeviceTest, OtherCallFailuresTellTheUserNothing) {
  Scan scan({{.name = "sr0", .sgIo = Refuse(EIO)}});
  scan.Run();
  ASSERT_EQ(scan.offered.size(), 1u);
  const Cdb tur = BuildTestUnitReady();
  const TransportReply reply =
      scan.offered[0]->Execute({std::span(tur).first(6), DataDirection::NoData, nullptr, 0, 15s});
  EXPECT_EQ(reply.result, CommandResult::Failed);
  EXPECT_FALSE(reply.sense.has_value());
  EXPECT_TRUE(scan.notices.empty());
}

// --- Enumeration --------------------------------------------------------------

TEST(SgIoScanTest, OffersDevicesInNumericOrderOpenedWithoutBlocking) {
  Scan scan({{.name = "sr10"}, {.name = "sr2"}, {.name = "sr0"}});
  scan.Run();
  EXPECT_THAT(scan.Locations(), ElementsAre("/dev/sr0", "/dev/sr2", "/dev/sr10"));
  ASSERT_EQ(scan.system->opens.size(), 3u);
  for (const OpenCall& open : scan.system->opens) EXPECT_EQ(open.flags, kOpenFlags) << open.path;
  EXPECT_TRUE(scan.system->closes.empty());
}

TEST(SgIoScanTest, SkipsDevicesThatDoNotOpenOrAreNotCdDvd) {
  Scan scan({{.name = "sr0", .optical = false},
             {.name = "sr1", .openError = EACCES},
             {.name = "sr2", .openError = EBUSY},
             {.name = "sr3"}});
  scan.Run();
  EXPECT_THAT(scan.Locations(), ElementsAre("/dev/sr3"));
  EXPECT_THAT(scan.system->closes, ElementsAre(FakeSystem::FdOf(0)));
  // A node that exists but does not open is named with its reason, never
  // left to a bare "no drive found".
  EXPECT_THAT(scan.notices, ElementsAre("/dev/sr1 could not be opened: Permission denied",
                                        "/dev/sr2 could not be opened: Device or resource busy"));
}

TEST(SgIoScanTest, StopsWhenTheSinkSaysSo) {
  Scan scan({{.name = "sr0"}, {.name = "sr1"}, {.name = "sr2"}});
  scan.Run(1);
  EXPECT_THAT(scan.Locations(), ElementsAre("/dev/sr0"));
  EXPECT_EQ(scan.system->opens.size(), 1u);
}

TEST(SgIoScanTest, DestroyingADeviceClosesItsDescriptorOnce) {
  Scan scan({{.name = "sr0"}, {.name = "sr1"}});
  scan.Run();
  ASSERT_EQ(scan.offered.size(), 2u);
  scan.offered[1].reset();
  EXPECT_THAT(scan.system->closes, ElementsAre(FakeSystem::FdOf(1)));
  scan.offered.clear();
  EXPECT_THAT(scan.system->closes, ElementsAre(FakeSystem::FdOf(1), FakeSystem::FdOf(0)));
}

// --- One writer per drive, and the rights to write ------------------------------

TEST(SgIoHoldTest, OpensTheDeviceExclusivelyAndLocksItUntilTheHoldEnds) {
  Scan scan({{.name = "sr0"}});
  scan.Run();
  ASSERT_EQ(scan.offered.size(), 1u);
  HoldAttempt attempt = scan.offered[0]->HoldExclusively();
  ASSERT_NE(attempt.hold, nullptr);
  ASSERT_EQ(scan.system->opens.size(), 2u);
  EXPECT_EQ(scan.system->opens[1].flags, kOpenFlags | O_EXCL);
  EXPECT_THAT(scan.system->flocks,
              ElementsAre(std::pair{FakeSystem::ExclusiveFdOf(0), LOCK_EX | LOCK_NB}));
  EXPECT_TRUE(scan.system->closes.empty());
  attempt.hold.reset();
  EXPECT_THAT(scan.system->closes, ElementsAre(FakeSystem::ExclusiveFdOf(0)));
  EXPECT_TRUE(scan.system->headers.empty()) << "holding sends no command";
}

TEST(SgIoHoldTest, ADriveSomeoneElseHoldsIsInUseAndNamesTheHolder) {
  struct Case {
    const char* name;
    FakeNode node;
    bool inUse;
    std::string holder;
    std::string reason;
    std::vector<int> closes;  // descriptors closed by the refused attempt
  };
  const int exclusive = FakeSystem::ExclusiveFdOf(0);
  const std::vector<Case> cases = {
      {"mounted or held exclusively", {.name = "sr0", .exclusiveError = EBUSY}, true, "", "", {}},
      {"another copy holds the lock",
       {.name = "sr0", .lockError = EWOULDBLOCK, .holder = "tslflash, process 1234"},
       true,
       "tslflash, process 1234",
       "",
       {exclusive}},
      {"exclusive open refused",
       {.name = "sr0", .exclusiveError = EACCES},
       false,
       "",
       "Permission denied",
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Scan scan({c.node});
    scan.Run();
    ASSERT_EQ(scan.offered.size(), 1u);
    const HoldAttempt attempt = scan.offered[0]->HoldExclusively();
    EXPECT_EQ(attempt.hold, nullptr);
    EXPECT_EQ(attempt.inUse, c.inUse);
    EXPECT_EQ(attempt.holder, c.holder);
    EXPECT_EQ(attempt.reason, c.reason);
    EXPECT_EQ(scan.system->closes, c.closes);
  }
}

TEST(SgIoRightsTest, WritingNeedsRawIoInTheEffectiveSet) {
  Scan scan({});
  EXPECT_EQ(scan.transport.MissingWriteRights(), std::nullopt);
  scan.system->rawIo = false;
  EXPECT_EQ(scan.transport.MissingWriteRights(),
            "Writing firmware needs raw SCSI access (CAP_SYS_RAWIO). Start the tool as root, for "
            "example from the desktop menu's administrator entry or with sudo.");
}

TEST(LockHolderTest, FindsTheGrantedLockOnTheNodesInode) {
  constexpr std::string_view kLocks =
      "1: POSIX  ADVISORY  WRITE 700 08:01:1234 0 EOF\n"
      "2: FLOCK  ADVISORY  WRITE 1234 00:05:412 0 EOF\n"
      "2: -> FLOCK  ADVISORY  WRITE 1300 00:05:413 0 EOF\n"
      "3: OFDLCK ADVISORY  WRITE -1 00:05:414 0 EOF\n"
      "4: FLOCK  ADVISORY  WRITE 99 0a:1f:415 0 EOF\n";
  struct Case {
    unsigned major, minor;
    unsigned long inode;
    std::optional<long> pid;
  };
  for (const Case c : {Case{0, 5, 412, 1234}, Case{8, 1, 1234, 700},
                       Case{0, 5, 413, std::nullopt},  // only waiting
                       Case{0, 5, 414, std::nullopt},  // no process owns it
                       Case{0, 6, 412, std::nullopt},  // same inode, other filesystem
                       Case{10, 31, 415, 99}}) {       // device numbers are hexadecimal
    EXPECT_EQ(FindLockHolder(kLocks, c.major, c.minor, c.inode), c.pid) << c.inode;
  }
  EXPECT_EQ(FindLockHolder("garbage\n\n1: FLOCK\n", 0, 5, 412), std::nullopt);
}

TEST(OpticalDeviceNumberTest, AcceptsOnlySrAndDigits) {
  EXPECT_EQ(OpticalDeviceNumber("sr0"), 0u);
  EXPECT_EQ(OpticalDeviceNumber("sr10"), 10u);
  for (const char* name :
       {"sr", "sr1a", "sr-1", "sr+1", "sr 1", "sg0", "scd0", "xsr0", "sr99999999999999999999"}) {
    EXPECT_FALSE(OpticalDeviceNumber(name).has_value()) << name;
  }
}

// --- Through the registry -----------------------------------------------------

TEST(SgIoRegistryTest, RegistersDrivesThatAnswerInquiryAndReportsTheirSense) {
  constexpr const char* kFirst = "VARN    DVD RW LPX-650A 1.02";
  constexpr const char* kSecond = "VARN    DVD RW LPX-412A 2.10";
  auto system = std::make_shared<FakeSystem>(std::vector<FakeNode>{
      {.name = "sr0", .sgIo = Identity(kFirst, CheckCondition(FixedSense(0x70, 2, 0x3A, 0)))},
      {.name = "sr1", .sgIo = CheckCondition(FixedSense(0x70, 5, 0x24, 0))},
      {.name = "sr2", .sgIo = Identity(kSecond)}});
  DriveRegistry registry(std::make_unique<SgIoTransport>(system, TransportNotice{}));
  ASSERT_TRUE(registry.InitTransport());

  ASSERT_EQ(registry.EnumerateDrives(), 2);
  EXPECT_EQ(registry.FormatDriveText(), kFirst);
  EXPECT_EQ(registry.SelectedLocation(), "/dev/sr0");
  ASSERT_TRUE(registry.SelectDrive(1));
  EXPECT_EQ(registry.FormatDriveText(), kSecond);
  EXPECT_EQ(registry.SelectedLocation(), "/dev/sr2");
  EXPECT_THAT(system->closes, ElementsAre(FakeSystem::FdOf(1)));

  // The enumeration INQUIRY as the kernel saw it.
  ASSERT_EQ(system->headers.size(), 3u);
  const sg_io_hdr& inquiry = system->headers[0];
  EXPECT_EQ(inquiry.cmd_len, 6);
  EXPECT_EQ(inquiry.dxfer_direction, SG_DXFER_FROM_DEV);
  EXPECT_EQ(inquiry.dxfer_len, 56u);
  EXPECT_EQ(inquiry.timeout, 15000u);

  ASSERT_TRUE(registry.SelectDrive(0));
  const Cdb tur = BuildTestUnitReady();
  const CommandReply reply = registry.ExecuteCommand(tur, DataDirection::NoData, nullptr, 0, 15s);
  EXPECT_EQ(reply.category, ReplyCategory::CheckCondition);
  EXPECT_EQ(reply.status, 0x02);
  EXPECT_EQ(reply.sense, (SenseBytes{0x02, 0x3A, 0x00}));
}

}  // namespace
}  // namespace tslflash
