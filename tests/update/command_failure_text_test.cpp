// The failed command of a transfer as one line: the command, its unit, and
// each kind of reply a drive can give.
#include "update/command_failure_text.h"

#include <gtest/gtest.h>

namespace tslflash {
namespace {

CommandReply Reply(ReplyCategory category, std::optional<std::uint8_t> status = std::nullopt,
                   SenseBytes sense = {}, std::uint32_t transferred = 0) {
  return {category, status, sense, transferred};
}

TEST(CommandFailureText, NamesTheCommandItsUnitAndTheReply) {
  struct Case {
    CommandFailure failure;
    const char* line;
  };
  const Case cases[] = {
      {{"page write", "page", 2, 3, Reply(ReplyCategory::CheckCondition, 0x02, {0x05, 0x24, 0x00})},
       "page write failed on page 2 of 3: check condition, sense 05/24/00"},
      {{"signed page", "page", 1, 3, Reply(ReplyCategory::CheckCondition, 0x02)},
       "signed page failed on page 1 of 3: check condition, no sense data"},
      {{"page read-back", "page", 7, 8, Reply(ReplyCategory::TimedOut)},
       "page read-back failed on page 7 of 8: timed out"},
      {{"page read-back", "page", 1, 2, Reply(ReplyCategory::ShortReply, 0x00, {}, 12)},
       "page read-back failed on page 1 of 2: short reply (12 bytes arrived)"},
      {{"small block", "block", 40, 256, Reply(ReplyCategory::OtherStatus, 0x08)},
       "small block failed on block 40 of 256: status 0x08 (busy)"},
      // Bits 0 and 7 change nothing about what the status says.
      {{"bank commit", "bank", 2, 2, Reply(ReplyCategory::OtherStatus, 0x99)},
       "bank commit failed on bank 2 of 2: status 0x99 (reservation conflict)"},
      {{"bank commit", "bank", 1, 2, Reply(ReplyCategory::OtherStatus, 0x22)},
       "bank commit failed on bank 1 of 2: status 0x22"},
      {{"image commit", "image", 1, 1, Reply(ReplyCategory::OtherStatus)},
       "image commit failed on image 1 of 1: refused without a status"},
      {{"download end", "image", 1, 1, Reply(ReplyCategory::TransportError)},
       "download end failed on image 1 of 1: no status from the drive"},
      {{"page read-back compare", "page", 1, 2, Reply(ReplyCategory::Good, 0x00, {}, 16384)},
       "page read-back compare failed on page 1 of 2: the drive reported no error"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(FormatCommandFailure(c.failure), c.line);
  }
}

}  // namespace
}  // namespace tslflash
