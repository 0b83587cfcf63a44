#ifndef KESTO_LIDAR_BUILD_REQUEST_H_
#define KESTO_LIDAR_BUILD_REQUEST_H_

// Set-parameters payloads that tell a lidar where to stream, and the dotted-address conversion
// they and the configuration checks use. Pure functions; safe from any thread.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "lidar_cfg.h"

namespace kesto::lidar {

// Every request payload is built in a zero-filled buffer of this size, so bytes a builder does
// not write (the reserved field among them) are zero.
inline constexpr size_t kRequestBufferSize = 1400;
using RequestBuffer = std::array<uint8_t, kRequestBufferSize>;

// Splits `ip` at each `separator` and appends its four components to `out` as bytes, under the
// configuration text's rules (ParseDotted with DottedRules::kConfigText: each component read
// like the standard string-to-int conversion, a trailing separator accepted). A component that
// is empty, not a number, beyond 32 bits, negative or above 255 fails with one log line; so does
// a component count other than four. Nothing is appended on failure. Never throws.
bool IpToU8(const std::string& ip, const std::string& separator, std::vector<uint8_t>& out);
// The dotted form into four bytes at `out`, first octet first; `out` is written only on success.
bool IpToU8(const std::string& ip, uint8_t* out);

// The point-cloud and IMU host addresses of a model or lidar configuration, for the models whose
// request form is CfgRequestForm::kPointImu. On success `length` holds the payload length (28,
// or 16 for a model without IMU data: no IMU entry).
bool BuildUpdateLidarCfgRequest(const KestoLidarCfg& cfg, RequestBuffer& buffer,
                                uint16_t& length);
// The state-push, point-cloud and IMU host addresses of an ORBIT configuration
// (CfgRequestForm::kPushPointImu), from the ORBIT row's lidar-side ports; 40 bytes.
bool BuildUpdateOrbitLidarCfgRequest(const KestoLidarCfg& cfg, RequestBuffer& buffer,
                                     uint16_t& length);
// The point-cloud and IMU addresses recorded for a view lidar, always unicast to host_ip; no IMU
// entry for a model without IMU data.
bool BuildUpdateViewLidarCfgRequest(const ViewLidarIpInfo& info, RequestBuffer& buffer,
                                    uint16_t& length);

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_BUILD_REQUEST_H_
