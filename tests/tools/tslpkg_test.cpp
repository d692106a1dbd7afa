// The package tool as people run it: a subprocess with arguments, files,
// output streams and an exit status.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "package/embedded_package.h"
#include "package/image_inflate.h"
#include "package/image_staging.h"
#include "package/package_check.h"
#include "package/package_layout.h"
#include "tests/support/bad_files.h"
#include "tests/support/tool_run.h"
#include "tools/package_builder.h"

namespace tslflash {
namespace {

namespace fs = std::filesystem;
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::StartsWith;
using testing::ToolRun;

constexpr std::string_view kInquiryId = "VARN    DVD RW LPX-650A 1.07";

class TslpkgTest : public testing::ToolRunTest {
 protected:
  TslpkgTest() : ToolRunTest(TSLPKG_PATH) {}

  void Write(std::string_view name, std::span<const std::uint8_t> bytes) const {
    std::ofstream out(Path(name), std::ios::binary);
    for (std::uint8_t byte : bytes) out.put(static_cast<char>(byte));
  }

  // Files in the test's folder whose names start with prefix.
  std::vector<std::string> FilesStartingWith(std::string_view prefix) const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(Dir())) {
      const std::string name = entry.path().filename().string();
      if (name.starts_with(prefix)) names.push_back(name);
    }
    return names;
  }

  ToolRun Synth(std::string_view name, std::size_t size, int seed) const {
    return Run({"synth", "--size", std::to_string(size), "--seed", std::to_string(seed), "-o",
                Path(name)});
  }
};

TEST_F(TslpkgTest, BuildInspectVerifyRoundTrip) {
  ASSERT_EQ(Synth("image.bin", 40000, 5).exitCode, 0);
  const ToolRun build =
      Run({"build", "-o", Path("package.bin"), "--image", Path("image.bin"), "--protocol", "3",
           "--inquiry-id", std::string(kInquiryId), "--alt-name", "LPX-650A", "--variant-mark",
           "TW", "--revision-pattern", "1.**"});
  ASSERT_EQ(build.exitCode, 0) << build.err;
  EXPECT_TRUE(CheckPackage(ReadFile("package.bin"), PackageForm::Plain));

  const ToolRun inspect = Run({"inspect", Path("package.bin")});
  EXPECT_EQ(inspect.exitCode, 0) << inspect.out;
  EXPECT_THAT(inspect.err, IsEmpty());
  EXPECT_THAT(inspect.out,
              AllOf(HasSubstr("product \"DVD RW LPX-650A \""), HasSubstr("revision \"1.07\""),
                    HasSubstr("alternate product name: \"LPX-650A  \""),
                    HasSubstr("protocol digit: \"3\" (small blocks"), HasSubstr("rule 4"),
                    HasSubstr("image range: 64..40064"), HasSubstr("page count: 2"),
                    HasSubstr("every check matches"), Not(HasSubstr("DOES NOT MATCH"))));

  const ToolRun verify = Run({"verify", Path("package.bin")});
  EXPECT_EQ(verify.exitCode, 0);
  EXPECT_THAT(verify.out + verify.err, IsEmpty());
}

TEST_F(TslpkgTest, ExtendedPackageIsCheckedUnderBothExtendedForms) {
  ASSERT_EQ(Synth("first.bin", 30000, 1).exitCode, 0);
  ASSERT_EQ(Synth("second.bin", 20000, 2).exitCode, 0);
  const ToolRun build = Run({"build", "-o", Path("package.bin"), "--image", Path("first.bin"),
                             "--inquiry-id", std::string(kInquiryId), "--second-image",
                             Path("second.bin"), "--ext-revision", "1.08"});
  ASSERT_EQ(build.exitCode, 0) << build.err;

  const ToolRun inspect = Run({"inspect", Path("package.bin")});
  EXPECT_EQ(inspect.exitCode, 0) << inspect.out;
  EXPECT_THAT(
      inspect.out,
      AllOf(HasSubstr("layout: extended"), HasSubstr("form VARN_2340:"), HasSubstr("rule 2"),
            HasSubstr("image range: 30118..50118"), HasSubstr("form VARN_2300:"),
            HasSubstr("rule 3"), HasSubstr("image range: 78..30078"),
            HasSubstr("second image revision: \"1.08  \""), HasSubstr("every check matches")));
  EXPECT_EQ(Run({"verify", Path("package.bin")}).exitCode, 0);
}

TEST_F(TslpkgTest, DeflatedPackageInflatesToTheImageItWasBuiltFrom) {
  ASSERT_EQ(Synth("image.bin", 8 * kImagePageSize, 3).exitCode, 0);
  const ToolRun build = Run({"build", "-o", Path("package.bin"), "--image", Path("image.bin"),
                             "--inquiry-id", std::string(kInquiryId), "--deflate"});
  ASSERT_EQ(build.exitCode, 0) << build.err;
  const ToolRun inspect = Run({"inspect", Path("package.bin")});
  EXPECT_EQ(inspect.exitCode, 0) << inspect.out;
  EXPECT_THAT(inspect.out, HasSubstr("protocol digit: \"2\" (summed pages"));

  const std::vector<std::uint8_t> package = ReadFile("package.bin");
  const StageResult staged =
      StageImage(ParseFirmwarePackage(package), {}, PackageForm::Plain, false);
  ASSERT_TRUE(staged.SumsMatch());
  const InflatedImage inflated =
      InflateImage(staged.image, staged.plan.pageCount, InflateFeed::BytePerCall);
  ASSERT_EQ(inflated.pages, 8);
  EXPECT_TRUE(std::ranges::equal(inflated.Pages(), ReadFile("image.bin")));
}

TEST_F(TslpkgTest, EmbeddedPackageInspectsAsAllMatching) {
  const ToolRun inspect = Run({"inspect", "--embedded"});
  EXPECT_EQ(inspect.exitCode, 0) << inspect.out;
  EXPECT_THAT(inspect.out, HasSubstr("every check matches"));
  EXPECT_EQ(Run({"verify", "--embedded"}).exitCode, 0);
#ifdef TSLFLASH_SAMPLE_PACKAGE
  EXPECT_THAT(
      inspect.out,
      AllOf(HasSubstr("tag word: \"KOVA\""), HasSubstr("protocol digit: \"0\""),
            HasSubstr("vendor \"VARN    \", product \"DVD RW LPX-650A \", revision "
                      "\"1.07\""),
            HasSubstr("alternate product name: \"TK300B\\0\\0\\0\\0\""),
            HasSubstr("variant mark: \"TW\""), HasSubstr("revision pattern: \"1.**\""),
            HasSubstr("image length: 131072"), HasSubstr("rule 4"), HasSubstr("page count: 8")));
#endif
}

struct ChangedByteCase {
  std::string name;
  std::size_t offset;
  std::vector<std::string> failing;
  std::vector<std::string> notFailing;
  friend void PrintTo(const ChangedByteCase& c, std::ostream* os) { *os << c.name; }
};

class TslpkgChangedByteTest : public TslpkgTest,
                              public ::testing::WithParamInterface<ChangedByteCase> {};

TEST_P(TslpkgChangedByteTest, NamesTheChecksThatFail) {
  const ChangedByteCase& c = GetParam();
  std::vector<std::uint8_t> package(EmbeddedPackage().begin(), EmbeddedPackage().end());
  package[c.offset] ^= 0x01;
  Write("changed.bin", package);

  const ToolRun inspect = Run({"inspect", Path("changed.bin")});
  EXPECT_EQ(inspect.exitCode, 1);
  EXPECT_THAT(inspect.out, HasSubstr("DOES NOT MATCH"));
  EXPECT_EQ(std::ranges::count(inspect.err, '\n'), 1) << inspect.err;
  EXPECT_THAT(inspect.err, HasSubstr("DOES NOT MATCH"));
  for (const std::string& name : c.failing) EXPECT_THAT(inspect.err, HasSubstr(name));
  for (const std::string& name : c.notFailing) EXPECT_THAT(inspect.err, Not(HasSubstr(name)));

  const ToolRun verify = Run({"verify", Path("changed.bin")});
  EXPECT_EQ(verify.exitCode, 1);
  EXPECT_THAT(verify.out + verify.err, IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    HeaderBytes, TslpkgChangedByteTest,
    ::testing::Values(ChangedByteCase{"Tag", 0, {"tag word", "trailer linear checksum"}, {"image"}},
                      ChangedByteCase{"InquiryId",
                                      8,
                                      {"trailer linear checksum", "trailer rotated checksum"},
                                      {"image", "tag"}},
                      ChangedByteCase{"ImageSumLinear",
                                      56,
                                      {"image linear checksum (plain)", "trailer linear checksum"},
                                      {"image rotated"}},
                      ChangedByteCase{
                          "ImageSumRotated",
                          59,
                          {"image rotated checksum (plain)", "trailer rotated checksum"},
                          {"image linear"}},
                      // One byte longer than the file holds: the lengths disagree.
                      ChangedByteCase{"ImageLength", 60, {"trailer"}, {"tag"}}),
    [](const auto& testInfo) { return testInfo.param.name; });

struct BadInputCase {
  std::string name;
  std::vector<std::string> args;  // "@name" stands for the path of a file in the test's folder
  std::string message;
  friend void PrintTo(const BadInputCase& c, std::ostream* os) { *os << c.name; }
};

class TslpkgBadInputTest : public TslpkgTest, public ::testing::WithParamInterface<BadInputCase> {};

TEST_P(TslpkgBadInputTest, GivesOneLineOnStderrAndWritesNothing) {
  ASSERT_EQ(Synth("image.bin", 40000, 1).exitCode, 0);
  ASSERT_EQ(Synth("pages.bin", 4 * kImagePageSize, 1).exitCode, 0);
  ASSERT_EQ(Synth("big.bin", kImageAreaSize + 1, 1).exitCode, 0);
  ASSERT_EQ(Synth("mib.bin", 1024 * 1024, 1).exitCode, 0);
  ASSERT_EQ(Synth("mib_and_more.bin", 1024 * 1024 + 200, 1).exitCode, 0);
  Write("short.bin", std::vector<std::uint8_t>(10, 'K'));

  std::vector<std::string> args;
  for (const std::string& arg : GetParam().args) {
    args.push_back(arg.starts_with('@') ? Path(arg.substr(1)) : arg);
  }
  const ToolRun run = Run(args);
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_THAT(run.err, AllOf(StartsWith("tslpkg: "), HasSubstr(GetParam().message)));
  EXPECT_EQ(std::ranges::count(run.err, '\n'), 1) << run.err;
  EXPECT_THAT(run.out, IsEmpty());
  EXPECT_THAT(FilesStartingWith("out"), IsEmpty());
}

std::vector<std::string> BuildArgs(std::vector<std::string> extra) {
  std::vector<std::string> args = {"build", "-o", "@out.bin", "--inquiry-id",
                                   std::string(kInquiryId)};
  args.insert(args.end(), extra.begin(), extra.end());
  return args;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TslpkgBadInputTest,
    ::testing::Values(
        BadInputCase{"MissingImageFile", BuildArgs({"--image", "@none.bin"}), "no such file"},
        BadInputCase{"MissingPackageFile", {"inspect", "@none.bin"}, "no such file"},
        BadInputCase{"PackageTooShort", {"verify", "@short.bin"}, "too short"},
        BadInputCase{"InquiryIdTooLong",
                     {"build", "-o", "@out.bin", "--image", "@image.bin", "--inquiry-id",
                      std::string(kInquiryId) + "X"},
                     "at most 28 fit"},
        BadInputCase{"AltNameTooLong",
                     BuildArgs({"--image", "@image.bin", "--alt-name", "EPX-412UXVR"}),
                     "at most 10 fit"},
        BadInputCase{"ImageOver2MiB", BuildArgs({"--image", "@big.bin"}),
                     "larger than 2097152 bytes, the most an image can be"},
        BadInputCase{"ExtendedPastItsBound",
                     BuildArgs({"--image", "@mib.bin", "--second-image", "@mib_and_more.bin",
                                "--ext-revision", "1.08"}),
                     "0x200100"},
        BadInputCase{"SecondImageWithoutRevision",
                     BuildArgs({"--image", "@image.bin", "--second-image", "@image.bin"}),
                     "go together"},
        BadInputCase{"DeflatePartialPages", BuildArgs({"--image", "@image.bin", "--deflate"}),
                     "whole 16384-byte pages"},
        BadInputCase{"DeflateOtherProtocol",
                     BuildArgs({"--image", "@pages.bin", "--deflate", "--protocol", "0"}),
                     "protocol 2"},
        BadInputCase{"ProtocolOutOfRange", BuildArgs({"--image", "@image.bin", "--protocol", "5"}),
                     "one digit 0-4"},
        BadInputCase{"BothAltNames",
                     BuildArgs({"--image", "@image.bin", "--alt-name", "A", "--alt-name-nul", "B"}),
                     "exclude each other"},
        BadInputCase{"UnknownOption", BuildArgs({"--image", "@image.bin", "--frobnicate"}),
                     "unknown option --frobnicate"},
        BadInputCase{"OptionWithoutValue", BuildArgs({"--image", "@image.bin", "--tag"}),
                     "--tag needs a value"},
        BadInputCase{"MissingRequiredOption", {"build", "-o", "@out.bin"}, "--image is required"},
        BadInputCase{"NoPackageNamed", {"inspect"}, "name one package"},
        BadInputCase{"UnknownCommand", {"pack", "@out.bin"}, "unknown command pack"},
        BadInputCase{
            "SynthSizeZero", {"synth", "--size", "0", "--seed", "1", "-o", "@out.bin"}, "--size"}),
    [](const auto& testInfo) { return testInfo.param.name; });

// Whatever a package file turns out to be, it is refused with one line
// before the tool holds more than the largest package.
class TslpkgBadFileTest : public TslpkgTest,
                          public ::testing::WithParamInterface<testing::BadFile> {};

TEST_P(TslpkgBadFileTest, IsRefusedWithOneLine) {
  const std::optional<std::string> path = testing::MakeBadPackageFile(GetParam().kind, Dir());
  if (!path) GTEST_SKIP() << "root reads a file of mode 000; ThroughAFile is unreadable for all";
  for (const char* command : {"inspect", "verify"}) {
    const ToolRun run = Run({command, *path});
    EXPECT_EQ(run.exitCode, 2) << command;
    EXPECT_EQ(run.err, "tslpkg: " + testing::Filled(GetParam().refusal, *path) + "\n");
    EXPECT_THAT(run.out, IsEmpty());
  }
}

INSTANTIATE_TEST_SUITE_P(Files, TslpkgBadFileTest, ::testing::ValuesIn(testing::BadPackageFiles()),
                         [](const auto& testInfo) { return testInfo.param.name; });

// The bound is the largest package, not less: a file that size is read and
// checked (and fails the checks, being zeros).
TEST_F(TslpkgTest, APackageOfTheLargestSizeIsCheckedNotRefused) {
  Write("largest.bin", {});
  fs::resize_file(Path("largest.bin"), kLargestPackage);
  const ToolRun run = Run({"verify", Path("largest.bin")});
  EXPECT_EQ(run.exitCode, 1) << run.err;
}

}  // namespace
}  // namespace tslflash
