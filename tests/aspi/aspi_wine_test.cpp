// The ASPI transport as the tool uses it on the 9x family, against the test
// WNASPI32.dll beside this executable: the library is loaded by name, the
// request blocks, events and aborts are real, and the layer's drives are
// emulators. Under wine the layer must be preferred to wine's own
// (WINEDLLOVERRIDES=wnaspi32=n; ctest sets it).
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tests/aspi/test_layer_control.h"
#include "tests/support/emulated_dialog.h"
#include "tests/update/run_harness.h"
#include "tools/package_builder.h"
#include "transport/aspi_layer.h"
#include "transport/aspi_request_blocks.h"
#include "transport/aspi_transport.h"
#include "transport/cdb.h"
#include "transport/drive_registry.h"
#include "transport/windows_transport.h"

namespace tslflash {
namespace {

using aspi_test::Completion;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Bytes = std::vector<std::uint8_t>;
using Texts = std::vector<std::string>;
using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr std::string_view kUnexpectedFailure = "Unexpected ASPI Failure";
constexpr std::string_view kCantLoad = "Can't load WNASPI32.DLL!!";
constexpr std::uint8_t kDiskDevice = 0x00;
constexpr std::uint8_t kSelectionTimeout = 0x11;  // a host adapter failure that is not a time-out
constexpr seconds kCommandTimeout{15};

template <typename Function>
Function Control(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
}

// The test layer's controls, found by name in the loaded module.
struct TestLayer {
  bool Bind(HMODULE module) {
    reset = Control<aspi_test::ResetFunction>(module, aspi_test::kReset);
    setSupportStatus =
        Control<aspi_test::SetSupportStatusFunction>(module, aspi_test::kSetSupportStatus);
    addAdapter = Control<aspi_test::AddAdapterFunction>(module, aspi_test::kAddAdapter);
    setTarget = Control<aspi_test::SetTargetFunction>(module, aspi_test::kSetTarget);
    setCompletion = Control<aspi_test::SetCompletionFunction>(module, aspi_test::kSetCompletion);
    failNext = Control<aspi_test::FailNextFunction>(module, aspi_test::kFailNext);
    requestCount = Control<aspi_test::RequestCountFunction>(module, aspi_test::kRequestCount);
    pendingCount = Control<aspi_test::PendingCountFunction>(module, aspi_test::kPendingCount);
    receivedImage = Control<aspi_test::ReceivedImageFunction>(module, aspi_test::kReceivedImage);
    return reset && setSupportStatus && addAdapter && setTarget && setCompletion && failNext &&
           requestCount && pendingCount && receivedImage;
  }

  aspi_test::ResetFunction reset = nullptr;
  aspi_test::SetSupportStatusFunction setSupportStatus = nullptr;
  aspi_test::AddAdapterFunction addAdapter = nullptr;
  aspi_test::SetTargetFunction setTarget = nullptr;
  aspi_test::SetCompletionFunction setCompletion = nullptr;
  aspi_test::FailNextFunction failNext = nullptr;
  aspi_test::RequestCountFunction requestCount = nullptr;
  aspi_test::PendingCountFunction pendingCount = nullptr;
  aspi_test::ReceivedImageFunction receivedImage = nullptr;
};

// One emulated drive in the description format; `more` adds keys.
std::string DriveJson(std::string_view product, std::string_view more = "") {
  return R"({"drives": [{"vendor": "VARN", "product": ")" + std::string(product) +
         R"(", "revision": "1.00")" + std::string(more) + "}]}";
}

// A CreateEventA that has no event to give.
HANDLE WINAPI NoEvent(LPSECURITY_ATTRIBUTES, BOOL, BOOL, LPCSTR) { return nullptr; }

class AspiWineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Held for the whole run: the layer's set-up outlives each transport
    // that loads and frees the library.
    static const HMODULE module = ::LoadLibraryA("WNASPI32");
    ASSERT_NE(module, nullptr) << "WNASPI32.dll is missing beside the test";
    ASSERT_TRUE(layer.Bind(module))
        << "the WNASPI32 loaded is not the test layer; run with WINEDLLOVERRIDES=wnaspi32=n";
    layer.reset();
  }
  void TearDown() override {
    if (layer.reset) layer.reset();
  }

  void PutDrive(std::uint8_t adapter, std::uint8_t target, const std::string& json) {
    PutDevice(adapter, target, aspi::SS_COMP, aspi::kCdDvdDevice, json.c_str());
  }
  void PutDevice(std::uint8_t adapter, std::uint8_t target, std::uint8_t status, std::uint8_t type,
                 const char* json) {
    const char* error = layer.setTarget(adapter, target, status, type, json);
    ASSERT_EQ(error, nullptr) << error;
  }

  std::unique_ptr<DriveRegistry> MakeRegistry(AspiWaits waits = {},
                                              EventCreator createEvent = &::CreateEventA) {
    return std::make_unique<DriveRegistry>(std::make_unique<AspiTransport>(
        MakeWnAspi32Layer(), [this](std::string_view text) { notices.emplace_back(text); }, waits,
        createEvent));
  }

  // The products of the registered drives, slot by slot.
  static Texts Products(DriveRegistry& registry) {
    Texts products;
    for (std::uint8_t slot = 0; slot < registry.GetDriveCount(); ++slot) {
      EXPECT_TRUE(registry.SelectDrive(slot));
      const std::string text = registry.FormatDriveText().value_or("");
      const std::string product = text.substr(8, 16);
      products.push_back(product.substr(0, product.find_last_not_of(' ') + 1));
    }
    return products;
  }

  std::optional<Bytes> ReceivedImage(std::uint8_t adapter, std::uint8_t target) const {
    const std::uint32_t length = layer.receivedImage(adapter, target, nullptr, 0);
    if (length == 0) return std::nullopt;
    Bytes image(length);
    layer.receivedImage(adapter, target, image.data(), length);
    return image;
  }

  TestLayer layer;
  Texts notices;
};

// The transport scans 8 targets unless the adapter reports 16; drives at
// targets 0, 7, 8 and 15 show where each scan stops.
TEST_F(AspiWineTest, AdaptersReportingSixteenTargetsAreScannedToFifteenOthersToSeven) {
  struct Case {
    std::uint8_t targetsByte;
    Texts found;
    std::uint32_t probed;
  };
  const Case cases[] = {
      {0, {"T0", "T7"}, 8},
      {8, {"T0", "T7"}, 8},
      {15, {"T0", "T7"}, 8},
      {16, {"T0", "T7", "T8", "T15"}, 16},
  };
  constexpr std::uint8_t kDriveTargets[] = {0, 7, 8, 15};
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.targetsByte));
    layer.reset();
    const std::uint8_t adapter = layer.addAdapter(aspi::SS_COMP, c.targetsByte);
    for (const std::uint8_t target : kDriveTargets) {
      PutDrive(adapter, target, DriveJson("T" + std::to_string(target)));
    }
    const auto registry = MakeRegistry();
    ASSERT_TRUE(registry->InitTransport());
    EXPECT_EQ(registry->EnumerateDrives(), c.found.size());
    EXPECT_EQ(Products(*registry), c.found);
    EXPECT_EQ(layer.requestCount(aspi::SC_GET_DEV_TYPE), c.probed);
  }
}

TEST_F(AspiWineTest, FailedAdaptersNonCdDevicesAndFailedDeviceQueriesAreSkipped) {
  const std::uint8_t failing = layer.addAdapter(aspi::SS_ERR, 8);
  PutDrive(failing, 0, DriveJson("ON FAILED HA"));
  const std::uint8_t working = layer.addAdapter(aspi::SS_COMP, 8);
  PutDevice(working, 0, aspi::SS_COMP, kDiskDevice, DriveJson("DISK").c_str());
  PutDevice(working, 1, aspi::SS_ERR, aspi::kCdDvdDevice, DriveJson("NO DEVICE TYPE").c_str());
  PutDrive(working, 2, DriveJson("CD"));

  const auto registry = MakeRegistry();
  ASSERT_TRUE(registry->InitTransport());
  EXPECT_EQ(registry->EnumerateDrives(), 1);
  EXPECT_THAT(Products(*registry), ElementsAre("CD"));
  EXPECT_EQ(layer.requestCount(aspi::SC_HA_INQUIRY), 2u);
  EXPECT_EQ(layer.requestCount(aspi::SC_GET_DEV_TYPE), 8u);   // the failed adapter's none
  EXPECT_EQ(layer.requestCount(aspi::SC_EXEC_SCSI_CMD), 1u);  // INQUIRY of the CD drive only
}

TEST_F(AspiWineTest, ATargetWhoseInquiryFailsLeavesNoGap) {
  const std::uint8_t adapter = layer.addAdapter(aspi::SS_COMP, 8);
  PutDrive(adapter, 1, DriveJson("FIRST"));
  PutDrive(adapter, 2, DriveJson("MUTE", R"(, "answersInquiry": false)"));
  PutDrive(adapter, 3, DriveJson("SECOND"));

  const auto registry = MakeRegistry();
  ASSERT_TRUE(registry->InitTransport());
  EXPECT_EQ(registry->EnumerateDrives(), 2);
  EXPECT_THAT(Products(*registry), ElementsAre("FIRST", "SECOND"));
  ASSERT_TRUE(registry->SelectDrive(1));
  EXPECT_EQ(registry->SelectedLocation(), "HA 0 target 3");
  EXPECT_EQ(layer.requestCount(aspi::SC_EXEC_SCSI_CMD), 3u);
}

TEST_F(AspiWineTest, SupportStatusDecidesWhetherTheLayerIsUsable) {
  struct Case {
    const char* name;
    std::uint8_t status;
    std::uint8_t adapters;  // each with one drive
    bool usable;
    Texts notices;
  };
  const Texts refused = {std::string(kUnexpectedFailure), std::string(kCantLoad)};
  const Case cases[] = {
      {"adapters present", aspi::SS_COMP, 1, true, {}},
      {"no adapters", aspi::SS_NO_ADAPTERS, 0, true, {}},
      {"failed", aspi::SS_ERR, 1, false, refused},
      {"still pending", aspi::SS_PENDING, 1, false, refused},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    layer.reset();
    notices.clear();
    layer.setSupportStatus(c.status);
    for (int adapter = 0; adapter < c.adapters; ++adapter) {
      PutDrive(layer.addAdapter(aspi::SS_COMP, 8), 0, DriveJson("CD"));
    }

    const auto registry = MakeRegistry();
    ASSERT_EQ(registry->InitTransport(), c.usable);
    EXPECT_EQ(notices, c.notices);
    if (!c.usable) continue;
    EXPECT_EQ(registry->EnumerateDrives(), c.adapters);
    EXPECT_EQ(layer.requestCount(aspi::SC_HA_INQUIRY), c.adapters);
  }
}

// How the layer completes requests: in the call, later from its worker with
// the request's event, or later without an event, the transport polling.
struct CompletionCase {
  const char* name;
  Completion completion;
  EventCreator createEvent;
};
const CompletionCase kCompletions[] = {
    {"synchronous", Completion::Synchronous, &::CreateEventA},
    {"asynchronous with an event", Completion::Asynchronous, &::CreateEventA},
    {"asynchronous, polled", Completion::Asynchronous, &NoEvent},
};

// A command ends TimedOut exactly when the host adapter status says time-out;
// either way the sense bytes come from the block's sense area.
TEST_F(AspiWineTest, RequestEndingsMapToResultsAndSenseInEveryCompletionMode) {
  struct Forced {
    std::uint8_t haStat;
    SenseBytes sense;
  };
  struct Case {
    const char* name;
    std::string driveKeys;
    std::optional<Forced> forced;
    CommandResult result;
    SenseBytes sense;
  };
  const std::string kMedium = R"(, "medium": "present")";
  const Case cases[] = {
      {"completed", kMedium, {}, CommandResult::Completed, {}},
      {"host adapter time-out",
       kMedium,
       Forced{aspi::HASTAT_TIMEOUT, {0x06, 0x29, 0x01}},
       CommandResult::TimedOut,
       {0x06, 0x29, 0x01}},
      {"other host adapter failure",
       kMedium,
       Forced{kSelectionTimeout, {0x0B, 0x47, 0x02}},
       CommandResult::Failed,
       {0x0B, 0x47, 0x02}},
      {"drive's CHECK CONDITION", "", {}, CommandResult::Failed, {0x02, 0x3A, 0x00}},
      {"drive's time-out",
       kMedium + R"(, "faults": [{"kind": "timeout", "opcode": "00"}])",
       {},
       CommandResult::TimedOut,
       {}},
  };
  for (const CompletionCase& mode : kCompletions) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(mode.name) + ", " + c.name);
      layer.reset();
      PutDrive(layer.addAdapter(aspi::SS_COMP, 8), 0, DriveJson("CD", c.driveKeys));
      layer.setCompletion(static_cast<std::uint8_t>(mode.completion));
      const auto registry = MakeRegistry({}, mode.createEvent);
      ASSERT_TRUE(registry->InitTransport());
      ASSERT_EQ(registry->EnumerateDrives(), 1);  // its INQUIRY data came back in this mode
      if (c.forced) {
        layer.failNext(1, c.forced->haStat, c.forced->sense.key, c.forced->sense.asc,
                       c.forced->sense.ascq);
      }

      const Cdb cdb = BuildTestUnitReady();
      const CommandReply reply =
          registry->ExecuteCommand(cdb, DataDirection::NoData, nullptr, 0, kCommandTimeout);
      EXPECT_EQ(reply.Result(), c.result);
      EXPECT_EQ(reply.sense, c.sense);
      EXPECT_EQ(layer.pendingCount(), 0u);
    }
  }
}

// A request the layer keeps is aborted once the command's time-out and the
// grace have passed and counts as timed out; the abort gives it back, so the
// drive stays usable.
TEST_F(AspiWineTest, ARequestTheLayerNeverFinishesIsAbortedAfterTheBound) {
  PutDrive(layer.addAdapter(aspi::SS_COMP, 8), 0, DriveJson("CD", R"(, "medium": "present")"));
  auto registry = MakeRegistry({.grace = milliseconds(50), .abortWait = milliseconds(5000)});
  ASSERT_TRUE(registry->InitTransport());
  ASSERT_EQ(registry->EnumerateDrives(), 1);
  const Cdb cdb = BuildTestUnitReady();

  layer.setCompletion(static_cast<std::uint8_t>(Completion::Never));
  EXPECT_EQ(registry->ExecuteCommand(cdb, DataDirection::NoData, nullptr, 0, seconds(0)),
            CommandResult::TimedOut);
  EXPECT_EQ(layer.requestCount(aspi::SC_ABORT_SRB), 1u);
  EXPECT_EQ(layer.pendingCount(), 0u);

  layer.setCompletion(static_cast<std::uint8_t>(Completion::Synchronous));
  EXPECT_EQ(registry->ExecuteCommand(cdb, DataDirection::NoData, nullptr, 0, kCommandTimeout),
            CommandResult::Completed);
  registry.reset();  // frees the library
  registry = MakeRegistry();
  ASSERT_TRUE(registry->InitTransport());
  EXPECT_EQ(registry->EnumerateDrives(), 1);
}

// The whole road through the main dialog on the 9x-family transport: start-up,
// the drive tree, the Upgrade checks, the run on the worker, the restart
// offer; the drive behind the layer ends up holding the package's image.
TEST_F(AspiWineTest, AWholeUpdateFlashesTheLayersDriveWithThePackagesImage) {
  constexpr TreeItem kFirstDrive = 2;  // the root is the first item
  const std::string drive = R"({"drives": [{"vendor": "VARN", "product": "DVD RW LPX-650A",
      "revision": "1.02", "imageType": "3120",
      "parameterBlocks": {"02": [5, 0, 18, 52], "24": [5, 0, 18, 52]}}]})";
  PackageRecipe recipe;
  recipe.protocolDigit = '0';
  recipe.inquiryId = "VARN    DVD RW LPX-650A 1.07";
  recipe.altProductName = "TK300B";
  recipe.altProductNameNulPadded = true;
  recipe.variantMark = "TW";
  recipe.revisionPattern = "1.**";
  recipe.image = SynthesizeImage(128 * 1024, 1107);

  for (const Completion completion : {Completion::Synchronous, Completion::Asynchronous}) {
    SCOPED_TRACE(static_cast<int>(completion));
    layer.reset();
    notices.clear();
    PutDrive(layer.addAdapter(aspi::SS_COMP, 8), 3, drive);
    layer.setCompletion(static_cast<std::uint8_t>(completion));
    testing::EmulatedDialog d;
    d.package = testing::BuiltPackage(recipe);
    d.MakeDialogOver(
        MakeWindowsTransport(WindowsPlatform::NineXFamily,
                             [this](std::string_view text) { notices.emplace_back(text); }));
    int rebootRequests = 0;
    d.dialog->UseRestarter(std::make_unique<testing::RecordingRestarter>(rebootRequests, true));

    d.view.Answer({BoxAnswer::Ok});  // the start-up warning
    ASSERT_TRUE(d.dialog->OnInitDialog());
    d.view.SelectTreeItem(kFirstDrive);
    d.dialog->OnDriveSelChanged(d.view.GetSelectedTreeItem());
    d.dialog->OnUpgrade();
    ASSERT_EQ(d.view.workers.size(), 1u) << d.view.texts[ControlId::Log];
    d.view.Answer({BoxAnswer::Ok, BoxAnswer::Ok});  // upgrade now, then restart
    d.view.workers.front()();

    EXPECT_TRUE(d.dialog->LastRunCompleted()) << d.view.texts[ControlId::Log];
    EXPECT_EQ(ReceivedImage(0, 3), recipe.image);
    EXPECT_EQ(rebootRequests, 1);
    EXPECT_THAT(notices, IsEmpty());
    EXPECT_EQ(layer.pendingCount(), 0u);
  }
}

}  // namespace
}  // namespace tslflash
