#ifndef KESTO_LIDAR_KEY_TABLE_H_
#define KESTO_LIDAR_KEY_TABLE_H_

// The lidar parameter keys the kit knows: their ids, the member names of the state-push JSON
// text and the value widths a lidar sends. Ids without a name are relayed or skipped, never
// interpreted.

#include <array>
#include <cstdint>
#include <string_view>

namespace kesto::lidar {

enum KeyId : uint16_t {
  kKeyPclDataType = 0x0000,
  kKeyPatternMode = 0x0001,
  kKeyDualEmitEn = 0x0002,
  kKeyPointSendEn = 0x0003,
  kKeyLidarIpCfg = 0x0004,
  kKeyStateInfoHostIpCfg = 0x0005,
  kKeyPointCloudHostIpCfg = 0x0006,
  kKeyImuHostIpCfg = 0x0007,
  kKeyCtlHostIpCfg = 0x0008,
  kKeyLogHostIpCfg = 0x0009,
  kKeyVehicleSpeed = 0x0010,
  kKeyEnvironmentTemp = 0x0011,
  kKeyInstallAttitude = 0x0012,
  kKeyBlindSpotSet = 0x0013,
  kKeyFrameRate = 0x0014,
  kKeyFovCfg0 = 0x0015,
  kKeyFovCfg1 = 0x0016,
  kKeyFovCfgEn = 0x0017,
  kKeyDetectMode = 0x0018,
  kKeyFuncIoCfg = 0x0019,
  kKeyWorkTgtMode = 0x001A,
  kKeyGlassHeat = 0x001B,
  kKeyImuDataEn = 0x001C,
  kKeyFusaEn = 0x001D,
  kKeyUnnamed001E = 0x001E,  // queried from VELA lidars, not interpreted
  kKeySn = 0x8000,
  kKeyProductInfo = 0x8001,
  kKeyVersionApp = 0x8002,
  kKeyVersionLoader = 0x8003,
  kKeyVersionHardware = 0x8004,
  kKeyMac = 0x8005,
  kKeyCurWorkState = 0x8006,
  kKeyCoreTemp = 0x8007,
  kKeyPowerupCnt = 0x8008,
  kKeyLocalTimeNow = 0x8009,
  kKeyLastSyncTime = 0x800A,
  kKeyTimeOffset = 0x800B,
  kKeyTimeSyncType = 0x800C,
  kKeyStatusCode = 0x800D,
  kKeyLidarDiagStatus = 0x800E,
  kKeyLidarFlashStatus = 0x800F,
  kKeyFwType = 0x8010,
  kKeyHmsCode = 0x8011,
  kKeyUnnamed8012 = 0x8012,  // queried from VELA lidars, not interpreted
  kKeyRoiMode = 0xFFFE,
  kKeyUnnamedFFFF = 0xFFFF,  // skipped by the state parser
};

struct KeyInfo {
  uint16_t id;
  std::string_view name;  // member name in the state-push JSON text
  uint16_t width;         // value length a lidar sends
};

// Every named key, in ascending id order, which is also the member order of the JSON text.
inline constexpr std::array<KeyInfo, 43> kKeyTable = {{
    {kKeyPclDataType, "pcl_data_type", 1},
    {kKeyPatternMode, "pattern_mode", 1},
    {kKeyDualEmitEn, "dual_emit_en", 1},
    {kKeyPointSendEn, "point_send_en", 1},
    {kKeyLidarIpCfg, "lidar_ipcfg", 12},
    {kKeyStateInfoHostIpCfg, "state_info_host_ipcfg", 8},
    {kKeyPointCloudHostIpCfg, "ponitcloud_host_ipcfg", 8},
    {kKeyImuHostIpCfg, "imu_host_ipcfg", 8},
    {kKeyCtlHostIpCfg, "ctl_host_ipcfg", 8},
    {kKeyLogHostIpCfg, "log_host_ipcfg", 8},
    {kKeyVehicleSpeed, "vehicle_speed", 4},
    {kKeyEnvironmentTemp, "environment_temp", 4},
    {kKeyInstallAttitude, "install_attitude", 24},
    {kKeyBlindSpotSet, "blind_spot_set", 4},
    {kKeyFrameRate, "frame_rate", 1},
    {kKeyFovCfg0, "fov_cfg0", 20},
    {kKeyFovCfg1, "fov_cfg1", 20},
    {kKeyFovCfgEn, "fov_cfg_en", 1},
    {kKeyDetectMode, "detect_mode", 1},
    {kKeyFuncIoCfg, "func_io_cfg", 4},
    {kKeyWorkTgtMode, "work_tgt_mode", 1},
    {kKeyGlassHeat, "glass_heat", 1},
    {kKeyImuDataEn, "imu_data_en", 1},
    {kKeyFusaEn, "fusa_en", 1},
    {kKeySn, "sn", 16},
    {kKeyProductInfo, "product_info", 64},
    {kKeyVersionApp, "version_app", 4},
    {kKeyVersionLoader, "version_loader", 4},
    {kKeyVersionHardware, "version_hardware", 4},
    {kKeyMac, "mac", 6},
    {kKeyCurWorkState, "cur_work_state", 1},
    {kKeyCoreTemp, "core_temp", 4},
    {kKeyPowerupCnt, "powerup_cnt", 4},
    {kKeyLocalTimeNow, "local_time_now", 8},
    {kKeyLastSyncTime, "last_sync_time", 8},
    {kKeyTimeOffset, "time_offset", 8},
    {kKeyTimeSyncType, "time_sync_type", 1},
    {kKeyStatusCode, "status_code", 32},
    {kKeyLidarDiagStatus, "lidar_diag_status", 2},
    {kKeyLidarFlashStatus, "lidar_flash_status", 1},
    {kKeyFwType, "FW_TYPE", 1},
    {kKeyHmsCode, "hms_code", 32},
    {kKeyRoiMode, "ROI_Mode", 1},
}};

// The named key of `id`, or null for an id the kit does not interpret.
constexpr const KeyInfo* FindKey(uint16_t id) {
  for (const KeyInfo& key : kKeyTable) {
    if (key.id == id) return &key;
  }
  return nullptr;
}

// The value width of the named key `id`, or 0 for an id the kit does not interpret.
constexpr uint16_t KeyWidth(uint16_t id) {
  for (const KeyInfo& key : kKeyTable) {
    if (key.id == id) return key.width;
  }
  return 0;
}

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_KEY_TABLE_H_
