// Receive throughput and loss of one IOThread (one receive per readiness, as the device manager
// does) against a bare blocking recvfrom loop, on the same loopback traffic of 1380-byte
// datagrams:
//   1. flood: the sender sends as fast as it can for --flood-seconds; packets per second each;
//   2. paced: --rate packets per second (default 86,000: one 1 Gb/s link of such packets) for
//      --seconds (default 10); loss each;
// then the latency from Post on another thread to the task running on an idle loop, and the
// spacing of an idle loop's ticks. Prints the receive buffer size the system granted (the
// sockets ask for 200 MiB) and the load average before and after, since the figures depend on
// what else the machine runs.
//
// Plain timed program, not a test: run it inside `unshare -n sh -c 'ip link set lo up && ...'`.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "io_thread.h"
#include "socket.h"
#include "socket_util.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace kesto;

constexpr int kDatagramBytes = 1380;
constexpr int kReceiveBuffer = 8192;
constexpr uint8_t kStopMarker = 0xFF;

struct Options {
  double seconds = 10.0;
  double flood_seconds = 3.0;
  double rate = 86000.0;
};

std::string LoadAverage() {
  std::ifstream in("/proc/loadavg");
  std::string line;
  std::getline(in, line);
  return line.empty() ? "n/a" : line;
}

uint16_t LocalPort(int fd) {
  sockaddr_in address{};
  platform::SocketLocalAddress(fd, &address);
  return ntohs(address.sin_port);
}

int GrantedReceiveBuffer(int fd) {
  int value = 0;
  platform::SocketGetOption(fd, SOL_SOCKET, SO_RCVBUF, &value);
  return value;
}

// Counts datagrams by their sequence number; a stop marker ends the run.
struct Tally {
  std::atomic<uint64_t> received{0};
  std::atomic<bool> stopped{false};
  Clock::time_point first{};
  Clock::time_point last{};
  void Count(const uint8_t* data, int n) {
    if (n <= 0) return;
    if (data[0] == kStopMarker) {
      stopped = true;
      return;
    }
    const auto now = Clock::now();
    if (received.load(std::memory_order_relaxed) == 0) first = now;
    last = now;
    received.fetch_add(1, std::memory_order_relaxed);
  }
};

class CountingReceiver : public lidar::IOLoop::IOLoopDelegate {
 public:
  explicit CountingReceiver(Tally* tally) : tally_(tally) {}
  void OnData(int fd, void*) override {
    sockaddr_in from{};
    platform::SockLen length = sizeof(from);
    const int n = lidar::ReceiveFrom(fd, buffer_, sizeof(buffer_), &from, &length);
    tally_->Count(buffer_, n);
  }
  void OnTick(lidar::TimePoint) override {}
  void OnWake() override {}

 private:
  Tally* tally_;
  uint8_t buffer_[kReceiveBuffer];
};

struct SendResult {
  uint64_t sent = 0;
  double seconds = 0;
};

// Sends numbered datagrams to `port`: as fast as possible when rate is 0, else paced.
SendResult Send(uint16_t port, double rate, double seconds) {
  const int fd = lidar::OpenUdpSocket(0, false, false, false, "127.0.0.1", "");
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = inet_addr("127.0.0.1");
  uint8_t datagram[kDatagramBytes] = {};
  SendResult result;
  const auto start = Clock::now();
  const auto end = start + std::chrono::duration_cast<Clock::duration>(
                               std::chrono::duration<double>(seconds));
  for (auto now = start; now < end; now = Clock::now()) {
    uint64_t due = rate > 0 ? static_cast<uint64_t>(
                                  rate * std::chrono::duration<double>(now - start).count())
                            : result.sent + 64;
    while (result.sent < due) {
      const uint64_t seq = result.sent;
      std::memcpy(datagram + 1, &seq, sizeof(seq));
      if (platform::SocketSendTo(fd, datagram, kDatagramBytes, to) == kDatagramBytes) {
        ++result.sent;
      } else {
        break;
      }
    }
    if (rate > 0) std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  // Let the receiver catch up, then stop it.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const uint8_t stop = kStopMarker;
  for (int i = 0; i < 20; ++i) platform::SocketSendTo(fd, &stop, 1, to);
  lidar::CloseSocket(fd);
  return result;
}

struct RunResult {
  SendResult send;
  uint64_t received = 0;
  double receive_seconds = 0;
  int granted_buffer = 0;
};

RunResult RunIOThread(double rate, double seconds) {
  RunResult result;
  const int fd = lidar::OpenUdpSocket(0, true, false, false, "127.0.0.1", "");
  result.granted_buffer = GrantedReceiveBuffer(fd);
  Tally tally;
  CountingReceiver receiver(&tally);
  {
    lidar::IOThread thread;
    thread.Init(true, false);
    thread.Start();
    thread.GetLoop().lock()->AddDelegate(fd, &receiver, nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    result.send = Send(LocalPort(fd), rate, seconds);
    while (!tally.stopped) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    thread.GetLoop().lock()->RemoveDelegate(fd);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::fflush(stdout);
  }
  result.received = tally.received;
  result.receive_seconds = std::chrono::duration<double>(tally.last - tally.first).count();
  lidar::CloseSocket(fd);
  return result;
}

RunResult RunBareLoop(double rate, double seconds) {
  RunResult result;
  const int fd = lidar::OpenUdpSocket(0, false, true, false, "127.0.0.1", "");
  result.granted_buffer = GrantedReceiveBuffer(fd);
  Tally tally;
  std::thread receiver([&] {
    uint8_t buffer[kReceiveBuffer];
    while (!tally.stopped) {
      sockaddr_in from{};
      platform::SockLen length = sizeof(from);
      const int n = lidar::ReceiveFrom(fd, buffer, sizeof(buffer), &from, &length);
      tally.Count(buffer, n);
    }
  });
  result.send = Send(LocalPort(fd), rate, seconds);
  receiver.join();
  result.received = tally.received;
  result.receive_seconds = std::chrono::duration<double>(tally.last - tally.first).count();
  lidar::CloseSocket(fd);
  return result;
}

void Print(const char* name, const RunResult& r) {
  const double loss = r.send.sent ? 100.0 * (1.0 - static_cast<double>(r.received) /
                                                       static_cast<double>(r.send.sent))
                                  : 0.0;
  std::printf("  %-10s sent %9llu (%8.0f pps)  received %9llu (%8.0f pps)  loss %6.2f %%  "
              "SO_RCVBUF granted %d\n",
              name, static_cast<unsigned long long>(r.send.sent),
              static_cast<double>(r.send.sent) / r.send.seconds,
              static_cast<unsigned long long>(r.received),
              r.receive_seconds > 0 ? static_cast<double>(r.received) / r.receive_seconds : 0.0, loss,
              r.granted_buffer);
}

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const auto at = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1));
  return values[at];
}

void PostLatency() {
  lidar::IOThread thread;
  thread.Init(true, false);
  thread.Start();
  auto loop = thread.GetLoop().lock();
  std::vector<double> micros;
  for (int i = 0; i < 500; ++i) {
    // Let the loop settle into its wait, as an idle loop would be.
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    std::atomic<bool> done{false};
    Clock::time_point ran{};
    const auto posted = Clock::now();
    loop->Post([&] {
      ran = Clock::now();
      done = true;
    });
    while (!done) std::this_thread::yield();
    micros.push_back(std::chrono::duration<double, std::micro>(ran - posted).count());
  }
  loop.reset();
  std::printf("post -> run on an idle loop (500 posts): median %.0f us, p99 %.0f us, max %.0f us\n",
              Percentile(micros, 0.5), Percentile(micros, 0.99), Percentile(micros, 1.0));
}

class TickRecorder : public lidar::IOLoop::IOLoopDelegate {
 public:
  void OnData(int, void*) override {}
  void OnTick(lidar::TimePoint now) override {
    std::lock_guard<std::mutex> lock(mutex);
    ticks.push_back(now);
  }
  void OnWake() override {}
  std::mutex mutex;
  std::vector<lidar::TimePoint> ticks;
};

void TickSpacing() {
  TickRecorder recorder;
  const int fd = lidar::OpenUdpSocket(0, true, true, false, "127.0.0.1", "");
  {
    lidar::IOThread thread;
    thread.Init(true, false);
    thread.Start();
    thread.GetLoop().lock()->AddDelegate(fd, &recorder, nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));
    thread.GetLoop().lock()->RemoveDelegate(fd);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  lidar::CloseSocket(fd);
  std::vector<double> ms;
  for (std::size_t i = 1; i < recorder.ticks.size(); ++i) {
    ms.push_back(std::chrono::duration<double, std::milli>(recorder.ticks[i] -
                                                           recorder.ticks[i - 1])
                     .count());
  }
  std::printf("idle tick spacing (%zu intervals): min %.1f ms, median %.1f ms, max %.1f ms\n",
              ms.size(), Percentile(ms, 0), Percentile(ms, 0.5), Percentile(ms, 1.0));
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string key = argv[i];
    const double value = std::atof(argv[i + 1]);
    if (key == "--seconds") options.seconds = value;
    if (key == "--flood-seconds") options.flood_seconds = value;
    if (key == "--rate") options.rate = value;
  }
  if (!platform::SocketStartup()) return 1;
  std::printf("load average before: %s (hardware threads: %u)\n", LoadAverage().c_str(),
              std::thread::hardware_concurrency());

  std::printf("flood, %.0f s, %d-byte datagrams:\n", options.flood_seconds, kDatagramBytes);
  const RunResult flood_loop = RunIOThread(0, options.flood_seconds);
  Print("IOThread", flood_loop);
  const RunResult flood_bare = RunBareLoop(0, options.flood_seconds);
  Print("recvfrom", flood_bare);
  const double loop_pps = static_cast<double>(flood_loop.received) / flood_loop.receive_seconds;
  const double bare_pps = static_cast<double>(flood_bare.received) / flood_bare.receive_seconds;
  std::printf("  ratio IOThread / recvfrom: %.2f\n", loop_pps / bare_pps);

  std::printf("paced, %.0f pps for %.0f s:\n", options.rate, options.seconds);
  Print("IOThread", RunIOThread(options.rate, options.seconds));
  Print("recvfrom", RunBareLoop(options.rate, options.seconds));

  PostLatency();
  TickSpacing();
  std::printf("load average after: %s\n", LoadAverage().c_str());
  platform::SocketCleanup();
  return 0;
}
