// KeyValueListToJson and StateInfoToJson: the state-push text given to the push-message observer.

#include "state_push_json.h"

#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>

#include <cmath>
#include <cstring>
#include <string>

#include "key_table.h"

namespace kesto::lidar {
namespace {

using Writer = rapidjson::PrettyWriter<rapidjson::StringBuffer>;

// Length of a text field: up to its first zero byte, or the whole field when it has none.
template <size_t N>
size_t TextLength(const char (&field)[N]) {
  const void* zero = std::memchr(field, 0, N);
  return zero == nullptr ? N : static_cast<size_t>(static_cast<const char*>(zero) - field);
}

// Length of the well-formed UTF-8 sequence at `text`, or 0 when the bytes there are not one
// (overlong forms, surrogates and code points above U+10FFFF included).
size_t Utf8SequenceLength(const unsigned char* text, size_t size) {
  const unsigned char lead = text[0];
  if (lead < 0x80) return 1;
  size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (length > size) return 0;
  if (text[1] < low || text[1] > high) return 0;
  for (size_t i = 2; i < length; ++i) {
    if (text[i] < 0x80 || text[i] > 0xBF) return 0;
  }
  return length;
}

// Writes a text a lidar sent as a JSON string. The writer escapes quotes, backslashes and
// control characters; bytes that are not UTF-8 (a lidar may fill a text field with anything)
// become U+FFFD, so the observer always receives valid JSON.
void WriteText(Writer& writer, const char* text, size_t size) {
  std::string clean;
  clean.reserve(size);
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  for (size_t at = 0; at < size;) {
    const size_t n = Utf8SequenceLength(bytes + at, size - at);
    if (n == 0) {
      clean += "\xEF\xBF\xBD";
      ++at;
    } else {
      clean.append(text + at, n);
      at += n;
    }
  }
  writer.String(clean.data(), static_cast<rapidjson::SizeType>(clean.size()));
}

template <size_t N>
void WriteText(Writer& writer, const char (&field)[N]) {
  WriteText(writer, field, TextLength(field));
}

// NaN and infinities have no JSON number form; they are written as null.
void WriteReal(Writer& writer, float value) {
  if (std::isfinite(value)) {
    writer.Double(static_cast<double>(value));
  } else {
    writer.Null();
  }
}

template <typename T, size_t N>
void WriteUnsignedArray(Writer& writer, const T (&values)[N]) {
  writer.StartArray();
  for (const T value : values) writer.Uint(value);
  writer.EndArray();
}

// The 32 status bytes from the last to the first, each in lowercase hex without leading zeros.
void WriteStatusCode(Writer& writer, const uint8_t (&code)[32]) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (size_t i = sizeof(code); i-- > 0;) {
    if (i + 1 < sizeof(code)) text += ' ';
    if (code[i] >= 0x10) text += kDigits[code[i] >> 4];
    text += kDigits[code[i] & 0x0F];
  }
  writer.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
}

void WriteKey(Writer& writer, std::string_view name) {
  writer.Key(name.data(), static_cast<rapidjson::SizeType>(name.size()));
}

void WriteLidarIpCfg(Writer& writer, const LidarIpCfg& cfg) {
  writer.StartObject();
  WriteKey(writer, "lidar_ip");
  WriteText(writer, cfg.lidar_ip);
  WriteKey(writer, "lidar_subnet_mask");
  WriteText(writer, cfg.lidar_subnet_mask);
  WriteKey(writer, "lidar_gateway");
  WriteText(writer, cfg.lidar_gateway);
  writer.EndObject();
}

void WriteHostIpCfg(Writer& writer, const HostIpCfg& cfg) {
  writer.StartObject();
  WriteKey(writer, "ip");
  WriteText(writer, cfg.ip);
  WriteKey(writer, "dst_port");
  writer.Uint(cfg.dst_port);
  WriteKey(writer, "src_port");
  writer.Uint(cfg.src_port);
  writer.EndObject();
}

void WriteInstallAttitude(Writer& writer, const InstallAttitude& attitude) {
  writer.StartObject();
  WriteKey(writer, "roll_deg");
  WriteReal(writer, attitude.roll_deg);
  WriteKey(writer, "pitch_deg");
  WriteReal(writer, attitude.pitch_deg);
  WriteKey(writer, "yaw_deg");
  WriteReal(writer, attitude.yaw_deg);
  // The push text carries the offsets as unsigned 32-bit numbers: a stored -10 is 4294967286.
  WriteKey(writer, "x_mm");
  writer.Uint(static_cast<uint32_t>(attitude.x_mm));
  WriteKey(writer, "y_mm");
  writer.Uint(static_cast<uint32_t>(attitude.y_mm));
  WriteKey(writer, "z_mm");
  writer.Uint(static_cast<uint32_t>(attitude.z_mm));
  writer.EndObject();
}

void WriteFovCfg(Writer& writer, const FovCfg& fov) {
  writer.StartObject();
  WriteKey(writer, "yaw_start");
  writer.Int(fov.yaw_start);
  WriteKey(writer, "yaw_stop");
  writer.Int(fov.yaw_stop);
  WriteKey(writer, "pitch_start");
  writer.Int(fov.pitch_start);
  WriteKey(writer, "pitch_stop");
  writer.Int(fov.pitch_stop);
  writer.EndObject();
}

void WriteFuncIoCfg(Writer& writer, const FuncIoCfg& io) {
  writer.StartObject();
  WriteKey(writer, "IN0");
  writer.Uint(io.IN0);
  WriteKey(writer, "IN1");
  writer.Uint(io.IN1);
  WriteKey(writer, "OUT0");
  writer.Uint(io.OUT0);
  WriteKey(writer, "OUT1");
  writer.Uint(io.OUT1);
  writer.EndObject();
}

void WriteValue(Writer& writer, uint16_t key_id, const LidarStateInfo& info) {
  switch (key_id) {
    case kKeyPclDataType: writer.Uint(info.pcl_data_type); break;
    case kKeyPatternMode: writer.Uint(info.pattern_mode); break;
    case kKeyDualEmitEn: writer.Uint(info.dual_emit_en); break;
    case kKeyPointSendEn: writer.Uint(info.point_send_en); break;
    case kKeyLidarIpCfg: WriteLidarIpCfg(writer, info.lidar_ipcfg); break;
    case kKeyStateInfoHostIpCfg: WriteHostIpCfg(writer, info.state_info_host_ipcfg); break;
    case kKeyPointCloudHostIpCfg: WriteHostIpCfg(writer, info.ponitcloud_host_ipcfg); break;
    case kKeyImuHostIpCfg: WriteHostIpCfg(writer, info.imu_host_ipcfg); break;
    case kKeyCtlHostIpCfg: WriteHostIpCfg(writer, info.ctl_host_ipcfg); break;
    case kKeyLogHostIpCfg: WriteHostIpCfg(writer, info.log_host_ipcfg); break;
    case kKeyVehicleSpeed: writer.Int(info.vehicle_speed); break;
    case kKeyEnvironmentTemp: writer.Int(info.environment_temp); break;
    case kKeyInstallAttitude: WriteInstallAttitude(writer, info.install_attitude); break;
    case kKeyBlindSpotSet: writer.Uint(info.blind_spot_set); break;
    case kKeyFrameRate: writer.Uint(info.frame_rate); break;
    case kKeyFovCfg0: WriteFovCfg(writer, info.fov_cfg0); break;
    case kKeyFovCfg1: WriteFovCfg(writer, info.fov_cfg1); break;
    case kKeyFovCfgEn: writer.Uint(info.fov_cfg_en); break;
    case kKeyDetectMode: writer.Uint(info.detect_mode); break;
    case kKeyFuncIoCfg: WriteFuncIoCfg(writer, info.func_io_cfg); break;
    case kKeyWorkTgtMode: writer.Uint(info.work_tgt_mode); break;
    case kKeyGlassHeat: writer.Uint(info.glass_heat); break;
    case kKeyImuDataEn: writer.Uint(info.imu_data_en); break;
    case kKeyFusaEn: writer.Uint(info.fusa_en); break;
    case kKeySn: WriteText(writer, info.sn); break;
    case kKeyProductInfo: WriteText(writer, info.product_info); break;
    case kKeyVersionApp: WriteUnsignedArray(writer, info.version_app); break;
    case kKeyVersionLoader: WriteUnsignedArray(writer, info.version_loader); break;
    case kKeyVersionHardware: WriteUnsignedArray(writer, info.version_hardware); break;
    case kKeyMac: WriteUnsignedArray(writer, info.mac); break;
    case kKeyCurWorkState: writer.Uint(info.cur_work_state); break;
    case kKeyCoreTemp: writer.Int(info.core_temp); break;
    case kKeyPowerupCnt: writer.Uint(info.powerup_cnt); break;
    case kKeyLocalTimeNow: writer.Uint64(info.local_time_now); break;
    case kKeyLastSyncTime: writer.Uint64(info.last_sync_time); break;
    case kKeyTimeOffset: writer.Int64(info.time_offset); break;
    case kKeyTimeSyncType: writer.Uint(info.time_sync_type); break;
    case kKeyStatusCode: WriteStatusCode(writer, info.status_code); break;
    case kKeyLidarDiagStatus: writer.Uint(info.lidar_diag_status); break;
    case kKeyLidarFlashStatus: writer.Uint(info.lidar_flash_status); break;
    case kKeyFwType: writer.Uint(info.FW_TYPE); break;
    case kKeyHmsCode: WriteUnsignedArray(writer, info.hms_code); break;
    case kKeyRoiMode: writer.Uint(info.ROI_Mode); break;
    default: writer.Null(); break;  // every key with a name is listed above
  }
}

}  // namespace

void StateInfoToJson(const LidarStateInfo& info, const PresentKeys& present, std::string& text) {
  rapidjson::StringBuffer buffer;
  Writer writer(buffer);
  writer.StartObject();
  for (const uint16_t key_id : present) {
    const KeyInfo* key = FindKey(key_id);
    if (key == nullptr) continue;
    WriteKey(writer, key->name);
    WriteValue(writer, key_id, info);
  }
  writer.EndObject();
  text.assign(buffer.GetString(), buffer.GetSize());
}

bool KeyValueListToJson(const uint8_t* payload, size_t length, std::string& text) {
  LidarStateInfo info;
  std::memset(&info, 0, sizeof(info));
  PresentKeys present;
  if (!ParseStateInfo(payload, length, info, present)) return false;
  StateInfoToJson(info, present, text);
  return true;
}

}  // namespace kesto::lidar
