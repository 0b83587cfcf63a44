#include "build_request.h"

#include <cstring>
#include <limits>
#include <string_view>

#include "key_table.h"
#include "key_value_list.h"
#include "kesto_lidar_sdk.h"
#include "kit_log.h"
#include "model_table.h"

namespace kesto::lidar {
namespace {

constexpr uint16_t kHostIpCfgLength = 8;
constexpr uint16_t kHostIpCfgEntryLength = kKeyValueEntryHeaderLength + kHostIpCfgLength;

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Reads a component the way the standard string-to-int conversion does (leading blanks and a
// sign, digits up to the first other character), but reports a missing number or a value beyond
// 32 bits through its result instead of an exception.
bool ReadComponent(std::string_view text, int64_t& value) {
  size_t at = 0;
  while (at < text.size() && IsBlank(text[at])) ++at;
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
    negative = text[at] == '-';
    ++at;
  }
  const size_t first_digit = at;
  int64_t magnitude = 0;
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
    magnitude = magnitude * 10 + (text[at] - '0');
    if (magnitude > int64_t{std::numeric_limits<int32_t>::max()} + 1) return false;
  }
  if (at == first_digit) return false;
  value = negative ? -magnitude : magnitude;
  return value >= std::numeric_limits<int32_t>::min() &&
         value <= std::numeric_limits<int32_t>::max();
}

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

const LidarNetInfo& OrbitPorts() { return FindModel(kKestoLidarDevTypeOrbit)->lidar_ports; }

}  // namespace

bool IpToU8(const std::string& ip, const std::string& separator, std::vector<uint8_t>& out) {
  if (separator.empty()) {
    KESTO_LOG_ERROR("Build broadcast request failed, ip to u8 failed, the ip:{}, empty separator",
                    ip);
    return false;
  }
  size_t produced = 0;
  size_t start = 0;
  while (start <= ip.size()) {
    const size_t end = ip.find(separator, start);
    const bool last = end == std::string::npos;
    const std::string_view piece =
        std::string_view(ip).substr(start, last ? std::string::npos : end - start);
    if (last && piece.empty()) break;  // nothing after the last separator
    int64_t value = 0;
    if (!ReadComponent(piece, value)) {
      KESTO_LOG_ERROR(
          "Build broadcast request failed, ip to u8 failed, the ip:{}, the fault component:\"{}\"",
          ip, piece);
      return false;
    }
    if (value < 0 || value > 255) {
      KESTO_LOG_ERROR("Build broadcast request failed, ip to u8 failed, the ip:{}, the fault val:{}",
                      ip, value);
      return false;
    }
    out.push_back(static_cast<uint8_t>(value));
    ++produced;
    if (last) break;
    start = end + separator.size();
  }
  if (produced != 4) {
    KESTO_LOG_ERROR("Build broadcast request failed, ip to u8 failed, the ip:{}, the val size:{}",
                    ip, produced);
    return false;
  }
  return true;
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
  const LidarModel* model = FindModel(cfg.dev_type);
  const bool with_imu = model == nullptr || model->has_imu;
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
  const bool with_imu = info.dev_type != kKestoLidarDevTypeUnnamed;
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
