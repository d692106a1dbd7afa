// Which Windows family the tool believes it runs on, and the transport each
// family gets. Nothing here loads a library or opens a volume.
#include "transport/windows_platform.h"

#include <gtest/gtest.h>

#include "transport/cdb.h"
#include "transport/windows_transport.h"

namespace tslflash {
namespace {

// Version queries as the system would answer them; each checks that it was
// handed the structure size the 9x family understands.
template <DWORD platformId>
BOOL WINAPI AnswerPlatform(LPOSVERSIONINFOA info) {
  EXPECT_EQ(info->dwOSVersionInfoSize, 148u);
  info->dwPlatformId = platformId;
  return TRUE;
}

BOOL WINAPI FailQuery(LPOSVERSIONINFOA info) {
  info->dwPlatformId = VER_PLATFORM_WIN32_WINDOWS;  // must not be read
  return FALSE;
}

TEST(DetectPlatformTest, OnlyTheNtPlatformIdMeansNtAndAFailedQueryCountsAsNt) {
  EXPECT_EQ(DetectPlatform(&AnswerPlatform<VER_PLATFORM_WIN32_NT>), WindowsPlatform::NtFamily);
  EXPECT_EQ(DetectPlatform(&AnswerPlatform<VER_PLATFORM_WIN32_WINDOWS>),
            WindowsPlatform::NineXFamily);
  EXPECT_EQ(DetectPlatform(&AnswerPlatform<VER_PLATFORM_WIN32s>), WindowsPlatform::NineXFamily);
  EXPECT_EQ(DetectPlatform(&FailQuery), WindowsPlatform::NtFamily);
}

TEST(DetectPlatformTest, TheSystemUnderTestIsNt) {
  EXPECT_EQ(DetectPlatform(), WindowsPlatform::NtFamily);
}

// The two transports differ in how much INQUIRY data they ask for; neither
// is started here.
TEST(MakeWindowsTransportTest, EachFamilyGetsItsOwnTransport) {
  const auto nt = MakeWindowsTransport(WindowsPlatform::NtFamily, [](std::string_view) {});
  const auto aspi = MakeWindowsTransport(WindowsPlatform::NineXFamily, [](std::string_view) {});
  ASSERT_NE(nt, nullptr);
  ASSERT_NE(aspi, nullptr);
  EXPECT_EQ(nt->InquiryLength(), kInquiryLength);
  EXPECT_EQ(aspi->InquiryLength(), kAspiInquiryLength);
}

}  // namespace
}  // namespace tslflash
