// lidar-sim: emulated lidars on loopback until Ctrl-C (or --seconds). See --help.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>

#include "kit_log.h"
#include "lidar_sim.h"
#include "sim_cli.h"
#include "socket.h"

namespace {

std::atomic<bool> g_interrupted{false};

extern "C" void OnInterrupt(int) { g_interrupted = true; }

int Run(int argc, char** argv) {
  using namespace kesto::lidar_sim;
  CliOptions cli;
  std::string error;
  if (!ParseCommandLine(argc, argv, cli, error)) {
    std::fprintf(stderr, "lidar-sim: %s\n%s", error.c_str(), UsageText());
    return 2;
  }
  if (cli.help) {
    std::fputs(UsageText(), stdout);
    return 0;
  }
  if (!cli.sim.replay.path.empty()) {
    std::string report, warning;
    if (!PrepareReplay(cli, report, warning, error)) {
      std::fprintf(stderr, "lidar-sim: %s\n", error.c_str());
      return 1;
    }
    if (!warning.empty()) std::fprintf(stderr, "lidar-sim: warning: %s\n", warning.c_str());
    std::printf("lidar-sim: replaying %s\n%s", cli.sim.replay.path.c_str(), report.c_str());
    std::fflush(stdout);
  }
  kesto::lidar::log::Setup();
  if (!kesto::platform::SocketStartup()) {
    std::fprintf(stderr, "lidar-sim: cannot start the socket library\n");
    return 1;
  }
  Simulator sim(cli.sim);
  if (!sim.Start()) {
    kesto::platform::SocketCleanup();
    return 1;
  }
  std::signal(SIGINT, OnInterrupt);
  std::printf("lidar-sim: %zu lidar(s) running; Ctrl-C ends.\n", sim.size());
  std::fflush(stdout);

  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  const auto seconds_since = [](Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
  };
  auto last_status = start, last_log = start;
  while (!g_interrupted) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (cli.run_seconds > 0 && seconds_since(start) >= cli.run_seconds) break;
    if (cli.push_log_every > 0 && seconds_since(last_log) >= cli.push_log_every) {
      last_log = Clock::now();
      for (size_t i = 0; i < sim.size(); ++i) sim.PushLogFile(i, 0, cli.push_log_bytes);
    }
    if (cli.status_every > 0 && seconds_since(last_status) >= cli.status_every) {
      last_status = Clock::now();
      for (size_t i = 0; i < sim.size(); ++i) std::printf("%s\n", StatusLine(sim.Snapshot(i)).c_str());
      std::fflush(stdout);
    }
  }
  sim.Stop();
  for (size_t i = 0; i < sim.size(); ++i) std::printf("%s\n", StatusLine(sim.Snapshot(i)).c_str());
  std::printf("lidar-sim: stopped.\n");
  kesto::platform::SocketCleanup();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (...) {
    std::fprintf(stderr, "lidar-sim: ended by an unexpected exception\n");
    return 1;
  }
}
