// What --version prints for builds with and without the facts a build may
// lack, and for a package too short to have an id.
#include "app/version_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "package/package_layout.h"
#include "package/sha256.h"

namespace tslflash {
namespace {

std::vector<std::uint8_t> PackageWithId(std::string_view inquiryId) {
  PackageHeader header;
  std::copy(inquiryId.begin(), inquiryId.end(), header.inquiryId.begin());
  const PackageHeaderCopy bytes = EncodeHeader(header);
  std::vector<std::uint8_t> package(bytes.begin(), bytes.end());
  package.resize(kHeaderSize + 16, 0x5A);
  return package;
}

TEST(VersionTextTest, NamesTheVersionTheBuildAndThePackage) {
  const std::vector<std::uint8_t> package = PackageWithId("VARN    DVD RW LPX-650A 1.07");
  struct Case {
    const char* name;
    BuildInfo build;
    std::string buildLine;
  };
  const Case cases[] = {
      {"from a checkout",
       {"1.0.0.7", "Release", "GNU 12.2.0", "39beb13abcde"},
       "build: Release, GNU 12.2.0, commit 39beb13abcde\n"},
      {"from a tarball, no build type",
       {"1.0.0.7", "", "Clang 14.0.6", ""},
       "build: no build type, Clang 14.0.6\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string text = VersionText(c.build, package);
    const std::string head = "tslflash 1.0.0.7\n" + c.buildLine +
                             "package: \"VARN    DVD RW LPX-650A 1.07\", revision \"1.07\"\n" +
                             "package sha256: ";
    ASSERT_EQ(text.substr(0, head.size()), head);
    EXPECT_EQ(text.substr(head.size()), Sha256Hex(package) + "\n");
  }
}

TEST(VersionTextTest, APackageShorterThanAHeaderIsSaidSoAndStillNamedByItsDigest) {
  const std::vector<std::uint8_t> tiny = {'a', 'b', 'c'};
  EXPECT_EQ(VersionText({"1.0.0.7", "Debug", "GNU 12.2.0", ""}, tiny),
            "tslflash 1.0.0.7\nbuild: Debug, GNU 12.2.0\n"
            "package: 3 bytes, shorter than a package header\n"
            "package sha256: ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad\n");
}

}  // namespace
}  // namespace tslflash
