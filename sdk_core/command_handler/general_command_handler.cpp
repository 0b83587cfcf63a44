#include "general_command_handler.h"

#include <algorithm>
#include <utility>

#include "command_id.h"
#include "handle_text.h"
#include "internal_info_keys.h"
#include "kit_log.h"
#include "orbit_command_handler.h"
#include "vela_command_handler.h"

namespace kesto::lidar {

GeneralCommandHandler::GeneralCommandHandler(const LidarModels* models, Clock clock)
    : models_(models), clock_(std::move(clock)) {
  handlers_[kKestoLidarDevTypeVela] = std::make_shared<VelaCommandHandler>(*this);
  handlers_[kKestoLidarDevTypeOrbit] = std::make_shared<OrbitCommandHandler>(*this);
}

GeneralCommandHandler::~GeneralCommandHandler() { CompleteAllPending(); }

void GeneralCommandHandler::CompleteAllPending() {
  for (PendingCommand& left : pending_.TakeAll()) {
    if (left.packet.callback) {
      left.packet.callback->Execute(StatusTimeout, left.packet.handle, nullptr, 0);
    }
  }
}

std::shared_ptr<CommandHandler> GeneralCommandHandler::HandlerOf(uint8_t dev_type) const {
  auto it = handlers_.find(dev_type);
  return it == handlers_.end() ? nullptr : it->second;
}

std::shared_ptr<CommandHandler> GeneralCommandHandler::GetCommandHandler(uint8_t dev_type) const {
  return HandlerOf(dev_type);
}

std::shared_ptr<CommandHandler> GeneralCommandHandler::GetLidarCommandHandler(
    uint32_t handle) const {
  uint8_t dev_type = 0;
  if (models_ == nullptr || !models_->ModelOf(handle, dev_type)) {
    KESTO_LOG_ERROR("Get command handler failed, get dev type failed, the handle:{}", handle);
    return nullptr;
  }
  return HandlerOf(dev_type);
}

bool GeneralCommandHandler::GetInternalInfoKeys(uint32_t handle, std::set<uint16_t>& keys) const {
  uint8_t dev_type = 0;
  return models_ != nullptr && models_->ModelOf(handle, dev_type) &&
         InternalInfoKeysOf(dev_type, keys);
}

void GeneralCommandHandler::HandleUpgradeDatagram(uint8_t dev_type, uint32_t handle,
                                                  uint16_t port, const uint8_t* buf,
                                                  uint32_t size) {
  if (buf == nullptr || size == 0) return;
  std::shared_ptr<CommandHandler> handler = HandlerOf(dev_type);
  if (!handler) {
    KESTO_LOG_ERROR("GeneralCommandHandler::Handler get cmd handler failed");
    return;
  }
  CommandPacket packet;
  packet.data = buf;
  packet.data_len = static_cast<uint16_t>(std::min<uint32_t>(size, 0xFFFF));
  handler->Handle(handle, port, packet);
}

void GeneralCommandHandler::Handle(uint8_t dev_type, uint32_t handle, uint16_t port,
                                   const ProtocolCommand& command) {
  std::shared_ptr<CommandHandler> handler = HandlerOf(dev_type);
  if (!handler) return;
  CommandPacket packet;
  static_cast<ProtocolCommand&>(packet) = command;
  if (command.cmd_type == kCommandTypeAck) {
    // Matched by sequence number and lidar; whoever takes the entry completes it.
    if (std::optional<PendingCommand> taken = pending_.Take(command.seq, handle)) {
      packet.handle = taken->packet.handle;
      packet.lidar_ip = std::move(taken->packet.lidar_ip);
      packet.timeout = taken->packet.timeout;
      packet.callback = std::move(taken->packet.callback);
    }
  } else {
    packet.handle = handle;
  }
  handler->Handle(handle, port, packet);
}

void GeneralCommandHandler::DeliverPushMessage(uint32_t handle, uint8_t dev_type,
                                               const std::string& text) {
  push_message_.Call(handle, dev_type, text.c_str());
}

int32_t GeneralCommandHandler::SendCommand(uint32_t handle, uint16_t command_id,
                                           const uint8_t* data, uint16_t length,
                                           std::shared_ptr<CommandCallback> callback) {
  return Send(GetLidarCommandHandler(handle), handle, command_id, data, length,
              std::move(callback), false);
}

int32_t GeneralCommandHandler::SendCommand(uint8_t dev_type, uint32_t handle,
                                           uint16_t command_id, const uint8_t* data,
                                           uint16_t length,
                                           std::shared_ptr<CommandCallback> callback) {
  return Send(HandlerOf(dev_type), handle, command_id, data, length, std::move(callback), false);
}

int32_t GeneralCommandHandler::SendLoggerCommand(uint32_t handle, uint16_t command_id,
                                                 const uint8_t* data, uint16_t length,
                                                 std::shared_ptr<CommandCallback> callback) {
  return Send(GetLidarCommandHandler(handle), handle, command_id, data, length,
              std::move(callback), true);
}

int32_t GeneralCommandHandler::SendLoggerCommand(uint32_t handle, uint16_t command_id,
                                                 const uint8_t* data, uint16_t length,
                                                 KestoLidarLoggerCallback done, void* client_data) {
  std::shared_ptr<CommandCallback> callback;
  if (done != nullptr) {
    callback =
        std::make_shared<FunctionStatusCallback<KestoLidarLoggerResponse>>(done, client_data);
  }
  return SendLoggerCommand(handle, command_id, data, length, std::move(callback));
}

int32_t GeneralCommandHandler::Send(std::shared_ptr<CommandHandler> handler, uint32_t handle,
                                    uint16_t command_id, const uint8_t* data, uint16_t length,
                                    std::shared_ptr<CommandCallback> callback, bool log_channel) {
  if (!handler) {
    KESTO_LOG_ERROR("Send command failed, get cmd handler failed, the handle:{}, command_id:{}.",
                    handle, command_id);
    return StatusSendFailed;
  }
  const CommandPacket packet =
      MakeCommandPacket(handle, command_id, data, length, std::move(callback));
  // A failed send reaches the caller through the callback, so the result is not looked at.
  if (log_channel) {
    handler->SendLoggerCommand(packet);
  } else {
    handler->SendCommand(packet);
  }
  return StatusSuccess;
}

void GeneralCommandHandler::AddPendingCommand(const CommandPacket& packet) {
  if (packet.cmd_type == kCommandTypeAck) return;
  const TimePoint deadline = clock_() + std::chrono::milliseconds(packet.timeout);
  std::optional<PendingCommand> displaced = pending_.Add(packet, deadline);
  if (displaced && displaced->packet.callback) {
    displaced->packet.callback->Execute(StatusTimeout, displaced->packet.handle, nullptr, 0);
  }
}

std::optional<PendingCommand> GeneralCommandHandler::TakePendingCommand(uint32_t seq,
                                                                        uint32_t handle) {
  return pending_.Take(seq, handle);
}

void GeneralCommandHandler::CheckCommandTimeout(TimePoint now) {
  for (PendingCommand& expired : pending_.TakeExpired(now)) {
    if (expired.packet.callback) {
      expired.packet.callback->Execute(StatusTimeout, expired.packet.handle, nullptr, 0);
    }
  }
}

void GeneralCommandHandler::SetPushMessageObserver(KestoLidarPushMessageObserver observer,
                                                   void* client_data) {
  push_message_.Set(observer, client_data);
}

}  // namespace kesto::lidar
