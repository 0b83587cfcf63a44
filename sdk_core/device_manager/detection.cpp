// Discovery: the detection thread's broadcast once a second.
#include <chrono>
#include <exception>

#include "device_manager.h"
#include "lidar_setup.h"
#include "model_table.h"
#include "kit_log.h"
#include "sdk_protocol.h"
#include "sequence.h"
#include "socket_util.h"

namespace kesto::lidar {

namespace {

constexpr uint16_t kDetectionCommandId = 0x0000;
constexpr auto kDetectionPeriod = std::chrono::seconds(1);

}  // namespace

bool DeviceManager::StartDetection() {
  is_stop_detection_ = false;
  try {
    detection_thread_ = std::make_shared<std::thread>([this] {
      // Nothing leaves the thread: an escaped exception would end the process.
      try {
        DetectionLoop();
      } catch (const std::exception& error) {
        KESTO_LOG_ERROR("Detection thread ended by an exception: {}", error.what());
      } catch (...) {
        KESTO_LOG_ERROR("Detection thread ended by an unknown exception.");
      }
    });
  } catch (const std::exception& error) {
    is_stop_detection_ = true;
    KESTO_LOG_ERROR("Start detection thread failed: {}", error.what());
    return false;
  }
  return true;
}

void DeviceManager::StopDetection() {
  if (detection_thread_) {
    {
      std::lock_guard<std::mutex> lock(detection_wait_mutex_);
      is_stop_detection_ = true;
    }
    detection_wait_.notify_all();
    if (detection_thread_->joinable()) detection_thread_->join();
    detection_thread_.reset();
  }
}

// The wait is a condition-variable wait, so a stop ends it at once instead of after the period.
void DeviceManager::DetectionLoop() {
  if (is_stop_detection_.load()) return;
  while (true) {
    // Before each request: a lidar that left the previous ones unanswered may be lost by now.
    setup_.OnDiscoveryPeriod();
    Detection();
    std::unique_lock<std::mutex> lock(detection_wait_mutex_);
    detection_wait_.wait_for(lock, kDetectionPeriod, [this] { return is_stop_detection_.load(); });
    if (is_stop_detection_.load()) break;
  }
}

void DeviceManager::Detection() {
  ProtocolCommand command;
  command.protocol = kProtocolCommandFrame;
  command.version = kSenderProtocolVersion;
  command.seq = NextSequence();
  command.cmd_id = kDetectionCommandId;
  command.cmd_type = kCommandTypeCommand;
  command.sender_type = kSenderTypeHost;
  uint8_t buffer[kMaxFrameLength] = {};
  int frame_length = 0;
  if (codec_->EncodeFrame(buffer, sizeof(buffer), frame_length, command) != 0) return;

  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(kDiscoveryPort);
  to.sin_addr.s_addr = 0xFFFFFFFFu;  // 255.255.255.255
  const int socket = detection_socket_.load();
  if (platform::SocketSendTo(socket, buffer, frame_length, to) < 0) {
    KESTO_LOG_INFO("Detection lidars failed, Send to lidar failed.");
  } else if (Recording()) {
    RecordDatagram(socket, false, to.sin_addr.s_addr, kDiscoveryPort, buffer,
                   static_cast<size_t>(frame_length));
  }
}

}  // namespace kesto::lidar
