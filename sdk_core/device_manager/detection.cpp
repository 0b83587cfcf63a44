// Discovery: the detection thread's broadcast once a second, and what the device manager does
// with the later discovery replies of a lidar the general command handler already knows.
#include <chrono>
#include <exception>

#include "device_manager.h"
#include "command_impl.h"
#include "general_command_handler.h"
#include "kit_log.h"
#include "sdk_protocol.h"
#include "sequence.h"
#include "socket_util.h"

namespace kesto::lidar {

namespace {

constexpr uint16_t kDetectionPort = 56000;
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
  const int detection = detection_socket_.exchange(-1);
  if (detection > 0) CloseSocket(detection);
}

// The wait is a condition-variable wait, so a stop ends it at once instead of after the period.
void DeviceManager::DetectionLoop() {
  if (is_stop_detection_.load()) return;
  while (true) {
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
  // The codec lives until Stop, which joins this thread first.
  if (!codec_ || codec_->EncodeFrame(buffer, sizeof(buffer), frame_length, command) != 0) return;

  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(kDetectionPort);
  to.sin_addr.s_addr = 0xFFFFFFFFu;  // 255.255.255.255
  if (platform::SocketSendTo(detection_socket_.load(), buffer, frame_length, to) < 0) {
    KESTO_LOG_INFO("Detection lidars failed, Send to lidar failed.");
  }
}

void DeviceManager::HandleDetectionData(uint32_t handle, const DetectionData& data,
                                        bool fw_type_known, bool fw_type_zero) {
  if (handle == 0) return;
  if (view_mode_.load()) {
    std::shared_ptr<PendingViewLidar> pending;
    {
      std::lock_guard<std::mutex> lock(pending_view_mutex_);
      std::shared_ptr<PendingViewLidar>& slot = pending_view_lidars_[handle];
      if (!slot) {
        slot = std::make_shared<PendingViewLidar>();
        slot->handle = handle;
        slot->dev_type = data.dev_type;
        slot->lidar_cmd_port = data.cmd_port;
      }
      pending = slot;
    }
    if (!fw_type_known) return;
    if (!pending->added.load()) {
      if (fw_type_zero) {
        general_.KestoLidarInfoChange(handle);
      } else {
        QueryKestoLidarInternalInfo(general_, handle, GetKestoLidarInternalInfoCallback, this);
      }
    } else if (fw_type_zero) {
      general_.KestoLidarInfoChange(handle);
    } else if (!pending->configured.load()) {
      std::shared_ptr<ViewLidarIpInfo> info = FindViewLidar(handle);
      if (info) {
        general_.UpdateViewLidarCfg(*info);
      } else {
        KESTO_LOG_ERROR("Update view lidar cfg failed, can not find lidar info, the handle:{}",
                        handle);
      }
    }
    return;
  }

  {
    std::lock_guard<std::mutex> lock(detected_type_mutex_);
    auto known = detected_types_.find(handle);
    if (known == detected_types_.end()) {
      detected_types_.emplace(handle, data.dev_type);
    } else if (known->second != data.dev_type) {
      KESTO_LOG_ERROR("The lidar of handle:{} dev_type is error, the dev_type1:{}, the dev_type2:{}",
                      handle, known->second, data.dev_type);
      return;
    }
  }
  if (fw_type_known && fw_type_zero) general_.KestoLidarInfoChange(handle);
}

}  // namespace kesto::lidar
