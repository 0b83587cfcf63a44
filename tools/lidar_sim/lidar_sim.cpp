#include "lidar_sim.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <future>
#include <mutex>
#include <set>
#include <thread>
#include <utility>

#include "data_packet.h"
#include "handle_text.h"
#include "emulated_lidar.h"
#include "kit_log.h"
#include "capture_reader.h"
#include "recorder.h"
#include "replay.h"
#include "socket.h"
#include "socket_util.h"

namespace kesto::lidar_sim {

namespace platform = kesto::platform;

namespace {

// Sockets one select call watches: below the Winsock set's 64 handles.
constexpr size_t kSocketsPerSelect = 60;
// Longest wait of one loop iteration, so the stop flag is seen soon.
constexpr int kMaxWaitMs = 20;
// Datagrams read from one socket per iteration, and packets sent per stream, before the loop
// serves the others.
constexpr int kReceiveBurst = 64;
constexpr uint64_t kSendBurst = 512;
constexpr uint64_t kPushPeriodNs = 1000000000;
// Longest down time of one disruption.
constexpr double kMaxDownSeconds = 86400;

uint64_t SteadyNs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

uint64_t WallClockNs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                   std::chrono::system_clock::now().time_since_epoch())
                                   .count());
}

sockaddr_in ToSockaddr(const Endpoint& e) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(e.port);
  uint8_t* bytes = reinterpret_cast<uint8_t*>(&a.sin_addr.s_addr);
  for (size_t i = 0; i < 4; ++i) bytes[i] = e.address[i];
  return a;
}

Endpoint FromSockaddr(const sockaddr_in& a) {
  Endpoint e;
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&a.sin_addr.s_addr);
  for (size_t i = 0; i < 4; ++i) e.address[i] = bytes[i];
  e.port = ntohs(a.sin_port);
  return e;
}

// One paced stream of data packets: packet n is due at start + n * period.
struct Stream {
  bool active = false;
  uint64_t start_ns = 0;
  double period_ns = 0;
  uint64_t sent = 0;
  uint64_t last_stamp = 0;  // the latest wall-clock timestamp sent (synced_clock)
  uint64_t DueNs(uint64_t n) const {
    return start_ns + static_cast<uint64_t>(std::llround(static_cast<double>(n) * period_ns));
  }
};

// Where a replaying lidar is in its recording; loop thread.
struct ReplayState {
  std::unique_ptr<RecordedStream> recording;
  bool active = false;   // in work mode 1 with a host to send to
  bool opened = false;   // rewound since the last power-up
  // The packet recorded at base_rec_ns is due at base_now_ns; later ones at their recorded
  // distance from it divided by the speed.
  uint64_t base_rec_ns = 0;
  uint64_t base_now_ns = 0;
  // Set when the next packet starts a new timeline: due at rebase_to_ns, or now when that is 0.
  bool rebase = false;
  uint64_t rebase_to_ns = 0;
  uint64_t last_rec_ns = 0;  // recorded time of the latest packet, for time stamps out of order
  uint64_t last_due_ns = 0;
  uint64_t pass_first_rec_ns = 0;
  uint64_t pass_packets = 0;  // packets consumed (sent or lost) in this pass
};

struct LogRequest {
  size_t index;
  uint8_t log_type;
  size_t bytes;
};

// A disruption asked for by a caller thread, who waits for `done`.
struct DisruptRequest {
  size_t index;
  Disruption kind;
  double down_seconds;
  std::array<uint8_t, 4> address;  // kMove
  std::promise<bool> done;
};

// A disruption of SimOptions::disruptions with its next time; loop thread.
struct Planned {
  DisruptionPlan plan;
  std::array<uint8_t, 4> address{};  // kMove
  uint64_t next_ns = 0;
  bool done = false;
};

const char* KindName(Disruption kind) {
  switch (kind) {
    case Disruption::kReboot: return "reboot";
    case Disruption::kDrop: return "drop";
    case Disruption::kMove: return "move";
  }
  return "?";
}

bool DownTimeFits(double seconds) { return seconds >= 0 && seconds <= kMaxDownSeconds; }

uint64_t SecondsToNs(double seconds) { return static_cast<uint64_t>(std::llround(seconds * 1e9)); }

}  // namespace

std::vector<LidarSetup> MakeLidars(Model model, int count, const std::string& first_address) {
  std::vector<LidarSetup> setups;
  std::array<uint8_t, 4> address{};
  if (!ParseAddress(first_address, address)) return setups;
  for (int i = 0; i < count; ++i) {
    LidarSetup setup;
    setup.model = model;
    setup.address = AddressText(address);
    setups.push_back(setup);
    for (int b = 3; b >= 0 && ++address[static_cast<size_t>(b)] == 0; --b) {
    }
  }
  return setups;
}

class Simulator::Impl {
 public:
  explicit Impl(SimOptions options)
      : options_(std::move(options)), recorder_(options_.record_dir) {}
  ~Impl() { Stop(); }

  bool Start();
  void Stop();
  size_t size() const { return lidars_.size(); }
  LidarSnapshot Snapshot(size_t index) const;
  bool PushLogFile(size_t index, uint8_t log_type, size_t bytes);
  bool Disrupt(size_t index, Disruption kind, double down_seconds, const std::string& new_address);

 private:
  struct Sockets {
    Sockets() { fds.fill(platform::kInvalidSocket); }
    std::array<int, kPortCount> fds;  // by Port; ports a model shares share the socket
    // The distinct sockets a host sends to, with their ports.
    std::vector<std::pair<int, uint16_t>> receive;
  };
  // One lidar with its sockets and streams. The sockets and streams belong to the loop thread
  // (the owner's thread before it starts and after it was joined).
  struct Runtime {
    std::unique_ptr<EmulatedLidar> lidar;
    Sockets sockets;
    // Whether it is on the network; written by the loop thread under state_mutex_.
    bool up = true;
    uint64_t down_until_ns = 0;  // while down
    // When it last came back: packets due before then were due while it was down.
    uint64_t up_since_ns = 0;
    Stream point, imu;
    uint64_t seen_version = 0;
    uint64_t next_push_ns = 0;
    uint64_t datagrams = 0;  // for the malformed-output cadence
    uint32_t damage_turn = 0;
    // The last packet of each stream, kept only while recording.
    Bytes last_point, last_imu;
    ReplayState replay;  // with SimOptions::replay
  };

  // Start's work; on false Start closes and drops what it made.
  bool Open();
  // Checks SimOptions::disruptions and plans them from `start_ns`.
  bool PlanDisruptions(uint64_t start_ns);
  // The address of a move, checked as Start checks a lidar's; one log line when it is refused.
  bool MoveAddress(const std::string& text, std::array<uint8_t, 4>& address) const;
  // The sockets of `setup`'s model and data ports on `address`.
  bool OpenSockets(const LidarSetup& setup, const std::string& address, Sockets& out);
  // Checks SimOptions::replay and gives every lidar its recording.
  bool OpenReplay();
  static void CloseLidarSockets(Sockets& sockets);
  // Where the system sends every loopback alias's datagrams from another address (Wine), hosts
  // see all lidars at that address: one warning line.
  void WarnOfSharedSource() const;
  void CloseSockets();
  void Loop();
  void LoopIteration();
  // Disruptions asked for and due, and lidars whose down time is over; loop thread.
  void ServeDisruptions(uint64_t now, uint64_t* next_due);
  bool Apply(Runtime& runtime, Disruption kind, double down_seconds,
             const std::array<uint8_t, 4>& address, uint64_t now);
  // Moves the lidar's sockets to `address`; false (one log line) leaves them as they were.
  bool Rebind(Runtime& runtime, const std::array<uint8_t, 4>& address);
  void ComeBack(Runtime& runtime);
  // An event line "KIND T W[ EXTRA]" (T steady-clock, W wall-clock nanoseconds).
  void RecordDisruption(const Runtime& runtime, const char* kind, uint64_t now,
                        const std::string& extra);
  // Reads what waits on one socket of `port`; owner null: the shared discovery socket.
  int Receive(int fd, uint16_t port, Runtime* owner);
  Runtime* LidarAt(const Endpoint& address);
  void Dispatch(Runtime& runtime, Port at, const Endpoint& from, const uint8_t* bytes, size_t size);
  void SendAll(Runtime& runtime, std::vector<Outgoing>& out);
  void Send(Runtime& runtime, Port from, const Endpoint& to, const uint8_t* bytes, size_t size,
            bool data_packet);
  void ServeStreams(Runtime& runtime, uint64_t now, uint64_t* next_due);
  // A replaying lidar's recorded packets that are due.
  void ServeReplay(Runtime& runtime, uint64_t now, uint64_t* next_due);
  void SendPoint(Runtime& runtime);
  void SendImu(Runtime& runtime);
  // The timestamp of the stream's next packet, taken just before it is sent.
  uint64_t StampOf(Stream& stream) const;
  // Records of point packet `index` of `type` from the scan computed once (frozen_scene).
  const uint8_t* FrozenRecords(uint8_t type, uint64_t index);
  bool StreamBounded(const Stream& stream, uint64_t now) const;
  // A stream that reached its bound: its last packet goes to the recorder.
  void RecordStreamEnd(const Runtime& runtime, bool point);

  const SimOptions options_;
  Recorder recorder_;  // loop thread (the owner's before it starts)
  std::vector<Runtime> lidars_;
  std::map<std::array<uint8_t, 4>, size_t> by_address_;  // index into lidars_; set by Open
  // Addresses lidars moved away from and no lidar holds: nothing answers there. Loop thread.
  std::set<std::array<uint8_t, 4>> vacated_;
  std::vector<Planned> planned_;  // loop thread
  int discovery_fd_ = platform::kInvalidSocket;
  double point_period_ns_ = 0;
  double imu_period_ns_ = 0;
  std::vector<uint8_t> packet_;
  // One scan period of records per point data type (1-3), made on first use; loop thread.
  std::array<std::vector<uint8_t>, 3> frozen_;

  // Guards the recorded state of every EmulatedLidar (written by the loop thread, read by
  // Snapshot) and log_requests_.
  mutable std::mutex state_mutex_;
  std::vector<LogRequest> log_requests_;  // guarded by state_mutex_
  std::vector<DisruptRequest> disrupt_requests_;  // guarded by state_mutex_

  std::atomic<bool> quit_{false};
  std::atomic<bool> running_{false};
  bool started_ = false;  // owner's thread only
  std::thread thread_;
};

bool Simulator::Impl::Start() {
  if (started_) {
    KESTO_LOG_ERROR("lidar-sim: already started.");
    return false;
  }
  started_ = true;
  if (Open()) return true;
  CloseSockets();
  lidars_.clear();
  by_address_.clear();
  return false;
}

bool Simulator::Impl::Open() {
  if (options_.lidars.empty()) {
    KESTO_LOG_ERROR("lidar-sim: no lidar to emulate.");
    return false;
  }
  const double point_rate = options_.point_rate > 0 ? options_.point_rate
                                                    : kDefaultPointsPerSecond / kPointsPerPacket;
  if (point_rate > 1e6 || options_.imu_rate <= 0 || options_.imu_rate > 1e5) {
    KESTO_LOG_ERROR("lidar-sim: packet rate out of range: point {} imu {}", point_rate,
                    options_.imu_rate);
    return false;
  }
  point_period_ns_ = 1e9 / point_rate;
  imu_period_ns_ = 1e9 / options_.imu_rate;

  std::map<std::array<uint8_t, 4>, size_t>& seen = by_address_;
  for (LidarSetup setup : options_.lidars) {
    std::array<uint8_t, 4> address{};
    if (!ParseAddress(setup.address, address)) {
      KESTO_LOG_ERROR("lidar-sim: not an IPv4 address: {}", setup.address);
      return false;
    }
    if (!options_.allow_non_loopback && !IsLoopback(address)) {
      KESTO_LOG_ERROR("lidar-sim: {} is not a loopback address (allow other addresses explicitly)",
                      setup.address);
      return false;
    }
    if (!seen.emplace(address, lidars_.size()).second) {
      KESTO_LOG_ERROR("lidar-sim: two lidars on {}", setup.address);
      return false;
    }
    if (setup.serial.empty()) {
      char serial[17];
      std::snprintf(serial, sizeof serial, "%s%03u%03u%03u",
                    setup.model == Model::kOrbit ? "ORB" : "VEL", address[1], address[2],
                    address[3]);
      setup.serial = serial;
    }
    if (setup.serial.size() > 16) setup.serial.resize(16);
    Runtime runtime;
    runtime.lidar = std::make_unique<EmulatedLidar>(setup, options_, &recorder_);
    if (options_.preset.point_port != 0) runtime.lidar->ApplyPreset(options_.preset);
    lidars_.push_back(std::move(runtime));
  }

  if (!PlanDisruptions(SteadyNs())) return false;
  if (!options_.replay.path.empty() && !OpenReplay()) return false;

  discovery_fd_ = kesto::lidar::OpenUdpSocket(kDiscoveryPort, true, true, false, "", "");
  bool ok = discovery_fd_ != platform::kInvalidSocket && platform::SocketFitsSelect(discovery_fd_);
  if (ok) platform::SocketReportDestination(discovery_fd_);
  if (!ok) KESTO_LOG_ERROR("lidar-sim: cannot listen for discovery on port {}", kDiscoveryPort);
  for (Runtime& runtime : lidars_) {
    if (!ok) break;
    ok = OpenSockets(runtime.lidar->setup(), runtime.lidar->setup().address, runtime.sockets);
  }
  if (!ok) return false;
  WarnOfSharedSource();
  packet_.assign(kMaxPointPacketSize + 16, 0);
  quit_ = false;
  running_ = true;
  thread_ = std::thread([this] { Loop(); });
  return true;
}

bool Simulator::Impl::PlanDisruptions(uint64_t start_ns) {
  for (const DisruptionPlan& plan : options_.disruptions) {
    Planned planned;
    planned.plan = plan;
    const bool times_fit = plan.after_seconds >= 0 && plan.after_seconds <= kMaxDownSeconds &&
                           DownTimeFits(plan.down_seconds) &&
                           (plan.every_seconds == 0 ||
                            (plan.every_seconds > plan.down_seconds &&
                             plan.every_seconds <= kMaxDownSeconds && plan.kind != Disruption::kMove));
    if (plan.index >= lidars_.size() || !times_fit) {
      KESTO_LOG_ERROR("lidar-sim: cannot plan a {} of lidar {} after {} s, every {} s, down {} s",
                      KindName(plan.kind), plan.index, plan.after_seconds, plan.every_seconds,
                      plan.down_seconds);
      return false;
    }
    if (plan.kind == Disruption::kMove && !MoveAddress(plan.new_address, planned.address)) {
      return false;
    }
    planned.next_ns = start_ns + SecondsToNs(plan.after_seconds);
    planned_.push_back(planned);
  }
  return true;
}

bool Simulator::Impl::MoveAddress(const std::string& text, std::array<uint8_t, 4>& address) const {
  if (!ParseAddress(text, address)) {
    KESTO_LOG_ERROR("lidar-sim: cannot move a lidar to {}: not an IPv4 address", text);
    return false;
  }
  if (!options_.allow_non_loopback && !IsLoopback(address)) {
    KESTO_LOG_ERROR("lidar-sim: cannot move a lidar to {}: not a loopback address", text);
    return false;
  }
  return true;
}

bool Simulator::Impl::OpenReplay() {
  const ReplayOptions& replay = options_.replay;
  if (!(replay.speed > 0 && replay.speed <= 1e6) || !(replay.from_seconds >= 0) ||
      (replay.to_seconds >= 0 && !(replay.to_seconds > replay.from_seconds))) {
    KESTO_LOG_ERROR("lidar-sim: bad replay of {}: speed {}, from {} s to {} s", replay.path,
                    replay.speed, replay.from_seconds, replay.to_seconds);
    return false;
  }
  // The window counts from the capture's first datagram.
  capture::CaptureReader reader = capture::CaptureReader::OpenFile(replay.path);
  capture::CapturedDatagram first;
  if (reader.NextDatagram(first) != capture::ReadStatus::kItem) {
    KESTO_LOG_ERROR("lidar-sim: cannot replay {}: {}", replay.path,
                    reader.error().empty() ? "no datagram in it" : reader.error());
    return false;
  }
  for (Runtime& runtime : lidars_) {
    const LidarSetup& setup = runtime.lidar->setup();
    if (setup.recorded_address == 0) {
      KESTO_LOG_ERROR("lidar-sim: lidar {} has no recorded lidar to replay", setup.address);
      return false;
    }
    runtime.replay.recording =
        std::make_unique<RecordedStream>(replay, setup.recorded_address, first.time_ns);
  }
  return true;
}

bool Simulator::Impl::OpenSockets(const LidarSetup& setup, const std::string& address,
                                  Sockets& out) {
  Sockets sockets;
  const ModelPorts ports = PortsOf(setup.model);
  const uint16_t by_role[kPortCount] = {ports.discovery,
                                        ports.command,
                                        ports.push,
                                        setup.point_port != 0 ? setup.point_port : ports.point,
                                        setup.imu_port != 0 ? setup.imu_port : ports.imu,
                                        ports.log};
  std::map<uint16_t, int> opened;
  for (size_t role = 0; role < kPortCount; ++role) {
    const uint16_t port = by_role[role];
    auto it = opened.find(port);
    if (it == opened.end()) {
      const int fd = kesto::lidar::OpenUdpSocket(port, true, true, false, address, "");
      if (fd == platform::kInvalidSocket || !platform::SocketFitsSelect(fd)) {
        if (fd != platform::kInvalidSocket) platform::SocketClose(fd);
        KESTO_LOG_ERROR("lidar-sim: cannot bind {}:{}", address, port);
        for (const auto& entry : opened) platform::SocketClose(entry.second);
        return false;
      }
      it = opened.emplace(port, fd).first;
    }
    sockets.fds[role] = it->second;
  }
  for (Port role : {Port::kDiscovery, Port::kCommand, Port::kLog}) {
    const int fd = sockets.fds[static_cast<size_t>(role)];
    if (std::none_of(sockets.receive.begin(), sockets.receive.end(),
                     [fd](const auto& entry) { return entry.first == fd; })) {
      // Where the system binds a loopback alias to the wildcard (Wine), this socket also gets
      // datagrams for other lidars of the port; their destination tells whose they are.
      platform::SocketReportDestination(fd);
      sockets.receive.emplace_back(fd, by_role[static_cast<size_t>(role)]);
    }
  }
  out = std::move(sockets);
  return true;
}

void Simulator::Impl::CloseLidarSockets(Sockets& sockets) {
  std::vector<int> closed;
  for (int fd : sockets.fds) {
    if (fd == platform::kInvalidSocket) continue;
    if (std::find(closed.begin(), closed.end(), fd) != closed.end()) continue;
    platform::SocketClose(fd);
    closed.push_back(fd);
  }
  sockets.fds.fill(platform::kInvalidSocket);
  sockets.receive.clear();
}

void Simulator::Impl::WarnOfSharedSource() const {
  for (const Runtime& runtime : lidars_) {
    const std::string& address = runtime.lidar->setup().address;
    in_addr local{};
    local.s_addr = lidar::TextToHandle(address);
    if (local.s_addr == htonl(INADDR_LOOPBACK)) continue;
    const in_addr source = platform::SocketSourceAddressFor(local);
    if (source.s_addr != htonl(INADDR_ANY) && source.s_addr != local.s_addr) {
      KESTO_LOG_WARN("lidar-sim: datagrams of {} leave from {} on this system; hosts cannot tell "
                     "the lidars apart by address",
                     address, lidar::HandleToText(source.s_addr));
    }
    return;  // one probe tells it for every alias
  }
}

void Simulator::Impl::CloseSockets() {
  if (discovery_fd_ != platform::kInvalidSocket) platform::SocketClose(discovery_fd_);
  discovery_fd_ = platform::kInvalidSocket;
  for (Runtime& runtime : lidars_) CloseLidarSockets(runtime.sockets);
}

void Simulator::Impl::Stop() {
  if (!running_.exchange(false)) return;
  quit_ = true;
  if (thread_.joinable()) thread_.join();
  CloseSockets();
  std::vector<DisruptRequest> unserved;
  {
    std::lock_guard<std::mutex> lock(state_mutex_);
    unserved.swap(disrupt_requests_);
  }
  for (DisruptRequest& request : unserved) request.done.set_value(false);
}

void Simulator::Impl::Loop() {
  try {
    while (!quit_.load(std::memory_order_relaxed)) LoopIteration();
  } catch (const std::exception& e) {
    KESTO_LOG_ERROR("lidar-sim: loop ended by an exception: {}", e.what());
  } catch (...) {
    KESTO_LOG_ERROR("lidar-sim: loop ended by an unknown exception");
  }
}

void Simulator::Impl::LoopIteration() {
  uint64_t now = SteadyNs();
  uint64_t next_due = now + static_cast<uint64_t>(kMaxWaitMs) * 1000000;
  ServeDisruptions(now, &next_due);
  // Later than any return just made, so what goes out below is stamped after it.
  now = SteadyNs();

  std::vector<LogRequest> requests;
  {
    std::lock_guard<std::mutex> lock(state_mutex_);
    requests.swap(log_requests_);
  }
  for (const LogRequest& request : requests) {
    Runtime& runtime = lidars_[request.index];
    if (!runtime.up) continue;  // gone down since it was asked for: lost with the rest
    std::vector<Outgoing> out;
    bool made = false;
    {
      std::lock_guard<std::mutex> lock(state_mutex_);
      made = runtime.lidar->MakeLogFile(request.log_type, request.bytes, out);
    }
    if (made) {
      runtime.lidar->counters().log_pushes.fetch_add(out.size(), std::memory_order_relaxed);
      SendAll(runtime, out);
    }
  }

  for (Runtime& runtime : lidars_) {
    if (runtime.replay.recording) {
      ServeReplay(runtime, now, &next_due);
    } else {
      ServeStreams(runtime, now, &next_due);
    }
    if (runtime.up && (runtime.lidar->configured() || runtime.lidar->point_host().port != 0)) {
      if (runtime.next_push_ns == 0) runtime.next_push_ns = now;
      if (now >= runtime.next_push_ns) {
        Outgoing push;
        bool made = false;
        {
          std::lock_guard<std::mutex> lock(state_mutex_);
          made = runtime.lidar->MakeStatePush(now, push);
        }
        if (made) {
          Send(runtime, push.from, push.to, push.bytes.data(), push.bytes.size(), false);
          runtime.lidar->counters().state_pushes.fetch_add(1, std::memory_order_relaxed);
        }
        runtime.next_push_ns = now + kPushPeriodNs;
      }
      next_due = std::min(next_due, runtime.next_push_ns);
    }
  }

  now = SteadyNs();
  int timeout_ms = 0;
  if (next_due > now) {
    // Rounded up: a stream due within the next millisecond waits for it rather than spinning;
    // its packets then go out together, stamped with their own due times.
    timeout_ms = static_cast<int>(std::min<uint64_t>((next_due - now + 999999) / 1000000, kMaxWaitMs));
  }

  // Every socket a host sends to, with its port and lidar (null for the shared discovery
  // socket).
  struct Watched {
    int fd;
    uint16_t port;
    Runtime* owner;
  };
  std::vector<Watched> watched;
  watched.push_back(Watched{discovery_fd_, kDiscoveryPort, nullptr});
  for (Runtime& runtime : lidars_) {
    for (const auto& [fd, port] : runtime.sockets.receive) watched.push_back(Watched{fd, port, &runtime});
  }
  for (size_t first = 0; first < watched.size(); first += kSocketsPerSelect) {
    const size_t last = std::min(watched.size(), first + kSocketsPerSelect);
    platform::SocketSet set;
    int max_fd = -1;
    for (size_t i = first; i < last; ++i) {
      set.Add(watched[i].fd);
      max_fd = std::max(max_fd, watched[i].fd);
    }
    // Only the first group waits; the others are polled, so a wait never exceeds one timeout.
    const int ready = platform::SocketSelect(max_fd + 1, &set, nullptr, first == 0 ? timeout_ms : 0);
    if (ready <= 0) continue;
    for (size_t i = first; i < last; ++i) {
      if (set.Contains(watched[i].fd)) Receive(watched[i].fd, watched[i].port, watched[i].owner);
    }
  }
}

Simulator::Impl::Runtime* Simulator::Impl::LidarAt(const Endpoint& address) {
  const auto it = by_address_.find(address.address);
  return it == by_address_.end() ? nullptr : &lidars_[it->second];
}

int Simulator::Impl::Receive(int fd, uint16_t port, Runtime* owner) {
  uint8_t buffer[2048];
  int received = 0;
  for (; received < kReceiveBurst; ++received) {
    sockaddr_in from{};
    in_addr to{};
    const int n = platform::SocketRecvFromTo(fd, buffer, sizeof buffer, &from, &to);
    if (n <= 0) break;
    const Endpoint sender = FromSockaddr(from);
    sockaddr_in destination{};
    destination.sin_addr = to;
    const Endpoint sent_to = FromSockaddr(destination);

    // The lidar the datagram was sent to, when its destination is one. Normally that is the
    // socket's own lidar; where loopback aliases are bound to the wildcard, the socket of
    // whichever lidar bound the port last gets the datagrams of all of them.
    Runtime* target = LidarAt(sent_to);
    // Nothing lives at an address a lidar moved away from: whatever is sent there is lost.
    if (target == nullptr && vacated_.count(sent_to.address) != 0) continue;
    if (target == nullptr) {
      const bool broadcast = sent_to.address[3] == 255;
      // Every socket of the port gets a copy of a broadcast there; the shared one answers it.
      if (broadcast && owner != nullptr) continue;
      // Otherwise the destination is unknown (INADDR_ANY) or an address of no lidar (a host
      // that answers the source address where every lidar sends from 127.0.0.1): the socket's.
      target = owner;
    }
    if (target == nullptr) {
      for (Runtime& runtime : lidars_) {
        Dispatch(runtime, Port::kDiscovery, sender, buffer, static_cast<size_t>(n));
      }
      continue;
    }
    const ModelPorts ports = PortsOf(target->lidar->setup().model);
    Port at = Port::kDiscovery;
    if (port == ports.command) {
      at = Port::kCommand;
    } else if (port == ports.log) {
      at = Port::kLog;
    } else if (port != ports.discovery) {
      continue;  // a port that lidar does not listen on
    }
    Dispatch(*target, at, sender, buffer, static_cast<size_t>(n));
  }
  return received;
}

void Simulator::Impl::Dispatch(Runtime& runtime, Port at, const Endpoint& from,
                               const uint8_t* bytes, size_t size) {
  if (!runtime.up) {
    runtime.lidar->counters().missed_while_down.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  std::vector<Outgoing> out;
  {
    std::lock_guard<std::mutex> lock(state_mutex_);
    runtime.lidar->OnDatagram(at, from, bytes, size, out);
  }
  SendAll(runtime, out);
}

void Simulator::Impl::SendAll(Runtime& runtime, std::vector<Outgoing>& out) {
  for (const Outgoing& o : out) Send(runtime, o.from, o.to, o.bytes.data(), o.bytes.size(), false);
}

void Simulator::Impl::Send(Runtime& runtime, Port from, const Endpoint& to, const uint8_t* bytes,
                           size_t size, bool data_packet) {
  if (!runtime.up) return;  // the callers send nothing while down; this keeps it so
  if (!options_.allow_non_loopback && !IsLoopback(to.address)) return;
  const int fd = runtime.sockets.fds[static_cast<size_t>(from)];
  const sockaddr_in destination = ToSockaddr(to);
  LidarCounters& counters = runtime.lidar->counters();
  ++runtime.datagrams;
  if (options_.malformed_every != 0 && runtime.datagrams % options_.malformed_every == 0) {
    // Rotate through the kinds that apply to this datagram.
    const uint32_t applicable = options_.malformed_kinds &
                                (data_packet ? kMalformedOddPacket
                                             : (kMalformedTruncated | kMalformedBadCrc | kMalformedBadLength));
    if (applicable != 0) {
      uint32_t kind = 0;
      for (int tries = 0; tries < 4 && kind == 0; ++tries) {
        const uint32_t candidate = 1u << (runtime.damage_turn++ % 4);
        if (applicable & candidate) kind = candidate;
      }
      Bytes bad;
      if (kind == kMalformedOddPacket) {
        bad.assign(bytes, bytes + (size > 7 ? size - 7 : 0));
      } else {
        bad = DamageFrame(Bytes(bytes, bytes + size), kind);
      }
      if (platform::SocketSendTo(fd, bad.data(), static_cast<int>(bad.size()), destination) >= 0) {
        counters.malformed_sent.fetch_add(1, std::memory_order_relaxed);
      }
    }
  }
  if (platform::SocketSendTo(fd, bytes, static_cast<int>(size), destination) < 0) {
    counters.send_errors.fetch_add(1, std::memory_order_relaxed);
  }
}

bool Simulator::Impl::StreamBounded(const Stream& stream, uint64_t now) const {
  if (options_.packet_limit != 0 && stream.sent >= options_.packet_limit) return true;
  return options_.stream_seconds > 0 &&
         static_cast<double>(now - stream.start_ns) >= options_.stream_seconds * 1e9;
}

void Simulator::Impl::ServeStreams(Runtime& runtime, uint64_t now, uint64_t* next_due) {
  EmulatedLidar& lidar = *runtime.lidar;
  if (runtime.seen_version != lidar.config_version()) {
    // A new configuration restarts both streams from now. Counters and timestamps carry on, so
    // a receiver sees neither a gap nor a step back.
    runtime.seen_version = lidar.config_version();
    const bool on = lidar.work_mode() == 1;
    const auto restart = [now](Stream& stream, bool active, double period_ns) {
      stream.active = active;
      stream.period_ns = period_ns;
      stream.start_ns =
          now - static_cast<uint64_t>(std::llround(static_cast<double>(stream.sent) * period_ns));
    };
    restart(runtime.point, on && lidar.point_host().port != 0, point_period_ns_);
    restart(runtime.imu, on && lidar.imu_enabled() && lidar.imu_host().port != 0, imu_period_ns_);
  }
  for (int kind = 0; kind < 2; ++kind) {
    Stream& stream = kind == 0 ? runtime.point : runtime.imu;
    if (!stream.active) continue;
    uint64_t burst = 0;
    while (stream.DueNs(stream.sent) <= now) {
      if (StreamBounded(stream, stream.DueNs(stream.sent))) {
        stream.active = false;
        RecordStreamEnd(runtime, kind == 0);
        break;
      }
      if (!runtime.up || stream.DueNs(stream.sent) < runtime.up_since_ns) {
        // A dropped lidar streams on into nothing: the packet is lost, and its number with it.
        ++stream.sent;
        continue;
      }
      if (burst == kSendBurst) break;
      if (kind == 0) {
        SendPoint(runtime);
      } else {
        SendImu(runtime);
      }
      ++burst;
    }
    if (stream.active) *next_due = std::min(*next_due, stream.DueNs(stream.sent));
  }
}

void Simulator::Impl::ServeReplay(Runtime& runtime, uint64_t now, uint64_t* next_due) {
  EmulatedLidar& lidar = *runtime.lidar;
  ReplayState& r = runtime.replay;
  if (runtime.seen_version != lidar.config_version()) {
    runtime.seen_version = lidar.config_version();
    const bool on = lidar.work_mode() == 1 &&
                    (lidar.point_host().port != 0 || (lidar.imu_enabled() && lidar.imu_host().port != 0));
    if (on && !r.active) {
      // Started, or resumed after work mode 0: the next packet is due now.
      if (!r.opened) {
        r.recording->Rewind();
        r.opened = true;
        r.pass_packets = 0;
      }
      r.rebase = true;
      r.rebase_to_ns = 0;
    }
    r.active = on;
  }
  if (!r.active) return;
  const double speed = options_.replay.speed;
  for (uint64_t burst = 0;; ++burst) {
    const capture::CapturedDatagram* d = r.recording->next();
    if (d == nullptr) {
      if (!options_.replay.loop || r.pass_packets == 0) {
        // Exhausted (or a window without a packet of this lidar, which no loop can fill).
        if (r.pass_packets != 0) {
          RecordStreamEnd(runtime, true);
          RecordStreamEnd(runtime, false);
        }
        r.active = false;
        return;
      }
      // Again from the window's start, one mean recorded spacing after the last packet.
      const uint64_t gap =
          r.pass_packets > 1
              ? static_cast<uint64_t>(static_cast<double>(r.last_rec_ns - r.pass_first_rec_ns) /
                                      static_cast<double>(r.pass_packets - 1) / speed)
              : 1000000;
      r.recording->Rewind();
      r.pass_packets = 0;
      r.rebase = true;
      r.rebase_to_ns = r.last_due_ns + gap;
      continue;
    }
    if (r.rebase) {
      r.rebase = false;
      r.base_rec_ns = r.last_rec_ns = d->time_ns;
      r.base_now_ns = r.rebase_to_ns != 0 ? r.rebase_to_ns : now;
    }
    // A time stamp before the previous one (a capture of several interfaces) sends at once.
    r.last_rec_ns = std::max(r.last_rec_ns, d->time_ns);
    const uint64_t due =
        r.base_now_ns +
        static_cast<uint64_t>(std::llround(static_cast<double>(r.last_rec_ns - r.base_rec_ns) / speed));
    if (due > now || burst == kSendBurst) {
      *next_due = std::min(*next_due, std::max(due, now));
      return;
    }
    if (r.pass_packets++ == 0) r.pass_first_rec_ns = r.last_rec_ns;
    r.last_due_ns = due;
    const bool point = r.recording->next_is_point();
    const Endpoint& host = point ? lidar.point_host() : lidar.imu_host();
    // A dropped lidar's packets of the time it is away are lost; so are those of a stream the
    // host has not asked for.
    const bool wanted = host.port != 0 && (point || lidar.imu_enabled());
    if (wanted && runtime.up && due >= runtime.up_since_ns) {
      if (recorder_.enabled()) (point ? runtime.last_point : runtime.last_imu) = d->payload;
      Send(runtime, point ? Port::kPoint : Port::kImu, host, d->payload.data(), d->payload.size(), true);
      (point ? lidar.counters().point_packets : lidar.counters().imu_packets)
          .fetch_add(1, std::memory_order_relaxed);
    }
    r.recording->Advance();
  }
}

uint64_t Simulator::Impl::StampOf(Stream& stream) const {
  if (!options_.synced_clock) return stream.DueNs(stream.sent);
  stream.last_stamp = std::max(WallClockNs(), stream.last_stamp + 1);
  return stream.last_stamp;
}

const uint8_t* Simulator::Impl::FrozenRecords(uint8_t type, uint64_t index) {
  std::vector<uint8_t>& scan = frozen_[type - 1];
  const size_t packet_bytes = PointPacketSize(type) - kDataHeaderLength;
  if (scan.empty()) {
    scan.resize(RoomScene::kScanPeriodPackets * packet_bytes);
    for (uint64_t p = 0; p < RoomScene::kScanPeriodPackets; ++p) {
      RoomScene::FillPoints(type, p, 0.0, scan.data() + p * packet_bytes);
    }
  }
  return scan.data() + (index % RoomScene::kScanPeriodPackets) * packet_bytes;
}

void Simulator::Impl::SendPoint(Runtime& runtime) {
  EmulatedLidar& lidar = *runtime.lidar;
  Stream& stream = runtime.point;
  const uint8_t type = lidar.point_type();
  const size_t size = PointPacketSize(type);
  uint8_t* records = packet_.data() + kDataHeaderLength;
  if (options_.frozen_scene) {
    std::memcpy(records, FrozenRecords(type, stream.sent), size - kDataHeaderLength);
  } else {
    RoomScene::FillPoints(type, stream.sent, static_cast<double>(stream.DueNs(stream.sent)) / 1e9,
                          records);
  }
  WriteDataHeader(packet_.data(), static_cast<uint16_t>(size), kPointsPerPacket, type,
                  static_cast<uint32_t>(stream.sent), StampOf(stream));
  if (recorder_.enabled()) runtime.last_point.assign(packet_.data(), packet_.data() + size);
  Send(runtime, Port::kPoint, lidar.point_host(), packet_.data(), size, true);
  ++stream.sent;
  lidar.counters().point_packets.fetch_add(1, std::memory_order_relaxed);
}

void Simulator::Impl::SendImu(Runtime& runtime) {
  EmulatedLidar& lidar = *runtime.lidar;
  Stream& stream = runtime.imu;
  RoomScene::FillImu(static_cast<double>(stream.DueNs(stream.sent)) / 1e9,
                     packet_.data() + kDataHeaderLength);
  WriteDataHeader(packet_.data(), static_cast<uint16_t>(kImuPacketSize), 1, 0,
                  static_cast<uint32_t>(stream.sent), StampOf(stream));
  if (recorder_.enabled()) runtime.last_imu.assign(packet_.data(), packet_.data() + kImuPacketSize);
  Send(runtime, Port::kImu, lidar.imu_host(), packet_.data(), kImuPacketSize, true);
  ++stream.sent;
  lidar.counters().imu_packets.fetch_add(1, std::memory_order_relaxed);
}

void Simulator::Impl::RecordStreamEnd(const Runtime& runtime, bool point) {
  const Bytes& last = point ? runtime.last_point : runtime.last_imu;
  if (last.empty()) return;
  recorder_.Replace(runtime.lidar->setup().address, point ? ".point" : ".imu", last.data(),
                    last.size());
}

LidarSnapshot Simulator::Impl::Snapshot(size_t index) const {
  LidarSnapshot s;
  if (index >= lidars_.size()) return s;
  const Runtime& runtime = lidars_[index];
  const auto host = [](const Endpoint& e) {
    return e.port == 0 ? HostEndpoint{} : HostEndpoint{AddressText(e.address), e.port};
  };
  {
    std::lock_guard<std::mutex> lock(state_mutex_);
    const EmulatedLidar& l = *runtime.lidar;
    s.setup = l.setup();
    s.address = AddressText(l.self().address);
    s.up = runtime.up;
    s.configured = l.configured();
    s.work_mode = l.work_mode();
    s.point_type = l.point_type();
    s.imu_enabled = l.imu_enabled();
    s.state_host = host(l.state_host());
    s.point_host = host(l.point_host());
    s.imu_host = host(l.imu_host());
    s.log_host = host(l.log_host());
  }
  LidarCounters& c = runtime.lidar->counters();
  const auto get = [](const std::atomic<uint64_t>& v) { return v.load(std::memory_order_relaxed); };
  s.discovery_replies = get(c.discovery_replies);
  s.acks_sent = get(c.acks_sent);
  s.refusals = get(c.refusals);
  s.silenced = get(c.silenced);
  s.bad_frames_received = get(c.bad_frames_received);
  s.point_packets = get(c.point_packets);
  s.imu_packets = get(c.imu_packets);
  s.state_pushes = get(c.state_pushes);
  s.log_pushes = get(c.log_pushes);
  s.log_replies = get(c.log_replies);
  s.malformed_sent = get(c.malformed_sent);
  s.send_errors = get(c.send_errors);
  s.reboots = get(c.reboots);
  s.drops = get(c.drops);
  s.moves = get(c.moves);
  s.missed_while_down = get(c.missed_while_down);
  return s;
}

bool Simulator::Impl::PushLogFile(size_t index, uint8_t log_type, size_t bytes) {
  if (index >= lidars_.size() || !running_) return false;
  std::lock_guard<std::mutex> lock(state_mutex_);
  if (!lidars_[index].up || !lidars_[index].lidar->HasLogHost()) return false;
  log_requests_.push_back(LogRequest{index, log_type, bytes});
  return true;
}

bool Simulator::Impl::Disrupt(size_t index, Disruption kind, double down_seconds,
                              const std::string& new_address) {
  if (index >= lidars_.size()) {
    KESTO_LOG_ERROR("lidar-sim: no lidar {} to {}", index, KindName(kind));
    return false;
  }
  if (!DownTimeFits(down_seconds)) {
    KESTO_LOG_ERROR("lidar-sim: down time out of range for a {}: {} s", KindName(kind), down_seconds);
    return false;
  }
  std::array<uint8_t, 4> address{};
  if (kind == Disruption::kMove && !MoveAddress(new_address, address)) return false;
  std::future<bool> done;
  {
    std::lock_guard<std::mutex> lock(state_mutex_);
    if (!running_) {
      KESTO_LOG_ERROR("lidar-sim: cannot {} lidar {}: not running", KindName(kind), index);
      return false;
    }
    disrupt_requests_.push_back(DisruptRequest{index, kind, down_seconds, address, {}});
    done = disrupt_requests_.back().done.get_future();
  }
  return done.get();
}

void Simulator::Impl::ServeDisruptions(uint64_t now, uint64_t* next_due) {
  std::vector<DisruptRequest> requests;
  {
    std::lock_guard<std::mutex> lock(state_mutex_);
    requests.swap(disrupt_requests_);
  }
  for (DisruptRequest& request : requests) {
    request.done.set_value(
        Apply(lidars_[request.index], request.kind, request.down_seconds, request.address, now));
  }
  for (Planned& planned : planned_) {
    if (planned.done) continue;
    if (planned.next_ns <= now) {
      Apply(lidars_[planned.plan.index], planned.plan.kind, planned.plan.down_seconds,
            planned.address, now);
      if (planned.plan.every_seconds > 0) {
        planned.next_ns += SecondsToNs(planned.plan.every_seconds);
      } else {
        planned.done = true;
        continue;
      }
    }
    *next_due = std::min(*next_due, planned.next_ns);
  }
  for (Runtime& runtime : lidars_) {
    if (runtime.up) continue;
    if (now >= runtime.down_until_ns) {
      ComeBack(runtime);
    } else {
      *next_due = std::min(*next_due, runtime.down_until_ns);
    }
  }
}

bool Simulator::Impl::Apply(Runtime& runtime, Disruption kind, double down_seconds,
                            const std::array<uint8_t, 4>& address, uint64_t now) {
  EmulatedLidar& lidar = *runtime.lidar;
  if (kind == Disruption::kMove && !Rebind(runtime, address)) return false;
  const uint64_t until = now + SecondsToNs(down_seconds);
  {
    std::lock_guard<std::mutex> lock(state_mutex_);
    if (kind != Disruption::kDrop) lidar.PowerCycle(kind == Disruption::kMove ? address : lidar.self().address);
    runtime.down_until_ns = runtime.up ? until : std::max(runtime.down_until_ns, until);
    runtime.up = false;
  }
  LidarCounters& counters = lidar.counters();
  switch (kind) {
    case Disruption::kReboot: counters.reboots.fetch_add(1, std::memory_order_relaxed); break;
    case Disruption::kDrop: counters.drops.fetch_add(1, std::memory_order_relaxed); break;
    case Disruption::kMove: counters.moves.fetch_add(1, std::memory_order_relaxed); break;
  }
  if (kind != Disruption::kDrop) {
    // A lidar that powers up numbers its packets from 0 again; synced stamps still rise.
    const auto restart = [](Stream& stream) {
      const uint64_t last_stamp = stream.last_stamp;
      stream = Stream{};
      stream.last_stamp = last_stamp;
    };
    restart(runtime.point);
    restart(runtime.imu);
    runtime.next_push_ns = 0;
    // A replay starts from the window's start again once the lidar is told work mode 1.
    runtime.replay.active = false;
    runtime.replay.opened = false;
  }
  RecordDisruption(runtime, KindName(kind), now,
                   kind == Disruption::kMove ? AddressText(address) : std::string());
  return true;
}

bool Simulator::Impl::Rebind(Runtime& runtime, const std::array<uint8_t, 4>& address) {
  const std::array<uint8_t, 4> old = runtime.lidar->self().address;
  const std::string text = AddressText(address);
  if (address == old || by_address_.count(address) != 0) {
    KESTO_LOG_ERROR("lidar-sim: cannot move the lidar on {} to {}: a lidar is there already",
                    AddressText(old), text);
    return false;
  }
  Sockets fresh;
  if (!OpenSockets(runtime.lidar->setup(), text, fresh)) return false;
  CloseLidarSockets(runtime.sockets);
  runtime.sockets = std::move(fresh);
  const size_t index = by_address_[old];
  by_address_.erase(old);
  by_address_[address] = index;
  vacated_.insert(old);
  vacated_.erase(address);
  return true;
}

void Simulator::Impl::ComeBack(Runtime& runtime) {
  {
    std::lock_guard<std::mutex> lock(state_mutex_);
    runtime.up = true;
    // Taken under the lock: whoever saw the lidar down saw it before this time.
    runtime.up_since_ns = SteadyNs();
  }
  RecordDisruption(runtime, "up", runtime.up_since_ns, std::string());
}

void Simulator::Impl::RecordDisruption(const Runtime& runtime, const char* kind, uint64_t now,
                                       const std::string& extra) {
  if (!recorder_.enabled()) return;
  std::string line = std::string(kind) + " " + std::to_string(now) + " " +
                     std::to_string(WallClockNs());
  if (!extra.empty()) line += " " + extra;
  recorder_.Event(runtime.lidar->setup().address, line);
}

Simulator::Simulator(SimOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}
Simulator::~Simulator() = default;
bool Simulator::Start() { return impl_->Start(); }
void Simulator::Stop() { impl_->Stop(); }
size_t Simulator::size() const { return impl_->size(); }
LidarSnapshot Simulator::Snapshot(size_t index) const { return impl_->Snapshot(index); }
bool Simulator::PushLogFile(size_t index, uint8_t log_type, size_t bytes) {
  return impl_->PushLogFile(index, log_type, bytes);
}
bool Simulator::Reboot(size_t index, double down_seconds) {
  return impl_->Disrupt(index, Disruption::kReboot, down_seconds, std::string());
}
bool Simulator::Drop(size_t index, double down_seconds) {
  return impl_->Disrupt(index, Disruption::kDrop, down_seconds, std::string());
}
bool Simulator::Move(size_t index, const std::string& new_address, double down_seconds) {
  return impl_->Disrupt(index, Disruption::kMove, down_seconds, new_address);
}

}  // namespace kesto::lidar_sim
