// Reading drive descriptions: the sample files, every key, and one clear
// message naming the place of the first problem.
#include "emulator/drive_description.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

namespace tslflash::emu {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

const std::filesystem::path kDrives = TSLFLASH_EMULATOR_DRIVES_DIR;

TEST(DriveDescriptionFiles, DefaultDriveMatchesTheSamplePackage) {
  const LoadedDrives loaded = LoadDriveDescriptionFile(kDrives / "default.json");
  ASSERT_TRUE(loaded.Ok()) << loaded.error;
  ASSERT_EQ(loaded.drives.size(), 1u);
  const DriveDescription& d = loaded.drives[0];
  EXPECT_EQ(d.vendor + "|" + d.product + "|" + d.revision, "VARN|DVD RW LPX-650A|1.02");
  EXPECT_FALSE(d.mediumPresent);
  EXPECT_EQ(d.imageType, 0x3120);
  EXPECT_EQ(ExpectedImageSize(d), 0x20000u);
  EXPECT_THAT(d.parameterBlocks.at(0x02), ElementsAre(5, 0, 0x12, 0x34));
  EXPECT_THAT(d.parameterBlocks.at(0x24), ElementsAre(5, 0, 0x12, 0x34));
  EXPECT_TRUE(d.vendorCommands);
}

TEST(DriveDescriptionFiles, SeveralDrivesIncludeOneOfAnotherMaker) {
  const LoadedDrives loaded = LoadDriveDescriptionFile(kDrives / "several.json");
  ASSERT_TRUE(loaded.Ok()) << loaded.error;
  ASSERT_EQ(loaded.drives.size(), 3u);
  EXPECT_EQ(loaded.drives[2].vendor, "OTHERCO");
  EXPECT_FALSE(loaded.drives[2].vendorCommands);
}

TEST(DriveDescriptionFiles, MissingFileIsNamed) {
  const LoadedDrives loaded = LoadDriveDescriptionFile(kDrives / "absent.json");
  EXPECT_FALSE(loaded.Ok());
  EXPECT_THAT(loaded.error, HasSubstr("absent.json"));
}

TEST(DriveDescriptionJson, ReadsEveryKey) {
  const LoadedDrives loaded = LoadDriveDescriptions(R"({"drives": [{
      "vendor": "VARN", "product": "DVD RW EPX-412UX", "revision": "1.10",
      "enclosure": "TK300B", "enclosureTail": "X1", "answersInquiry": false,
      "medium": "present", "becomingReadyPolls": 3, "unitAttention": true,
      "bufferSizeKiB": 4096, "imageSignature": "1106", "imageType": "3180", "imageSizeKiB": 64,
      "parameterBlocks": {"24": [48, 81, 1, 2]}, "vendorCommands": false, "bankSize": 65536,
      "faults": [
        {"kind": "fail", "atCommand": 3},
        {"kind": "sense", "sense": "02/04/01", "opcode": "00", "times": 2},
        {"kind": "timeout", "opcode": "3B", "secondByte": "07", "fromOccurrence": 4,
         "times": "always"},
        {"kind": "corruptReadBack", "opcode": "3C", "secondByte": "2"},
        {"kind": "failWithoutSense", "atCommand": 1, "sense": "3/11/0"},
        {"kind": "status", "status": "18", "atCommand": 2},
        {"kind": "shortReply", "length": 0, "opcode": "12"},
        {"kind": "noData", "opcode": "3C", "secondByte": "02", "times": 3},
        {"kind": "corruptReadBack", "offset": 16383, "opcode": "3C"},
        {"kind": "failAfter", "sense": "06/29/00", "opcode": "3B", "secondByte": "04"}
      ]}]})");
  ASSERT_TRUE(loaded.Ok()) << loaded.error;
  const DriveDescription& d = loaded.drives.at(0);
  EXPECT_EQ(d.enclosure, "TK300B");
  EXPECT_EQ(d.enclosureTail, "X1");
  EXPECT_FALSE(d.answersInquiry);
  EXPECT_TRUE(d.mediumPresent);
  EXPECT_EQ(d.becomingReadyPolls, 3u);
  EXPECT_TRUE(d.unitAttention);
  EXPECT_EQ(d.bufferSizeKiB, 4096);
  EXPECT_THAT(d.imageSignature, ElementsAre(0x11, 0x06));
  EXPECT_EQ(d.imageType, 0x3180);
  EXPECT_EQ(d.imageSizeKiB, 64);
  EXPECT_THAT(d.parameterBlocks.at(0x02), ElementsAre(0, 0, 0, 0));
  EXPECT_THAT(d.parameterBlocks.at(0x24), ElementsAre(48, 81, 1, 2));
  EXPECT_FALSE(d.vendorCommands);
  EXPECT_EQ(d.bankSize, 65536u);
  EXPECT_THAT(
      d.faults,
      ElementsAre(
          Fault{FaultKind::Fail, AtCommand{3}, 1, kDefaultFaultSense},
          Fault{FaultKind::Sense, ForOpcode{0x00, std::nullopt, 1}, 2, {2, 4, 1}},
          Fault{FaultKind::TimeOut, ForOpcode{0x3B, 0x07, 4}, kAlways, kDefaultFaultSense},
          Fault{FaultKind::CorruptReadBack, ForOpcode{0x3C, 0x02, 1}, 1, kDefaultFaultSense},
          Fault{FaultKind::FailWithoutSense, AtCommand{1}, 1, {3, 0x11, 0}},
          Fault{FaultKind::Status, AtCommand{2}, 1, kDefaultFaultSense, 0x18},
          Fault{FaultKind::ShortReply, ForOpcode{0x12, std::nullopt, 1}, 1, kDefaultFaultSense, 0,
                0},
          Fault{FaultKind::NoData, ForOpcode{0x3C, 0x02, 1}, 3, kDefaultFaultSense},
          Fault{FaultKind::CorruptReadBack, ForOpcode{0x3C, std::nullopt, 1}, 1, kDefaultFaultSense,
                0, 0, 16383},
          Fault{FaultKind::FailAfter, ForOpcode{0x3B, 0x04, 1}, 1, {6, 0x29, 0}}));
}

TEST(DriveDescriptionJson, DefaultsDescribeAReadyToUpdateDrive) {
  const LoadedDrives loaded =
      LoadDriveDescriptions(R"({"drives": [{"vendor": "V", "product": "P", "revision": "R"}]})");
  ASSERT_TRUE(loaded.Ok()) << loaded.error;
  const DriveDescription& d = loaded.drives.at(0);
  EXPECT_TRUE(d.answersInquiry);
  EXPECT_FALSE(d.mediumPresent);
  EXPECT_EQ(d.bufferSizeKiB, 8192);
  EXPECT_THAT(d.imageSignature, ElementsAre(0x06, 0x11));
  EXPECT_EQ(d.imageType, 0x3120);
  EXPECT_TRUE(d.vendorCommands);
  EXPECT_EQ(d.bankSize, 0u);
  EXPECT_TRUE(d.enclosure.empty());
  EXPECT_TRUE(d.faults.empty());
}

TEST(DriveDescriptionJson, ExpectedImageSizeFollowsTypeUnlessGiven) {
  struct Case {
    std::uint16_t type;
    std::uint16_t sizeKiB;
    std::uint32_t bytes;
  };
  for (const Case c : {Case{0x3120, 0, 0x20000}, Case{0x3140, 0, 0x80000}, Case{0x3180, 0, 0x40000},
                       Case{0x3220, 0, 0x20000}, Case{0x3140, 0x200, 0x80000},
                       Case{0x3120, 64, 0x10000}, Case{0x1234, 0, 0}, Case{0x1234, 1, 1024}}) {
    DriveDescription d;
    d.imageType = c.type;
    d.imageSizeKiB = c.sizeKiB;
    EXPECT_EQ(ExpectedImageSize(d), c.bytes) << std::hex << c.type << " " << c.sizeKiB;
  }
}

// Each malformed description, and the part of the message that must name
// where the problem is.
TEST(DriveDescriptionJson, NamesTheFirstProblem) {
  const std::string ok = R"("vendor": "VARN", "product": "P", "revision": "1.00")";
  const auto drive = [&](const std::string& more) {
    return R"({"drives": [{)" + ok + more + "}]}";
  };
  struct Case {
    std::string json;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"{\"drives\": [", "not valid JSON"},
      {"[]", "expected an object"},
      {"{}", "missing key \"drives\""},
      {R"({"drives": [], "extra": 1})", "unknown key \"extra\""},
      {R"({"drives": {}})", "drives: expected an array"},
      {R"({"drives": [{"product": "P", "revision": "R"}]})", "drives[0]: missing key \"vendor\""},
      {R"({"drives": [{"vendor": "OTHERCORP", "product": "P", "revision": "R"}]})",
       "drives[0].vendor: expected a string of at most 8"},
      {drive(R"(, "medum": "absent")"), "drives[0]: unknown key \"medum\""},
      {drive(R"(, "medium": "empty")"), "drives[0].medium: expected \"present\" or \"absent\""},
      {drive(R"(, "bufferSizeKiB": "8192")"), "drives[0].bufferSizeKiB: expected a whole number"},
      {drive(R"(, "bufferSizeKiB": 65536)"), "drives[0].bufferSizeKiB: expected a whole number"},
      {drive(R"(, "becomingReadyPolls": -1)"), "drives[0].becomingReadyPolls"},
      {drive(R"(, "unitAttention": 1)"), "drives[0].unitAttention: expected true or false"},
      {drive(R"(, "imageType": "31G0")"), "drives[0].imageType: expected a string of 1 to 4 hex"},
      {drive(R"(, "imageType": 3120)"), "drives[0].imageType"},
      {drive(R"(, "imageSignature": "611")"), "drives[0].imageSignature: expected a string of 4"},
      {drive(R"(, "enclosure": "ABCDEFGHIJKLM")"), "drives[0].enclosure"},
      {drive(R"(, "parameterBlocks": {"25": [0, 0, 0, 0]})"),
       "drives[0].parameterBlocks: unknown block \"25\""},
      {drive(R"(, "parameterBlocks": {"02": [0, 0, 0]})"),
       "drives[0].parameterBlocks.02: expected an array of 4"},
      {drive(R"(, "parameterBlocks": {"24": [0, 256, 0, 0]})"), "drives[0].parameterBlocks.24"},
      {drive(R"(, "faults": [{"atCommand": 1}])"), "drives[0].faults[0]: missing key \"kind\""},
      {drive(R"(, "faults": [{"kind": "crash", "atCommand": 1}])"), "drives[0].faults[0].kind"},
      {drive(R"(, "faults": [{"kind": "fail"}])"),
       "drives[0].faults[0]: give either \"atCommand\" or \"opcode\""},
      {drive(R"(, "faults": [{"kind": "fail", "atCommand": 2, "opcode": "12"}])"),
       "drives[0].faults[0]: give either"},
      {drive(R"(, "faults": [{"kind": "fail", "atCommand": 2, "secondByte": "01"}])"),
       "drives[0].faults[0]: \"secondByte\" and \"fromOccurrence\" go with \"opcode\" only"},
      {drive(R"(, "faults": [{"kind": "fail", "atCommand": 0}])"), "drives[0].faults[0].atCommand"},
      {drive(R"(, "faults": [{"kind": "sense", "opcode": "00"}])"),
       "drives[0].faults[0]: a \"sense\" fault needs its \"sense\" bytes"},
      {drive(R"(, "faults": [{"kind": "fail", "opcode": "00", "sense": "04/44"}])"),
       "drives[0].faults[0].sense: expected sense bytes"},
      {drive(R"(, "faults": [{"kind": "fail", "opcode": "00", "sense": "4/44/0/0"}])"),
       "drives[0].faults[0].sense"},
      {drive(R"(, "faults": [{"kind": "fail", "opcode": "100"}])"), "drives[0].faults[0].opcode"},
      {drive(R"(, "faults": [{"kind": "status", "opcode": "00"}])"),
       "drives[0].faults[0]: a \"status\" fault needs its \"status\""},
      {drive(R"(, "faults": [{"kind": "status", "status": "108", "opcode": "00"}])"),
       "drives[0].faults[0].status"},
      {drive(R"(, "faults": [{"kind": "shortReply", "opcode": "3C"}])"),
       "drives[0].faults[0]: a \"shortReply\" fault needs its \"length\""},
      {drive(R"(, "faults": [{"kind": "noData", "length": 4, "opcode": "3C"}])"),
       "drives[0].faults[0]: \"length\" goes with a \"shortReply\" fault only"},
      {drive(R"(, "faults": [{"kind": "fail", "offset": 4, "opcode": "3C"}])"),
       "drives[0].faults[0]: \"offset\" goes with a \"corruptReadBack\" fault only"},
      {drive(R"(, "faults": [{"kind": "fail", "status": "08", "opcode": "3C"}])"),
       "drives[0].faults[0]: \"status\" goes with a \"status\" fault only"},
      {drive(R"(, "faults": [{"kind": "fail", "opcode": "00", "times": 0}])"),
       "drives[0].faults[0].times: expected a count from 1, or \"always\""},
      {R"({"drives": [{)" + ok + R"(}, {"vendor": "V", "product": "P", "revision": "12345"}]})",
       "drives[1].revision"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.json);
    const LoadedDrives loaded = LoadDriveDescriptions(c.json);
    EXPECT_FALSE(loaded.Ok());
    EXPECT_THAT(loaded.error, HasSubstr(c.message));
    EXPECT_TRUE(loaded.drives.empty());
  }
}

}  // namespace
}  // namespace tslflash::emu
