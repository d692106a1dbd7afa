// The ASPI transport over an in-process stand-in for the layer: loading and
// the support status, the adapter and target scan, the command block it
// hands over and how it reads it back, and the bounded wait for a layer that
// never finishes a command.
#include "transport/aspi_transport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "transport/cdb.h"
#include "transport/drive_registry.h"

namespace tslflash {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using namespace std::chrono_literals;

constexpr const char* kCantLoad = "Can't load WNASPI32.DLL!!";
constexpr const char* kUnexpected = "Unexpected ASPI Failure";
constexpr std::uint8_t kNoDevice = 0x82;          // SS_NO_DEVICE
constexpr std::uint8_t kSelectionTimeout = 0x11;  // a host adapter status other than time-out
constexpr std::uint8_t kDiskDevice = 0x00;

using Sense14 = std::array<std::uint8_t, 14>;
// Sense 70 00 E2 ..: key 2 beside three flag bits that are not part of it, ASC 3Ah, ASCQ 00.
constexpr Sense14 kNoDiscSense = {0x70, 0x00, 0xE2, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x3A, 0x00};

// When the stand-in finishes a command block.
enum class Finish {
  InTheCall,          // before SendCommand returns
  FromAnotherThread,  // SendCommand returns SS_PENDING; a thread finishes it
  Never,              // SendCommand returns SS_PENDING and nothing follows
};

struct CommandAnswer {
  Finish finish = Finish::InTheCall;
  std::uint8_t status = aspi::SS_COMP;
  std::uint8_t haStat = aspi::HASTAT_OK;
  Sense14 sense{};
  bool honoursAbort = false;  // an abort finishes a command that was never going to be
};

struct DeviceTypeAnswer {
  std::uint8_t status = aspi::SS_COMP;
  std::uint8_t type = aspi::kCdDvdDevice;
};

struct FakeAdapter {
  std::uint8_t status = aspi::SS_COMP;
  std::uint8_t targetsByte = 8;                      // HA_Unique[3]
  std::map<std::uint8_t, DeviceTypeAnswer> targets;  // absent: no device
};

using Address = std::pair<std::uint8_t, std::uint8_t>;  // adapter, target

// What a test sets up for the layer, and what the layer recorded.
struct LayerScript {
  bool loads = true;
  std::uint32_t supportInfo = 0x0101;  // SS_COMP, one adapter
  std::vector<FakeAdapter> adapters = {FakeAdapter{}};
  std::map<Address, std::string> identities;  // drives that answer INQUIRY
  CommandAnswer answer;                       // every other command

  bool supportInfoAsked = false;
  std::vector<std::uint8_t> inquiredAdapters;
  std::vector<Address> typeQueries;
  std::vector<std::uint8_t> typeQueryLuns;
  std::vector<aspi::SRB_ExecSCSICmd> commands;  // as handed over
  std::vector<const void*> commandBlocks;
  std::vector<aspi::SRB_Abort> aborts;
  int lateWrites = 0;  // into blocks the layer kept until it was destroyed
  bool lateEventsSignalled = true;
  bool destroyed = false;
};

void SetStatus(aspi::SRB_ExecSCSICmd& block, std::uint8_t status) {
  std::atomic_ref<std::uint8_t>(block.SRB_Status).store(status, std::memory_order_release);
}

HANDLE EventOf(const aspi::SRB_ExecSCSICmd& block) {
  return (block.SRB_Flags & aspi::SRB_EVENT_NOTIFY) != 0 ? block.SRB_PostProc : nullptr;
}

// Fills in the result as a layer does: status last, then the event. The
// block may be gone once its status is set and its event signalled.
void Complete(aspi::SRB_ExecSCSICmd& block, const CommandAnswer& answer) {
  const HANDLE event = EventOf(block);
  block.SRB_HaStat = answer.haStat;
  std::ranges::copy(answer.sense, std::begin(block.SenseArea));
  SetStatus(block, answer.status);
  if (event != nullptr) ::SetEvent(event);
}

class FakeLayer final : public AspiLayer {
 public:
  explicit FakeLayer(std::shared_ptr<LayerScript> script) : script_(std::move(script)) {}

  // Writes into every block it kept, as a layer that ignored an abort may do
  // until it is unloaded.
  ~FakeLayer() override {
    for (std::thread& thread : threads_) thread.join();
    for (const KeptBlock& kept : kept_) {
      SetStatus(*kept.block, aspi::SS_ABORTED);
      ++script_->lateWrites;
      if (kept.event != nullptr && ::SetEvent(kept.event) == 0) {
        script_->lateEventsSignalled = false;
      }
    }
    script_->destroyed = true;
  }
  FakeLayer(const FakeLayer&) = delete;
  FakeLayer& operator=(const FakeLayer&) = delete;

  bool Load() override { return script_->loads; }

  std::uint32_t GetSupportInfo() override {
    script_->supportInfoAsked = true;
    return script_->supportInfo;
  }

  std::uint32_t SendCommand(void* requestBlock) override {
    switch (*static_cast<std::uint8_t*>(requestBlock)) {
      case aspi::SC_HA_INQUIRY:
        return InquireAdapter(*static_cast<aspi::SRB_HAInquiry*>(requestBlock));
      case aspi::SC_GET_DEV_TYPE:
        return QueryType(*static_cast<aspi::SRB_GDEVBlock*>(requestBlock));
      case aspi::SC_EXEC_SCSI_CMD:
        return Execute(*static_cast<aspi::SRB_ExecSCSICmd*>(requestBlock));
      case aspi::SC_ABORT_SRB:
        return Abort(*static_cast<aspi::SRB_Abort*>(requestBlock));
      default:
        ADD_FAILURE() << "unknown request block";
        return aspi::SS_ERR;
    }
  }

 private:
  std::uint32_t InquireAdapter(aspi::SRB_HAInquiry& block) {
    script_->inquiredAdapters.push_back(block.SRB_HaId);
    const FakeAdapter& adapter = script_->adapters.at(block.SRB_HaId);
    block.HA_Unique[3] = adapter.targetsByte;
    block.SRB_Status = adapter.status;
    return block.SRB_Status;
  }

  std::uint32_t QueryType(aspi::SRB_GDEVBlock& block) {
    script_->typeQueries.emplace_back(block.SRB_HaId, block.SRB_Target);
    script_->typeQueryLuns.push_back(block.SRB_Lun);
    const auto& targets = script_->adapters.at(block.SRB_HaId).targets;
    const auto found = targets.find(block.SRB_Target);
    const DeviceTypeAnswer answer =
        found != targets.end() ? found->second : DeviceTypeAnswer{kNoDevice, 0};
    block.SRB_DeviceType = answer.type;
    block.SRB_Status = answer.status;
    return block.SRB_Status;
  }

  std::uint32_t Execute(aspi::SRB_ExecSCSICmd& block) {
    script_->commands.push_back(block);
    script_->commandBlocks.push_back(&block);
    if (block.CDBByte[0] == opcode::kInquiry) return Identify(block);
    const CommandAnswer answer = script_->answer;
    switch (answer.finish) {
      case Finish::InTheCall:
        Complete(block, answer);
        return answer.status;
      case Finish::FromAnotherThread:
        threads_.emplace_back([&block, answer] {
          std::this_thread::sleep_for(2ms);  // so that the caller is likely waiting already
          Complete(block, answer);
        });
        return aspi::SS_PENDING;
      case Finish::Never:
        kept_.push_back({&block, EventOf(block)});
        return aspi::SS_PENDING;
    }
    return aspi::SS_ERR;
  }

  std::uint32_t Identify(aspi::SRB_ExecSCSICmd& block) {
    const auto found = script_->identities.find({block.SRB_HaId, block.SRB_Target});
    if (found == script_->identities.end()) {
      Complete(block, {.status = aspi::SS_ERR, .sense = {0x70, 0, 0x05}});
      return aspi::SS_ERR;
    }
    block.SRB_BufPointer[4] = 31;  // the bytes after byte 4 of the standard 36
    std::memcpy(block.SRB_BufPointer + 8, found->second.data(), found->second.size());
    Complete(block, {});
    return aspi::SS_COMP;
  }

  std::uint32_t Abort(aspi::SRB_Abort& block) {
    script_->aborts.push_back(block);
    const auto found = std::ranges::find(kept_, block.SRB_ToAbort, &KeptBlock::block);
    if (script_->answer.honoursAbort && found != kept_.end()) {
      CommandAnswer aborted = script_->answer;
      aborted.status = aspi::SS_ABORTED;
      Complete(*found->block, aborted);
      kept_.erase(found);
    }
    block.SRB_Status = aspi::SS_COMP;
    return aspi::SS_COMP;
  }

  // A block the layer holds on to, with the event it was told to signal (as
  // the layer read it when the block was handed over).
  struct KeptBlock {
    aspi::SRB_ExecSCSICmd* block;
    HANDLE event;
  };

  std::shared_ptr<LayerScript> script_;
  std::vector<KeptBlock> kept_;
  std::vector<std::thread> threads_;
};

// Every completion event as the transport must ask for it.
HANDLE WINAPI CheckedEvent(LPSECURITY_ATTRIBUTES security, BOOL manualReset, BOOL signalled,
                           LPCSTR name) {
  EXPECT_EQ(security, nullptr);
  EXPECT_TRUE(manualReset);
  EXPECT_FALSE(signalled);
  EXPECT_EQ(name, nullptr);
  return ::CreateEventA(security, manualReset, signalled, name);
}

HANDLE WINAPI NoEvent(LPSECURITY_ATTRIBUTES, BOOL, BOOL, LPCSTR) { return nullptr; }

// Waits short enough for a test; the commands under test have time-out 0.
constexpr AspiWaits kShortWaits{20ms, 20ms};

struct Rig {
  std::shared_ptr<LayerScript> script;
  std::vector<std::string> notices;
  std::unique_ptr<AspiTransport> transport;
  std::vector<std::unique_ptr<DriveDevice>> offered;

  explicit Rig(LayerScript setup, AspiWaits waits = {}, EventCreator createEvent = &CheckedEvent)
      : script(std::make_shared<LayerScript>(std::move(setup))),
        transport(std::make_unique<AspiTransport>(
            std::make_unique<FakeLayer>(script),
            [this](std::string_view text) { notices.emplace_back(text); }, waits, createEvent)) {}

  void Scan() {
    transport->ScanDrives([this](std::unique_ptr<DriveDevice> device) {
      offered.push_back(std::move(device));
      return true;
    });
  }

  // Loaded and scanned, with at least one device offered.
  void Start() {
    ASSERT_TRUE(transport->Init());
    Scan();
    ASSERT_FALSE(offered.empty());
  }

  std::vector<std::string> Locations() const {
    std::vector<std::string> locations;
    for (const auto& device : offered) locations.push_back(device->Location());
    return locations;
  }

  // Devices first, then the transport, as the registry lets them go.
  void Release() {
    offered.clear();
    transport.reset();
  }
};

LayerScript OneCdDrive(CommandAnswer answer = {}) {
  LayerScript script;
  script.adapters[0].targets[0] = {};
  script.answer = answer;
  return script;
}

const Cdb kTestUnitReady = BuildTestUnitReady();
const CommandRequest kNoDataCommand{std::span(kTestUnitReady).first(6), DataDirection::NoData,
                                    nullptr, 0, 0s};

// --- Loading -----------------------------------------------------------------

TEST(AspiLoadTest, AcceptsOnlyACompleteOrAdapterlessLayer) {
  struct Case {
    const char* name;
    bool loads;
    std::uint32_t supportInfo;
    bool usable;
    std::vector<std::string> notices;
    std::vector<std::uint8_t> inquiredAdapters;  // by the scan that follows
  };
  const std::vector<Case> cases = {
      {"no library", false, 0x0101, false, {kCantLoad}, {}},
      {"SS_COMP", true, 0x0102, true, {}, {0, 1}},
      {"SS_NO_ADAPTERS", true, 0xE800, true, {}, {}},
      {"SS_ERR with adapters", true, 0x0402, false, {kUnexpected, kCantLoad}, {}},
      {"SS_PENDING", true, 0x0001, false, {kUnexpected, kCantLoad}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LayerScript script;
    script.loads = c.loads;
    script.supportInfo = c.supportInfo;
    script.adapters.resize(2);
    Rig rig(std::move(script));
    EXPECT_EQ(rig.transport->Init(), c.usable);
    EXPECT_EQ(rig.notices, c.notices);
    EXPECT_EQ(rig.script->supportInfoAsked, c.loads);
    rig.Scan();
    EXPECT_EQ(rig.script->inquiredAdapters, c.inquiredAdapters);
  }
}

TEST(AspiLoadTest, AsksForTheStandardInquiryDataOnly) {
  Rig rig(LayerScript{});
  EXPECT_EQ(rig.transport->InquiryLength(), 36);
}

// --- Scanning ----------------------------------------------------------------

TEST(AspiScanTest, ScansSixteenTargetsOnlyWhenTheAdapterSaysSo) {
  struct Case {
    std::uint8_t targetsByte;
    std::uint8_t scanned;
  };
  for (const Case c : {Case{0, 8}, Case{8, 8}, Case{15, 8}, Case{16, 16}, Case{32, 8}}) {
    SCOPED_TRACE(static_cast<int>(c.targetsByte));
    LayerScript script;
    script.adapters[0].targetsByte = c.targetsByte;
    for (std::uint8_t target = 0; target < 32; ++target) script.adapters[0].targets[target] = {};
    Rig rig(std::move(script));
    ASSERT_TRUE(rig.transport->Init());
    rig.Scan();
    std::vector<Address> expected;
    for (std::uint8_t target = 0; target < c.scanned; ++target) expected.emplace_back(0, target);
    EXPECT_EQ(rig.script->typeQueries, expected);
    EXPECT_EQ(rig.offered.size(), c.scanned);
  }
}

TEST(AspiScanTest, OffersOnlyCdDvdDevicesOfAdaptersThatAnswer) {
  LayerScript script;
  script.supportInfo = 0x0103;
  script.adapters.resize(3);
  script.adapters[0] = {.status = aspi::SS_ERR, .targets = {{0, {}}}};
  script.adapters[1].targets = {{0, {}},
                                {1, {.type = kDiskDevice}},
                                {2, {.status = aspi::SS_ERR}},  // says CD/DVD, but failed
                                {3, {}}};
  script.adapters[2].targets = {{5, {}}};
  Rig rig(std::move(script));
  ASSERT_TRUE(rig.transport->Init());
  rig.Scan();
  EXPECT_THAT(rig.Locations(), ElementsAre("HA 1 target 0", "HA 1 target 3", "HA 2 target 5"));
  EXPECT_THAT(rig.script->inquiredAdapters, ElementsAre(0, 1, 2));
  // Nothing of adapter 0 is asked; every query is for logical unit 0.
  EXPECT_TRUE(std::ranges::none_of(rig.script->typeQueries,
                                   [](const Address& address) { return address.first == 0; }));
  EXPECT_EQ(rig.script->typeQueries.size(), 16u);
  EXPECT_THAT(rig.script->typeQueryLuns, ::testing::Each(0));
  EXPECT_THAT(rig.script->commands, IsEmpty());  // the registry sends the INQUIRY
}

TEST(AspiScanTest, StopsWhenTheSinkSaysSo) {
  LayerScript script;
  script.adapters[0].targets = {{0, {}}, {1, {}}};
  Rig rig(std::move(script));
  ASSERT_TRUE(rig.transport->Init());
  std::size_t offered = 0;
  rig.transport->ScanDrives([&offered](std::unique_ptr<DriveDevice>) { return ++offered < 1; });
  EXPECT_EQ(offered, 1u);
  EXPECT_THAT(rig.script->typeQueries, ElementsAre(Address{0, 0}));
}

// --- Command blocks ----------------------------------------------------------

TEST(AspiCommandBlockTest, FillsTheFieldsAndUsesTheCallersBufferInPlace) {
  struct Case {
    DataDirection direction;
    std::uint8_t flags;
  };
  std::array<std::uint8_t, 64> data{};
  const Cdb cdb = BuildWritePageById(1, 0x4000, 64);
  for (const Case c : {Case{DataDirection::ToDrive, 0x10}, Case{DataDirection::FromDrive, 0x08},
                       Case{DataDirection::NoData, 0x00}}) {
    SCOPED_TRACE(static_cast<int>(c.direction));
    const CommandRequest request{std::span(cdb).first(10), c.direction, data.data(),
                                 static_cast<std::uint32_t>(data.size()), 200s};
    const aspi::SRB_ExecSCSICmd block = BuildAspiCommand(1, 3, request);
    EXPECT_EQ(block.SRB_Cmd, aspi::SC_EXEC_SCSI_CMD);
    EXPECT_EQ(block.SRB_Status, aspi::SS_PENDING);
    EXPECT_EQ(block.SRB_HaId, 1);
    EXPECT_EQ(block.SRB_Flags, c.flags);
    EXPECT_EQ(block.SRB_Target, 3);
    EXPECT_EQ(block.SRB_Lun, 0);
    EXPECT_EQ(block.SRB_BufLen, 64u);
    EXPECT_EQ(block.SRB_BufPointer, data.data());
    EXPECT_EQ(block.SRB_SenseLen, 14);
    EXPECT_EQ(block.SRB_CDBLen, 10);
    EXPECT_EQ(block.SRB_HaStat, 0);
    EXPECT_EQ(block.SRB_PostProc, nullptr);
    EXPECT_THAT(block.CDBByte, ElementsAre(0x3B, 0x07, 0x01, 0x00, 0x40, 0x00, 0x00, 0x00, 0x40,
                                           0x00, 0, 0, 0, 0, 0, 0));
  }
}

TEST(AspiCommandBlockTest, MapsTheFinishedBlock) {
  struct Case {
    const char* name;
    std::uint8_t status;
    std::uint8_t haStat;
    CommandResult result;
    std::optional<SenseBytes> sense;
  };
  const std::vector<Case> cases = {
      {"SS_COMP", aspi::SS_COMP, aspi::HASTAT_OK, CommandResult::Completed, std::nullopt},
      {"SS_COMP, stale host status", aspi::SS_COMP, aspi::HASTAT_TIMEOUT, CommandResult::Completed,
       std::nullopt},
      {"SS_ERR, HASTAT_TIMEOUT", aspi::SS_ERR, aspi::HASTAT_TIMEOUT, CommandResult::TimedOut,
       SenseBytes{2, 0x3A, 0}},
      {"SS_ERR, selection time-out", aspi::SS_ERR, kSelectionTimeout, CommandResult::Failed,
       SenseBytes{2, 0x3A, 0}},
      {"SS_ABORTED", aspi::SS_ABORTED, aspi::HASTAT_OK, CommandResult::Failed,
       SenseBytes{2, 0x3A, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    aspi::SRB_ExecSCSICmd block{};
    block.SRB_Status = c.status;
    block.SRB_HaStat = c.haStat;
    std::ranges::copy(kNoDiscSense, std::begin(block.SenseArea));
    const TransportReply reply = ClassifyAspiCommand(block);
    EXPECT_EQ(reply.result, c.result);
    EXPECT_EQ(reply.sense, c.sense);
  }
}

// --- Through the registry ----------------------------------------------------

TEST(AspiRegistryTest, RegistersTargetsThatAnswerInquiryWithoutLeavingAGap) {
  constexpr const char* kFirst = "VARN    DVD RW LPX-650A 1.02";
  constexpr const char* kSecond = "VARN    DVD RW LPX-412A 2.10";
  auto script = std::make_shared<LayerScript>();
  script->adapters[0].targets = {{0, {}}, {1, {}}, {4, {}}};
  script->identities = {{{0, 0}, kFirst}, {{0, 4}, kSecond}};
  script->answer = {.status = aspi::SS_ERR, .haStat = aspi::HASTAT_TIMEOUT, .sense = kNoDiscSense};
  {
    DriveRegistry registry(
        std::make_unique<AspiTransport>(std::make_unique<FakeLayer>(script), TransportNotice{}));
    ASSERT_TRUE(registry.InitTransport());
    ASSERT_EQ(registry.EnumerateDrives(), 2);
    EXPECT_EQ(registry.FormatDriveText(), kFirst);
    ASSERT_TRUE(registry.SelectDrive(1));
    EXPECT_EQ(registry.FormatDriveText(), kSecond);
    EXPECT_EQ(registry.SelectedLocation(), "HA 0 target 4");

    // The enumeration INQUIRY as the layer saw it.
    ASSERT_EQ(script->commands.size(), 3u);
    const aspi::SRB_ExecSCSICmd& inquiry = script->commands[2];
    EXPECT_EQ(inquiry.SRB_HaId, 0);
    EXPECT_EQ(inquiry.SRB_Target, 4);
    EXPECT_EQ(inquiry.SRB_Flags, aspi::SRB_DIR_IN | aspi::SRB_EVENT_NOTIFY);
    EXPECT_NE(inquiry.SRB_PostProc, nullptr);
    EXPECT_EQ(inquiry.SRB_BufLen, 36u);
    EXPECT_EQ(inquiry.SRB_CDBLen, 6);
    EXPECT_THAT(std::span(inquiry.CDBByte).first(6), ElementsAre(0x12, 0, 0, 0, 0x24, 0));

    const Cdb tur = BuildTestUnitReady();
    const CommandReply reply = registry.ExecuteCommand(tur, DataDirection::NoData, nullptr, 0, 15s);
    EXPECT_EQ(reply.category, ReplyCategory::TimedOut);
    EXPECT_EQ(reply.sense, (SenseBytes{0x02, 0x3A, 0x00}));
  }
  EXPECT_TRUE(script->destroyed);
}

// --- Waiting for the layer ---------------------------------------------------

TEST(AspiExecuteTest, WaitsForTheEventOfACommandFinishedElsewhere) {
  struct Case {
    CommandAnswer answer;
    CommandResult result;
    std::optional<SenseBytes> sense;
  };
  const std::vector<Case> cases = {
      {{.finish = Finish::FromAnotherThread}, CommandResult::Completed, std::nullopt},
      {{.finish = Finish::FromAnotherThread,
        .status = aspi::SS_ERR,
        .haStat = aspi::HASTAT_TIMEOUT,
        .sense = kNoDiscSense},
       CommandResult::TimedOut,
       SenseBytes{2, 0x3A, 0}},
      {{.finish = Finish::FromAnotherThread,
        .status = aspi::SS_ERR,
        .haStat = kSelectionTimeout,
        .sense = kNoDiscSense},
       CommandResult::Failed,
       SenseBytes{2, 0x3A, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.result));
    Rig rig(OneCdDrive(c.answer));
    rig.Start();
    const TransportReply reply = rig.offered[0]->Execute(kNoDataCommand);
    EXPECT_EQ(reply.result, c.result);
    EXPECT_EQ(reply.sense, c.sense);
    ASSERT_EQ(rig.script->commands.size(), 1u);
    EXPECT_EQ(rig.script->commands[0].SRB_Flags, aspi::SRB_EVENT_NOTIFY);
    EXPECT_NE(rig.script->commands[0].SRB_PostProc, nullptr);
    EXPECT_THAT(rig.script->aborts, IsEmpty());
  }
}

TEST(AspiExecuteTest, PollsTheStatusWhenNoEventCanBeCreated) {
  Rig rig(OneCdDrive({.finish = Finish::FromAnotherThread}), {}, &NoEvent);
  rig.Start();
  EXPECT_EQ(rig.offered[0]->Execute(kNoDataCommand).result, CommandResult::Completed);
  ASSERT_EQ(rig.script->commands.size(), 1u);
  EXPECT_EQ(rig.script->commands[0].SRB_Flags, 0);
  EXPECT_EQ(rig.script->commands[0].SRB_PostProc, nullptr);
}

// A layer that never finishes the command and ignores the abort: the command
// times out within its bound, the block stays alive until the layer is gone
// (which writes into it and signals its event), and the device sends nothing
// more. With and without an event.
TEST(AspiExecuteTest, ParksACommandTheLayerNeverGivesBack) {
  for (const EventCreator createEvent : {&CheckedEvent, &NoEvent}) {
    SCOPED_TRACE(createEvent == &NoEvent ? "polled" : "with event");
    LayerScript script = OneCdDrive({.finish = Finish::Never});
    script.adapters[0].targets[1] = {};
    Rig rig(std::move(script), kShortWaits, createEvent);
    rig.Start();
    ASSERT_EQ(rig.offered.size(), 2u);

    const TransportReply reply = rig.offered[1]->Execute(kNoDataCommand);
    EXPECT_EQ(reply.result, CommandResult::TimedOut);
    EXPECT_EQ(reply.sense, std::nullopt);
    ASSERT_EQ(rig.script->aborts.size(), 1u);
    const aspi::SRB_Abort& abort = rig.script->aborts[0];
    EXPECT_EQ(abort.SRB_Cmd, aspi::SC_ABORT_SRB);
    EXPECT_EQ(abort.SRB_HaId, 0);
    EXPECT_EQ(abort.SRB_ToAbort, rig.script->commandBlocks.at(0));

    // The device is given up; the other one on the same layer still works.
    EXPECT_EQ(rig.offered[1]->Execute(kNoDataCommand).result, CommandResult::Failed);
    EXPECT_EQ(rig.script->commands.size(), 1u);
    rig.script->answer = {};
    EXPECT_EQ(rig.offered[0]->Execute(kNoDataCommand).result, CommandResult::Completed);
    EXPECT_EQ(rig.script->commands.size(), 2u);

    const std::shared_ptr<LayerScript> recorded = rig.script;
    rig.Release();
    EXPECT_TRUE(recorded->destroyed);
    EXPECT_EQ(recorded->lateWrites, 1);
    EXPECT_TRUE(recorded->lateEventsSignalled);
  }
}

// The bound ran out, so the caller hears of a time-out whatever status the
// aborted block carries; the sense bytes are still the block's.
TEST(AspiExecuteTest, ACommandTheAbortFinishesReportsATimeOut) {
  Rig rig(OneCdDrive({.finish = Finish::Never,
                      .haStat = kSelectionTimeout,
                      .sense = kNoDiscSense,
                      .honoursAbort = true}),
          kShortWaits);
  rig.Start();
  const TransportReply reply = rig.offered[0]->Execute(kNoDataCommand);
  EXPECT_EQ(reply.result, CommandResult::TimedOut);
  EXPECT_EQ(reply.sense, (SenseBytes{2, 0x3A, 0}));
  EXPECT_EQ(rig.script->aborts.size(), 1u);

  // Nothing was left with the layer, so the device stays in use.
  rig.script->answer = {};
  EXPECT_EQ(rig.offered[0]->Execute(kNoDataCommand).result, CommandResult::Completed);
  EXPECT_EQ(rig.script->commands.size(), 2u);
  const std::shared_ptr<LayerScript> recorded = rig.script;
  rig.Release();
  EXPECT_EQ(recorded->lateWrites, 0);
}

TEST(AspiExecuteTest, RefusesACdbLongerThanTheBlockHolds) {
  Rig rig(OneCdDrive());
  rig.Start();
  const std::array<std::uint8_t, 17> cdb{};
  EXPECT_EQ(rig.offered[0]->Execute({cdb, DataDirection::NoData, nullptr, 0, 15s}).result,
            CommandResult::Failed);
  EXPECT_THAT(rig.script->commands, IsEmpty());
}

}  // namespace
}  // namespace tslflash
