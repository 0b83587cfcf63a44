#ifndef KESTO_LIDAR_LIDAR_DIRECTORY_H_
#define KESTO_LIDAR_LIDAR_DIRECTORY_H_

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "detection_data.h"
#include "kesto_lidar_sdk.h"
#include "lidar_cfg.h"
#include "lidar_identities.h"
#include "lidar_models.h"
#include "lidar_record.h"
#include "route_snapshot.h"

namespace kesto::lidar {

// How a run of the kit finds its lidars.
struct DirectorySettings {
  bool view_mode = false;  // lidars configured by another host, accepted from the host's /24
  bool master = true;      // "master_sdk": this kit queries and configures what it finds
  std::string host_ip;
  LidarCfgList model_cfgs;   // one per model: a detected lidar of that model takes it
  LidarCfgList custom_cfgs;  // one per lidar address: routed from the start
};

// The next step of a lidar's set-up, as the directory decides it from a discovery reply.
enum class SetupStep : uint8_t {
  kNone,
  kQueryFirmware,
  kConfigure,          // send `cfg` to `lidar_cmd_port`
  kQueryInternalInfo,  // view mode: ask for the host ports the lidar streams to
  kConfigureView,      // view mode: send `view`
  kReportInfo,         // the set-up has ended without a configuration (firmware type 0)
};

// What a discovery reply changed about the lidar, for the state observer.
enum class LidarEvent : uint8_t { kNone, kDetected, kBack };

struct SetupDecision {
  SetupStep step = SetupStep::kNone;
  LidarEvent event = LidarEvent::kNone;
  KestoLidarIdentity identity{};  // with an event
  uint8_t dev_type = 0;
  KestoLidarCfg cfg;
  uint16_t lidar_cmd_port = 0;
  ViewLidarIpInfo view;
};

// The one owner of what the kit knows about each lidar: one record per handle with its model,
// serial number, route, configuration, view ports, firmware type and set-up state. It decides
// what a discovery reply or an answer means for a lidar and moves its state; it sends nothing
// (the lidar set-up does, through the command machinery). Each transition is one debug line.
//
// Threads: every operation is safe from any thread and takes the one mutex briefly; none calls
// out while holding it. Routing reads `routes()` through its own RouteSnapshot::Reader, without
// this mutex.
class LidarDirectory : public LidarModels, public LidarIdentities {
 public:
  LidarDirectory() = default;
  LidarDirectory(const LidarDirectory&) = delete;
  LidarDirectory& operator=(const LidarDirectory&) = delete;

  // Forgets every record and takes the run's settings; the configured lidars become expected.
  void Start(DirectorySettings settings);
  // Forgets every record and routes; discovery replies change nothing until the next Start.
  void Clear();

  bool view_mode() const;
  bool master() const;
  const RouteSnapshot& routes() const { return routes_; }

  // Normal mode: the first discovery reply of a lidar without a record, of device type
  // `dev_type`. When a model configuration exists for it, the lidar gets a record (expected,
  // routed) and `cfg` its configuration, whose channels the caller opens; true then.
  bool AddDetected(uint32_t handle, uint8_t dev_type, KestoLidarCfg& cfg);
  // A discovery reply of a routed lidar (or, in view mode, of any lidar): what to do next.
  SetupDecision OnDiscoveryReply(uint32_t handle, const DetectionData& data);
  // A discovery period begins (the detection thread is about to broadcast): every lidar that
  // has now missed kMissedPeriodsUntilLost periods in a row is lost. Returns their identities.
  std::vector<std::pair<uint32_t, KestoLidarIdentity>> NextPeriod();
  // The firmware-type answer: the lidar's firmware is known.
  void SetFirmwareType(uint32_t handle, uint8_t fw_type);
  // View mode: the host ports a lidar's internal information named (the lidar-side data ports
  // of `ports` are taken where the model has no fixed ones). False when the lidar is unknown or
  // already has them; otherwise `info` is complete, the lidar's data is routed and it is
  // configuring.
  bool SetViewPorts(uint32_t handle, const ViewLidarIpInfo& ports, ViewLidarIpInfo& info);
  // The view lidars whose data channels are still to be opened, each handed out once: the
  // device manager takes them on its ticks.
  std::vector<ViewLidarIpInfo> TakeViewChannelsToOpen();
  // The set-up has ended (configuration acknowledged or refused, or nothing to configure).
  // False when the lidar has no detected record. `first_report` tells whether the
  // information-change observer is still to be told, and `identity` what to tell it.
  bool EndSetup(uint32_t handle, bool& first_report, KestoLidarIdentity& identity);

  // LidarModels: the model the lidar named in its first handled discovery reply.
  bool ModelOf(uint32_t handle, uint8_t& dev_type) const override;
  // LidarIdentities: for the log capture.
  bool SerialNumberOf(uint32_t handle, std::string& serial_number) const override;
  std::vector<uint32_t> DetectedLidars() const override;
  // Normal mode: where the lidar sends to (its configuration's host side).
  bool HostOf(uint32_t handle, HostNetInfo& host) const;
  // The configurations of the lidars routed from the start.
  LidarCfgList CustomCfgs() const;
  std::optional<LidarRecord> Find(uint32_t handle) const;
  std::string host_ip() const;

 private:
  // Both with mutex_ held.
  void Move(LidarRecord& record, LidarState to);
  void PublishLocked();
  static KestoLidarIdentity IdentityOf(const LidarRecord& record);
  static Route ViewRoute(uint8_t dev_type, uint16_t cmd_port);
  bool VerifyNetSegmentLocked(const DetectionData& data) const;

  mutable std::mutex mutex_;
  DirectorySettings settings_;                // guarded by mutex_
  bool accepting_ = false;                    // guarded; false between Clear and Start
  std::map<uint8_t, KestoLidarCfg> models_;   // guarded; by device type
  std::map<uint32_t, LidarRecord> records_;   // guarded; by handle
  std::vector<ViewLidarIpInfo> view_channels_to_open_;  // guarded
  uint64_t period_ = 0;  // guarded; discovery periods begun since Start
  RouteSnapshot routes_;                      // republished under mutex_
};

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_LIDAR_DIRECTORY_H_
