#include "general_command_handler.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "build_request.h"
#include "command_id.h"
#include "handle_text.h"
#include "internal_info_keys.h"
#include "key_table.h"
#include "kit_log.h"
#include "little_endian.h"
#include "orbit_command_handler.h"
#include "parse_frame.h"
#include "sdk_protocol.h"
#include "vela_command_handler.h"
#include "wire_text.h"

namespace kesto::lidar {
namespace {

constexpr uint16_t kDiscoveryPort = 56000;
constexpr uint16_t kUnnamedTypeDataPort = 10001;

// Copies at most N - 1 characters of `text` and a terminating zero into `field`.
template <size_t N>
void CopyText(const std::string& text, char (&field)[N]) {
  const size_t n = std::min(text.size(), N - 1);
  std::memcpy(field, text.data(), n);
  field[n] = '\0';
}

std::shared_ptr<ModelCommandHandler> MakeModelHandler(uint8_t dev_type, DeviceLink* link,
                                                      GeneralCommandHandler& general) {
  if (dev_type == kKestoLidarDevTypeVela) {
    return std::make_shared<VelaCommandHandler>(link, general);
  }
  if (dev_type == kKestoLidarDevTypeOrbit) {
    return std::make_shared<OrbitCommandHandler>(link, general);
  }
  return nullptr;
}

}  // namespace

GeneralCommandHandler& GeneralCommandHandler::GetInstance() {
  static GeneralCommandHandler instance;
  return instance;
}

GeneralCommandHandler::GeneralCommandHandler(Clock clock)
    : clock_(std::move(clock)), codec_(std::make_unique<SdkProtocol>()) {}

GeneralCommandHandler::~GeneralCommandHandler() = default;

bool GeneralCommandHandler::Init(std::shared_ptr<LidarCfgList> custom_lidars_cfg,
                                 DeviceLink* device_manager) {
  if (!attached_.exchange(true)) {
    view_mode_ = 0;
    device_link_ = device_manager;
  }
  DeviceLink* link = device_link_.load();
  {
    std::lock_guard<std::mutex> lock(handler_mutex_);
    if (handlers_.count(kKestoLidarDevTypeVela) == 0) {
      handlers_[kKestoLidarDevTypeVela] = MakeModelHandler(kKestoLidarDevTypeVela, link, *this);
    }
    if (handlers_.count(kKestoLidarDevTypeOrbit) == 0) {
      handlers_[kKestoLidarDevTypeOrbit] = MakeModelHandler(kKestoLidarDevTypeOrbit, link, *this);
    }
  }
  if (custom_lidars_cfg) {
    std::lock_guard<std::mutex> lock(cfg_mutex_);
    for (const KestoLidarCfg& cfg : *custom_lidars_cfg) {
      custom_cfgs_.emplace(TextToHandle(cfg.lidar_ip), cfg);  // the first one of an address wins
    }
  }
  return true;
}

bool GeneralCommandHandler::InitHostIpMode(const std::string& host_ip, uint8_t view_mode,
                                           DeviceLink* device_manager) {
  view_mode_ = view_mode;
  host_ip_ = host_ip;
  device_link_ = device_manager;
  attached_ = true;
  return true;
}

void GeneralCommandHandler::Destroy() {
  device_link_ = nullptr;
  attached_ = false;
  {
    std::lock_guard<std::mutex> lock(type_mutex_);
    types_.clear();
  }
  {
    std::lock_guard<std::mutex> lock(lidar_mutex_);
    lidars_.clear();
  }
  std::map<uint8_t, std::shared_ptr<CommandHandler>> released;
  {
    std::lock_guard<std::mutex> lock(handler_mutex_);
    released.swap(handlers_);
  }
  released.clear();  // outside the lock: a handler's last owner may be elsewhere
  info_change_.Clear();
  host_ip_.clear();
  view_mode_ = 0;
}

void GeneralCommandHandler::ResetForTests() {
  Destroy();
  {
    std::lock_guard<std::mutex> lock(cfg_mutex_);
    custom_cfgs_.clear();
  }
  pending_.Clear();
  push_message_.Clear();
  fw_query_retries_ = 0;
}

bool GeneralCommandHandler::IsMaster() const {
  DeviceLink* link = device_link_.load();
  return link != nullptr && link->IsMasterSdk();
}

void GeneralCommandHandler::CreateCommandHandler(uint8_t dev_type) {
  if (IsViewMode()) {
    std::lock_guard<std::mutex> lock(handler_mutex_);
    if (handlers_.count(dev_type) != 0) return;
    std::shared_ptr<ModelCommandHandler> handler =
        MakeModelHandler(dev_type, device_link_.load(), *this);
    if (!handler) return;
    handlers_[dev_type] = handler;
    if (!handler->SetHostIpMode(view_mode_.load())) {
      KESTO_LOG_ERROR(
          "General command handler init failed, the lidar of type:{} command init failed.",
          dev_type);
    }
    return;
  }
  std::map<uint32_t, KestoLidarCfg> cfgs;
  {
    std::lock_guard<std::mutex> lock(cfg_mutex_);
    cfgs = custom_cfgs_;
  }
  std::lock_guard<std::mutex> lock(handler_mutex_);
  auto it = handlers_.find(dev_type);
  if (it != handlers_.end() && !it->second->SetCustomLidarCfgs(cfgs)) {
    KESTO_LOG_ERROR(
        "General command handler init failed, the lidar of type:{} command init failed.", dev_type);
  }
}

std::shared_ptr<CommandHandler> GeneralCommandHandler::GetCommandHandler(uint8_t dev_type) {
  std::lock_guard<std::mutex> lock(handler_mutex_);
  auto it = handlers_.find(dev_type);
  return it == handlers_.end() ? nullptr : it->second;
}

std::shared_ptr<CommandHandler> GeneralCommandHandler::GetLidarCommandHandler(uint32_t handle) {
  std::lock_guard<std::mutex> lock(type_mutex_);
  auto it = types_.find(handle);
  if (it == types_.end()) {
    KESTO_LOG_ERROR("Get command handler failed, get dev type failed, the handle:{}", handle);
    return nullptr;
  }
  return GetCommandHandler(it->second);  // handler mutex inside the type mutex: the one nesting
}

bool GeneralCommandHandler::GetInternalInfoKeys(uint32_t handle, std::set<uint16_t>& keys) {
  std::lock_guard<std::mutex> lock(type_mutex_);
  auto it = types_.find(handle);
  return it != types_.end() && InternalInfoKeysOf(it->second, keys);
}

void GeneralCommandHandler::Handler(uint8_t dev_type, uint32_t handle, uint16_t port,
                                    const uint8_t* buf, uint32_t size) {
  if (buf == nullptr || size == 0) return;
  if (dev_type == kKestoLidarDevTypeUnnamed && port == kUnnamedTypeDataPort) {
    std::shared_ptr<CommandHandler> handler = GetCommandHandler(dev_type);
    if (!handler) {
      KESTO_LOG_ERROR("GeneralCommandHandler::Handler get cmd handler failed");
      return;
    }
    CommandPacket packet;
    packet.data = buf;
    packet.data_len = static_cast<uint16_t>(std::min<uint32_t>(size, 0xFFFF));
    handler->Handle(handle, port, packet);
    return;
  }
  ProtocolCommand command;
  if (!ParseOrDetect(handle, port, buf, size, false, command)) return;
  std::shared_ptr<CommandHandler> handler = GetCommandHandler(dev_type);
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

void GeneralCommandHandler::Handler(uint32_t handle, uint16_t port, const uint8_t* buf,
                                    uint32_t size) {
  if (buf == nullptr || size == 0) return;
  ProtocolCommand command;
  if (!ParseOrDetect(handle, port, buf, size, true, command)) return;
  if (command.cmd_type == kCommandTypeAck) {
    HandleAck(handle, command);
    return;
  }
  if (command.cmd_id == kCmdIdStatePush) {
    std::shared_ptr<CommandHandler> handler = GetLidarCommandHandler(handle);
    if (!handler) {
      KESTO_LOG_ERROR("Handler general command failed, get push msg command handler faield.");
      return;
    }
    CommandPacket packet;
    static_cast<ProtocolCommand&>(packet) = command;
    packet.handle = handle;
    handler->Handle(handle, port, packet);
  }
}

bool GeneralCommandHandler::ParseOrDetect(uint32_t handle, uint16_t port, const uint8_t* buf,
                                          uint32_t size, bool without_type,
                                          ProtocolCommand& command) {
  if (!ParseFrame(*codec_, buf, size, command)) {
    if (without_type) {
      KESTO_LOG_INFO("Parse GeneralCommandHandler Command Stream failed.");
    } else {
      KESTO_LOG_INFO("Parse Command Stream failed.");
    }
    return false;
  }
  if (port == kDiscoveryPort && command.cmd_id == kCmdIdDiscovery) {
    // A discovery request (ours, echoed) is dropped; a reply is handled here.
    if (command.cmd_type != kCommandTypeCommand) HandleDetectionData(handle, port, command);
    return false;
  }
  return true;
}

void GeneralCommandHandler::HandleAck(uint32_t handle, const ProtocolCommand& command) {
  std::optional<PendingCommand> taken = pending_.Take(command.seq, handle);
  if (!taken) {
    KESTO_LOG_ERROR("Handle cmd ack failed, can not find command");
    return;
  }
  if (taken->packet.callback) {
    taken->packet.callback->Execute(StatusSuccess, handle, command.data, command.data_len);
  }
}

void GeneralCommandHandler::HandleDetectionData(uint32_t handle, uint16_t port,
                                                const ProtocolCommand& command) {
  if (command.data == nullptr || command.data_len == 0) return;
  DetectionData data;
  if (!DecodeDetectionData(command.data, command.data_len, data)) {
    KESTO_LOG_ERROR("Detection data is too short, the handle:{}, the len:{}", handle,
                    command.data_len);
    return;
  }
  if (data.ret_code != 0) {
    KESTO_LOG_ERROR("Detection lidar faield, the handle:{}, lidar_port:{}, ret_code:{}", handle,
                    port, data.ret_code);
    return;
  }
  KESTO_LOG_INFO("Handle detection data, handle:{}, dev_type:{}, sn:{}, cmd_port:{}", handle,
                 data.dev_type, PrintableWireText(data.sn), data.cmd_port);
  DeviceLink* link = device_link_.load();
  if (link != nullptr) link->AddLoggerDevice(handle, data);
  if (!VerifyNetSegment(data)) return;
  CreateCommandHandler(data.dev_type);
  const std::string lidar_ip = HandleToText(BytesToHandle(data.lidar_ip));

  std::shared_ptr<LidarEntry> entry;
  bool created = false;
  {
    std::lock_guard<std::mutex> lock(lidar_mutex_);
    std::shared_ptr<LidarEntry>& slot = lidars_[handle];
    if (!slot) {
      slot = std::make_shared<LidarEntry>();
      slot->sn = data.sn;
      slot->lidar_ip = lidar_ip;
      slot->dev_type = data.dev_type;
      created = true;
    }
    entry = slot;
  }

  if (created) {
    {
      std::lock_guard<std::mutex> lock(type_mutex_);
      auto it = types_.find(handle);
      if (it == types_.end()) {
        types_.emplace(handle, data.dev_type);
      } else if (it->second != data.dev_type) {
        KESTO_LOG_ERROR(
            "Lidar dev type conflic, the lidar ip:{}, the dev_type1:{}, the dev_type2:{}", lidar_ip,
            it->second, data.dev_type);
      }
    }
    if (IsMaster() && !entry->fw_type_known.load()) QueryFwType(handle);
    return;
  }

  if (!entry->cfg_done.load() && entry->fw_type_known.load() && !entry->fw_type_zero.load() &&
      !IsViewMode()) {
    std::shared_ptr<CommandHandler> handler = GetCommandHandler(data.dev_type);
    if (handler && IsMaster()) handler->UpdateLidarCfg(handle, data.cmd_port);
  }
  if (entry->sn != data.sn) {
    KESTO_LOG_ERROR("Lidar ip conflic, the lidar ip:{}, the sn1:{}, the sn2:{}", lidar_ip,
                    PrintableWireText(entry->sn), PrintableWireText(data.sn));
  }
  if (link != nullptr) {
    link->HandleDetectionData(handle, data, entry->fw_type_known.load(),
                              entry->fw_type_zero.load());
  }
}

bool GeneralCommandHandler::VerifyNetSegment(const DetectionData& data) {
  if (!IsViewMode()) return true;
  if (host_ip_.empty()) {
    KESTO_LOG_ERROR("Verify net segment faield, the host ip is empty.");
    return false;
  }
  uint8_t host[4];
  if (!IpToU8(host_ip_, host)) return false;
  if (std::memcmp(host, data.lidar_ip, 3) == 0) {
    KESTO_LOG_INFO("Host ip:{}, lidar ip:{}.{}.{}.{}", host_ip_, data.lidar_ip[0], data.lidar_ip[1],
                   data.lidar_ip[2], data.lidar_ip[3]);
    return true;
  }
  KESTO_LOG_ERROR(
      "The host address and lidar address are on different network segments, the host_ip:{}, "
      "lidar_ip:{}",
      host_ip_, HandleToText(BytesToHandle(data.lidar_ip)));
  return false;
}

void GeneralCommandHandler::QueryFwType(uint32_t handle) {
  // A key list holding the single key FW_TYPE.
  static constexpr uint8_t kQuery[] = {0x01, 0x00, 0x00, 0x00, 0x10, 0x80};
  SendCommand(handle, kCmdIdQueryParameters, kQuery, sizeof kQuery,
              std::make_shared<FunctionStatusCallback<KestoLidarDiagInternalInfoResponse>>(
                  QueryFwTypeCallback, this));
}

void GeneralCommandHandler::QueryFwTypeCallback(kesto_status status, uint32_t handle,
                                                KestoLidarDiagInternalInfoResponse* response,
                                                void* client_data) {
  auto* self = static_cast<GeneralCommandHandler*>(client_data);
  if (self == nullptr) {
    KESTO_LOG_ERROR("Query kesto lidar Fw type failed, client data is nullptr.");
    return;
  }
  if (self->fw_query_retries_.load() > 10) {
    KESTO_LOG_ERROR("Query kesto lidar failed, the retry time more than 10.");
    self->SetFwType(handle, 1);  // as if the firmware type were not 0
    self->fw_query_retries_ = 0;
    return;
  }
  if (status != StatusSuccess) {
    KESTO_LOG_ERROR("Query kesto lidar Fw type failed, the status:{}", status);
  } else if (response == nullptr) {
    KESTO_LOG_ERROR("Query kesto lidar Fw type failed, the response is nullptr.");
  } else if (response->ret_code != 0) {
    KESTO_LOG_ERROR("Query kesto lidar Fw type failed, the ret_code:{}", response->ret_code);
  } else if (response->param_num == 0) {
    // The record's param_num counts only entries that arrived whole.
    KESTO_LOG_ERROR("Query Fw type failed, the response holds no whole entry.");
  } else {
    const uint8_t* entry = response->data;
    const uint16_t key = LoadU16(entry);
    const uint16_t length = LoadU16(entry + 2);
    if (key != kKeyFwType) {
      KESTO_LOG_ERROR("Query Fw type filed, the key had fault, the key:{}", key);
    } else if (length != 1) {
      KESTO_LOG_ERROR("Query Fw type failed, the val lenth is error, the len:{}", length);
    } else {
      const uint8_t fw_type = entry[4];
      KESTO_LOG_INFO("Query Fw type succ, the fw_type:{}", fw_type);
      self->fw_query_retries_ = 0;
      self->SetFwType(handle, fw_type);
      return;
    }
  }
  self->fw_query_retries_.fetch_add(1);
  self->QueryFwType(handle);
}

void GeneralCommandHandler::SetFwType(uint32_t handle, uint8_t value) {
  std::shared_ptr<LidarEntry> entry = FindLidar(handle);
  if (!entry) return;
  // Zero first: whoever sees the type known sees its value too.
  entry->fw_type_zero = value == 0;
  entry->fw_type_known = true;
}

std::shared_ptr<GeneralCommandHandler::LidarEntry> GeneralCommandHandler::FindLidar(
    uint32_t handle) {
  std::lock_guard<std::mutex> lock(lidar_mutex_);
  auto it = lidars_.find(handle);
  return it == lidars_.end() ? nullptr : it->second;
}

void GeneralCommandHandler::KestoLidarInfoChange(uint32_t handle) {
  std::shared_ptr<LidarEntry> entry = FindLidar(handle);
  if (!entry) {
    KESTO_LOG_ERROR("Lidar info change failed, can not found device, the handle:{}", handle);
    return;
  }
  entry->cfg_done = true;
  const bool fw_type_zero = entry->fw_type_zero.load();
  const bool reported = entry->info_reported.exchange(true);
  KestoLidarIdentity identity{};
  identity.dev_type = entry->dev_type;
  CopyText(entry->sn, identity.sn);
  CopyText(entry->lidar_ip, identity.lidar_ip);
  if (IsViewMode() && !fw_type_zero) {
    if (DeviceLink* link = device_link_.load()) link->UpdateViewLidarCfgCallback(handle);
  }
  if (!reported) info_change_.Call(handle, &identity);
}

void GeneralCommandHandler::DeliverPushMessage(uint32_t handle, const std::string& text) {
  uint8_t dev_type = 0;
  {
    std::lock_guard<std::mutex> lock(type_mutex_);
    auto it = types_.find(handle);
    if (it == types_.end()) return;
    dev_type = it->second;
  }
  push_message_.Call(handle, dev_type, text.c_str());
}

void GeneralCommandHandler::UpdateViewLidarCfg(const ViewLidarIpInfo& info) {
  std::shared_ptr<CommandHandler> handler = GetCommandHandler(info.dev_type);
  if (handler && IsMaster()) handler->UpdateViewLidarCfg(info);
}

int32_t GeneralCommandHandler::SendCommand(uint32_t handle, uint16_t command_id,
                                           const uint8_t* data, uint16_t length,
                                           std::shared_ptr<CommandCallback> callback) {
  return Send(handle, command_id, data, length, std::move(callback), false);
}

int32_t GeneralCommandHandler::SendLoggerCommand(uint32_t handle, uint16_t command_id,
                                                 const uint8_t* data, uint16_t length,
                                                 std::shared_ptr<CommandCallback> callback) {
  return Send(handle, command_id, data, length, std::move(callback), true);
}

int32_t GeneralCommandHandler::SendLoggerCommand(uint32_t handle, uint16_t command_id,
                                                 const uint8_t* data, uint16_t length,
                                                 KestoLidarLoggerCallback done, void* client_data) {
  std::shared_ptr<CommandCallback> callback;
  if (done != nullptr) {
    callback =
        std::make_shared<FunctionStatusCallback<KestoLidarLoggerResponse>>(done, client_data);
  }
  return Send(handle, command_id, data, length, std::move(callback), true);
}

int32_t GeneralCommandHandler::Send(uint32_t handle, uint16_t command_id, const uint8_t* data,
                                    uint16_t length, std::shared_ptr<CommandCallback> callback,
                                    bool log_channel) {
  const CommandPacket packet =
      MakeCommandPacket(handle, command_id, data, length, std::move(callback));
  std::shared_ptr<CommandHandler> handler = GetLidarCommandHandler(handle);
  if (!handler) {
    KESTO_LOG_ERROR("Send command failed, get cmd handler failed, the handle:{}, command_id:{}.",
                    handle, command_id);
    return StatusSendFailed;
  }
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

void GeneralCommandHandler::SetInfoChangeObserver(KestoLidarInfoChangeObserver observer,
                                                  void* client_data) {
  info_change_.Set(observer, client_data);
}

void GeneralCommandHandler::SetPushMessageObserver(KestoLidarPushMessageObserver observer,
                                                   void* client_data) {
  push_message_.Set(observer, client_data);
}

}  // namespace kesto::lidar
