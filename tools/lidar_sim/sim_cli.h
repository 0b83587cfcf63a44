#ifndef KESTO_TOOLS_LIDAR_SIM_SIM_CLI_H_
#define KESTO_TOOLS_LIDAR_SIM_SIM_CLI_H_

// The lidar-sim command line: its flags, their parsing into SimOptions, and the status line.

#include <string>
#include <vector>

#include "lidar_sim.h"

namespace kesto::lidar_sim {

struct CliOptions {
  SimOptions sim;
  bool help = false;
  double run_seconds = 0;       // 0: until Ctrl-C
  double status_every = 5;      // seconds between status lines; 0: none
  double push_log_every = 0;    // seconds between log files per lidar; 0: none
  size_t push_log_bytes = 4096;
  // With --replay: --first-address and the --lidar ones, which name recorded lidars; the lidars
  // themselves come from the capture (PrepareReplay).
  std::string first_address = "127.0.0.2";
  std::vector<LidarSetup> named_lidars;
};

// False with `error` set on an unknown flag or a bad value.
bool ParseCommandLine(int argc, const char* const* argv, CliOptions& out, std::string& error);

// With --replay: reads the capture once and makes its lidars cli.sim.lidars. `report` is what
// the program prints before it starts (ReplayReport); `warning` is set for a damaged tail. False,
// with `error` set, for a file that is no capture or holds no lidar the emulator can stand for.
bool PrepareReplay(CliOptions& cli, std::string& report, std::string& warning, std::string& error);

const char* UsageText();

// One line about one lidar: down, configured or not, what it sent and went through, where it
// streams.
std::string StatusLine(const LidarSnapshot& s);

}  // namespace kesto::lidar_sim

#endif  // KESTO_TOOLS_LIDAR_SIM_SIM_CLI_H_
