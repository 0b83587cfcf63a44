#ifndef KESTO_LIDAR_LIDAR_CFG_H_
#define KESTO_LIDAR_LIDAR_CFG_H_

// The configuration records. The parser fills them once at start, the checks may correct the
// ORBIT lidar-side ports in place, and from then on they are read-only: the device manager and
// the command handlers share them through shared pointers and read them from any thread without
// a lock.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kesto::lidar {

// Lidar-side UDP ports of one model.
struct LidarNetInfo {
  uint16_t cmd_data_port = 0;
  uint16_t push_msg_port = 0;
  uint16_t point_data_port = 0;
  uint16_t imu_data_port = 0;
  uint16_t log_data_port = 0;
};

// Where a lidar sends to: the host interface, an optional multicast group for point-cloud and
// IMU data (empty = unicast) and the host-side ports.
struct HostNetInfo {
  std::string host_ip;
  std::string multicast_ip;
  uint16_t cmd_data_port = 0;
  uint16_t push_msg_port = 0;
  uint16_t point_data_port = 0;
  uint16_t imu_data_port = 0;
  uint16_t log_data_port = 0;
};

// The network configuration of one model (empty lidar_ip) or of one lidar address.
struct KestoLidarCfg {
  uint8_t dev_type = 0;
  std::string lidar_ip;
  LidarNetInfo lidar_net_info;
  HostNetInfo host_net_info;
};

using LidarCfgList = std::vector<KestoLidarCfg>;

struct KestoLidarLoggerCfg {
  bool lidar_log_enable = false;
  uint64_t lidar_log_cache_size = 0;  // megabytes
  std::string lidar_log_path;
};

// A configuration file without "master_sdk" takes this default, and so does the host-address
// (view mode) start, which has no framework record at all: a kit started on a host address
// points the view lidars it finds at that host.
struct KestoLidarSdkFrameworkCfg {
  bool master_sdk = true;  // a master queries and configures the lidars it detects
};

// A lidar that another host configured and this kit only listens to. Filled by the device
// manager from the lidar's internal-info reply; the four ports stay zero until then.
struct ViewLidarIpInfo {
  uint32_t handle = 0;
  uint8_t dev_type = 0;
  std::string host_ip;
  uint16_t lidar_cmd_port = 0;
  uint16_t lidar_point_data_port = 0;
  uint16_t lidar_imu_data_port = 0;
  uint16_t host_point_data_port = 0;
  uint16_t host_imu_data_port = 0;
};

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_LIDAR_CFG_H_
