#ifndef KESTO_TOOLS_LIDAR_SIM_EMULATED_LIDAR_H_
#define KESTO_TOOLS_LIDAR_SIM_EMULATED_LIDAR_H_

// The command side of one emulated lidar: what it answers to each frame, what it records, and
// the frames it sends on its own (state pushes, log file pushes). No sockets here: the caller
// passes received datagrams in and sends what comes out, so tests drive it directly.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "frame_writer.h"
#include "lidar_sim.h"
#include "recorder.h"

namespace kesto::lidar_sim {

// An IPv4 endpoint; the address first octet first, the port in host order.
struct Endpoint {
  std::array<uint8_t, 4> address{};
  uint16_t port = 0;
  bool operator==(const Endpoint& other) const {
    return address == other.address && port == other.port;
  }
};

// A lidar's address in dotted text and back, through the kit's reader and writer
// (handle_text.h) under its strict rules: four decimal octets and nothing else.
bool ParseAddress(const std::string& text, std::array<uint8_t, 4>& out);
std::string AddressText(const std::array<uint8_t, 4>& address);
inline bool IsLoopback(const std::array<uint8_t, 4>& address) { return address[0] == 127; }

// The lidar's own sockets, by the job of their port.
enum class Port : uint8_t { kDiscovery, kCommand, kPush, kPoint, kImu, kLog };
inline constexpr size_t kPortCount = 6;

struct Outgoing {
  Port from = Port::kCommand;
  Endpoint to;
  Bytes bytes;
};

// Counters read from any thread while the loop thread counts.
struct LidarCounters {
  std::atomic<uint64_t> discovery_replies{0};
  std::atomic<uint64_t> acks_sent{0};
  std::atomic<uint64_t> refusals{0};
  std::atomic<uint64_t> silenced{0};
  std::atomic<uint64_t> bad_frames_received{0};
  std::atomic<uint64_t> point_packets{0};
  std::atomic<uint64_t> imu_packets{0};
  std::atomic<uint64_t> state_pushes{0};
  std::atomic<uint64_t> log_pushes{0};
  std::atomic<uint64_t> log_replies{0};
  std::atomic<uint64_t> malformed_sent{0};
  std::atomic<uint64_t> send_errors{0};
  std::atomic<uint64_t> reboots{0};
  std::atomic<uint64_t> drops{0};
  std::atomic<uint64_t> moves{0};
  std::atomic<uint64_t> missed_while_down{0};
};

// Threads: built by the owner, then used on the loop thread only, except the counters (any
// thread) and the recorded state, which the owner reads under its own lock while the loop thread
// writes it under that same lock.
class EmulatedLidar {
 public:
  // `recorder` (may be null) outlives the lidar and is used on the loop thread only.
  EmulatedLidar(LidarSetup setup, const SimOptions& options, Recorder* recorder = nullptr);

  const LidarSetup& setup() const { return setup_; }
  // Its address now and its command port: the first address until a move.
  const Endpoint& self() const { return self_; }
  LidarCounters& counters() { return counters_; }

  // One datagram received on the socket of `at` from `from`; the replies are appended to `out`.
  void OnDatagram(Port at, const Endpoint& from, const uint8_t* bytes, size_t size,
                  std::vector<Outgoing>& out);
  // A state push to the state host; false when there is none yet.
  bool MakeStatePush(uint64_t now_ns, Outgoing& out);
  // Whether MakeLogFile has somewhere to send to.
  bool HasLogHost() const { return LogDestination().port != 0; }
  // A whole log file as pushes (start, data, end) to the log host; false when there is none.
  bool MakeLogFile(uint8_t log_type, size_t bytes, std::vector<Outgoing>& out);

  // Recorded state. Changes bump config_version so the streamer restarts its streams.
  bool configured() const { return configured_; }
  uint8_t work_mode() const { return work_mode_; }
  uint8_t point_type() const { return point_type_; }
  bool imu_enabled() const { return imu_enabled_; }
  const Endpoint& state_host() const { return state_host_; }
  const Endpoint& point_host() const { return point_host_; }
  const Endpoint& imu_host() const { return imu_host_; }
  const Endpoint& log_host() const { return log_host_; }
  uint64_t config_version() const { return config_version_; }
  // Applies a preset as a host's configuration would (benchmarks, hosts that only listen).
  void ApplyPreset(const StreamPreset& preset);
  // As after a power cycle, now at `address` (the same one for a reboot): everything hosts set
  // is forgotten, the preset too (it stands for a host's configuration); work mode 0, IMU
  // enable as at start, no host addresses, the silent-start counts and the own sequence numbers
  // start again, the power-up count rises. Serial number, model and MAC address stay.
  void PowerCycle(const std::array<uint8_t, 4>& address);

 private:
  void OnSetParameters(const Endpoint& from, uint32_t seq, const uint8_t* payload, size_t size,
                       std::vector<Outgoing>& out);
  void OnQuery(const Endpoint& from, uint32_t seq, const uint8_t* payload, size_t size,
               std::vector<Outgoing>& out);
  // Whether one entry of a set-parameters request may be applied; a request is applied whole
  // or not at all.
  bool Accepts(uint16_t key, const uint8_t* value, size_t length) const;
  void Apply(uint16_t key, const uint8_t* value, size_t length);
  void Reply(Port from, const Endpoint& to, uint16_t cmd_id, uint32_t seq, const Bytes& payload,
             std::vector<Outgoing>& out);
  // Whether this command is one of the first ones SimOptions::silent_first leaves unanswered;
  // counts it when it is.
  bool SilentAtStart(uint16_t cmd_id, const uint8_t* payload, size_t size);
  void Record(const std::string& line);
  Endpoint LogDestination() const;
  // The values a lidar holds at power-on, at self_'s address.
  void PowerOn(uint32_t power_ups);

  const LidarSetup setup_;
  const SimOptions& options_;
  Recorder* const recorder_;
  // Commands silenced so far, by entry of options_.silent_first.
  std::vector<uint32_t> silenced_at_start_;
  Endpoint self_;
  LidarCounters counters_;

  // Every value the lidar holds, by key, as it sends it in replies and pushes.
  std::map<uint16_t, Bytes> values_;
  bool configured_ = false;
  uint8_t work_mode_ = 0;
  uint8_t point_type_ = 1;
  bool imu_enabled_ = false;
  Endpoint state_host_, point_host_, imu_host_, log_host_;
  // Source of the last accepted set-parameters request: where pushes go without key 0x0005.
  Endpoint config_source_;
  uint64_t config_version_ = 0;
  uint32_t own_seq_ = 0;
  uint8_t next_file_index_ = 0;
  uint32_t trans_index_ = 0;
};

}  // namespace kesto::lidar_sim

#endif  // KESTO_TOOLS_LIDAR_SIM_EMULATED_LIDAR_H_
