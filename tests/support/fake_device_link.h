#ifndef KESTO_TESTS_FAKE_DEVICE_LINK_H_
#define KESTO_TESTS_FAKE_DEVICE_LINK_H_

#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "detection_data.h"
#include "device_link.h"
#include "protocol_command.h"

namespace kesto::test {

// One frame the command machinery sent.
struct SentFrame {
  enum class Channel { kCommand, kLog };
  Channel channel;
  uint8_t dev_type;
  uint32_t handle;
  std::vector<uint8_t> bytes;
  uint32_t dest_ip;  // network byte order, as handles
  uint16_t dest_port;

  // The decoded frame (which must be valid) and its payload.
  lidar::ProtocolCommand Command() const;
  std::vector<uint8_t> Payload() const;
};

// The device manager as the command machinery sees it: records every frame and every call, and
// can be told to fail sends. Safe from any thread; the hook runs on the sending thread with no
// lock held, after the frame is recorded (so it may answer at once, as a fast lidar would).
class FakeDeviceLink : public lidar::DeviceLink {
 public:
  struct Detection {
    uint32_t handle;
    lidar::DetectionData data;
    bool fw_type_known;
    bool fw_type_zero;
  };

  int SendCommand(uint8_t dev_type, uint32_t handle, const uint8_t* data, size_t length,
                  uint32_t dest_ip, uint16_t dest_port) override;
  int SendLogCommand(uint8_t dev_type, uint32_t handle, const uint8_t* data, size_t length,
                     uint32_t dest_ip, uint16_t dest_port) override;
  void HandleDetectionData(uint32_t handle, const lidar::DetectionData& data, bool fw_type_known,
                           bool fw_type_zero) override;
  void UpdateViewLidarCfgCallback(uint32_t handle) override;
  void AddLoggerDevice(uint32_t handle, const lidar::DetectionData& data) override;
  bool IsMasterSdk() const override;

  void SetMaster(bool master);
  // While set, every send is recorded and then answered with -1.
  void SetFailSends(bool fail);
  void SetOnSend(std::function<void(const SentFrame&)> hook);

  std::vector<SentFrame> Frames() const;
  size_t FrameCount() const;
  void ClearFrames();
  std::vector<Detection> Detections() const;
  std::vector<uint32_t> ViewCfgCallbacks() const;
  std::vector<uint32_t> LoggerDevices() const;

 private:
  int Record(SentFrame frame);

  mutable std::mutex mutex_;
  bool master_ = true;                             // guarded by mutex_
  bool fail_sends_ = false;                        // guarded by mutex_
  std::function<void(const SentFrame&)> on_send_;  // guarded by mutex_
  std::vector<SentFrame> frames_;                  // guarded by mutex_
  std::vector<Detection> detections_;              // guarded by mutex_
  std::vector<uint32_t> view_cfg_callbacks_;       // guarded by mutex_
  std::vector<uint32_t> logger_devices_;           // guarded by mutex_
};

}  // namespace kesto::test

#endif  // KESTO_TESTS_FAKE_DEVICE_LINK_H_
