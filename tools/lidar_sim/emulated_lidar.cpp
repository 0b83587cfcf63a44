#include "emulated_lidar.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "command_id.h"
#include "data_packet.h"
#include "handle_text.h"
#include "key_table.h"
#include "key_value_list.h"
#include "little_endian.h"
#include "protocol_command.h"
#include "sdk_protocol.h"

namespace kesto::lidar_sim {

namespace lidar = kesto::lidar;

namespace {

Bytes U8(uint8_t v) { return Bytes{v}; }

Bytes U16(uint16_t v) {
  Bytes b(2);
  StoreU16(b.data(), v);
  return b;
}

Bytes U32(uint32_t v) {
  Bytes b(4);
  StoreU32(b.data(), v);
  return b;
}

Bytes U64(uint64_t v) {
  Bytes b(8);
  StoreU32(b.data(), static_cast<uint32_t>(v));
  StoreU32(b.data() + 4, static_cast<uint32_t>(v >> 32));
  return b;
}

Bytes Text(const std::string& text, size_t width) {
  Bytes b(width, 0);
  std::memcpy(b.data(), text.data(), text.size() < width ? text.size() : width);
  return b;
}

Endpoint HostConfig(const uint8_t* value) {
  Endpoint e;
  for (size_t i = 0; i < 4; ++i) e.address[i] = value[i];
  e.port = LoadU16(value + 4);
  return e;
}

// The error_key of a request whose list is not whole (count beyond the entries, value cut).
constexpr uint16_t kBrokenList = 0xFFFF;

// Whether the key list of a query, or the key-value list of a set-parameters request, holds
// `key`. Other commands hold no key.
bool ListHoldsKey(uint16_t cmd_id, const uint8_t* payload, size_t size, uint16_t key) {
  if (payload == nullptr || size < 4) return false;
  const uint16_t count = LoadU16(payload);
  if (cmd_id == lidar::kCmdIdQueryParameters) {
    for (size_t i = 0; i < count && 4 + 2 * i + 2 <= size; ++i) {
      if (LoadU16(payload + 4 + 2 * i) == key) return true;
    }
  } else if (cmd_id == lidar::kCmdIdSetParameters) {
    lidar::KeyValueReader reader(payload + 4, size - 4, count);
    lidar::KeyValueView entry;
    while (reader.Next(entry)) {
      if (entry.key_id == key) return true;
    }
  }
  return false;
}

}  // namespace

bool ParseAddress(const std::string& text, std::array<uint8_t, 4>& out) {
  const lidar::DottedParse parsed = lidar::ParseDotted(text, lidar::DottedRules::kStrict);
  if (parsed.ok()) out = parsed.octets;
  return parsed.ok();
}

std::string AddressText(const std::array<uint8_t, 4>& a) {
  return lidar::HandleToText(lidar::BytesToHandle(a));
}

EmulatedLidar::EmulatedLidar(LidarSetup setup, const SimOptions& options, Recorder* recorder)
    : setup_(std::move(setup)),
      options_(options),
      recorder_(recorder),
      silenced_at_start_(options.silent_first.size(), 0) {
  ParseAddress(setup_.address, self_.address);
  self_.port = PortsOf(setup_.model).command;
  PowerOn(1);
}

void EmulatedLidar::PowerCycle(const std::array<uint8_t, 4>& address) {
  self_.address = address;
  const uint32_t power_ups = LoadU32(values_[lidar::kKeyPowerupCnt].data()) + 1;
  values_.clear();
  silenced_at_start_.assign(options_.silent_first.size(), 0);
  configured_ = false;
  work_mode_ = 0;
  point_type_ = 1;
  state_host_ = point_host_ = imu_host_ = log_host_ = config_source_ = Endpoint{};
  own_seq_ = 0;
  next_file_index_ = 0;
  trans_index_ = 0;
  ++config_version_;
  PowerOn(power_ups);
}

void EmulatedLidar::PowerOn(uint32_t power_ups) {
  imu_enabled_ = options_.imu_on_at_start;
  const auto& a = self_.address;
  // The MAC address is the hardware's: it stays that of the first address after a move.
  std::array<uint8_t, 4> first{};
  ParseAddress(setup_.address, first);
  values_[lidar::kKeyPclDataType] = U8(point_type_);
  values_[lidar::kKeyPatternMode] = U8(0);
  values_[lidar::kKeyDualEmitEn] = U8(0);
  values_[lidar::kKeyPointSendEn] = U8(1);
  values_[lidar::kKeyLidarIpCfg] = Bytes{a[0], a[1], a[2], a[3], 255, 0, 0, 0, 127, 0, 0, 1};
  for (uint16_t key = lidar::kKeyStateInfoHostIpCfg; key <= lidar::kKeyLogHostIpCfg; ++key) {
    values_[key] = Bytes(8, 0);
  }
  values_[lidar::kKeyInstallAttitude] = Bytes(24, 0);
  values_[lidar::kKeyBlindSpotSet] = U32(50);
  Bytes fov(20, 0);
  StoreU32(fov.data() + 4, 360);
  StoreU32(fov.data() + 8, static_cast<uint32_t>(-25));
  StoreU32(fov.data() + 12, 25);
  values_[lidar::kKeyFovCfg0] = fov;
  values_[lidar::kKeyFovCfg1] = fov;
  values_[lidar::kKeyFovCfgEn] = U8(0);
  values_[lidar::kKeyDetectMode] = U8(0);
  values_[lidar::kKeyFuncIoCfg] = Bytes(4, 0);
  values_[lidar::kKeyWorkTgtMode] = U8(work_mode_);
  values_[lidar::kKeyGlassHeat] = U8(0);
  values_[lidar::kKeyImuDataEn] = U8(imu_enabled_ ? 1 : 0);
  values_[lidar::kKeyFusaEn] = U8(0);
  values_[lidar::kKeySn] = Text(setup_.serial, 16);
  values_[lidar::kKeyProductInfo] =
      Text("lidar-sim emulated " + std::string(ModelName(setup_.model)), 64);
  values_[lidar::kKeyVersionApp] = Bytes{1, 2, 0, 0};
  values_[lidar::kKeyVersionLoader] = Bytes{1, 0, 0, 0};
  values_[lidar::kKeyVersionHardware] = Bytes{1, 0, 0, 0};
  values_[lidar::kKeyMac] = Bytes{0x02, 0x4B, first[0], first[1], first[2], first[3]};
  values_[lidar::kKeyCurWorkState] = U8(work_mode_);
  values_[lidar::kKeyCoreTemp] = U32(45);
  values_[lidar::kKeyPowerupCnt] = U32(power_ups);
  values_[lidar::kKeyLocalTimeNow] = U64(0);
  values_[lidar::kKeyLastSyncTime] = U64(0);
  values_[lidar::kKeyTimeOffset] = U64(0);
  values_[lidar::kKeyTimeSyncType] = U8(0);
  values_[lidar::kKeyStatusCode] = Bytes(32, 0);
  values_[lidar::kKeyLidarDiagStatus] = U16(0);
  values_[lidar::kKeyLidarFlashStatus] = U8(0);
  values_[lidar::kKeyFwType] = U8(options_.fw_type);
  values_[lidar::kKeyHmsCode] = Bytes(32, 0);
}

void EmulatedLidar::OnDatagram(Port at, const Endpoint& from, const uint8_t* bytes, size_t size,
                               std::vector<Outgoing>& out) {
  static const lidar::SdkProtocol codec;
  lidar::ProtocolCommand command;
  if (bytes == nullptr || size > UINT32_MAX ||
      !codec.VerifyFrame(bytes, static_cast<uint32_t>(size)) ||
      !codec.DecodeFrame(bytes, static_cast<uint32_t>(size), command)) {
    counters_.bad_frames_received.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  if (!options_.allow_non_loopback && !IsLoopback(from.address)) return;
  const std::string payload_hex =
      recorder_ != nullptr ? Recorder::Hex(command.data, command.data_len) : std::string();
  if (command.cmd_type != lidar::kCommandTypeCommand) return;
  // The host's reply to a log file push is a command of its own, sent to the log port.
  if (at == Port::kLog && command.cmd_id == lidar::kCmdIdLogFilePush) {
    counters_.log_replies.fetch_add(1, std::memory_order_relaxed);
    Record("log-reply " + payload_hex);
    return;
  }
  // Discovery is answered on any port that gets it, log capture control on the log port (where
  // the host sends it) and the command port, everything else on the command port only.
  const bool discovery = command.cmd_id == lidar::kCmdIdDiscovery;
  const bool log_control = command.cmd_id == lidar::kCmdIdLogCaptureControl;
  if (!discovery && !(at == Port::kCommand || (at == Port::kLog && log_control))) return;
  char id[8];
  std::snprintf(id, sizeof id, "0x%04x", command.cmd_id);
  // Discovery requests come every second from every host; they are not recorded.
  if (options_.silent_commands.count(command.cmd_id) != 0 ||
      SilentAtStart(command.cmd_id, command.data, command.data_len)) {
    counters_.silenced.fetch_add(1, std::memory_order_relaxed);
    if (!discovery) Record(std::string("command ") + id + " silent " + payload_hex);
    return;
  }
  if (!discovery) Record(std::string("command ") + id + " answered " + payload_hex);
  switch (command.cmd_id) {
    case lidar::kCmdIdDiscovery: {
      Bytes reply(24, 0);
      reply[0] = 0;
      reply[1] = DeviceType(setup_.model);
      std::memcpy(reply.data() + 2, setup_.serial.data(),
                  setup_.serial.size() < 16 ? setup_.serial.size() : 16);
      for (size_t i = 0; i < 4; ++i) reply[18 + i] = self_.address[i];
      StoreU16(reply.data() + 22, PortsOf(setup_.model).command);
      Reply(Port::kDiscovery, from, command.cmd_id, command.seq, reply, out);
      counters_.discovery_replies.fetch_add(1, std::memory_order_relaxed);
      break;
    }
    case lidar::kCmdIdSetParameters:
      OnSetParameters(from, command.seq, command.data, command.data_len, out);
      break;
    case lidar::kCmdIdQueryParameters:
      OnQuery(from, command.seq, command.data, command.data_len, out);
      break;
    case lidar::kCmdIdLogCaptureControl:
      Reply(at, from, command.cmd_id, command.seq, U8(0), out);
      break;
    default:
      // Commands a lidar does not know go unanswered, as the host's time-out expects.
      break;
  }
}

bool EmulatedLidar::Accepts(uint16_t key, const uint8_t* value, size_t length) const {
  if (options_.refused_keys.count(key) != 0) return false;
  // Identity, versions and live readings are the lidar's own; its address is not ours to move.
  const uint16_t width = lidar::KeyWidth(key);
  if (width == 0 || key >= 0x8000 || key == lidar::kKeyLidarIpCfg) return false;
  if (length != width) return false;
  if (key == lidar::kKeyPclDataType && PointRecordSize(value[0]) == 0) return false;
  return true;
}

void EmulatedLidar::Apply(uint16_t key, const uint8_t* value, size_t length) {
  values_[key].assign(value, value + length);
  switch (key) {
    case lidar::kKeyPclDataType: point_type_ = value[0]; break;
    case lidar::kKeyWorkTgtMode:
      work_mode_ = value[0];
      values_[lidar::kKeyCurWorkState] = U8(work_mode_);
      break;
    case lidar::kKeyImuDataEn: imu_enabled_ = value[0] != 0; break;
    case lidar::kKeyStateInfoHostIpCfg: state_host_ = HostConfig(value); break;
    case lidar::kKeyPointCloudHostIpCfg: point_host_ = HostConfig(value); break;
    case lidar::kKeyImuHostIpCfg: imu_host_ = HostConfig(value); break;
    case lidar::kKeyLogHostIpCfg: log_host_ = HostConfig(value); break;
    default: break;
  }
}

void EmulatedLidar::OnSetParameters(const Endpoint& from, uint32_t seq, const uint8_t* payload,
                                    size_t size, std::vector<Outgoing>& out) {
  bool accepted = size >= lidar::kKeyValueListHeaderLength;
  uint16_t error_key = kBrokenList;
  const uint16_t count = accepted ? LoadU16(payload) : 0;
  if (accepted) {
    lidar::KeyValueReader reader(payload + 4, size - 4, count);
    lidar::KeyValueView entry;
    while (accepted && reader.Next(entry)) {
      accepted = entry.length == entry.declared_length &&
                 Accepts(entry.key_id, entry.value, entry.length);
      if (!accepted) error_key = entry.length == entry.declared_length ? entry.key_id : kBrokenList;
    }
    if (accepted && (reader.truncated() || reader.entries_read() != count)) accepted = false;
  }
  Bytes ack(3, 0);
  if (!accepted) {
    ack[0] = 1;
    StoreU16(ack.data() + 1, error_key);
    counters_.refusals.fetch_add(1, std::memory_order_relaxed);
  } else {
    lidar::KeyValueReader reader(payload + 4, size - 4, count);
    lidar::KeyValueView entry;
    while (reader.Next(entry)) Apply(entry.key_id, entry.value, entry.length);
    configured_ = true;
    config_source_ = from;
    ++config_version_;
  }
  Reply(Port::kCommand, from, lidar::kCmdIdSetParameters, seq, ack, out);
}

void EmulatedLidar::OnQuery(const Endpoint& from, uint32_t seq, const uint8_t* payload,
                            size_t size, std::vector<Outgoing>& out) {
  Bytes reply(3, 0);
  KeyValueWriter writer(reply, 1, 3);
  if (size >= lidar::kKeyQueryListHeaderLength) {
    const size_t asked = LoadU16(payload);
    const size_t present = (size - 4) / 2;
    for (size_t i = 0; i < asked && i < present; ++i) {
      const uint16_t key = LoadU16(payload + 4 + 2 * i);
      const auto it = values_.find(key);
      if (it == values_.end()) continue;
      if (reply.size() + 4 + it->second.size() > lidar::kMaxPayloadLength) break;
      writer.Add(key, it->second);
    }
  } else {
    reply[0] = 1;
  }
  Reply(Port::kCommand, from, lidar::kCmdIdQueryParameters, seq, reply, out);
}

bool EmulatedLidar::SilentAtStart(uint16_t cmd_id, const uint8_t* payload, size_t size) {
  for (size_t i = 0; i < options_.silent_first.size(); ++i) {
    const SilentStart& rule = options_.silent_first[i];
    if (rule.cmd_id != cmd_id || silenced_at_start_[i] >= rule.count) continue;
    if (rule.by_key && !ListHoldsKey(cmd_id, payload, size, rule.key)) continue;
    ++silenced_at_start_[i];
    return true;
  }
  return false;
}

void EmulatedLidar::Record(const std::string& line) {
  if (recorder_ != nullptr) recorder_->Event(setup_.address, line);
}

void EmulatedLidar::Reply(Port from, const Endpoint& to, uint16_t cmd_id, uint32_t seq,
                          const Bytes& payload, std::vector<Outgoing>& out) {
  Outgoing o;
  o.from = from;
  o.to = to;
  o.bytes = EncodeLidarFrame(cmd_id, lidar::kCommandTypeAck, seq, payload);
  if (o.bytes.empty()) return;
  out.push_back(std::move(o));
  if (cmd_id != lidar::kCmdIdDiscovery) counters_.acks_sent.fetch_add(1, std::memory_order_relaxed);
}

bool EmulatedLidar::MakeStatePush(uint64_t now_ns, Outgoing& out) {
  Endpoint to = state_host_.port != 0 ? state_host_ : config_source_;
  if (to.port == 0) return false;
  if (!options_.allow_non_loopback && !IsLoopback(to.address)) return false;
  values_[lidar::kKeyLocalTimeNow] = U64(now_ns);
  Record("push " + std::to_string(now_ns));
  Bytes payload;
  KeyValueWriter writer(payload);
  for (uint16_t key : {lidar::kKeyPclDataType, lidar::kKeyPatternMode, lidar::kKeyPointCloudHostIpCfg,
                       lidar::kKeyImuHostIpCfg, lidar::kKeyWorkTgtMode, lidar::kKeyImuDataEn,
                       lidar::kKeySn, lidar::kKeyCurWorkState, lidar::kKeyCoreTemp,
                       lidar::kKeyLocalTimeNow, lidar::kKeyLidarDiagStatus, lidar::kKeyFwType}) {
    writer.Add(key, values_[key]);
  }
  out.from = Port::kPush;
  out.to = to;
  out.bytes = EncodeLidarFrame(lidar::kCmdIdStatePush, lidar::kCommandTypeCommand, ++own_seq_, payload);
  return !out.bytes.empty();
}

Endpoint EmulatedLidar::LogDestination() const {
  if (log_host_.port != 0) return log_host_;
  Endpoint to;
  if (options_.log_host_port == 0) return to;
  to.address = point_host_.port != 0 ? point_host_.address : config_source_.address;
  if (point_host_.port == 0 && config_source_.port == 0) return Endpoint{};
  to.port = options_.log_host_port;
  return to;
}

bool EmulatedLidar::MakeLogFile(uint8_t log_type, size_t bytes, std::vector<Outgoing>& out) {
  const Endpoint to = LogDestination();
  if (to.port == 0) return false;
  if (!options_.allow_non_loopback && !IsLoopback(to.address)) return false;
  const uint8_t file_index = next_file_index_++;
  const auto push = [&](uint8_t flags, const uint8_t* data, size_t length) {
    Bytes payload(16 + length, 0);
    payload[0] = log_type;
    payload[1] = file_index;
    payload[3] = flags;
    StoreU32(payload.data() + 10, trans_index_++);
    StoreU16(payload.data() + 14, static_cast<uint16_t>(length));
    if (length != 0) std::memcpy(payload.data() + 16, data, length);
    Outgoing o;
    o.from = Port::kLog;
    o.to = to;
    o.bytes = EncodeLidarFrame(lidar::kCmdIdLogFilePush, lidar::kCommandTypeCommand, ++own_seq_, payload);
    out.push_back(std::move(o));
  };
  std::string text;
  for (unsigned line = 0; text.size() < bytes; ++line) {
    text += "lidar-sim " + setup_.serial + " log type " + std::to_string(log_type) + " line " +
            std::to_string(line) + "\n";
  }
  text.resize(bytes);
  if (recorder_ != nullptr) {
    recorder_->Replace(setup_.address,
                       ".log-" + std::to_string(log_type) + "-" + std::to_string(file_index),
                       reinterpret_cast<const uint8_t*>(text.data()), text.size());
  }
  constexpr size_t kChunk = 1024;
  constexpr uint8_t kWantsReply = 0x01, kStart = 0x02, kEnd = 0x04;
  push(kWantsReply | kStart, nullptr, 0);
  for (size_t at = 0; at < text.size(); at += kChunk) {
    const size_t n = text.size() - at < kChunk ? text.size() - at : kChunk;
    push(kWantsReply, reinterpret_cast<const uint8_t*>(text.data()) + at, n);
  }
  push(kEnd, nullptr, 0);
  return true;
}

void EmulatedLidar::ApplyPreset(const StreamPreset& preset) {
  std::array<uint8_t, 4> host{};
  if (preset.point_port == 0 || !ParseAddress(preset.host_address, host)) return;
  const auto host_config = [&](uint16_t key, uint16_t port, uint16_t source) {
    uint8_t value[8] = {host[0], host[1], host[2], host[3]};
    StoreU16(value + 4, port);
    StoreU16(value + 6, source);
    Apply(key, value, sizeof value);
  };
  const ModelPorts ports = PortsOf(setup_.model);
  host_config(lidar::kKeyPointCloudHostIpCfg, preset.point_port, ports.point);
  if (preset.imu_port != 0) host_config(lidar::kKeyImuHostIpCfg, preset.imu_port, ports.imu);
  const uint8_t imu = preset.imu_port != 0 ? 1 : 0;
  Apply(lidar::kKeyImuDataEn, &imu, 1);
  if (PointRecordSize(preset.point_type) != 0) Apply(lidar::kKeyPclDataType, &preset.point_type, 1);
  const uint8_t mode = 1;
  Apply(lidar::kKeyWorkTgtMode, &mode, 1);
  ++config_version_;
}

}  // namespace kesto::lidar_sim
