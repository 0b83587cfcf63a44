// The kit's public entry points, over the current Kit: the start creates it, the stop destroys
// it. Start, stop and the observer setters run on the application thread; the commands on any
// thread, including from inside observers and completions on the kit's threads.
#include "kesto_lidar_sdk.h"

#include <atomic>
#include <memory>
#include <mutex>

#include "command_impl.h"
#include "kit.h"
#include "kit_log.h"
#include "socket.h"

using kesto::lidar::Kit;

namespace {

// An observer as the application set it, kept across starts: observers set before a start
// stay in place through it.
template <typename Function>
struct StoredObserver {
  Function function = nullptr;
  void* client_data = nullptr;
};

// Application thread only.
struct Observers {
  StoredObserver<KestoLidarDataObserver> point_cloud;
  StoredObserver<KestoLidarDataObserver> imu;
  StoredObserver<KestoLidarPushMessageObserver> push_message;
  StoredObserver<KestoLidarInfoChangeObserver> info_change;
  StoredObserver<KestoLidarStateObserver> state_change;
};
Observers g_observers;

// Set only by a successful start, cleared by the stop. Application thread only.
bool g_started = false;

// The recording the next start makes (path empty: none), and the counts of the last one to
// stop. Application thread only.
kesto::lidar::RecordOptions g_record;
kesto::lidar::RecordCounts g_last_record;
// The last run's count of datagrams the system dropped, kept after its stop.
std::atomic<uint64_t> g_last_os_dropped{0};

// The running kit. Commands take a reference under the mutex, so a command racing the stop
// keeps the kit alive until it returns (its lidars are gone by then, so it fails).
std::mutex g_kit_mutex;
std::shared_ptr<Kit> g_kit;  // guarded by g_kit_mutex

std::shared_ptr<Kit> CurrentKit() {
  std::lock_guard<std::mutex> lock(g_kit_mutex);
  return g_kit;
}

void ApplyObservers(Kit& kit) {
  kit.data().SetPointCloudObserver(g_observers.point_cloud.function,
                                   g_observers.point_cloud.client_data);
  kit.data().SetImuDataObserver(g_observers.imu.function, g_observers.imu.client_data);
  kit.commands().SetPushMessageObserver(g_observers.push_message.function,
                                        g_observers.push_message.client_data);
  kit.setup().SetInfoChangeObserver(g_observers.info_change.function,
                                    g_observers.info_change.client_data);
  kit.setup().SetLidarStateObserver(g_observers.state_change.function,
                                    g_observers.state_change.client_data);
}

}  // namespace

bool KestoSdkStart(const char* cfg_path, const char* host_ip,
                   const KestoLidarLoggerCfgInfo* log_cfg_info) {
  if (g_started) return false;
  if (!kesto::platform::SocketStartup()) return false;
  kesto::lidar::log::Setup();
  if (cfg_path == nullptr && host_ip == nullptr) return false;
  auto kit = std::make_shared<Kit>();
  ApplyObservers(*kit);
  if (!g_record.path.empty()) {
    const bool recording = kit->recorder().Start(g_record);
    g_record = {};
    if (!recording) return false;
  }
  const bool started = cfg_path != nullptr ? kit->StartFromConfigFile(cfg_path)
                                           : kit->StartOnHost(host_ip, log_cfg_info);
  if (!started) {
    kit->Stop();
    g_last_record = kit->recorder().counts();
    return false;
  }
  {
    std::lock_guard<std::mutex> lock(g_kit_mutex);
    g_kit = std::move(kit);
  }
  g_started = true;
  return true;
}

void KestoSdkStop(void) {
  if (!g_started) return;
  std::shared_ptr<Kit> kit;
  {
    std::lock_guard<std::mutex> lock(g_kit_mutex);
    kit.swap(g_kit);
  }
  // The device manager closes its sockets before the socket library is released: Winsock
  // resets every socket still open at its clean-up, under IO threads still selecting on them.
  kit->Stop();
  g_last_record = kit->recorder().counts();
  g_last_os_dropped = kit->device_manager().os_dropped();
  kesto::platform::SocketCleanup();
  // The data observers and the information-change observer are set again after a new start;
  // the push-message and state observers stay.
  g_observers.point_cloud = {};
  g_observers.imu = {};
  g_observers.info_change = {};
  kit.reset();
  kesto::lidar::log::Drop();
  g_started = false;
}

bool KestoSdkRecordTo(const char* path, uint32_t max_megabytes) {
  if (g_started) return false;
  g_record = {};
  if (path == nullptr || *path == '\0') return true;
  g_record.path = path;
  g_record.max_file_bytes = uint64_t{max_megabytes} * 1000 * 1000;
  return true;
}

void KestoSdkGetRecordCounts(KestoRecordCounts* counts) {
  if (counts == nullptr) return;
  kesto::lidar::RecordCounts now = g_last_record;
  if (std::shared_ptr<Kit> kit = CurrentKit()) now = kit->recorder().counts();
  *counts = {now.recorded, now.dropped, now.files};
}

uint64_t KestoSdkGetOsDropped(void) {
  if (std::shared_ptr<Kit> kit = CurrentKit()) return kit->device_manager().os_dropped();
  return g_last_os_dropped.load();
}

void SetPointCloudObserver(KestoLidarDataObserver cb, void* client_data) {
  g_observers.point_cloud = {cb, client_data};
  if (std::shared_ptr<Kit> kit = CurrentKit()) kit->data().SetPointCloudObserver(cb, client_data);
}

void SetImuDataObserver(KestoLidarDataObserver cb, void* client_data) {
  g_observers.imu = {cb, client_data};
  if (std::shared_ptr<Kit> kit = CurrentKit()) kit->data().SetImuDataObserver(cb, client_data);
}

void SetPushMessageObserver(KestoLidarPushMessageObserver cb, void* client_data) {
  g_observers.push_message = {cb, client_data};
  if (std::shared_ptr<Kit> kit = CurrentKit()) {
    kit->commands().SetPushMessageObserver(cb, client_data);
  }
}

void SetInfoChangeObserver(KestoLidarInfoChangeObserver cb, void* client_data) {
  g_observers.info_change = {cb, client_data};
  if (std::shared_ptr<Kit> kit = CurrentKit()) kit->setup().SetInfoChangeObserver(cb, client_data);
}

void SetLidarStateObserver(KestoLidarStateObserver cb, void* client_data) {
  g_observers.state_change = {cb, client_data};
  if (std::shared_ptr<Kit> kit = CurrentKit()) kit->setup().SetLidarStateObserver(cb, client_data);
}

kesto_status RequestPointDataType(uint32_t handle, int data_type, KestoLidarAsyncControlCallback cb,
                                  void* client_data) {
  std::shared_ptr<Kit> kit = CurrentKit();
  if (!kit) {
    KESTO_LOG_ERROR("Send command failed, the kit is not started, the handle:{}.", handle);
    return kesto::lidar::StatusSendFailed;
  }
  return kesto::lidar::RequestPointDataType(kit->commands(), handle, data_type, cb, client_data);
}

kesto_status RequestWorkMode(uint32_t handle, int work_mode, KestoLidarAsyncControlCallback cb,
                             void* client_data) {
  std::shared_ptr<Kit> kit = CurrentKit();
  if (!kit) {
    KESTO_LOG_ERROR("Send command failed, the kit is not started, the handle:{}.", handle);
    return kesto::lidar::StatusSendFailed;
  }
  return kesto::lidar::RequestWorkMode(kit->commands(), handle, work_mode, cb, client_data);
}

kesto_status QueryKestoLidarInternalInfo(uint32_t handle, KestoLidarInternalInfoCallback cb,
                                         void* client_data) {
  std::shared_ptr<Kit> kit = CurrentKit();
  if (!kit) {
    KESTO_LOG_ERROR("Query kesto lidar internal info failed.");
    return kesto::lidar::StatusUnknownLidar;
  }
  return kesto::lidar::QueryKestoLidarInternalInfo(kit->commands(), handle, cb, client_data);
}
