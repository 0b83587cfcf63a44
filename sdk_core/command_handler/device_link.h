#ifndef KESTO_LIDAR_DEVICE_LINK_H_
#define KESTO_LIDAR_DEVICE_LINK_H_
// What the command machinery needs from below: a way to send a frame to a lidar, and nothing
// more. The device manager implements it; tests implement it with a fake that records every
// frame. Not an owner: the general command handler holds a plain pointer that the kit attaches
// after building the device manager and that outlives every send.
#include <cstddef>
#include <cstdint>

namespace kesto::lidar {

class DeviceLink {
 public:
  // Sends one encoded frame to (dest_ip, dest_port) on the lidar's command channel (SendCommand)
  // or its log channel (SendLogCommand). dest_ip is in network byte order, as handles are;
  // dest_port in host order. Returns the platform's send result: bytes sent, or negative.
  // Safe from any thread.
  virtual int SendCommand(uint8_t dev_type, uint32_t handle, const uint8_t* data, size_t length,
                          uint32_t dest_ip, uint16_t dest_port) = 0;
  virtual int SendLogCommand(uint8_t dev_type, uint32_t handle, const uint8_t* data,
                             size_t length, uint32_t dest_ip, uint16_t dest_port) = 0;

 protected:
  ~DeviceLink() = default;  // never deleted through this interface
};

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_DEVICE_LINK_H_
