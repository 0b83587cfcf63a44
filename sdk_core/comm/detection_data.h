#ifndef KESTO_LIDAR_DETECTION_DATA_H_
#define KESTO_LIDAR_DETECTION_DATA_H_
// The payload of a discovery reply (a frame with cmd_id 0 that a lidar sends from the discovery
// port, kDiscoveryPort of model_table.h), decoded from the wire into a record of our own. The
// serial number is untrusted text: at most 16 bytes are taken from the wire and `sn` always ends
// with a zero.
#include <cstddef>
#include <cstdint>

namespace kesto::lidar {

// Bytes of the reply's payload on the wire.
constexpr size_t kDetectionDataSize = 24;
constexpr size_t kDetectionSnSize = 16;

struct DetectionData {
  uint8_t ret_code = 0;
  uint8_t dev_type = 0;
  char sn[kDetectionSnSize + 1] = {};  // up to 16 characters from the wire, always terminated
  uint8_t lidar_ip[4] = {};            // first octet first
  uint16_t cmd_port = 0;
};

// Fills `out` from a reply payload of `size` bytes. False (and `out` untouched) when the
// payload is missing or shorter than kDetectionDataSize; never reads past `size`.
bool DecodeDetectionData(const uint8_t* payload, size_t size, DetectionData& out);

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_DETECTION_DATA_H_
