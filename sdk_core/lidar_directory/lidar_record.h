#ifndef KESTO_LIDAR_LIDAR_RECORD_H_
#define KESTO_LIDAR_LIDAR_RECORD_H_
// What the kit knows about one lidar, by handle: one record, kept by the lidar directory.
#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "lidar_cfg.h"

namespace kesto::lidar {

// Where a lidar stands in its set-up. A lidar moves forward one step at a time:
//   expected -> detected -> firmware known -> configuring -> configured (or viewing)
// and from any state but expected to lost when it misses three discovery periods in a row; a
// lost lidar that answers again is detected anew and set up once more.
// "expected" is a lidar the kit will route but that has not answered discovery yet: one named
// by the configuration, or one whose first reply opened its channels. A lidar whose firmware
// type is 0 takes no configuration and goes from firmware known to configured.
enum class LidarState : uint8_t {
  kExpected,
  kDetected,       // answered discovery; its firmware type is being asked for
  kFirmwareKnown,  // normal mode: to be configured; view mode: its internal info is asked for
  kConfiguring,    // a configuration request is out (sent again at each discovery reply)
  kConfigured,     // the configuration attempt has ended; the lidar was reported
  kViewing,        // view mode: the configuration attempt has ended, its data channels are open
  kLost,           // silent for three discovery periods; its channels stay open
};

// How many discovery periods in a row a lidar may miss before it counts as lost.
inline constexpr uint64_t kMissedPeriodsUntilLost = 3;

const char* StateName(LidarState state);

// What routing needs of a lidar: its model and its lidar-side ports.
struct Route {
  uint8_t dev_type = 0;
  LidarNetInfo lidar;
};
using RouteMap = std::map<uint32_t, Route>;

struct LidarRecord {
  uint32_t handle = 0;
  // The model the lidar itself named in its first handled reply; later replies must agree.
  uint8_t dev_type = 0;
  std::string sn;        // as the first handled reply carried it; untrusted text
  std::string lidar_ip;  // dotted handle
  Route route;
  std::optional<KestoLidarCfg> cfg;  // normal mode: where the lidar is told to send
  uint16_t lidar_cmd_port = 0;       // the command port its latest discovery reply named
  std::optional<ViewLidarIpInfo> view;  // view mode: the ports its internal info named
  std::optional<uint8_t> fw_type;
  LidarState state = LidarState::kExpected;
  bool info_reported = false;  // the information-change observer was called
  // The discovery period in which the lidar last answered (see LidarDirectory::NextPeriod).
  uint64_t answered_period = 0;
};

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_LIDAR_RECORD_H_
