#ifndef KESTO_LIDAR_COMMAND_ID_H_
#define KESTO_LIDAR_COMMAND_ID_H_

#include <cstdint>

namespace kesto::lidar {

// The command identifiers carried in the frame's cmd_id field. The payload of each belongs to
// the component that sends or receives it.
constexpr uint16_t kCmdIdDiscovery = 0x0000;           // host broadcast, lidar acknowledgement
constexpr uint16_t kCmdIdSetParameters = 0x0100;       // key-value list
constexpr uint16_t kCmdIdQueryParameters = 0x0101;     // key list out, key-value list back
constexpr uint16_t kCmdIdStatePush = 0x0102;           // lidar to the host's push port
constexpr uint16_t kCmdIdLogFilePush = 0x0300;         // lidar push, host reply of 7 bytes
constexpr uint16_t kCmdIdLogCaptureControl = 0x0301;   // 2-byte payload

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_COMMAND_ID_H_
