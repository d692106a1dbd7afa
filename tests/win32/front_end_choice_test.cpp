// On the Windows desktop the window needs no display variable: TslFlash opens
// it unless the command line asks for the terminal.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/command_line.h"

namespace tslflash {
namespace {

TEST(WindowsFrontEndChoiceTest, TheDesktopWindowUnlessTheTerminalIsAskedFor) {
  const auto noEnvironment = [](std::string_view) -> std::optional<std::string> {
    return std::nullopt;
  };
  struct Case {
    std::vector<std::string_view> args;
    FrontEnd expected;
  };
  const Case cases[] = {
      {{}, FrontEnd::Window},
      {{"--emulate", "demo.json"}, FrontEnd::Window},
      {{"--terminal"}, FrontEnd::Terminal},
      {{"--select", "1"}, FrontEnd::Terminal},
      {{"--about"}, FrontEnd::Terminal},
  };
  for (const Case& c : cases) {
    const ParsedCommandLine parsed = ParseCommandLine(c.args);
    ASSERT_EQ(parsed.error, "");
    EXPECT_EQ(ChooseFrontEnd(parsed.line, true, noEnvironment, WindowSystem::Desktop), c.expected)
        << (c.args.empty() ? "(no options)" : c.args.front());
  }
}

}  // namespace
}  // namespace tslflash
