#ifndef KESTO_LIDAR_LIDAR_STATE_INFO_H_
#define KESTO_LIDAR_LIDAR_STATE_INFO_H_

// A lidar's state as its pushes and internal-info replies report it, one field per named key.
// Numbers hold the little-endian bytes as the lidar sent them (the kit runs on little-endian
// hosts only); texts are zero-terminated unless they fill their field. Lives on the stack of
// the IO thread that converts one push.

#include <cstdint>
#include <set>

namespace kesto::lidar {

struct LidarIpCfg {
  char lidar_ip[16];
  char lidar_subnet_mask[16];
  char lidar_gateway[16];
};

// Where the lidar sends one of its streams: the host (or group) address and the ports.
struct HostIpCfg {
  char ip[16];
  uint16_t dst_port;  // host side
  uint16_t src_port;  // lidar side
};

struct InstallAttitude {
  float roll_deg;
  float pitch_deg;
  float yaw_deg;
  int32_t x_mm;
  int32_t y_mm;
  int32_t z_mm;
};

struct FovCfg {
  int32_t yaw_start;
  int32_t yaw_stop;
  int32_t pitch_start;
  int32_t pitch_stop;
  uint8_t reserved[4];
};

struct FuncIoCfg {
  uint8_t IN0;
  uint8_t IN1;
  uint8_t OUT0;
  uint8_t OUT1;
};

struct LidarStateInfo {
  uint8_t pcl_data_type;
  uint8_t pattern_mode;
  uint8_t dual_emit_en;
  uint8_t point_send_en;
  LidarIpCfg lidar_ipcfg;
  HostIpCfg state_info_host_ipcfg;
  HostIpCfg ponitcloud_host_ipcfg;
  HostIpCfg imu_host_ipcfg;
  HostIpCfg ctl_host_ipcfg;
  HostIpCfg log_host_ipcfg;
  int32_t vehicle_speed;
  int32_t environment_temp;
  InstallAttitude install_attitude;
  uint32_t blind_spot_set;
  uint8_t frame_rate;
  FovCfg fov_cfg0;
  FovCfg fov_cfg1;
  uint8_t fov_cfg_en;
  uint8_t detect_mode;
  FuncIoCfg func_io_cfg;
  uint8_t work_tgt_mode;
  uint8_t glass_heat;
  uint8_t imu_data_en;
  uint8_t fusa_en;
  char sn[16];
  char product_info[64];
  uint8_t version_app[4];
  uint8_t version_loader[4];
  uint8_t version_hardware[4];
  uint8_t mac[6];
  uint8_t cur_work_state;
  int32_t core_temp;
  uint32_t powerup_cnt;
  uint64_t local_time_now;
  uint64_t last_sync_time;
  int64_t time_offset;
  uint8_t time_sync_type;
  uint8_t status_code[32];
  uint16_t lidar_diag_status;
  uint8_t lidar_flash_status;
  uint8_t FW_TYPE;
  uint32_t hms_code[8];
  uint8_t ROI_Mode;
};

// The key ids a parse stored, in ascending order (which is the member order of the JSON text).
using PresentKeys = std::set<uint16_t>;

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_LIDAR_STATE_INFO_H_
