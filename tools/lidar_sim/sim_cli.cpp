#include "sim_cli.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "emulated_lidar.h"
#include "replay.h"

namespace kesto::lidar_sim {

namespace {

bool ToNumber(const std::string& text, double& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(text.c_str(), &end);
  if (errno != 0 || end == nullptr || *end != '\0' || !(v >= 0)) return false;
  out = v;
  return true;
}

bool ToUnsigned(const std::string& text, unsigned long long max, unsigned long long& out) {
  if (text.empty() || text[0] == '-') return false;
  char* end = nullptr;
  errno = 0;
  const unsigned long long v = std::strtoull(text.c_str(), &end, 0);
  if (errno != 0 || end == nullptr || *end != '\0' || v > max) return false;
  out = v;
  return true;
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t at = 0; at <= text.size(); ++at) {
    if (at == text.size() || text[at] == separator) {
      parts.push_back(text.substr(start, at - start));
      start = at + 1;
    }
  }
  return parts;
}

// The flags that disrupt a lidar: what they do and whether they repeat and need a down time.
struct DisruptionFlag {
  const char* name;
  Disruption kind;
  bool every;
  bool down_needed;
};
constexpr DisruptionFlag kDisruptionFlags[] = {
    {"--reboot", Disruption::kReboot, false, false},
    {"--reboot-every", Disruption::kReboot, true, false},
    {"--drop", Disruption::kDrop, false, true},
    {"--drop-every", Disruption::kDrop, true, true},
    {"--move", Disruption::kMove, false, false},
};

// L:T[:D], or for a move L:T:A[:D]; the lidar index is checked once the lidars are known.
bool ParseDisruption(const DisruptionFlag& flag, const std::string& text, DisruptionPlan& plan) {
  const std::vector<std::string> parts = Split(text, ':');
  const size_t fixed = flag.kind == Disruption::kMove ? 3 : 2;
  const size_t least = flag.down_needed ? fixed + 1 : fixed;
  unsigned long long index = 0;
  double time = 0;
  if (parts.size() < least || parts.size() > fixed + 1 || !ToUnsigned(parts[0], 100000, index) ||
      !ToNumber(parts[1], time)) {
    return false;
  }
  plan.kind = flag.kind;
  plan.index = static_cast<size_t>(index);
  plan.after_seconds = time;
  plan.every_seconds = flag.every ? time : 0;
  if (flag.kind == Disruption::kMove) plan.new_address = parts[2];
  if (parts.size() == fixed + 1 && !ToNumber(parts[fixed], plan.down_seconds)) return false;
  if (flag.every && !(plan.every_seconds > plan.down_seconds)) return false;
  std::array<uint8_t, 4> address{};
  return flag.kind != Disruption::kMove || ParseAddress(plan.new_address, address);
}

// Whether every disruption names a lidar there is.
bool DisruptedLidarsExist(const SimOptions& sim, std::string& error) {
  for (const DisruptionPlan& plan : sim.disruptions) {
    if (plan.index >= sim.lidars.size()) {
      error = "no lidar " + std::to_string(plan.index) + " to disrupt (" +
              std::to_string(sim.lidars.size()) + " lidars, the first is 0)";
      return false;
    }
  }
  return true;
}

bool ParseModel(const std::string& text, Model& model) {
  if (text == "orbit" || text == "ORBIT") model = Model::kOrbit;
  else if (text == "vela" || text == "VELA") model = Model::kVela;
  else return false;
  return true;
}

// The ports a lidar of `model` uses, as the usage text lists them.
std::string PortsLine(Model model) {
  const ModelPorts ports = PortsOf(model);
  const auto port = [](uint16_t p) { return std::to_string(p); };
  return "  " + std::string(ModelName(model)) + ": command " + port(ports.command) +
         ", state push " + port(ports.push) + ", point cloud " + port(ports.point) + ", IMU " +
         port(ports.imu) + ", log " + port(ports.log) + "\n";
}

constexpr const char* kOptionsText = R"(  --orbit N              N ORBIT lidars (default: 1 ORBIT when no lidar is given)
  --vela N               N VELA lidars, on the addresses after the ORBIT ones
  --first-address A      address of the first lidar (default 127.0.0.2), one per address
  --lidar MODEL@A[/SN]   one lidar of MODEL (orbit, vela) on A, serial SN (repeatable); with
                         --replay, A is a recorded lidar's address in the capture, which this
                         names where its recording does not (no discovery reply)
  --rate PPS             point packets per second per lidar (default 2083: 200,000 points/s)
  --line-rate            86,000 point packets per second per lidar
  --imu-rate HZ          IMU packets per second (default 200)
  --imu-off              IMU data off until a host enables it
  --count N              send at most N packets per stream
  --stream-seconds S     stop each stream S seconds after it started
  --seconds S            end the program after S seconds (default: at Ctrl-C)
  --stream-to A:P[:I]    stream at once to host A, point port P, IMU port I, without a host
  --point-type T         point data type of --stream-to (1, 2 or 3; default 1)
  --fw-type N            firmware type answered to its query (default 1)
  --silent ID[,ID...]    never answer these command ids (for example 0x0100)
  --silent-first N:ID[:KEY]  leave the first N commands ID of each lidar unanswered; with
                         KEY, only set-parameters or queries whose list holds KEY (repeatable)
  --refuse KEY[,KEY...]  refuse set-parameters requests holding these keys (ret_code 1)
  --malformed-every N    precede every N-th datagram with a damaged copy
  --malformed KINDS      which damage: truncated,crc,length,odd (default all)
  --log-host-port P      host log port used when the host set none
  --push-log-every S     send a log file every S seconds per lidar (needs a log host)
  --push-log-bytes N     size of each log file (default 4096)
  --status-every S       a status line per lidar every S seconds (default 5, 0: none)
  --reboot L:T[:D]       power-cycle lidar L (0 is the first lidar: the --orbit ones, then the
                         --vela ones, then the --lidar ones in order) T seconds after the start:
                         silent for D seconds (default 5), then back idle with no host addresses
  --reboot-every L:E[:D] the same every E seconds (first after E seconds); E greater than D
  --drop L:T:D           take lidar L off the network T seconds after the start for D seconds:
                         silent, then back streaming to the same hosts; what it would have sent
                         meanwhile is lost (the packet counters skip it)
  --drop-every L:E:D     the same every E seconds (first after E seconds); E greater than D
  --move L:T:A[:D]       re-address lidar L to A (a loopback address of no other lidar) T
                         seconds after the start, as a host does it (new address, reboot):
                         silent on the old address from then on, back on A after D seconds
                         (default 5), idle, with the same serial number and model
                         (all five repeatable; times and down times in seconds, fractions allowed)
  --record DIR           record into the existing folder DIR, per lidar: its events (commands,
                         log replies, state pushes), the last packet of each stream once it
                         ends by --count or --stream-seconds, and the log files it pushed
  --allow-non-loopback   allow addresses outside 127.0.0.0/8 (real interfaces)
  --replay FILE          replay a recorded session (pcap or pcapng; see Replay below)
  --speed X              replay X times as fast (X > 0, default 1; 0.5 is half as fast)
  --loop                 replay again from the window's start when the recording is over
  --from S               replay from S seconds after the capture's first datagram (default 0)
  --to S                 replay up to S seconds after the capture's first datagram (default: end)
  --help                 this text

Replay: with --replay FILE, every lidar that sent a discovery reply or data packets in the
capture becomes one emulated lidar, in order of first appearance, on --first-address and the
addresses after it. Its model and serial number are those of its recorded discovery reply;
--lidar MODEL@RECORDED-ADDRESS[/SN] names a lidar the capture does not. Each answers discovery
and commands as above; once told work mode 1 it sends its recorded point and IMU packets byte
for byte, in recorded order and with their recorded spacing (divided by --speed), to the host
ports it was given, from its recorded lidar-side ports; work mode 0 pauses it, a reboot starts
it again from the window's start. When its recording is over it sends no data (--loop: again).
The program first prints each lidar (recorded address -> replay address, model, serial, packets)
and the duration. A file that is no capture ends it with an error; a file damaged after good
packets is replayed up to the damage, with one warning. The capture is streamed, never loaded
whole. --orbit, --vela do not combine with --replay; --rate, --imu-rate, --count,
--stream-seconds and --point-type do not apply to replayed data.
)";

}  // namespace

// The ports come from the kit's model table, so the text cannot name other ones.
const char* UsageText() {
  static const std::string text =
      "lidar-sim: emulated ORBIT and VELA lidars on loopback, for trying the kit and the bridge\n"
      "without a lidar. Each lidar answers discovery on port " +
      std::to_string(kDiscoveryPort) +
      ", takes the host's configuration,\n"
      "answers queries, streams point-cloud and IMU packets once told work mode 1 and sends a\n"
      "state push every second. Run it inside a private network namespace (unshare -rn) so that\n"
      "nothing leaves the machine. Ctrl-C ends it. The lidar-side ports of each model:\n" +
      PortsLine(Model::kOrbit) + PortsLine(Model::kVela) + "\n" + kOptionsText;
  return text.c_str();
}

bool ParseCommandLine(int argc, const char* const* argv, CliOptions& out, std::string& error) {
  int orbit = 0, vela = 0;
  std::string& first_address = out.first_address;
  std::vector<LidarSetup>& explicit_lidars = out.named_lidars;
  ReplayOptions& replay = out.sim.replay;
  for (int i = 1; i < argc; ++i) {
    const std::string flag = argv[i];
    const auto value = [&](std::string& v) {
      if (i + 1 >= argc) {
        error = flag + " needs a value";
        return false;
      }
      v = argv[++i];
      return true;
    };
    const auto bad = [&](const std::string& v) {
      error = "bad value for " + flag + ": " + v;
      return false;
    };
    std::string v;
    unsigned long long n = 0;
    double d = 0;
    if (flag == "--help" || flag == "-h") {
      out.help = true;
    } else if (flag == "--allow-non-loopback") {
      out.sim.allow_non_loopback = true;
    } else if (flag == "--imu-off") {
      out.sim.imu_on_at_start = false;
    } else if (flag == "--line-rate") {
      out.sim.point_rate = kLineRatePacketsPerSecond;
    } else if (flag == "--loop") {
      replay.loop = true;
    } else if (flag.rfind("--", 0) != 0 || std::string_view(UsageText()).find("  " + flag + " ") == std::string_view::npos) {
      error = "unknown flag " + flag;
      return false;
    } else if (!value(v)) {
      return false;
    } else if (flag == "--orbit" || flag == "--vela") {
      if (!ToUnsigned(v, 1000, n)) return bad(v);
      (flag == "--orbit" ? orbit : vela) = static_cast<int>(n);
    } else if (flag == "--replay") {
      if (v.empty()) return bad(v);
      replay.path = v;
    } else if (flag == "--speed") {
      if (!ToNumber(v, d) || !(d > 0) || d > 1e6) return bad(v);
      replay.speed = d;
    } else if (flag == "--from" || flag == "--to") {
      if (!ToNumber(v, d) || d > 1e9) return bad(v);
      (flag == "--from" ? replay.from_seconds : replay.to_seconds) = d;
    } else if (flag == "--first-address") {
      first_address = v;
    } else if (flag == "--lidar") {
      const size_t at = v.find('@');
      LidarSetup setup;
      if (at == std::string::npos || !ParseModel(v.substr(0, at), setup.model)) return bad(v);
      const std::vector<std::string> rest = Split(v.substr(at + 1), '/');
      setup.address = rest[0];
      if (rest.size() > 1) setup.serial = rest[1];
      explicit_lidars.push_back(setup);
    } else if (flag == "--rate") {
      if (!ToNumber(v, d) || d <= 0 || d > 1e6) return bad(v);
      out.sim.point_rate = d;
    } else if (flag == "--imu-rate") {
      if (!ToNumber(v, d) || d <= 0 || d > 1e5) return bad(v);
      out.sim.imu_rate = d;
    } else if (flag == "--count") {
      if (!ToUnsigned(v, UINT64_MAX, n)) return bad(v);
      out.sim.packet_limit = n;
    } else if (flag == "--stream-seconds") {
      if (!ToNumber(v, d)) return bad(v);
      out.sim.stream_seconds = d;
    } else if (flag == "--seconds") {
      if (!ToNumber(v, d)) return bad(v);
      out.run_seconds = d;
    } else if (flag == "--stream-to") {
      const std::vector<std::string> parts = Split(v, ':');
      unsigned long long point = 0, imu = 0;
      if (parts.size() < 2 || parts.size() > 3 || !ToUnsigned(parts[1], 65535, point) || point == 0 ||
          (parts.size() == 3 && !ToUnsigned(parts[2], 65535, imu))) {
        return bad(v);
      }
      out.sim.preset.host_address = parts[0];
      out.sim.preset.point_port = static_cast<uint16_t>(point);
      out.sim.preset.imu_port = static_cast<uint16_t>(imu);
    } else if (flag == "--point-type") {
      if (!ToUnsigned(v, 3, n) || n == 0) return bad(v);
      out.sim.preset.point_type = static_cast<uint8_t>(n);
    } else if (flag == "--fw-type") {
      if (!ToUnsigned(v, 255, n)) return bad(v);
      out.sim.fw_type = static_cast<uint8_t>(n);
    } else if (flag == "--silent" || flag == "--refuse") {
      for (const std::string& id : Split(v, ',')) {
        if (!ToUnsigned(id, 0xFFFF, n)) return bad(v);
        (flag == "--silent" ? out.sim.silent_commands : out.sim.refused_keys).insert(static_cast<uint16_t>(n));
      }
    } else if (flag == "--silent-first") {
      const std::vector<std::string> parts = Split(v, ':');
      unsigned long long count = 0, id = 0, key = 0;
      if (parts.size() < 2 || parts.size() > 3 || !ToUnsigned(parts[0], UINT32_MAX, count) ||
          !ToUnsigned(parts[1], 0xFFFF, id) || (parts.size() == 3 && !ToUnsigned(parts[2], 0xFFFF, key))) {
        return bad(v);
      }
      out.sim.silent_first.push_back(SilentStart{static_cast<uint16_t>(id), static_cast<uint32_t>(count),
                                                 parts.size() == 3, static_cast<uint16_t>(key)});
    } else if (flag == "--record") {
      if (v.empty()) return bad(v);
      out.sim.record_dir = v;
    } else if (flag == "--malformed-every") {
      if (!ToUnsigned(v, UINT32_MAX, n)) return bad(v);
      out.sim.malformed_every = static_cast<uint32_t>(n);
    } else if (flag == "--malformed") {
      uint32_t kinds = 0;
      for (const std::string& kind : Split(v, ',')) {
        if (kind == "truncated") kinds |= kMalformedTruncated;
        else if (kind == "crc") kinds |= kMalformedBadCrc;
        else if (kind == "length") kinds |= kMalformedBadLength;
        else if (kind == "odd") kinds |= kMalformedOddPacket;
        else return bad(v);
      }
      out.sim.malformed_kinds = kinds;
    } else if (flag == "--log-host-port") {
      if (!ToUnsigned(v, 65535, n)) return bad(v);
      out.sim.log_host_port = static_cast<uint16_t>(n);
    } else if (flag == "--push-log-every") {
      if (!ToNumber(v, d)) return bad(v);
      out.push_log_every = d;
    } else if (flag == "--push-log-bytes") {
      if (!ToUnsigned(v, 16u << 20, n)) return bad(v);
      out.push_log_bytes = static_cast<size_t>(n);
    } else if (flag == "--status-every") {
      if (!ToNumber(v, d)) return bad(v);
      out.status_every = d;
    } else if (const auto it = std::find_if(std::begin(kDisruptionFlags), std::end(kDisruptionFlags),
                                            [&](const DisruptionFlag& f) { return flag == f.name; });
               it != std::end(kDisruptionFlags)) {
      DisruptionPlan plan;
      if (!ParseDisruption(*it, v, plan)) return bad(v);
      out.sim.disruptions.push_back(plan);
    } else {
      error = "unknown flag " + flag;
      return false;
    }
  }
  if (out.help) return true;
  if (!replay.path.empty()) {
    // The capture gives the lidars (PrepareReplay); what would add others cannot be met.
    if (orbit != 0 || vela != 0) {
      error = "--orbit and --vela do not combine with --replay: the capture gives the lidars";
      return false;
    }
    if (replay.to_seconds >= 0 && !(replay.to_seconds > replay.from_seconds)) {
      error = "--to must be later than --from";
      return false;
    }
    for (const LidarSetup& named : explicit_lidars) {
      std::array<uint8_t, 4> address{};
      if (!ParseAddress(named.address, address)) {
        error = "bad value for --lidar: " + named.address;
        return false;
      }
    }
    return true;
  }
  if (replay.loop || replay.speed != 1 || replay.from_seconds != 0 || replay.to_seconds >= 0) {
    error = "--speed, --loop, --from and --to need --replay";
    return false;
  }
  if (orbit == 0 && vela == 0 && explicit_lidars.empty()) orbit = 1;
  std::vector<LidarSetup> generated = MakeLidars(Model::kOrbit, orbit + vela, first_address);
  if (generated.size() != static_cast<size_t>(orbit + vela)) {
    error = "bad value for --first-address: " + first_address;
    return false;
  }
  for (size_t i = static_cast<size_t>(orbit); i < generated.size(); ++i) generated[i].model = Model::kVela;
  out.sim.lidars = generated;
  out.sim.lidars.insert(out.sim.lidars.end(), explicit_lidars.begin(), explicit_lidars.end());
  return DisruptedLidarsExist(out.sim, error);
}

bool PrepareReplay(CliOptions& cli, std::string& report, std::string& warning, std::string& error) {
  ReplayScan scan;
  if (!ScanCapture(cli.sim.replay.path, scan, error)) return false;
  if (!ReplayLidars(scan, cli.first_address, cli.named_lidars, cli.sim.lidars, error)) return false;
  if (!DisruptedLidarsExist(cli.sim, error)) return false;
  report = ReplayReport(scan, cli.sim.lidars);
  warning.clear();
  if (!scan.damage.empty()) {
    warning = cli.sim.replay.path + " is damaged after " + std::to_string(scan.datagrams) +
              " datagrams (" + scan.damage + "); replaying what comes before";
  }
  return true;
}

std::string StatusLine(const LidarSnapshot& s) {
  char line[400];
  std::snprintf(line, sizeof line,
                "%-15s %-5s %-16s %-12s mode %u type %u imu %-3s points %llu imu %llu pushes %llu "
                "reboots %llu drops %llu moves %llu -> %s",
                s.address.c_str(), std::string(ModelName(s.setup.model)).c_str(),
                s.setup.serial.c_str(),
                !s.up ? "down" : s.configured ? "configured" : "unconfigured", s.work_mode, s.point_type,
                s.imu_enabled ? "on" : "off", static_cast<unsigned long long>(s.point_packets),
                static_cast<unsigned long long>(s.imu_packets),
                static_cast<unsigned long long>(s.state_pushes),
                static_cast<unsigned long long>(s.reboots), static_cast<unsigned long long>(s.drops),
                static_cast<unsigned long long>(s.moves),
                s.point_host.port == 0
                    ? "no host"
                    : (s.point_host.address + ":" + std::to_string(s.point_host.port)).c_str());
  return line;
}

}  // namespace kesto::lidar_sim
