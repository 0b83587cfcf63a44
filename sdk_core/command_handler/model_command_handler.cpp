#include "model_command_handler.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "command_id.h"
#include "general_command_handler.h"
#include "handle_text.h"
#include "kit_log.h"
#include "sdk_protocol.h"
#include "state_push_json.h"

// Log lines cite the model's own source file, as each model's handler is its own class.
#define MODEL_LOG(level, ...) \
  ::kesto::lidar::log::Write(level, traits_.log_file, __func__, __LINE__, __VA_ARGS__)

namespace kesto::lidar {
namespace {

using spdlog::level::err;
using spdlog::level::info;

// The completion of a configuration request. Holds its handler weakly: the pending entry may
// outlive the handler (the table survives a stop of the kit, the handlers do not).
class UpdateLidarCompletion : public CommandCallback {
 public:
  explicit UpdateLidarCompletion(std::weak_ptr<ModelCommandHandler> handler)
      : handler_(std::move(handler)) {}

  void Execute(int32_t status, uint32_t handle, const uint8_t* response, size_t length) override {
    const std::shared_ptr<ModelCommandHandler> handler = handler_.lock();
    if (!handler) return;  // the kit was stopped since: this lidar belongs to a past run
    CompleteWithRecord<KestoLidarAsyncControlResponse>(
        status, handle, response, length,
        [&handler](int32_t final_status, uint32_t final_handle,
                   KestoLidarAsyncControlResponse* record) {
          ModelCommandHandler::UpdateLidarCallback(final_status, final_handle, record,
                                                   handler.get());
        });
  }

 private:
  std::weak_ptr<ModelCommandHandler> handler_;
};

}  // namespace

ModelCommandHandler::ModelCommandHandler(const ModelTraits& traits, DeviceLink* device_link,
                                         GeneralCommandHandler& general)
    : traits_(traits),
      device_link_(device_link),
      general_(general),
      codec_(std::make_unique<SdkProtocol>()) {}

bool ModelCommandHandler::SetCustomLidarCfgs(const std::map<uint32_t, KestoLidarCfg>& cfgs) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& [handle, cfg] : cfgs) {
    if (cfg.dev_type == traits_.dev_type) custom_cfgs_.emplace(handle, cfg);  // first one wins
  }
  return true;
}

bool ModelCommandHandler::SetHostIpMode(int mode) {
  std::lock_guard<std::mutex> lock(mutex_);
  host_ip_mode_ = mode;
  return true;
}

void ModelCommandHandler::Handle(uint32_t handle, uint16_t port, const CommandPacket& packet) {
  if (packet.cmd_type == kCommandTypeAck) {
    MODEL_LOG(info, "Receive Ack: Id {} Seq {}", packet.cmd_id, packet.seq);
    if (!packet.callback) return;
    if (packet.data != nullptr) {
      packet.callback->Execute(StatusSuccess, handle, packet.data, packet.data_len);
    } else {
      packet.callback->Execute(StatusTimeout, handle, nullptr, 0);
    }
    return;
  }
  if (packet.cmd_type != kCommandTypeCommand) return;
  MODEL_LOG(info, "Receive Command: Id {} Seq {}", packet.cmd_id, packet.seq);
  if (packet.cmd_id != kCmdIdStatePush || port != traits_.push_source_port) return;
  // A list that cannot be converted is still delivered, as an empty text.
  std::string text;
  KeyValueListToJson(packet.data, packet.data_len, text);
  general_.DeliverPushMessage(handle, text);
}

void ModelCommandHandler::UpdateLidarCfg(uint32_t handle, uint16_t lidar_cmd_port) {
  std::optional<KestoLidarCfg> cfg;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (configured_.count(handle) != 0) return;
    auto it = custom_cfgs_.find(handle);
    if (it != custom_cfgs_.end()) cfg = it->second;
  }
  if (cfg) SetCustomLidar(handle, lidar_cmd_port, *cfg);
}

void ModelCommandHandler::UpdateViewLidarCfg(const ViewLidarIpInfo& info) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (configured_.count(info.handle) != 0) return;
  }
  SetViewLidar(info);
}

int8_t ModelCommandHandler::SendCommand(const CommandPacket& packet) {
  return Send(packet, traits_.cmd_port, Channel::kCommand);
}

int8_t ModelCommandHandler::SendLoggerCommand(const CommandPacket& packet) {
  return Send(packet, traits_.log_port, Channel::kLog);
}

int8_t ModelCommandHandler::SendCommand(const CommandPacket& packet, uint16_t port) {
  return Send(packet, port, Channel::kCommand);
}

int8_t ModelCommandHandler::Send(const CommandPacket& packet, uint16_t port, Channel channel) {
  if (packet.cmd_type == kCommandTypeAck) return -1;
  // Registered before the datagram leaves, so an acknowledgement never arrives ahead of it.
  general_.AddPendingCommand(packet);
  std::vector<uint8_t> buffer(kMaxFrameLength + 1, 0);
  int length = 0;
  int sent = -1;  // an encoding failure (a payload beyond the frame) counts as a failed send
  if (codec_->EncodeFrame(buffer.data(), kMaxFrameLength, length, packet) == 0 &&
      device_link_ != nullptr) {
    const uint32_t dest = TextToHandle(packet.lidar_ip);
    const auto size = static_cast<size_t>(length);
    sent = channel == Channel::kCommand
               ? device_link_->SendCommand(traits_.dev_type, packet.handle, buffer.data(), size,
                                           dest, port)
               : device_link_->SendLogCommand(traits_.dev_type, packet.handle, buffer.data(), size,
                                              dest, port);
  }
  if (sent >= 0) return 0;
  MODEL_LOG(err, "Sent cmd to lidar failed, the send_byte:{}, cmd_id:{}, seq:{}, lidar_ip:{}", sent,
            packet.cmd_id, packet.seq, packet.lidar_ip);
  // Only the one who takes the entry out completes it: a sweep that already took it (this
  // thread was held past the deadline) has reported the time-out instead.
  if (std::optional<PendingCommand> taken =
          general_.TakePendingCommand(packet.seq, packet.handle)) {
    if (taken->packet.callback) {
      taken->packet.callback->Execute(StatusSendFailed, packet.handle, nullptr, 0);
    }
  }
  return -9;
}

void ModelCommandHandler::SetCustomLidar(uint32_t handle, uint16_t lidar_cmd_port,
                                         const KestoLidarCfg& cfg) {
  RequestBuffer request{};
  uint16_t length = 0;
  if (!traits_.build_request(cfg, request, length)) {
    MODEL_LOG(err, "Build update lidar cfg request failed.");
    return;
  }
  SendConfiguration(handle, request, length, lidar_cmd_port);
}

void ModelCommandHandler::SetViewLidar(const ViewLidarIpInfo& info) {
  RequestBuffer request{};
  uint16_t length = 0;
  if (!BuildUpdateViewLidarCfgRequest(info, request, length)) {
    MODEL_LOG(err, "Build update view lidar cfg request failed.");
    return;
  }
  SendConfiguration(info.handle, request, length, info.lidar_cmd_port);
}

void ModelCommandHandler::SendConfiguration(uint32_t handle, const RequestBuffer& request,
                                            uint16_t length, uint16_t port) {
  const CommandPacket packet =
      MakeCommandPacket(handle, kCmdIdSetParameters, request.data(), length,
                        std::make_shared<UpdateLidarCompletion>(weak_from_this()));
  SendCommand(packet, port);
}

void ModelCommandHandler::UpdateLidarCallback(kesto_status status, uint32_t handle,
                                              KestoLidarAsyncControlResponse* response,
                                              void* client_data) {
  auto* handler = static_cast<ModelCommandHandler*>(client_data);
  const char* file = handler != nullptr ? handler->traits_.log_file : "model_command_handler.cpp";
  if (status != StatusSuccess) {
    log::Write(info, file, __func__, __LINE__, "Update lidar failed, the status:{}", status);
    return;
  }
  if (response == nullptr) {
    log::Write(err, file, __func__, __LINE__,
               "Update lidar failed, the handle:{}, status:{}, response is nullptr.", handle,
               status);
    return;
  }
  const uint8_t ret_code = response->ret_code;
  const uint16_t error_key = response->error_key;
  if (ret_code == 0 && error_key == 0) {
    if (handler != nullptr) {
      std::lock_guard<std::mutex> lock(handler->mutex_);
      handler->configured_.insert(handle);
    }
    log::Write(info, file, __func__, __LINE__, "Update lidar:{} succ.", handle);
    if (handler != nullptr) handler->general_.KestoLidarInfoChange(handle);
    return;
  }
  if (handler != nullptr) handler->general_.KestoLidarInfoChange(handle);
  log::Write(err, file, __func__, __LINE__, "Update lidar failed, the ret_code:{}, error_key:{}",
             ret_code, error_key);
}

}  // namespace kesto::lidar
