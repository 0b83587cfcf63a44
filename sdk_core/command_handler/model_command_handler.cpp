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

// The completion of a configuration request: reads the acknowledgement into its record and
// hands the outcome, as the model handler words it in the log, to whoever asked. The model
// handlers live as long as the pending table that holds this completion (both are the general
// command handler's), so the plain reference stays valid.
class ConfigurationCompletion : public CommandCallback {
 public:
  ConfigurationCompletion(const ModelCommandHandler& handler, ConfigDone done)
      : handler_(handler), done_(std::move(done)) {}

  void Execute(int32_t status, uint32_t handle, const uint8_t* response, size_t length) override {
    ConfigOutcome outcome = ConfigOutcome::kUnanswered;
    CompleteWithRecord<KestoLidarAsyncControlResponse>(
        status, handle, response, length,
        [this, &outcome](int32_t final_status, uint32_t final_handle,
                         KestoLidarAsyncControlResponse* record) {
          outcome = handler_.ConfigurationResult(final_status, final_handle, record);
        });
    if (done_) done_(outcome);
  }

 private:
  const ModelCommandHandler& handler_;
  ConfigDone done_;
};

}  // namespace

ModelCommandHandler::ModelCommandHandler(const ModelTraits& traits, GeneralCommandHandler& general)
    : traits_(traits), general_(general), codec_(std::make_unique<SdkProtocol>()) {}

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
  general_.DeliverPushMessage(handle, traits_.dev_type, text);
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
  DeviceLink* link = general_.link();
  if (codec_->EncodeFrame(buffer.data(), kMaxFrameLength, length, packet) == 0 &&
      link != nullptr) {
    const uint32_t dest = TextToHandle(packet.lidar_ip);
    const auto size = static_cast<size_t>(length);
    sent = channel == Channel::kCommand
               ? link->SendCommand(traits_.dev_type, packet.handle, buffer.data(), size, dest, port)
               : link->SendLogCommand(traits_.dev_type, packet.handle, buffer.data(), size, dest,
                                      port);
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

bool ModelCommandHandler::SendConfiguration(uint32_t handle, const KestoLidarCfg& cfg,
                                            uint16_t lidar_cmd_port, ConfigDone done) {
  RequestBuffer request{};
  uint16_t length = 0;
  if (!traits_.build_request(cfg, request, length)) {
    MODEL_LOG(err, "Build update lidar cfg request failed.");
    return false;
  }
  SendConfigurationRequest(handle, request, length, lidar_cmd_port, std::move(done));
  return true;
}

bool ModelCommandHandler::SendViewConfiguration(const ViewLidarIpInfo& info, ConfigDone done) {
  RequestBuffer request{};
  uint16_t length = 0;
  if (!BuildUpdateViewLidarCfgRequest(info, request, length)) {
    MODEL_LOG(err, "Build update view lidar cfg request failed.");
    return false;
  }
  SendConfigurationRequest(info.handle, request, length, info.lidar_cmd_port, std::move(done));
  return true;
}

void ModelCommandHandler::SendConfigurationRequest(uint32_t handle, const RequestBuffer& request,
                                                   uint16_t length, uint16_t port,
                                                   ConfigDone done) {
  const CommandPacket packet =
      MakeCommandPacket(handle, kCmdIdSetParameters, request.data(), length,
                        std::make_shared<ConfigurationCompletion>(*this, std::move(done)));
  SendCommand(packet, port);
}

ConfigOutcome ModelCommandHandler::ConfigurationResult(
    kesto_status status, uint32_t handle, const KestoLidarAsyncControlResponse* response) const {
  if (status != StatusSuccess) {
    MODEL_LOG(info, "Update lidar failed, the status:{}", status);
    return ConfigOutcome::kUnanswered;
  }
  if (response == nullptr) {
    MODEL_LOG(err, "Update lidar failed, the handle:{}, status:{}, response is nullptr.", handle,
              status);
    return ConfigOutcome::kUnanswered;
  }
  // Copied out of the packed record: the log takes its arguments by reference.
  const uint8_t ret_code = response->ret_code;
  const uint16_t error_key = response->error_key;
  if (ret_code == 0 && error_key == 0) {
    MODEL_LOG(info, "Update lidar:{} succ.", handle);
    return ConfigOutcome::kAccepted;
  }
  MODEL_LOG(err, "Update lidar failed, the ret_code:{}, error_key:{}", ret_code, error_key);
  return ConfigOutcome::kRefused;
}

}  // namespace kesto::lidar
