// The kit's receive path end to end, in one run: the lidar emulator sends type-1 point packets
// (1380 bytes, its running counter at bytes 12-15, the wall clock of the send at 28-35) from
// 127.0.0.2 to a kit started in this process (device manager, data handler, a point-cloud
// observer that counts the packets and checks the counter for gaps) and, in the stream phases,
// the observer writes every packet into a stream block that a reader on another thread takes
// out again, as a loop of lidarstream calls would. Beside it, a bare blocking recvfrom loop on
// the same traffic. Reports, side by side:
//   - packets per second at flood: bare loop, kit, kit with the stream block, and the ratios;
//   - loss and the latency from send to slot written (median, 99th percentile, maximum) at
//     2,000, 86,000 (60 s: one 1 Gb/s link of such packets) and 172,000 packets per second;
//   - the receiving thread's CPU time per packet (bare loop, kit): at flood the emulator, not
//     the receiver, sets the rate, so this tells what each receiver could take;
//   - operator new calls on the kit's data IO thread in the steady state (none expected);
//   - one lidarstream call returning a 0.1 s frame of one lidar in Octave, beside zeros;
//   - CPU per packet of the kit (no stream) against the bare loop at flood and at 86,000/s;
//   - the data IO thread held 1 s in the observer while the emulator floods: the datagrams the
//     system told the kit it dropped, beside sent minus received;
//   - the 86,000 packets/s phase again with the kit recording every datagram to a capture
//     file (--record-dir, removed afterwards): datagrams recorded and dropped, and the kit's
//     CPU per packet beside the same phase without recording, on the data IO thread and in
//     the whole process (the emulator's share is the same in both).
// The emulator stands for a lidar, which is another device: on a machine of two or more
// processors it runs on the first one and everything else on the second (--no-pin: anywhere).
// A plain timed program, not a test. It binds fixed ports (56000, 44332, the lidar's) and the
// kit broadcasts discovery, so run it in a private network namespace:
//   unshare -rn sh -c 'ip link set lo up && kit_stream_bench [--quick]'
// The Octave part uses the real stream block "kesto-stream v1": no bridge may run meanwhile.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bare_receiver.h"
#include "bench_platform.h"
#include "counting_new.h"
#include "kit_log.h"
#include "kit_side.h"
#include "lidar_sim.h"
#include "octave_frame.h"
#include "receive_tally.h"
#include "socket.h"
#include "stream_side.h"

namespace {

using namespace kesto;
using namespace kesto::bench;
using Clock = std::chrono::steady_clock;

constexpr char kLidarIp[] = "127.0.0.2";
constexpr std::uint16_t kKitPort = 51300;
constexpr std::uint16_t kBarePort = 51310;
// The emulator's highest rate; as a requested rate it means "as fast as it sends".
constexpr double kFloodRate = 1e6;
constexpr double kLongestPhaseSeconds = 600;
constexpr auto kReaderPeriod = std::chrono::microseconds(2000);

struct Options {
  double flood_seconds = 5;
  double low_rate = 2000, low_seconds = 10;
  double rate = 86000, seconds = 60;
  double high_rate = 172000, high_seconds = 10;
  int frame_packets = 208;
  int frames = 100;
  bool octave = true;
  bool pin = true;
  std::string record_dir = "/tmp";
};

// Set once by main before any phase: whether the emulator gets a processor of its own.
bool g_pinned = false;

void PrintUsage() {
  std::printf(
      "usage: kit_stream_bench [options]   (inside unshare -rn, loopback only)\n"
      "  --quick               short phases: flood 1 s, paced 2 s/3 s/2 s, 30 Octave frames\n"
      "  --flood-seconds S     each flood phase (default 5)\n"
      "  --low-rate R          latency phase rate (default 2000 packets/s)\n"
      "  --low-seconds S       (default 10)\n"
      "  --rate R              long phase rate (default 86000 packets/s)\n"
      "  --seconds S           long phase (default 60)\n"
      "  --high-rate R         overload phase rate (default 172000 packets/s)\n"
      "  --high-seconds S      (default 10)\n"
      "  --frames N            Octave calls timed (default 100)\n"
      "  --no-octave           skip the Octave part\n"
      "  --no-pin              let the emulator and the kit run on any processor\n"
      "  --record-dir DIR      where the recording phase writes its capture (default /tmp)\n"
      "  --fill-stream unlink|N  write N packets into \"kesto-stream v1\" and exit (Octave part)\n");
}

bool ParseOptions(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string flag = argv[i];
    const auto number = [&](double& out, double low, double high) {
      if (i + 1 >= argc) return false;
      char* end = nullptr;
      out = std::strtod(argv[++i], &end);
      return *end == '\0' && out >= low && out <= high;
    };
    double frames = 0;
    bool ok = true;
    if (flag == "--quick") {
      o.flood_seconds = 1;
      o.low_seconds = 2;
      o.seconds = 3;
      o.high_seconds = 2;
      o.frames = 30;
    } else if (flag == "--flood-seconds") {
      ok = number(o.flood_seconds, 0.5, kLongestPhaseSeconds);
    } else if (flag == "--low-rate") {
      ok = number(o.low_rate, 1, 500000);
    } else if (flag == "--low-seconds") {
      ok = number(o.low_seconds, 0.5, kLongestPhaseSeconds);
    } else if (flag == "--rate") {
      ok = number(o.rate, 1, 500000);
    } else if (flag == "--seconds") {
      ok = number(o.seconds, 0.5, kLongestPhaseSeconds);
    } else if (flag == "--high-rate") {
      ok = number(o.high_rate, 1, 500000);
    } else if (flag == "--high-seconds") {
      ok = number(o.high_seconds, 0.5, kLongestPhaseSeconds);
    } else if (flag == "--frames") {
      ok = number(frames, 1, 100000);
      o.frames = static_cast<int>(frames);
    } else if (flag == "--no-octave") {
      o.octave = false;
    } else if (flag == "--no-pin") {
      o.pin = false;
    } else if (flag == "--record-dir") {
      ok = i + 1 < argc;
      if (ok) o.record_dir = argv[++i];
    } else {
      ok = false;
    }
    if (!ok) {
      std::fprintf(stderr, "kit_stream_bench: bad option or value: %s\n", flag.c_str());
      return false;
    }
  }
  return true;
}

std::string LoadAverage() {
  std::ifstream in("/proc/loadavg");
  std::string line;
  std::getline(in, line);
  return line.empty() ? "n/a" : line;
}

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

struct SendFigures {
  bool started = false;
  std::uint64_t sent = 0;
  std::uint64_t send_errors = 0;
  double seconds = 0;
  double rate() const { return seconds > 0 ? static_cast<double>(sent) / seconds : 0; }
};

// One emulated ORBIT lidar streams type-1 packets to 127.0.0.1:`port`. Flood (`rate` is
// kFloodRate): as fast as it sends, for `seconds`. Otherwise `rate` packets per second until
// rate x seconds packets went out (or twice the time and ten seconds more passed). Returns once
// the sending is over, with the emulator stopped.
SendFigures StreamFromEmulator(std::uint16_t port, double rate, double seconds) {
  const bool flood = rate >= kFloodRate;
  const auto limit = static_cast<std::uint64_t>(rate * seconds);
  lidar_sim::SimOptions options;
  options.lidars = lidar_sim::MakeLidars(lidar_sim::Model::kOrbit, 1, kLidarIp);
  options.point_rate = rate;
  options.packet_limit = limit;
  options.stream_seconds = seconds + 1;
  options.imu_on_at_start = false;
  options.preset = {"127.0.0.1", port, 0, 1};
  options.synced_clock = true;
  options.frozen_scene = true;
  lidar_sim::Simulator sim(options);
  SendFigures figures;
  const Clock::time_point start = Clock::now();
  // The emulator's loop thread takes the processor its creator has at the start.
  if (g_pinned) PlaceThisThread(0);
  const bool started = sim.Start();
  if (g_pinned) PlaceThisThread(1);
  if (!started) return figures;
  figures.started = true;
  if (flood) {
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  } else {
    const double deadline = 2 * seconds + 10;
    while (sim.Snapshot(0).point_packets < limit && SecondsSince(start) < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  figures.seconds = SecondsSince(start);
  sim.Stop();
  const lidar_sim::LidarSnapshot s = sim.Snapshot(0);
  figures.sent = s.point_packets;
  figures.send_errors = s.send_errors;
  return figures;
}

// Waits until `count()` reaches `expected` or stops growing for 300 ms (at most 5 s).
template <typename Count>
void WaitQuiet(Count count, std::uint64_t expected) {
  const Clock::time_point start = Clock::now();
  std::uint64_t seen = count();
  Clock::time_point changed = Clock::now();
  while (seen < expected && SecondsSince(changed) < 0.3 && SecondsSince(start) < 5) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const std::uint64_t now = count();
    if (now != seen) {
      seen = now;
      changed = Clock::now();
    }
  }
}

enum class Target { kBare, kKit, kKitStream, kKitStreamRecording, kKitPaused };

struct PhaseResult {
  std::string name;
  Target target = Target::kBare;
  SendFigures send;
  std::uint64_t received = 0;
  std::uint64_t missing = 0;        // by the counter, up to the last arrival
  std::uint64_t out_of_order = 0;
  double receive_rate = 0;
  // The receiving thread (bare loop or data IO thread) from the warm mark on.
  std::uint64_t steady_allocations = 0;
  std::uint64_t steady_packets = 0;
  double cpu_us_per_packet = 0;
  // Stream phases.
  std::uint64_t written = 0;
  std::uint64_t returned = 0;
  std::uint64_t ring_lost = 0;
  std::uint64_t reader_missing = 0;
  std::uint64_t malformed = 0;
  std::uint64_t latency_samples = 0;
  std::uint64_t negative_latencies = 0;
  // Every thread of the process over the sending, emulator included, per packet received.
  double process_cpu_us_per_packet = 0;
  // The recording phase.
  std::uint64_t recorded = 0;
  std::uint64_t record_dropped = 0;
  std::uint64_t record_bytes = 0;
  // The paused phase: what the system said it dropped on the kit's data socket.
  std::uint64_t os_dropped = 0;
  double latency_median_us = 0, latency_p99_us = 0, latency_max_us = 0;

  // Sent but never received: dropped by the receiving socket (or never delivered).
  std::uint64_t lost_in_socket() const { return send.sent > received ? send.sent - received : 0; }
};

class Bench {
 public:
  bool Start(const std::string& block_name) {
    if (!kit_.OpenStream(block_name)) {
      std::fprintf(stderr, "cannot map the stream block %s\n", block_name.c_str());
      return false;
    }
    if (!kit_.Start(kLidarIp, kKitPort)) {
      std::fprintf(stderr, "the kit did not start (run inside unshare -rn, loopback up)\n");
      return false;
    }
    return true;
  }
  void Stop() { kit_.Stop(); }

  PhaseResult Run(const std::string& name, Target target, double rate, double seconds,
                  const std::string& record_path = "") {
    PhaseResult r;
    r.name = name;
    r.target = target;
    if (target == Target::kBare) {
      BareReceiver bare;
      if (!bare.Open(kBarePort)) {
        std::fprintf(stderr, "cannot bind 127.0.0.1:%u\n", kBarePort);
        return r;
      }
      granted_buffer_ = bare.granted_buffer();
      bare.Start();
      r.send = StreamFromEmulator(kBarePort, rate, seconds);
      WaitQuiet([&] { return bare.tally().packets(); }, r.send.sent);
      bare.Stop();
      Take(bare.tally(), bare.probe(), r);
    } else {
      const bool recording = target == Target::kKitStreamRecording;
      const std::uint64_t os_dropped_before = kit_.os_dropped();
      if (target == Target::kKitPaused) kit_.PauseAtNextPacket(1.0);
      const bool stream = target == Target::kKitStream || recording;
      kit_.ResetPhase();
      kit_.SetStreamWriting(stream);
      if (recording && !kit_.StartRecording(record_path)) {
        std::fprintf(stderr, "cannot record to %s\n", record_path.c_str());
        return r;
      }
      const std::uint64_t written_before = kit_.stream_written();
      StreamReaderThread reader;
      if (stream) reader.Start(kit_.stream_block(), kReaderPeriod);
      const std::int64_t cpu_before = ProcessCpuNs();
      r.send = StreamFromEmulator(kKitPort, rate, seconds);
      WaitQuiet([&] { return kit_.tally().packets(); }, r.send.sent);
      if (recording) {
        const lidar::RecordCounts counts = kit_.StopRecording();
        r.recorded = counts.recorded;
        r.record_dropped = counts.dropped;
        std::error_code error;
        r.record_bytes = std::filesystem::file_size(record_path, error);
        std::filesystem::remove(record_path, error);
      }
      const std::int64_t cpu_used = ProcessCpuNs() - cpu_before;
      if (stream) {
        reader.Finish();
        r.written = kit_.stream_written() - written_before;
        TakeStream(reader.result(), r);
      }
      kit_.SetStreamWriting(false);
      Take(kit_.tally(), kit_.probe(), r);
      r.os_dropped = kit_.os_dropped() - os_dropped_before;
      if (r.received > 0) {
        r.process_cpu_us_per_packet = static_cast<double>(cpu_used) / 1e3 / static_cast<double>(r.received);
      }
    }
    Print(r);
    return r;
  }

  int granted_buffer() const { return granted_buffer_; }

 private:
  static void Take(const Tally& tally, const SteadyProbe& probe, PhaseResult& r) {
    r.received = tally.packets();
    r.missing = tally.missing();
    r.out_of_order = tally.out_of_order();
    r.receive_rate = tally.rate();
    r.steady_allocations = probe.steady_allocations();
    r.steady_packets = probe.steady_packets();
    r.cpu_us_per_packet = probe.cpu_us_per_packet();
  }

  static void TakeStream(const StreamReadResult& read, PhaseResult& r) {
    r.returned = read.returned;
    r.ring_lost = read.lost;
    r.reader_missing = read.tally.missing();
    r.malformed = read.malformed;
    r.latency_samples = read.latency.count();
    r.negative_latencies = read.latency.negative();
    r.latency_median_us = static_cast<double>(read.latency.Percentile(0.5)) / 1e3;
    r.latency_p99_us = static_cast<double>(read.latency.Percentile(0.99)) / 1e3;
    r.latency_max_us = static_cast<double>(read.latency.max()) / 1e3;
  }

  static void Print(const PhaseResult& r) {
    std::printf("%-34s sent %9llu in %6.2f s (%7.0f/s, %llu send errors); received %9llu at %7.0f/s,"
                " lost %llu (counter gaps %llu, out of order %llu)\n",
                r.name.c_str(), static_cast<unsigned long long>(r.send.sent), r.send.seconds,
                r.send.rate(), static_cast<unsigned long long>(r.send.send_errors),
                static_cast<unsigned long long>(r.received), r.receive_rate,
                static_cast<unsigned long long>(r.lost_in_socket()),
                static_cast<unsigned long long>(r.missing),
                static_cast<unsigned long long>(r.out_of_order));
    std::printf("%-34s receiving thread: %.2f us CPU per packet, operator new %llu in %llu "
                "steady packets\n",
                "", r.cpu_us_per_packet, static_cast<unsigned long long>(r.steady_allocations),
                static_cast<unsigned long long>(r.steady_packets));
    if (r.target == Target::kKitPaused) {
      std::printf("%-34s data thread held 1 s: the system told %llu dropped; sent - received = %llu"
                  " (%s)\n",
                  "", static_cast<unsigned long long>(r.os_dropped),
                  static_cast<unsigned long long>(r.lost_in_socket()),
                  r.os_dropped == r.lost_in_socket() ? "equal" : "NOT EQUAL");
    }
    if (r.target == Target::kKitStreamRecording) {
      std::printf("%-34s recording: %llu datagrams recorded, %llu dropped, %.1f MB\n", "",
                  static_cast<unsigned long long>(r.recorded),
                  static_cast<unsigned long long>(r.record_dropped),
                  static_cast<double>(r.record_bytes) / 1e6);
    }
    if (r.target == Target::kKitStream || r.target == Target::kKitStreamRecording) {
      std::printf("%-34s stream: written %llu, reader got %llu, ring lost %llu, counter gaps %llu,"
                  " malformed %llu; latency us median %.1f p99 %.1f max %.1f (%llu samples,"
                  " %llu negative)\n",
                  "", static_cast<unsigned long long>(r.written),
                  static_cast<unsigned long long>(r.returned),
                  static_cast<unsigned long long>(r.ring_lost),
                  static_cast<unsigned long long>(r.reader_missing),
                  static_cast<unsigned long long>(r.malformed), r.latency_median_us,
                  r.latency_p99_us, r.latency_max_us,
                  static_cast<unsigned long long>(r.latency_samples),
                  static_cast<unsigned long long>(r.negative_latencies));
    }
    std::fflush(stdout);
  }

  KitSide kit_;
  int granted_buffer_ = 0;
};

double Ratio(double a, double b) { return b > 0 ? a / b : 0; }

// The paced phase at the long rate without and with recording.
void PrintRecordingCost(const PhaseResult& plain, const PhaseResult& recording) {
  const auto change = [](double before, double after) {
    return before > 0 ? 100.0 * (after - before) / before : 0.0;
  };
  std::printf("recording at %.0f/s: %llu datagrams recorded, %llu dropped (of %llu received)\n",
              recording.send.rate(), static_cast<unsigned long long>(recording.recorded),
              static_cast<unsigned long long>(recording.record_dropped),
              static_cast<unsigned long long>(recording.received));
  std::printf("  data IO thread CPU us/packet %.3f -> %.3f (%+.1f%%); whole process %.3f -> %.3f "
              "(%+.1f%%, emulator included); received/s %.0f -> %.0f\n",
              plain.cpu_us_per_packet, recording.cpu_us_per_packet,
              change(plain.cpu_us_per_packet, recording.cpu_us_per_packet),
              plain.process_cpu_us_per_packet, recording.process_cpu_us_per_packet,
              change(plain.process_cpu_us_per_packet, recording.process_cpu_us_per_packet),
              plain.receive_rate, recording.receive_rate);
}

void PrintSummary(const Options& o, const std::vector<PhaseResult>& flood,
                  const std::vector<PhaseResult>& paced, const OctaveFrameFigures& octave) {
  std::printf("\n== summary ==\n");
  std::printf("flood, %.0f s each             sent/s  received/s   lost  CPU us/packet\n",
              o.flood_seconds);
  for (const PhaseResult& r : flood) {
    std::printf("  %-26s %9.0f   %9.0f  %5llu  %6.2f\n", r.name.c_str(), r.send.rate(),
                r.receive_rate, static_cast<unsigned long long>(r.lost_in_socket()),
                r.cpu_us_per_packet);
  }
  if (flood.size() == 3) {
    std::printf("  rate kit / bare %.3f, kit + stream / bare %.3f (goal >= 0.7)\n",
                Ratio(flood[1].receive_rate, flood[0].receive_rate),
                Ratio(flood[2].receive_rate, flood[0].receive_rate));
    std::printf("  by CPU per packet (what each receiver could take): kit %.0f/s, kit + stream "
                "%.0f/s, bare %.0f/s; kit / bare %.3f, kit + stream / bare %.3f\n",
                Ratio(1e6, flood[1].cpu_us_per_packet), Ratio(1e6, flood[2].cpu_us_per_packet),
                Ratio(1e6, flood[0].cpu_us_per_packet),
                Ratio(flood[0].cpu_us_per_packet, flood[1].cpu_us_per_packet),
                Ratio(flood[0].cpu_us_per_packet, flood[2].cpu_us_per_packet));
  }
  std::printf("paced                       sent  lost (socket)  ring lost  reader got  "
              "latency us median / p99 / max\n");
  for (const PhaseResult& r : paced) {
    std::printf("  %-20s %10llu   %10llu", r.name.c_str(), static_cast<unsigned long long>(r.send.sent),
                static_cast<unsigned long long>(r.lost_in_socket()));
    if (r.target == Target::kKitStream || r.target == Target::kKitStreamRecording) {
      std::printf("  %9llu  %10llu    %7.1f / %7.1f / %8.1f\n",
                  static_cast<unsigned long long>(r.ring_lost),
                  static_cast<unsigned long long>(r.returned), r.latency_median_us,
                  r.latency_p99_us, r.latency_max_us);
    } else if (r.target == Target::kBare) {
      std::printf("  (bare recvfrom loop)  CPU us/packet %.2f\n", r.cpu_us_per_packet);
    } else {
      std::printf("  (kit, no stream)      CPU us/packet %.2f\n", r.cpu_us_per_packet);
    }
  }
  for (const PhaseResult& r : paced) {
    if (r.target == Target::kKitStreamRecording) PrintRecordingCost(paced[1], r);
  }
  const auto find = [&paced](const std::string& name) -> const PhaseResult* {
    for (const PhaseResult& r : paced) {
      if (r.name == name) return &r;
    }
    return nullptr;
  };
  const PhaseResult* kit_paced = find("kit " + paced[1].name);
  const PhaseResult* bare_paced = find("bare " + paced[1].name);
  if (flood.size() == 3 && kit_paced != nullptr && bare_paced != nullptr) {
    std::printf("CPU per packet, kit / bare loop (goal <= 1.15): flood %.3f (%.2f / %.2f us), "
                "%s %.3f (%.2f / %.2f us)\n",
                Ratio(flood[1].cpu_us_per_packet, flood[0].cpu_us_per_packet),
                flood[1].cpu_us_per_packet, flood[0].cpu_us_per_packet, paced[1].name.c_str(),
                Ratio(kit_paced->cpu_us_per_packet, bare_paced->cpu_us_per_packet),
                kit_paced->cpu_us_per_packet, bare_paced->cpu_us_per_packet);
    std::printf("loss at flood (goal: kit + stream <= bare): bare %llu, kit + stream %llu\n",
                static_cast<unsigned long long>(flood[0].lost_in_socket()),
                static_cast<unsigned long long>(flood[2].lost_in_socket()));
  }
  for (const PhaseResult& r : paced) {
    if (r.target != Target::kKitPaused) continue;
    std::printf("reader held 1 s at flood: sent %llu, received %llu, the system told %llu dropped"
                " (sent - received %llu: %s)\n",
                static_cast<unsigned long long>(r.send.sent),
                static_cast<unsigned long long>(r.received),
                static_cast<unsigned long long>(r.os_dropped),
                static_cast<unsigned long long>(r.lost_in_socket()),
                r.os_dropped == r.lost_in_socket() ? "equal" : "NOT EQUAL");
  }
  std::uint64_t allocations = 0, packets = 0;
  for (const auto* list : {&flood, &paced}) {
    for (const PhaseResult& r : *list) {
      if (r.target == Target::kBare) continue;
      allocations += r.steady_allocations;
      packets += r.steady_packets;
    }
  }
  std::printf("operator new on the kit's data IO thread, steady state of every kit phase: %llu in "
              "%llu packets\n",
              static_cast<unsigned long long>(allocations), static_cast<unsigned long long>(packets));
  if (octave.ran) {
    const auto v = [&octave](const char* name) {
      const auto it = octave.values.find(name);
      return it == octave.values.end() ? 0.0 : it->second;
    };
    std::printf("Octave, %.0f-packet frame (%.0f x 8): lidarstream %.1f us median (%.1f min), "
                "zeros %.1f us median (%.1f min); wrong frames %.0f, lost %.0f\n",
                v("frame_packets"), v("frame_rows"), v("frame_median_us"), v("frame_min_us"),
                v("zeros_median_us"), v("zeros_min_us"), v("wrong_frames"), v("lost"));
  } else {
    std::printf("Octave part not run: %s\n", octave.note.c_str());
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--fill-stream") return FillStreamBlock(argv[2]);
  Options options;
  if (argc > 1 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
    PrintUsage();
    return 0;
  }
  if (!ParseOptions(argc, argv, options)) {
    PrintUsage();
    return 2;
  }
  if (!platform::SocketStartup()) return 1;
  lidar::log::Setup();
  if (auto logger = lidar::log::Logger()) logger->set_level(spdlog::level::warn);

  g_pinned = options.pin && UsableProcessors() >= 2 && PlaceThisThread(1);
  std::printf("kit_stream_bench: %d processors, emulator %s, load average %s\n",
              UsableProcessors(), g_pinned ? "on the first, the rest on the second" : "not placed",
              LoadAverage().c_str());
  std::vector<PhaseResult> flood, paced;
  {
    Bench bench;
    const std::string block_name = "kesto-stream-bench-" + std::to_string(
        std::chrono::steady_clock::now().time_since_epoch().count());
    if (!bench.Start(block_name)) return 1;
    flood.push_back(bench.Run("flood, bare recvfrom loop", Target::kBare, kFloodRate, options.flood_seconds));
    std::printf("%-34s receive buffer granted: %d bytes\n", "", bench.granted_buffer());
    flood.push_back(bench.Run("flood, kit", Target::kKit, kFloodRate, options.flood_seconds));
    flood.push_back(bench.Run("flood, kit + stream", Target::kKitStream, kFloodRate,
                              options.flood_seconds));
    const auto label = [](double rate, double seconds) {
      char text[64];
      std::snprintf(text, sizeof text, "%.0f/s x %.0f s", rate, seconds);
      return std::string(text);
    };
    paced.push_back(bench.Run(label(options.low_rate, options.low_seconds), Target::kKitStream,
                              options.low_rate, options.low_seconds));
    paced.push_back(bench.Run(label(options.rate, options.seconds), Target::kKitStream,
                              options.rate, options.seconds));
    paced.push_back(bench.Run("kit " + label(options.rate, options.seconds), Target::kKit,
                              options.rate, options.seconds));
    paced.push_back(bench.Run("bare " + label(options.rate, options.seconds), Target::kBare,
                              options.rate, options.seconds));
    paced.push_back(bench.Run(label(options.rate, options.seconds) + ", recording",
                              Target::kKitStreamRecording, options.rate, options.seconds,
                              options.record_dir + "/kit_stream_bench_" + block_name + ".pcapng"));
    paced.push_back(bench.Run(label(options.high_rate, options.high_seconds), Target::kKitStream,
                              options.high_rate, options.high_seconds));
    paced.push_back(bench.Run("bare " + label(options.high_rate, options.high_seconds),
                              Target::kBare, options.high_rate, options.high_seconds));
    paced.push_back(bench.Run("flood, kit held 1 s", Target::kKitPaused, kFloodRate,
                              std::max(3.0, options.flood_seconds)));
    bench.Stop();
  }
  if (g_pinned) PlaceThisThread(-1);
  OctaveFrameFigures octave;
  if (options.octave) {
    std::error_code error;
    const std::filesystem::path self = std::filesystem::absolute(argv[0], error);
    octave = RunOctaveFrameBench(self.string(), options.frame_packets, options.frames);
  } else {
    octave.note = "--no-octave";
  }
  std::printf("load average after: %s; operator new calls in the process: %llu\n",
              LoadAverage().c_str(), static_cast<unsigned long long>(AllocationsInProcess()));
  PrintSummary(options, flood, paced, octave);
  platform::SocketCleanup();
  return 0;
}
