#ifndef KESTO_TOOLS_LIDAR_SIM_LIDAR_SIM_H_
#define KESTO_TOOLS_LIDAR_SIM_LIDAR_SIM_H_

// lidar-sim in process: emulated ORBIT and VELA lidars on local addresses, for tests, demos and
// benchmarks that need live lidar traffic without a lidar.
//
// Use:
//   kesto::lidar_sim::SimOptions options;
//   options.lidars = kesto::lidar_sim::MakeLidars(Model::kOrbit, 2, "127.0.0.2");
//   kesto::lidar_sim::Simulator sim(options);
//   if (!sim.Start()) ...;              // opens every socket, starts the one loop thread
//   ... a host discovers, configures and receives from the lidars ...
//   LidarSnapshot s = sim.Snapshot(0);  // what lidar 0 was told, and what it sent
//   sim.Stop();                         // also done by the destructor
//
// What each lidar does (all on loopback unless `allow_non_loopback`):
//  - answers every discovery request (frame cmd_id 0 to kDiscoveryPort, received on a wildcard
//    socket with address reuse) from (its address, kDiscoveryPort): ret_code 0, device type,
//    serial number, address, command port;
//  - on its model's command port (the ports are the model table's, model_ports.h):
//    acknowledges set-parameters (0x0100) with {ret_code, error_key} and records the host
//    addresses and ports (keys 0x0005-0x0009), work mode (0x001A), point data type (0x0000, values 1-3) and IMU enable (0x001C); answers
//    queries (0x0101) with the keys it holds, in request order (the firmware type 0x8010 among
//    them); acknowledges log-capture control (0x0301), there and on its log port, where hosts
//    send it;
//  - in work mode 1 streams point packets (96 records of the recorded type: 1380, 804 or 996
//    bytes) and, with IMU on, 60-byte IMU packets to the recorded host ports, from its model's
//    point and IMU ports. Timestamps (bytes 28-35) are the ideal send times in nanoseconds on
//    the steady clock (or the wall clock of the send, `synced_clock`) and rise strictly; bytes
//    12-15 hold a running u32 counter per stream, starting at 0, so a receiver counts loss. The
//    points scan a room with a sphere that circles in it;
//  - once configured, sends a state push (0x0102) every second from its push port to the state
//    host (key 0x0005), or failing that to the address that configured it;
//  - on request (PushLogFile) sends a log file as log file pushes (0x0300: start, data, end)
//    from its log port to the log host (key 0x0009, or the point host's address with
//    `log_host_port`), and counts the host's replies;
//  - with `record_dir`, leaves in that folder what a test run of the program checks the host
//    against: the commands it got, its pushes, its reboots, drops and moves, the last packet of
//    each bounded stream and the log files it pushed (recorder.h);
//  - is rebooted, dropped off the network or moved to another address when a test says so
//    (Simulator::Reboot, Drop, Move) or on a schedule (SimOptions::disruptions). While down it
//    is silent: it sends nothing at all, and what hosts send it is read and dropped unanswered
//    (counted in missed_while_down). A reboot and a move come back as after a power cycle
//    (EmulatedLidar::PowerCycle: idle, no host addresses, IMU enable as at start), a move at
//    its new address only, whose sockets replace the old ones; a drop comes back as it was
//    and streams on to the same hosts. The data a dropped lidar would have sent is lost, not
//    sent late: the counter in its packets (bytes 12-15) skips those packets, the snapshot's
//    point_packets and imu_packets count only packets sent, and a bound by count
//    (packet_limit) counts the skipped ones with them, as the lidar's own numbering does. After
//    a reboot or a move the counters in the packets start again from 0.
//
// Every datagram goes to the lidar whose address it was sent to, whichever of the port's sockets
// got it: where the system binds loopback aliases to the wildcard (Wine), the lidars of one port
// share a socket. There every lidar also sends from 127.0.0.1, which Start warns about.
//
// With SimOptions::replay, the lidars send recorded data instead (see ReplayOptions).
//
// Threads: one loop thread per Simulator serves every lidar (and reads a replayed capture); the
// public operations are safe from any thread. Nothing throws; failures are false results plus
// one log line.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "model_ports.h"

namespace kesto::lidar_sim {

// One emulated lidar.
struct LidarSetup {
  Model model = Model::kOrbit;
  std::string address;  // dotted IPv4; one lidar per address
  std::string serial;   // up to 16 characters; empty: generated from the model and address
  // Lidar-side ports its point and IMU packets leave from; 0: the model's. A replayed lidar
  // sends from the ports of its recording.
  uint16_t point_port = 0;
  uint16_t imu_port = 0;
  // With SimOptions::replay: the recorded lidar whose data packets this one sends, by its
  // address in the capture (network byte order).
  uint32_t recorded_address = 0;
};

// `count` lidars of `model` on consecutive addresses from `first_address`, serials generated.
std::vector<LidarSetup> MakeLidars(Model model, int count, const std::string& first_address);

// Where a lidar streams before any host has configured it (benchmarks, a host that does not
// configure). Host port 0 leaves that stream off.
struct StreamPreset {
  std::string host_address;
  uint16_t point_port = 0;
  uint16_t imu_port = 0;
  uint8_t point_type = 1;
};

// Kinds of damaged output, combined in SimOptions::malformed_kinds. A damaged datagram goes out
// in addition to, and just before, the sound one, so the exchange still completes.
enum MalformedKind : uint32_t {
  kMalformedTruncated = 1u << 0,   // a control frame cut short inside its header or payload
  kMalformedBadCrc = 1u << 1,      // one payload byte changed after the checksums were written
  kMalformedBadLength = 1u << 2,   // length field beyond the datagram, header CRC made to match
  kMalformedOddPacket = 1u << 3,   // a data packet 7 bytes short of its record size
  kMalformedAll = 0xF,
};

// Leaves the first `count` commands `cmd_id` that a lidar receives unanswered and unapplied, as
// a lidar that is still busy would; with `by_key`, only set-parameters and query commands whose
// list holds `key` count (a query for one key and a query for many can then be told apart).
struct SilentStart {
  uint16_t cmd_id = 0;
  uint32_t count = 0;
  bool by_key = false;
  uint16_t key = 0;
};

// What may happen to a lidar; see Simulator::Reboot, Drop and Move.
enum class Disruption : uint8_t { kReboot, kDrop, kMove };

// Down time of a reboot or a move when none is given (the command line's default).
inline constexpr double kDefaultRebootSeconds = 5;

// One disruption of lidar `index` at a time after Start, once or again and again.
struct DisruptionPlan {
  Disruption kind = Disruption::kReboot;
  size_t index = 0;
  // First time, in seconds after Start.
  double after_seconds = 0;
  // 0: once; otherwise again every this many seconds after the previous one (more than
  // down_seconds).
  double every_seconds = 0;
  double down_seconds = kDefaultRebootSeconds;
  std::string new_address;  // kMove only
};

// A recorded session the lidars replay instead of generating their data (replay.h builds the
// lidars for a capture). A lidar answers discovery and commands as ever; once told work mode 1
// it sends the point and IMU packets its recorded lidar sent inside the window, byte for byte, in
// recorded order and with the recorded spacing divided by `speed`, to the hosts it was given.
// Work mode 0 pauses it where it is; a reboot or move starts it from the window's start again.
// Its recording exhausted, it sends no data (with `loop`, it starts again from the window's
// start). The rate, count, time and scene options do not apply to its data.
struct ReplayOptions {
  std::string path;  // empty: no replay
  double speed = 1;  // greater than 0; 2 is twice as fast
  bool loop = false;
  // The window, in seconds from the capture's first datagram; to_seconds < 0: to the end.
  double from_seconds = 0;
  double to_seconds = -1;
};

struct SimOptions {
  std::vector<LidarSetup> lidars;
  // Bind and send to 127.0.0.0/8 only unless set; other addresses are refused at Start, and
  // hosts outside loopback are not answered or streamed to.
  bool allow_non_loopback = false;

  // Point packets per second per lidar; 0: a real lidar's rate (200,000 points/s, about 2,083
  // packets). Up to line rate, kLineRatePacketsPerSecond.
  double point_rate = 0;
  double imu_rate = 200;
  // Most packets of each stream per lidar; 0: no bound by count.
  uint64_t packet_limit = 0;
  // Longest time one stream runs, in seconds, counted from its start; 0: no bound by time.
  double stream_seconds = 0;
  // IMU enable before any host sets key 0x001C.
  bool imu_on_at_start = true;
  // Answered to the firmware-type query (key 0x8010).
  uint8_t fw_type = 1;
  // Command ids that are dropped unanswered and unapplied.
  std::set<uint16_t> silent_commands;
  // Each lidar counts its own commands against every entry.
  std::vector<SilentStart> silent_first;
  // Keys whose set-parameters request is refused: ret_code 1, error_key = the key, nothing set.
  std::set<uint16_t> refused_keys;
  // Every n-th datagram of a lidar (control and data alike) is preceded by a damaged copy; 0: off.
  uint32_t malformed_every = 0;
  uint32_t malformed_kinds = kMalformedAll;
  // Host log port used when no host set key 0x0009; 0: none.
  uint16_t log_host_port = 0;
  // Applied to every lidar at Start (see StreamPreset).
  StreamPreset preset;
  // Timestamps are the wall clock just before each data packet's send, in nanoseconds since
  // 1970, as a lidar synchronised to the host's clock stamps them, instead of the ideal send
  // times on the steady clock: a receiver subtracts them from its own receive time to measure
  // latency. They still rise strictly.
  bool synced_clock = false;
  // The scan's records are computed once, with the sphere at rest, and every point packet
  // copies its records from them: a sender that spends its time sending, for rates beyond what
  // computing the scene leaves room for on one core.
  bool frozen_scene = false;
  // Folder (it must exist) where the lidars record what they sent and were told, for tests that
  // run the emulator as a program (recorder.h); empty: nothing is recorded.
  std::string record_dir;
  // Reboots, drops and moves the loop thread carries out on its own; checked at Start (index,
  // times, the address of a move), a move that cannot be made when due is logged and skipped.
  std::vector<DisruptionPlan> disruptions;
  ReplayOptions replay;
};

inline constexpr double kLineRatePacketsPerSecond = 86000;
inline constexpr double kDefaultPointsPerSecond = 200000;
inline constexpr int kPointsPerPacket = 96;

// A host endpoint a lidar recorded; port 0 when never set.
struct HostEndpoint {
  std::string address;
  uint16_t port = 0;
  bool operator==(const HostEndpoint& other) const {
    return address == other.address && port == other.port;
  }
};

// What one lidar holds and has done. Counters run from Start.
struct LidarSnapshot {
  LidarSetup setup;         // as at Start: setup.address is the lidar's first address
  std::string address;      // where it answers now (another one after a move)
  bool up = false;          // false while down (rebooting, dropped, moving); false when stopped
  uint64_t reboots = 0;     // disruptions so far, counted as they start
  uint64_t drops = 0;
  uint64_t moves = 0;
  uint64_t missed_while_down = 0;  // datagrams that reached it while down, dropped unanswered
  bool configured = false;  // acknowledged at least one accepted set-parameters request
  uint8_t work_mode = 0;
  uint8_t point_type = 1;
  bool imu_enabled = false;
  HostEndpoint state_host;  // key 0x0005
  HostEndpoint point_host;  // key 0x0006
  HostEndpoint imu_host;    // key 0x0007
  HostEndpoint log_host;    // key 0x0009
  uint64_t discovery_replies = 0;
  uint64_t acks_sent = 0;
  uint64_t refusals = 0;
  uint64_t silenced = 0;
  uint64_t bad_frames_received = 0;
  uint64_t point_packets = 0;
  uint64_t imu_packets = 0;
  uint64_t state_pushes = 0;
  uint64_t log_pushes = 0;
  uint64_t log_replies = 0;
  uint64_t malformed_sent = 0;
  uint64_t send_errors = 0;
};

class Simulator {
 public:
  explicit Simulator(SimOptions options);
  ~Simulator();
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // Checks the options, opens every socket and starts the loop thread. False (one log line,
  // nothing left open) on a bad option, an address outside loopback without permission, or a
  // socket that cannot be bound. Once only.
  bool Start();
  // Ends the loop thread and closes the sockets. Idempotent.
  void Stop();

  size_t size() const;
  // A copy of lidar `index`'s state; an empty snapshot for an index out of range.
  LidarSnapshot Snapshot(size_t index) const;
  // Queues a log file of `bytes` generated text bytes of `log_type`; false when the index is out
  // of range, the simulator is not running or the lidar knows no log host.
  bool PushLogFile(size_t index, uint8_t log_type, size_t bytes);

  // Each returns once the loop thread has made the change: the lidar is then down (or, with
  // `down_seconds` 0, already back). False (one log line for a bad value) when the index is out
  // of range, the simulator is not running, `down_seconds` is negative or beyond a day, or the
  // move cannot be made. A disruption of a lidar that is down already applies too: it stays down
  // until the later of the two ends, and a reboot or move forgets its configuration.
  //
  // Power-cycles lidar `index`: silent for `down_seconds`, then back idle and unconfigured.
  bool Reboot(size_t index, double down_seconds = kDefaultRebootSeconds);
  // Takes lidar `index` off the network for `down_seconds`; it keeps its configuration.
  bool Drop(size_t index, double down_seconds);
  // Re-addresses lidar `index` to `new_address` as a host does (new address, then a reboot):
  // its sockets move there at once, nothing answers at the old address any more, and after
  // `down_seconds` it comes back there idle and unconfigured, with the same serial number and
  // model. False when the address is not IPv4, outside loopback without permission, the
  // lidar's own or another lidar's, or cannot be bound; the lidar then stays as it was.
  bool Move(size_t index, const std::string& new_address,
            double down_seconds = kDefaultRebootSeconds);

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace kesto::lidar_sim

#endif  // KESTO_TOOLS_LIDAR_SIM_LIDAR_SIM_H_
