// The emulator's sending rate, measured by a bare receiver: one emulated lidar streams point
// packets at a requested rate (default line rate, 86,000 packets/s of 1380 bytes) for a bounded
// time to a plain UDP socket on 127.0.0.1, which counts what arrives and the gaps in the
// packets' running counter. Run it inside `unshare -rn` (loopback only).
//   lidar_sim_rate [packets_per_second [seconds]]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "lidar_sim.h"
#include "little_endian.h"
#include "socket.h"

namespace {

namespace platform = kesto::platform;
using Clock = std::chrono::steady_clock;

constexpr uint16_t kPort = 51300;

struct Received {
  uint64_t packets = 0;
  uint64_t bytes = 0;
  uint64_t gaps = 0;  // packets missing by the running counter
  double seconds = 0;  // first to last arrival
};

// Blocking reads until nothing arrived for a second; bounded by `limit_seconds` in any case.
Received Receive(int fd, double limit_seconds) {
  Received r;
  uint8_t buffer[2048];
  uint32_t expected = 0;
  Clock::time_point first{}, last{};
  const Clock::time_point end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                   std::chrono::duration<double>(limit_seconds));
  while (Clock::now() < end) {
    platform::SocketSet set;
    set.Add(fd);
    if (platform::SocketSelect(fd + 1, &set, nullptr, r.packets == 0 ? 5000 : 1000) <= 0) break;
    const int n = platform::SocketRecv(fd, buffer, sizeof buffer);
    if (n < 16) continue;
    last = Clock::now();
    if (r.packets == 0) first = last;
    const uint32_t counter = kesto::LoadU32(buffer + 12);
    if (counter > expected) r.gaps += counter - expected;
    expected = counter + 1;
    ++r.packets;
    r.bytes += static_cast<uint64_t>(n);
  }
  r.seconds = std::chrono::duration<double>(last - first).count();
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  const double rate = argc > 1 ? std::atof(argv[1]) : kesto::lidar_sim::kLineRatePacketsPerSecond;
  const double seconds = argc > 2 ? std::atof(argv[2]) : 10.0;
  if (!(rate > 0) || !(seconds > 0) || seconds > 120) {
    std::fprintf(stderr, "usage: lidar_sim_rate [packets_per_second [seconds <= 120]]\n");
    return 2;
  }
  if (!platform::SocketStartup()) return 1;
  const int fd = platform::SocketOpen(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  platform::SocketSetOption(fd, SOL_SOCKET, SO_RCVBUF, 64 << 20);
  int granted = 0;
  platform::SocketGetOption(fd, SOL_SOCKET, SO_RCVBUF, &granted);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(kPort);
  local.sin_addr.s_addr = inet_addr("127.0.0.1");
  if (fd < 0 || !platform::SocketBind(fd, local)) {
    std::fprintf(stderr, "cannot bind 127.0.0.1:%u\n", kPort);
    return 1;
  }

  kesto::lidar_sim::SimOptions options;
  options.lidars = kesto::lidar_sim::MakeLidars(kesto::lidar_sim::Model::kOrbit, 1, "127.0.0.2");
  options.point_rate = rate;
  options.stream_seconds = seconds;
  options.preset = {"127.0.0.1", kPort, 0, 1};
  kesto::lidar_sim::Simulator sim(options);
  if (!sim.Start()) return 1;
  const Received r = Receive(fd, seconds + 10);
  sim.Stop();
  const kesto::lidar_sim::LidarSnapshot s = sim.Snapshot(0);

  const double sent_rate = static_cast<double>(s.point_packets) / seconds;
  const double received_rate = r.seconds > 0 ? static_cast<double>(r.packets) / r.seconds : 0;
  std::printf("requested   %.0f packets/s for %.1f s (receive buffer granted %d bytes)\n", rate, seconds, granted);
  std::printf("sent        %llu packets, %.0f packets/s (%.2f %% of requested), %llu send errors\n",
              static_cast<unsigned long long>(s.point_packets), sent_rate, 100.0 * sent_rate / rate,
              static_cast<unsigned long long>(s.send_errors));
  std::printf("received    %llu packets (%.1f MB) in %.3f s: %.0f packets/s (%.2f %% of requested)\n",
              static_cast<unsigned long long>(r.packets), static_cast<double>(r.bytes) / 1e6, r.seconds,
              received_rate, 100.0 * received_rate / rate);
  std::printf("lost        %llu packets by the running counter\n", static_cast<unsigned long long>(r.gaps));
  platform::SocketClose(fd);
  platform::SocketCleanup();
  return 0;
}
