#include "detection_data.h"

#include <cstring>

#include "little_endian.h"

namespace kesto::lidar {

bool DecodeDetectionData(const uint8_t* payload, size_t size, DetectionData& out) {
  if (payload == nullptr || size < kDetectionDataSize) return false;
  DetectionData data;
  data.ret_code = payload[0];
  data.dev_type = payload[1];
  // The wire gives 16 bytes that are meant to end with a zero; a lidar that fills all 16 still
  // yields a terminated text of at most 16 characters.
  std::memcpy(data.sn, payload + 2, kDetectionSnSize);
  data.sn[kDetectionSnSize] = '\0';
  std::memcpy(data.lidar_ip, payload + 18, sizeof(data.lidar_ip));
  data.cmd_port = LoadU16(payload + 22);
  out = data;
  return true;
}

}  // namespace kesto::lidar
