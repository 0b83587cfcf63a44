#ifndef KESTO_TESTS_FAKE_DEVICE_LINK_H_
#define KESTO_TESTS_FAKE_DEVICE_LINK_H_

#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

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

// The device manager as the command machinery sees it: records every frame, and can be told to
// fail sends. Safe from any thread; the hook runs on the sending thread with no
// lock held, after the frame is recorded (so it may answer at once, as a fast lidar would).
class FakeDeviceLink : public lidar::DeviceLink {
 public:
  int SendCommand(uint8_t dev_type, uint32_t handle, const uint8_t* data, size_t length,
                  uint32_t dest_ip, uint16_t dest_port) override;
  int SendLogCommand(uint8_t dev_type, uint32_t handle, const uint8_t* data, size_t length,
                     uint32_t dest_ip, uint16_t dest_port) override;
  // While set, every send is recorded and then answered with -1.
  void SetFailSends(bool fail);
  void SetOnSend(std::function<void(const SentFrame&)> hook);

  std::vector<SentFrame> Frames() const;
  size_t FrameCount() const;
  void ClearFrames();

 private:
  int Record(SentFrame frame);

  mutable std::mutex mutex_;
  bool fail_sends_ = false;                        // guarded by mutex_
  std::function<void(const SentFrame&)> on_send_;  // guarded by mutex_
  std::vector<SentFrame> frames_;                  // guarded by mutex_
};

}  // namespace kesto::test

#endif  // KESTO_TESTS_FAKE_DEVICE_LINK_H_
