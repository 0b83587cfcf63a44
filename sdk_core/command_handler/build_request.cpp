#include "build_request.h"

#include <cstring>

#include "handle_text.h"
#include "key_table.h"
#include "key_value_list.h"
#include "kesto_lidar_sdk.h"
#include "kit_log.h"
#include "model_table.h"

namespace kesto::lidar {
namespace {

constexpr uint16_t kHostIpCfgLength = 8;
constexpr uint16_t kHostIpCfgEntryLength = kKeyValueEntryHeaderLength + kHostIpCfgLength;

// One key-value entry of a host address configuration at `length`, which then moves past it.
bool AppendHostIpCfg(RequestBuffer& buffer, uint16_t& length, uint16_t key_id,
                     const std::string& ip, uint16_t dst_port, uint16_t src_port) {
  uint8_t* entry = buffer.data() + length;
  StoreU16(entry, key_id);
  StoreU16(entry + 2, kHostIpCfgLength);
  if (!IpToU8(ip, entry + kKeyValueEntryHeaderLength)) return false;
  StoreU16(entry + kKeyValueEntryHeaderLength + 4, dst_port);
  StoreU16(entry + kKeyValueEntryHeaderLength + 6, src_port);
  length = static_cast<uint16_t>(length + kHostIpCfgEntryLength);
  return true;
}

void BeginList(RequestBuffer& buffer, uint16_t& length, uint16_t key_num) {
  StoreU16(buffer.data(), key_num);
  length = kKeyValueListHeaderLength;
}

bool IsMulticast(const HostNetInfo& host) { return !host.multicast_ip.empty(); }

// Which of the two addresses an entry carries, as the failure messages name it.
const char* AddressKind(const HostNetInfo& host) { return IsMulticast(host) ? "multicast" : "host"; }

// The address the lidar streams point-cloud and IMU data to: the group when one is set.
const std::string& ConfiguredAddress(const HostNetInfo& host) {
  return IsMulticast(host) ? host.multicast_ip : host.host_ip;
}

// Lidar-side source ports of the point-cloud and IMU streams, by device type.
bool PointCloudSourcePort(uint8_t dev_type, uint16_t& port) {
  const LidarModel* model = FindModel(dev_type);
  if (model == nullptr || model->lidar_ports.point_data_port == 0) return false;
  port = model->lidar_ports.point_data_port;
  return true;
}
bool ImuSourcePort(uint8_t dev_type, uint16_t& port) {
  const LidarModel* model = FindModel(dev_type);
  if (model == nullptr || !model->has_imu) return false;
  port = model->lidar_ports.imu_data_port;
  return true;
}

// Whether a request for `dev_type` names an IMU entry; an unknown type is asked for both, and
// then fails on the missing source port.
bool WithImu(uint8_t dev_type) {
  const LidarModel* model = FindModel(dev_type);
  return model == nullptr || model->has_imu;
}

const LidarNetInfo& OrbitPorts() { return FindModel(kKestoLidarDevTypeOrbit)->lidar_ports; }

}  // namespace

bool IpToU8(const std::string& ip, const std::string& separator, std::vector<uint8_t>& out) {
  const DottedParse parsed = ParseDotted(ip, DottedRules::kConfigText, separator);
  switch (parsed.fault) {
    case DottedFault::kNone:
      out.insert(out.end(), parsed.octets.begin(), parsed.octets.end());
      return true;
    case DottedFault::kEmptySeparator:
      KESTO_LOG_ERROR("Build broadcast request failed, ip to u8 failed, the ip:{}, empty separator",
                      ip);
      break;
    case DottedFault::kUnreadableComponent:
      KESTO_LOG_ERROR(
          "Build broadcast request failed, ip to u8 failed, the ip:{}, the fault component:\"{}\"",
          ip, parsed.component);
      break;
    case DottedFault::kOutOfRange:
      KESTO_LOG_ERROR("Build broadcast request failed, ip to u8 failed, the ip:{}, the fault val:{}",
                      ip, parsed.value);
      break;
    case DottedFault::kComponentCount:
      KESTO_LOG_ERROR("Build broadcast request failed, ip to u8 failed, the ip:{}, the val size:{}",
                      ip, parsed.count);
      break;
  }
  return false;
}

bool IpToU8(const std::string& ip, uint8_t* out) {
  if (out == nullptr) {
    KESTO_LOG_ERROR("Build broadcast request failed, ip to u8 failed, the ip:{}, no destination",
                    ip);
    return false;
  }
  std::vector<uint8_t> bytes;
  if (!IpToU8(ip, ".", bytes)) return false;
  std::memcpy(out, bytes.data(), bytes.size());
  return true;
}

bool BuildUpdateLidarCfgRequest(const KestoLidarCfg& cfg, RequestBuffer& buffer,
                                uint16_t& length) {
  const HostNetInfo& host = cfg.host_net_info;
  const bool with_imu = WithImu(cfg.dev_type);
  uint16_t point_src = 0;
  uint16_t imu_src = 0;
  if (!PointCloudSourcePort(cfg.dev_type, point_src) ||
      (with_imu && !ImuSourcePort(cfg.dev_type, imu_src))) {
    KESTO_LOG_ERROR("Build update lidar cfg request failed, unknown the dev_type:{}",
                    cfg.dev_type);
    return false;
  }
  BeginList(buffer, length, with_imu ? 2 : 1);
  if (!AppendHostIpCfg(buffer, length, kKeyPointCloudHostIpCfg, ConfiguredAddress(host),
                       host.point_data_port, point_src)) {
    KESTO_LOG_ERROR("Build update lidar cfg request failed, init pointcloud {} ip addr failed.",
                    AddressKind(host));
    return false;
  }
  if (with_imu && !AppendHostIpCfg(buffer, length, kKeyImuHostIpCfg, ConfiguredAddress(host),
                                   host.imu_data_port, imu_src)) {
    KESTO_LOG_ERROR("Build update lidar cfg request failed, init imu {} ip addr failed.",
                    AddressKind(host));
    return false;
  }
  return true;
}

bool BuildUpdateOrbitLidarCfgRequest(const KestoLidarCfg& cfg, RequestBuffer& buffer,
                                     uint16_t& length) {
  const HostNetInfo& host = cfg.host_net_info;
  BeginList(buffer, length, 3);
  // The host address must be valid even when the state pushes go to the multicast group: the
  // lidar still answers commands on it.
  uint8_t host_bytes[4];
  if (!IpToU8(host.host_ip, host_bytes)) {
    KESTO_LOG_ERROR("Build update lidar cfg request failed, init host ip addr failed.");
    return false;
  }
  if (!AppendHostIpCfg(buffer, length, kKeyStateInfoHostIpCfg, ConfiguredAddress(host),
                       host.push_msg_port, OrbitPorts().push_msg_port)) {
    if (IsMulticast(host)) {
      KESTO_LOG_ERROR("Build update lidar cfg request failed, init pointcloud multicast ip addr failed.");
    } else {
      KESTO_LOG_ERROR("Build update lidar cfg request failed, init host ip addr failed.");
    }
    return false;
  }
  if (!AppendHostIpCfg(buffer, length, kKeyPointCloudHostIpCfg, ConfiguredAddress(host),
                       host.point_data_port, OrbitPorts().point_data_port)) {
    KESTO_LOG_ERROR("Build update lidar cfg request failed, init pointcloud {} ip addr failed.",
                    AddressKind(host));
    return false;
  }
  if (!AppendHostIpCfg(buffer, length, kKeyImuHostIpCfg, ConfiguredAddress(host),
                       host.imu_data_port, OrbitPorts().imu_data_port)) {
    KESTO_LOG_ERROR("Build update lidar cfg request failed, init imu {} ip addr failed.",
                    AddressKind(host));
    return false;
  }
  return true;
}

bool BuildUpdateViewLidarCfgRequest(const ViewLidarIpInfo& info, RequestBuffer& buffer,
                                    uint16_t& length) {
  const bool with_imu = WithImu(info.dev_type);
  BeginList(buffer, length, with_imu ? 2 : 1);
  if (!AppendHostIpCfg(buffer, length, kKeyPointCloudHostIpCfg, info.host_ip,
                       info.host_point_data_port, info.lidar_point_data_port)) {
    KESTO_LOG_ERROR("Build update view lidar cfg request failed, init host ip addr failed.");
    return false;
  }
  if (with_imu && !AppendHostIpCfg(buffer, length, kKeyImuHostIpCfg, info.host_ip,
                                   info.host_imu_data_port, info.lidar_imu_data_port)) {
    KESTO_LOG_ERROR("Build update view lidar cfg request failed, init imu host ip addr failed.");
    return false;
  }
  return true;
}

}  // namespace kesto::lidar
