#ifndef KESTO_LIDAR_DEVICE_LINK_H_
#define KESTO_LIDAR_DEVICE_LINK_H_
// What the command machinery (the general and the model command handlers) calls on the device
// manager, and nothing more. The device manager implements it; tests implement it with a fake
// that records every frame. Not an owner: the general command handler holds a plain pointer
// that the device manager's Init attaches and Destroy forgets.
#include <cstddef>
#include <cstdint>

#include "detection_data.h"

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
  // A discovery reply of a lidar the general command handler already knows, with its two
  // firmware flags. Runs on the IO thread that received the reply.
  virtual void HandleDetectionData(uint32_t handle, const DetectionData& data, bool fw_type_known,
                                   bool fw_type_zero) = 0;
  // A view lidar's configuration attempt has ended. Runs on an IO thread.
  virtual void UpdateViewLidarCfgCallback(uint32_t handle) = 0;
  // Hands a detected lidar to the log capture (its AddDevice). Runs on an IO thread.
  virtual void AddLoggerDevice(uint32_t handle, const DetectionData& data) = 0;
  // Whether this kit configures the lidars it finds ("master_sdk"). A start without a
  // framework record (the host-address start) takes the record's default, master.
  virtual bool IsMasterSdk() const = 0;

 protected:
  ~DeviceLink() = default;  // never deleted through this interface
};

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_DEVICE_LINK_H_
