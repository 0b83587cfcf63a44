#include "fake_kit.h"

#include <condition_variable>
#include <mutex>

#include "block_observers.h"
#include "console_callbacks.h"
#include "stream_observers.h"

namespace kesto::bridge::test {
namespace {

std::mutex g_mutex;
std::condition_variable g_changed;
std::vector<std::string> g_calls;
FakeKit g_kit;

template <typename F>
std::string Name(F function) {
  const void* p = reinterpret_cast<const void*>(function);
  if (p == nullptr) return "null";
  if (p == reinterpret_cast<const void*>(&PointCloudCallback)) return "PointCloudCallback";
  if (p == reinterpret_cast<const void*>(&ImuDataCallback)) return "ImuDataCallback";
  if (p == reinterpret_cast<const void*>(&StreamingPointCloudCallback)) {
    return "StreamingPointCloudCallback";
  }
  if (p == reinterpret_cast<const void*>(&StreamingImuDataCallback)) {
    return "StreamingImuDataCallback";
  }
  if (p == reinterpret_cast<const void*>(&PushMessageCallback)) return "PushMessageCallback";
  if (p == reinterpret_cast<const void*>(&LidarInfoChangeCallback)) {
    return "LidarInfoChangeCallback";
  }
  if (p == reinterpret_cast<const void*>(&LidarStateCallback)) return "LidarStateCallback";
  if (p == reinterpret_cast<const void*>(&WorkModeCallback)) return "WorkModeCallback";
  if (p == reinterpret_cast<const void*>(&PclDataTypeCallback)) return "PclDataTypeCallback";
  if (p == reinterpret_cast<const void*>(&InternalInfoCallback)) return "InternalInfoCallback";
  return "other";
}

std::string Text(const char* text) { return text == nullptr ? "null" : "'" + std::string(text) + "'"; }

void Record(std::string call, void* client_data = nullptr) {
  if (client_data != nullptr) call += " client_data";
  std::lock_guard<std::mutex> lock(g_mutex);
  g_calls.push_back(std::move(call));
  g_changed.notify_all();
}

}  // namespace

void ResetFakeKit() {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_calls.clear();
  g_kit = FakeKit();
}

FakeKit& Kit() { return g_kit; }

std::vector<std::string> KitCalls() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_calls;
}

namespace {

// With g_mutex held.
std::size_t CountLocked(const std::string& prefix) {
  std::size_t count = 0;
  for (const std::string& call : g_calls) count += call.rfind(prefix, 0) == 0 ? 1 : 0;
  return count;
}

}  // namespace

std::size_t CountKitCalls(const std::string& prefix) {
  std::lock_guard<std::mutex> lock(g_mutex);
  return CountLocked(prefix);
}

bool WaitForKitCall(const std::string& prefix, std::chrono::seconds deadline, std::size_t count) {
  std::unique_lock<std::mutex> lock(g_mutex);
  return g_changed.wait_for(lock, deadline, [&] { return CountLocked(prefix) >= count; });
}

}  // namespace kesto::bridge::test

using kesto::bridge::test::g_kit;
using kesto::bridge::test::Name;
using kesto::bridge::test::Record;
using kesto::bridge::test::Text;

bool KestoSdkStart(const char* cfg_path, const char* host_ip,
                   const KestoLidarLoggerCfgInfo* log_cfg_info) {
  Record("KestoSdkStart " + Text(cfg_path) + " " + Text(host_ip) + " " +
         (log_cfg_info == nullptr ? "null" : "record"));
  if (g_kit.on_start) g_kit.on_start();
  return g_kit.start_result;
}

void KestoSdkStop(void) {
  Record("KestoSdkStop");
  if (g_kit.on_stop) g_kit.on_stop();
}

bool KestoSdkRecordTo(const char* path, uint32_t max_megabytes) {
  Record("KestoSdkRecordTo " + Text(path) + " " + std::to_string(max_megabytes));
  return true;
}

// A plain reading, called every second: not among the recorded calls.
uint64_t KestoSdkGetOsDropped(void) {
  return g_kit.os_dropped;
}

void KestoSdkGetRecordCounts(KestoRecordCounts* counts) {
  Record("KestoSdkGetRecordCounts");
  *counts = g_kit.record_counts;
}

namespace {

template <typename F>
void Register(F& slot, F cb, const char* setter, void* client_data) {
  slot = cb;
  Record(std::string(setter) + " " + Name(cb), client_data);
}

kesto_status Control(const char* command, uint32_t handle, int value,
                     KestoLidarAsyncControlCallback cb, void* client_data) {
  Record(std::string(command) + " " + std::to_string(handle) + " " + std::to_string(value) + " " +
             Name(cb),
         client_data);
  return g_kit.command_result;
}

}  // namespace

void SetPointCloudObserver(KestoLidarDataObserver cb, void* client_data) {
  Register(g_kit.point_observer, cb, "SetPointCloudObserver", client_data);
}

void SetImuDataObserver(KestoLidarDataObserver cb, void* client_data) {
  Register(g_kit.imu_observer, cb, "SetImuDataObserver", client_data);
}

void SetPushMessageObserver(KestoLidarPushMessageObserver cb, void* client_data) {
  Register(g_kit.push_observer, cb, "SetPushMessageObserver", client_data);
}

void SetInfoChangeObserver(KestoLidarInfoChangeObserver cb, void* client_data) {
  Register(g_kit.info_change_observer, cb, "SetInfoChangeObserver", client_data);
}

void SetLidarStateObserver(KestoLidarStateObserver cb, void* client_data) {
  Register(g_kit.state_observer, cb, "SetLidarStateObserver", client_data);
}

kesto_status RequestPointDataType(uint32_t handle, int data_type, KestoLidarAsyncControlCallback cb,
                                  void* client_data) {
  return Control("RequestPointDataType", handle, data_type, cb, client_data);
}

kesto_status RequestWorkMode(uint32_t handle, int work_mode, KestoLidarAsyncControlCallback cb,
                             void* client_data) {
  return Control("RequestWorkMode", handle, work_mode, cb, client_data);
}

kesto_status QueryKestoLidarInternalInfo(uint32_t handle, KestoLidarInternalInfoCallback cb,
                                         void* client_data) {
  Record("QueryKestoLidarInternalInfo " + std::to_string(handle) + " " + Name(cb), client_data);
  {
    std::lock_guard<std::mutex> lock(kesto::bridge::test::g_mutex);
    if (g_kit.failing_queries > 0) {
      --g_kit.failing_queries;
      return -9;
    }
  }
  if (g_kit.on_query) g_kit.on_query(handle, cb);
  return g_kit.command_result;
}
