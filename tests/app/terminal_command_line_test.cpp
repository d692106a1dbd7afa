// The tslflash command line and the choice of front end.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>

#include "app/command_line.h"

namespace tslflash {
namespace {

using ::testing::ElementsAre;

ParsedCommandLine Parse(std::vector<std::string_view> args) { return ParseCommandLine(args); }

TEST(CommandLineTest, ReadsEveryOption) {
  const ParsedCommandLine parsed =
      Parse({"--emulate", "demo.json", "--package=pkg.bin", "--trace", "--terminal", "--select",
             "2", "--select=root", "--select", "1", "--answer", "ok", "--answer=cancel",
             "--non-interactive", "--about"});
  ASSERT_EQ(parsed.error, "");
  const CommandLine& line = parsed.line;
  EXPECT_EQ(line.emulate, "demo.json");
  EXPECT_EQ(line.package, "pkg.bin");
  EXPECT_TRUE(line.trace);
  EXPECT_TRUE(line.terminal);
  EXPECT_THAT(line.selections, ElementsAre(2U, 0U, 1U));
  EXPECT_THAT(line.answers, ElementsAre(BoxAnswer::Ok, BoxAnswer::Cancel));
  EXPECT_TRUE(line.nonInteractive);
  EXPECT_TRUE(line.about);
  EXPECT_FALSE(line.help);
}

TEST(CommandLineTest, RefusesWhatItCannotUseWithOneLine) {
  struct Case {
    std::vector<std::string_view> args;
    std::string_view error;
  };
  const Case cases[] = {
      {{"--package", "pkg.bin"},
       "--package needs --emulate: real drives only ever get the package built into tslflash"},
      {{"--trace"}, "--trace needs --emulate: only emulated drives keep a trace"},
      {{"--restart-fails"},
       "--restart-fails needs --emulate: only an emulated run can be told the restart fails"},
      {{"--emulate"}, "--emulate needs a value"},
      {{"--select", "two"}, "--select expects a drive number, or root (0) for none, not \"two\""},
      {{"--select", "-1"}, "--select expects a drive number, or root (0) for none, not \"-1\""},
      {{"--emulate", "a", "--emulate=b"}, "--emulate is given twice"},
      {{"--answer", "yes"}, "--answer expects ok or cancel, not \"yes\""},
      {{"--answer", "OK"}, "--answer expects ok or cancel, not \"OK\""},
      {{"--trace=1", "--emulate", "a"}, "--trace takes no value"},
      {{"--yes", "--yes"}, "--yes is given twice"},
      {{"--allow-older"}, "--allow-reinstall, --allow-older and --restart need --yes"},
      {{"--restart", "--allow-reinstall"},
       "--allow-reinstall, --allow-older and --restart need --yes"},
      {{"--yes", "--answer", "ok"},
       "--answer and --yes do not go together: answer the boxes in order or by name"},
      {{"--check", "--select", "1", "--upgrade"}, "--check and --upgrade do not go together"},
      {{"--check", "--yes"},
       "--check asks nothing: it takes no --answer, --yes or --allow-... options"},
      {{"--upgrade", "--yes"}, "--upgrade needs --select: which drive to update"},
      {{"demo.json"}, "unexpected argument \"demo.json\""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Parse(c.args).error, c.error) << c.args.front();
  }
}

TEST(CommandLineTest, HelpAndVersionWinOverOptionsThatWouldBeRefusedTogether) {
  const ParsedCommandLine help = Parse({"--package", "pkg.bin", "--help"});
  EXPECT_EQ(help.error, "");
  EXPECT_TRUE(help.line.help);
  const ParsedCommandLine version = Parse({"--upgrade", "--version"});
  EXPECT_EQ(version.error, "");
  EXPECT_TRUE(version.line.version);
  EXPECT_EQ(Parse({"--version=1"}).error, "--version takes no value");
}

TEST(ChooseFrontEndTest, TheWindowOnlyWithQtADisplayAndNothingTerminalOnly) {
  struct Case {
    std::vector<std::string_view> args;
    bool qtBuilt;
    std::map<std::string, std::string> environment;
    FrontEnd expected;
  };
  const Case cases[] = {
      {{}, true, {{"DISPLAY", ":0"}}, FrontEnd::Window},
      {{}, true, {{"WAYLAND_DISPLAY", "wayland-0"}}, FrontEnd::Window},
      {{}, true, {{"QT_QPA_PLATFORM", "offscreen"}}, FrontEnd::Window},
      {{}, true, {}, FrontEnd::Terminal},
      {{}, true, {{"DISPLAY", ""}}, FrontEnd::Terminal},
      {{}, false, {{"DISPLAY", ":0"}}, FrontEnd::Terminal},
      {{"--terminal"}, true, {{"DISPLAY", ":0"}}, FrontEnd::Terminal},
      {{"--select", "1"}, true, {{"DISPLAY", ":0"}}, FrontEnd::Terminal},
      {{"--answer", "ok"}, true, {{"DISPLAY", ":0"}}, FrontEnd::Terminal},
      {{"--non-interactive"}, true, {{"DISPLAY", ":0"}}, FrontEnd::Terminal},
      {{"--about"}, true, {{"DISPLAY", ":0"}}, FrontEnd::Terminal},
      {{"--check"}, true, {{"DISPLAY", ":0"}}, FrontEnd::Terminal},
      {{"--json"}, true, {{"DISPLAY", ":0"}}, FrontEnd::Terminal},
      {{"--yes"}, true, {{"DISPLAY", ":0"}}, FrontEnd::Terminal},
      {{"--emulate", "demo.json"}, true, {{"DISPLAY", ":0"}}, FrontEnd::Window},
  };
  for (const Case& c : cases) {
    const ParsedCommandLine parsed = Parse(c.args);
    ASSERT_EQ(parsed.error, "");
    const auto environment = [&c](std::string_view name) -> std::optional<std::string> {
      const auto value = c.environment.find(std::string(name));
      if (value == c.environment.end()) return std::nullopt;
      return value->second;
    };
    EXPECT_EQ(ChooseFrontEnd(parsed.line, c.qtBuilt, environment), c.expected)
        << (c.args.empty() ? "(no options)" : c.args.front()) << ", Qt " << c.qtBuilt;
  }
}

}  // namespace
}  // namespace tslflash
