#include "kit_side.h"

#include <chrono>
#include <memory>
#include <thread>

#include "lidar_cfg.h"
#include "packet_stream_layout.h"

namespace kesto::bench {

namespace {

constexpr std::uint8_t kOrbitDevType = 9;
constexpr auto kRelaxed = std::memory_order_relaxed;

}  // namespace

KitSide::KitSide() { kit_.data().SetPointCloudObserver(&KitSide::Observe, this); }

KitSide::~KitSide() {
  Stop();
  if (!block_name_.empty()) {
    block_.Close();
    platform::SharedMemory::Unlink(block_name_);
  }
}

bool KitSide::OpenStream(const std::string& block_name) {
  platform::SharedMemory::Unlink(block_name);
  if (block_.Open(block_name, stream::kBlockSize) != platform::ShmResult::kOk) return false;
  block_name_ = block_name;
  return writer_.Attach(block_.data(), block_.size());
}

std::uint64_t KitSide::stream_written() const {
  if (!block_.is_open()) return 0;
  return stream::HeaderOf(block_.data())->next_index.load(std::memory_order_acquire);
}

bool KitSide::Start(const std::string& lidar_ip, std::uint16_t point_port) {
  // The lidar by address, with the ports an ORBIT lidar sends from; only the point-cloud port
  // on the host. As a listener (not master) the kit sends the lidar nothing.
  lidar::KestoLidarCfg entry;
  entry.dev_type = kOrbitDevType;
  entry.lidar_ip = lidar_ip;
  entry.lidar_net_info = lidar::LidarNetInfo{56100, 56200, 56300, 56400, 56500};
  entry.host_net_info.host_ip = "127.0.0.1";
  entry.host_net_info.point_data_port = point_port;
  auto logger_cfg = std::make_shared<lidar::KestoLidarLoggerCfg>();
  auto framework = std::make_shared<lidar::KestoLidarSdkFrameworkCfg>();
  framework->master_sdk = false;
  started_ = kit_.device_manager().Init(
      std::make_shared<lidar::LidarCfgList>(),
      std::make_shared<lidar::LidarCfgList>(lidar::LidarCfgList{entry}), logger_cfg, framework);
  return started_;
}

void KitSide::Stop() {
  if (!started_) return;
  started_ = false;
  kit_.Stop();
}

bool KitSide::StartRecording(const std::string& path) {
  lidar::RecordOptions options;
  options.path = path;
  options.application = "kit_stream_bench";
  return kit_.recorder().Start(options);
}

lidar::RecordCounts KitSide::StopRecording() {
  kit_.recorder().Stop();
  return kit_.recorder().counts();
}

void KitSide::ResetPhase() {
  tally_.Reset();
  probe_.Reset();
}

// Data IO thread. The write comes first, so the slot's receive time is as close to the receive
// as the bridge's would be; the counting after it is the benchmark's own.
void KitSide::Observe(std::uint32_t handle, std::uint8_t dev_type,
                      const KestoLidarEthernetPacket* packet, void* self) {
  auto& kit = *static_cast<KitSide*>(self);
  if (const std::int64_t pause = kit.pause_ns_.exchange(0, kRelaxed)) {
    std::this_thread::sleep_for(std::chrono::nanoseconds(pause));
  }
  if (kit.write_stream_.load(kRelaxed)) {
    kit.writer_.Write(handle, dev_type, packet, bridge::KnownPacketLength(packet->data_type));
  }
  kit.tally_.Count(reinterpret_cast<const std::uint8_t*>(packet), SteadyNs());
  kit.probe_.OnPacket(kit.tally_.packets());
}

}  // namespace kesto::bench
