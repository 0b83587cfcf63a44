#ifndef KESTO_BRIDGE_COMMAND_LINE_H_
#define KESTO_BRIDGE_COMMAND_LINE_H_

// cloudpump's command line. Without arguments it runs as it always has; every argument it does
// not know stops it before anything starts.

#include <string>

#include "bridge_main.h"

namespace kesto::bridge {

struct CommandLine {
  enum class Action { kRun, kHelp, kVersion, kError };
  Action action = Action::kRun;
  BridgeOptions options;
  std::string error;  // for kError: what was wrong, one line
};

CommandLine ParseCommandLine(int argc, const char* const* argv);

const char* UsageText();
const char* VersionText();

// The whole of main: parses, prints help, version or the fault with the usage, or runs.
// 0 after a run or help or version, 2 for a command line fault, -1 when the kit does not start.
int CloudpumpMain(int argc, const char* const* argv);

}  // namespace kesto::bridge

#endif  // KESTO_BRIDGE_COMMAND_LINE_H_
