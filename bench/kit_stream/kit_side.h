#ifndef KESTO_BENCH_KIT_STREAM_KIT_SIDE_H_
#define KESTO_BENCH_KIT_STREAM_KIT_SIDE_H_

// The kit started in process for one emulated lidar: a Kit of its own, with the lidar entered
// by address (no discovery, no configuration sent), and a point-cloud observer that counts every
// packet and, when asked, writes it into a stream block as the bridge does.

#include <atomic>
#include <cstdint>
#include <string>

#include "kit.h"
#include "packet_stream_writer.h"
#include "receive_tally.h"
#include "shared_memory.h"
#include "steady_probe.h"

namespace kesto::bench {

// Threads: the public functions on the main thread; the observer on the kit's data IO thread.
// SetStreamWriting and ResetPhase only while no packet arrives.
class KitSide {
 public:
  KitSide();
  ~KitSide();
  KitSide(const KitSide&) = delete;
  KitSide& operator=(const KitSide&) = delete;

  // Maps the stream block `block_name` fresh (any earlier one of that name is removed first)
  // and attaches the writer to it. Before Start.
  bool OpenStream(const std::string& block_name);
  const std::uint8_t* stream_block() const { return block_.data(); }
  std::uint64_t stream_written() const;

  // Starts the kit on 127.0.0.1 with the lidar at `lidar_ip` (ORBIT ports) streaming points to
  // `point_port`. False, with the kit's log line, when it cannot start.
  bool Start(const std::string& lidar_ip, std::uint16_t point_port);
  void Stop();

  // Records every datagram the kit receives into `path` from now until StopRecording, which
  // returns what was recorded and dropped.
  bool StartRecording(const std::string& path);
  lidar::RecordCounts StopRecording();

  void ResetPhase();
  // The next packet holds the data IO thread in the observer for `seconds`, as a reader that
  // stalls would.
  void PauseAtNextPacket(double seconds) { pause_ns_.store(static_cast<std::int64_t>(seconds * 1e9)); }
  // What the system dropped on the kit's data sockets since the start.
  std::uint64_t os_dropped() { return kit_.device_manager().os_dropped(); }
  void SetStreamWriting(bool on) { write_stream_.store(on, std::memory_order_relaxed); }
  const Tally& tally() const { return tally_; }
  // The data IO thread's CPU time and allocations per packet.
  const SteadyProbe& probe() const { return probe_; }

 private:
  static void Observe(std::uint32_t handle, std::uint8_t dev_type,
                      const KestoLidarEthernetPacket* packet, void* self);

  // Before the kit: the data IO thread counts into them until it is joined.
  Tally tally_;
  SteadyProbe probe_;

  lidar::Kit kit_;  // after the counters, which its data IO thread writes until Stop
  bool started_ = false;

  platform::SharedMemory block_;
  std::string block_name_;
  bridge::PacketStreamWriter writer_;  // data IO thread once started
  std::atomic<bool> write_stream_{false};
  std::atomic<std::int64_t> pause_ns_{0};
};

}  // namespace kesto::bench

#endif  // KESTO_BENCH_KIT_STREAM_KIT_SIDE_H_
