// cloudpump's command line: what runs, what only prints, and what is refused before anything
// starts.
#include "command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console_capture.h"
#include "fake_kit.h"

namespace kesto::bridge::test {
namespace {

using Action = CommandLine::Action;

CommandLine Parse(std::vector<const char*> args) {
  args.insert(args.begin(), "cloudpump");
  return ParseCommandLine(static_cast<int>(args.size()), args.data());
}

TEST(CommandLine, ParsesWhatItKnowsAndRefusesTheRest) {
  struct Case {
    std::vector<const char*> args;
    Action action;
    std::string path;
    uint32_t max_mb;
    std::string error;  // a part of the fault's text
  } cases[] = {
      {{}, Action::kRun, "", 0, ""},
      {{"--record", "run.pcapng"}, Action::kRun, "run.pcapng", 0, ""},
      {{"--record", "a b.pcapng", "--record-max-mb", "200"}, Action::kRun, "a b.pcapng", 200, ""},
      {{"--record-max-mb", "1", "--record", "x"}, Action::kRun, "x", 1, ""},
      {{"--help"}, Action::kHelp, "", 0, ""},
      {{"-h", "--bogus"}, Action::kHelp, "", 0, ""},
      {{"--version"}, Action::kVersion, "", 0, ""},
      {{"--bogus"}, Action::kError, "", 0, "unknown argument '--bogus'"},
      {{"config.json"}, Action::kError, "", 0, "unknown argument 'config.json'"},
      {{"--record"}, Action::kError, "", 0, "--record needs a file name"},
      {{"--record", ""}, Action::kError, "", 0, "--record needs a file name"},
      {{"--record", "x", "--record-max-mb"}, Action::kError, "", 0, "whole number"},
      {{"--record", "x", "--record-max-mb", "0"}, Action::kError, "", 0, "whole number"},
      {{"--record", "x", "--record-max-mb", "-5"}, Action::kError, "", 0, "whole number"},
      {{"--record", "x", "--record-max-mb", "12abc"}, Action::kError, "", 0, "whole number"},
      {{"--record", "x", "--record-max-mb", "99999999999999999999"}, Action::kError, "", 0,
       "whole number"},
      {{"--record-max-mb", "10"}, Action::kError, "", 0, "needs --record"},
  };
  for (const Case& c : cases) {
    std::string joined;
    for (const char* a : c.args) joined += std::string(a) + " ";
    SCOPED_TRACE(joined);
    const CommandLine line = Parse(c.args);
    EXPECT_EQ(line.action, c.action);
    if (c.action == Action::kRun) {
      EXPECT_EQ(line.options.record_path, c.path);
      EXPECT_EQ(line.options.record_max_mb, c.max_mb);
      EXPECT_EQ(line.options.config_path, "config.json");
    }
    if (c.action == Action::kError) {
      EXPECT_NE(line.error.find(c.error), std::string::npos) << line.error;
    }
  }
}

TEST(CommandLine, PrintsAndRefusesWithoutStartingTheKit) {
  ResetFakeKit();
  struct Case {
    std::vector<const char*> args;
    int status;
    std::string starts_with;
  } cases[] = {
      {{"cloudpump", "--help"}, 0, "Usage: cloudpump"},
      {{"cloudpump", "--version"}, 0, "cloudpump "},
      {{"cloudpump", "--nope"}, 2, "cloudpump: unknown argument '--nope'\n\nUsage: cloudpump"},
  };
  for (const Case& c : cases) {
    ConsoleCapture console;
    ASSERT_TRUE(console.ok());
    EXPECT_EQ(CloudpumpMain(static_cast<int>(c.args.size()), c.args.data()), c.status);
    EXPECT_EQ(console.Text().rfind(c.starts_with, 0), 0u) << console.Text();
  }
  EXPECT_TRUE(KitCalls().empty());
}

}  // namespace
}  // namespace kesto::bridge::test
