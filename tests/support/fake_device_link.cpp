#include "fake_device_link.h"

#include <cstdlib>
#include <utility>

#include "sdk_protocol.h"

namespace kesto::test {

lidar::ProtocolCommand SentFrame::Command() const {
  static const lidar::SdkProtocol codec;
  lidar::ProtocolCommand command;
  if (!codec.VerifyFrame(bytes.data(), static_cast<uint32_t>(bytes.size())) ||
      !codec.DecodeFrame(bytes.data(), static_cast<uint32_t>(bytes.size()), command)) {
    std::abort();  // the kit sent a frame its own codec rejects
  }
  return command;
}

std::vector<uint8_t> SentFrame::Payload() const {
  const lidar::ProtocolCommand command = Command();
  return std::vector<uint8_t>(command.data, command.data + command.data_len);
}

int FakeDeviceLink::SendCommand(uint8_t dev_type, uint32_t handle, const uint8_t* data,
                                size_t length, uint32_t dest_ip, uint16_t dest_port) {
  return Record({SentFrame::Channel::kCommand, dev_type, handle,
                 std::vector<uint8_t>(data, data + length), dest_ip, dest_port});
}

int FakeDeviceLink::SendLogCommand(uint8_t dev_type, uint32_t handle, const uint8_t* data,
                                   size_t length, uint32_t dest_ip, uint16_t dest_port) {
  return Record({SentFrame::Channel::kLog, dev_type, handle,
                 std::vector<uint8_t>(data, data + length), dest_ip, dest_port});
}

int FakeDeviceLink::Record(SentFrame frame) {
  std::function<void(const SentFrame&)> hook;
  bool fail = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    frames_.push_back(frame);
    hook = on_send_;
    fail = fail_sends_;
  }
  if (hook) hook(frame);
  return fail ? -1 : static_cast<int>(frame.bytes.size());
}

void FakeDeviceLink::SetFailSends(bool fail) {
  std::lock_guard<std::mutex> lock(mutex_);
  fail_sends_ = fail;
}

void FakeDeviceLink::SetOnSend(std::function<void(const SentFrame&)> hook) {
  std::lock_guard<std::mutex> lock(mutex_);
  on_send_ = std::move(hook);
}

std::vector<SentFrame> FakeDeviceLink::Frames() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return frames_;
}

size_t FakeDeviceLink::FrameCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return frames_.size();
}

void FakeDeviceLink::ClearFrames() {
  std::lock_guard<std::mutex> lock(mutex_);
  frames_.clear();
}

}  // namespace kesto::test
