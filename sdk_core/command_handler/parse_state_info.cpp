// ParseStateInfo: the key-value list of a state push or internal-info reply into LidarStateInfo.


#include "key_table.h"
#include "key_value_list.h"
#include "kit_log.h"
#include "state_push_json.h"

namespace kesto::lidar {
namespace {

struct FieldRef {
  void* data = nullptr;
  size_t size = 0;
};

// A field that takes the value bytes as they come; its width is checked against the key table
// at compile time, so the record and the table cannot drift apart.
template <uint16_t Key, typename Field>
FieldRef Plain(Field& field) {
  static_assert(sizeof(Field) == KeyWidth(Key),
                "field width differs from the key table");
  return {&field, sizeof(Field)};
}

FieldRef PlainField(LidarStateInfo& info, uint16_t key_id) {
  switch (key_id) {
    case kKeyPclDataType: return Plain<kKeyPclDataType>(info.pcl_data_type);
    case kKeyPatternMode: return Plain<kKeyPatternMode>(info.pattern_mode);
    case kKeyDualEmitEn: return Plain<kKeyDualEmitEn>(info.dual_emit_en);
    case kKeyPointSendEn: return Plain<kKeyPointSendEn>(info.point_send_en);
    case kKeyVehicleSpeed: return Plain<kKeyVehicleSpeed>(info.vehicle_speed);
    case kKeyEnvironmentTemp: return Plain<kKeyEnvironmentTemp>(info.environment_temp);
    case kKeyInstallAttitude: return Plain<kKeyInstallAttitude>(info.install_attitude);
    case kKeyBlindSpotSet: return Plain<kKeyBlindSpotSet>(info.blind_spot_set);
    case kKeyFrameRate: return Plain<kKeyFrameRate>(info.frame_rate);
    case kKeyFovCfg0: return Plain<kKeyFovCfg0>(info.fov_cfg0);
    case kKeyFovCfg1: return Plain<kKeyFovCfg1>(info.fov_cfg1);
    case kKeyFovCfgEn: return Plain<kKeyFovCfgEn>(info.fov_cfg_en);
    case kKeyDetectMode: return Plain<kKeyDetectMode>(info.detect_mode);
    case kKeyFuncIoCfg: return Plain<kKeyFuncIoCfg>(info.func_io_cfg);
    case kKeyWorkTgtMode: return Plain<kKeyWorkTgtMode>(info.work_tgt_mode);
    case kKeyGlassHeat: return Plain<kKeyGlassHeat>(info.glass_heat);
    case kKeyImuDataEn: return Plain<kKeyImuDataEn>(info.imu_data_en);
    case kKeyFusaEn: return Plain<kKeyFusaEn>(info.fusa_en);
    case kKeySn: return Plain<kKeySn>(info.sn);
    case kKeyProductInfo: return Plain<kKeyProductInfo>(info.product_info);
    case kKeyVersionApp: return Plain<kKeyVersionApp>(info.version_app);
    case kKeyVersionLoader: return Plain<kKeyVersionLoader>(info.version_loader);
    case kKeyVersionHardware: return Plain<kKeyVersionHardware>(info.version_hardware);
    case kKeyMac: return Plain<kKeyMac>(info.mac);
    case kKeyCurWorkState: return Plain<kKeyCurWorkState>(info.cur_work_state);
    case kKeyCoreTemp: return Plain<kKeyCoreTemp>(info.core_temp);
    case kKeyPowerupCnt: return Plain<kKeyPowerupCnt>(info.powerup_cnt);
    case kKeyLocalTimeNow: return Plain<kKeyLocalTimeNow>(info.local_time_now);
    case kKeyLastSyncTime: return Plain<kKeyLastSyncTime>(info.last_sync_time);
    case kKeyTimeOffset: return Plain<kKeyTimeOffset>(info.time_offset);
    case kKeyTimeSyncType: return Plain<kKeyTimeSyncType>(info.time_sync_type);
    case kKeyStatusCode: return Plain<kKeyStatusCode>(info.status_code);
    case kKeyLidarDiagStatus: return Plain<kKeyLidarDiagStatus>(info.lidar_diag_status);
    case kKeyLidarFlashStatus: return Plain<kKeyLidarFlashStatus>(info.lidar_flash_status);
    case kKeyFwType: return Plain<kKeyFwType>(info.FW_TYPE);
    case kKeyHmsCode: return Plain<kKeyHmsCode>(info.hms_code);
    case kKeyRoiMode: return Plain<kKeyRoiMode>(info.ROI_Mode);
    default: return {};
  }
}

// Four address bytes as dotted text, first byte first; "255.255.255.255" and its zero fit.
void DottedText(const uint8_t* address, char (&text)[16]) {
  char* at = text;
  for (int i = 0; i < 4; ++i) {
    if (i > 0) *at++ = '.';
    const unsigned value = address[i];
    if (value >= 100) *at++ = static_cast<char>('0' + value / 100);
    if (value >= 10) *at++ = static_cast<char>('0' + value / 10 % 10);
    *at++ = static_cast<char>('0' + value % 10);
  }
  *at = '\0';
}

void StoreLidarIpCfg(const KeyValueView& entry, LidarIpCfg& cfg) {
  uint8_t value[12];
  CopyValue(entry, value, sizeof(value));
  DottedText(value, cfg.lidar_ip);
  DottedText(value + 4, cfg.lidar_subnet_mask);
  DottedText(value + 8, cfg.lidar_gateway);
}

void StoreHostIpCfg(const KeyValueView& entry, HostIpCfg& cfg) {
  uint8_t value[8];
  CopyValue(entry, value, sizeof(value));
  DottedText(value, cfg.ip);
  cfg.dst_port = LoadU16(value + 4);
  cfg.src_port = LoadU16(value + 6);
}

// Stores one entry; false for a key without a field, which is skipped.
bool Store(const KeyValueView& entry, LidarStateInfo& info) {
  switch (entry.key_id) {
    case kKeyLidarIpCfg: StoreLidarIpCfg(entry, info.lidar_ipcfg); return true;
    case kKeyStateInfoHostIpCfg: StoreHostIpCfg(entry, info.state_info_host_ipcfg); return true;
    case kKeyPointCloudHostIpCfg: StoreHostIpCfg(entry, info.ponitcloud_host_ipcfg); return true;
    case kKeyImuHostIpCfg: StoreHostIpCfg(entry, info.imu_host_ipcfg); return true;
    case kKeyCtlHostIpCfg: StoreHostIpCfg(entry, info.ctl_host_ipcfg); return true;
    case kKeyLogHostIpCfg: StoreHostIpCfg(entry, info.log_host_ipcfg); return true;
    default: break;
  }
  const FieldRef field = PlainField(info, entry.key_id);
  if (field.data == nullptr) return false;
  CopyValue(entry, field.data, field.size);
  return true;
}

}  // namespace

bool ParseStateInfo(const uint8_t* payload, size_t length, LidarStateInfo& info,
                    PresentKeys& present) {
  if (payload == nullptr || length < sizeof(uint16_t)) {
    KESTO_LOG_ERROR("Parse lidar state info failed, the payload of {} bytes has no key count.",
                    length);
    return false;
  }
  const uint16_t count = LoadU16(payload);
  const size_t header = length < kKeyValueListHeaderLength ? length : kKeyValueListHeaderLength;
  KeyValueReader reader(payload + header, length - header, count);
  KeyValueView entry;
  while (reader.Next(entry)) {
    if (Store(entry, info)) present.insert(entry.key_id);
  }
  if (reader.truncated()) {
    KESTO_LOG_ERROR(
        "Parse lidar state info failed, entry {} of {} does not fit in the payload of {} bytes.",
        reader.entries_read() + 1, count, length);
    return false;
  }
  return true;
}

}  // namespace kesto::lidar
