#include "console_callbacks.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>

#include "console.h"
#include "handle_text.h"

namespace kesto::bridge {
namespace {

constexpr std::uint16_t kPointCloudHostKey = 6;  // "ponitcloud_host_ipcfg"
constexpr std::uint16_t kImuHostKey = 7;         // "imu_host_ipcfg"
constexpr std::size_t kEntriesOffset = offsetof(KestoLidarDiagInternalInfoResponse, data);
constexpr std::size_t kEntryHeader = 4;  // key u16, length u16
constexpr std::size_t kHostValueSize = 8;  // address, host port u16, lidar port u16

std::uint16_t LoadU16(const std::uint8_t* bytes) {
  return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
}

HostAddress ReadHostAddress(const std::uint8_t* value, std::size_t length) {
  std::uint8_t bytes[kHostValueSize] = {};
  std::memcpy(bytes, value, length < kHostValueSize ? length : kHostValueSize);
  HostAddress address;
  std::memcpy(address.ip, bytes, sizeof address.ip);
  address.host_port = LoadU16(bytes + 4);
  address.lidar_port = LoadU16(bytes + 6);
  return address;
}

void PrintControlResponse(const char* name, kesto_status status, std::uint32_t handle,
                          const KestoLidarAsyncControlResponse* response) {
  if (response == nullptr) return;
  const unsigned ret_code = response->ret_code;
  const unsigned error_key = response->error_key;
  // No line feed: consecutive completions share one console line.
  ConsolePrint("%s, status:%u, handle:%u, ret_code:%u, error_key:%u", name,
               static_cast<unsigned>(status), static_cast<unsigned>(handle), ret_code, error_key);
}

// The completion status of a datagram that could not be sent.
constexpr kesto_status kSendFailed = -9;

// The retry list (see RetryInternalInfoQueries). Written by the network threads and the main
// thread; the mutex is never held while the kit is called, since a completion may run inside
// the call and list the lidar again.
std::mutex g_retry_mutex;
std::set<std::uint32_t> g_retries;

void ListForRetry(std::uint32_t handle) {
  std::lock_guard<std::mutex> lock(g_retry_mutex);
  g_retries.insert(handle);
}

// True while this thread is inside QueryInternalInfo.
thread_local bool t_querying = false;

// Asks the lidar for its internal information. A failure inside the call lists the lidar for
// the next retry tick; asking again from inside the call would recurse for as long as sending
// fails.
void QueryInternalInfo(std::uint32_t handle) {
  if (t_querying) {
    ListForRetry(handle);
    return;
  }
  t_querying = true;
  const kesto_status result = QueryKestoLidarInternalInfo(handle, InternalInfoCallback, nullptr);
  t_querying = false;
  if (result != 0) ListForRetry(handle);
}

}  // namespace

InternalInfoHosts ReadInternalInfoHosts(const KestoLidarDiagInternalInfoResponse& response,
                                        std::size_t length) {
  InternalInfoHosts hosts;
  if (length < kEntriesOffset) return hosts;
  const auto* record = reinterpret_cast<const std::uint8_t*>(&response);
  const std::uint16_t param_num = LoadU16(record + 1);
  std::size_t at = kEntriesOffset;
  for (std::uint16_t i = 0; i < param_num; ++i) {
    if (length - at < kEntryHeader) break;
    const std::uint16_t key = LoadU16(record + at);
    const std::size_t value_length = LoadU16(record + at + 2);
    if (length - at - kEntryHeader < value_length) break;
    const std::uint8_t* value = record + at + kEntryHeader;
    if (key == kPointCloudHostKey) hosts.point_cloud = ReadHostAddress(value, value_length);
    if (key == kImuHostKey) hosts.imu = ReadHostAddress(value, value_length);
    at += kEntryHeader + value_length;
  }
  return hosts;
}

void RetryInternalInfoQueries() {
  std::set<std::uint32_t> due;
  {
    std::lock_guard<std::mutex> lock(g_retry_mutex);
    due.swap(g_retries);
  }
  for (const std::uint32_t handle : due) QueryInternalInfo(handle);
}

void ForgetInternalInfoRetries() {
  std::lock_guard<std::mutex> lock(g_retry_mutex);
  g_retries.clear();
}

std::vector<std::uint32_t> InternalInfoRetries() {
  std::lock_guard<std::mutex> lock(g_retry_mutex);
  return {g_retries.begin(), g_retries.end()};
}

}  // namespace kesto::bridge

using kesto::bridge::ConsolePrint;

void PushMessageCallback(uint32_t handle, uint8_t, const char* info, void*) {
  // One print, so the header and the text stay together among other threads' lines.
  ConsolePrint("handle: %u, ip: %s, push msg info: \n%s\n", static_cast<unsigned>(handle),
               kesto::lidar::HandleToText(handle).c_str(), info != nullptr ? info : "");
}

namespace {

// The serial number field is not trusted to hold its terminator.
int SerialLength(const KestoLidarIdentity& info) {
  const void* end = std::memchr(info.sn, '\0', sizeof info.sn);
  return static_cast<int>(end != nullptr ? static_cast<const char*>(end) - info.sn
                                         : sizeof info.sn);
}

}  // namespace

void LidarStateCallback(uint32_t handle, int state, const KestoLidarIdentity* identity, void*) {
  if (identity == nullptr) return;
  const char* what = state == kKestoLidarStateLost   ? "lost"
                     : state == kKestoLidarStateBack ? "is back"
                                                     : nullptr;
  if (what == nullptr) return;
  ConsolePrint("Lidar %.*s (%s) %s.\n", SerialLength(*identity), identity->sn,
               kesto::lidar::HandleToText(handle).c_str(), what);
}

void LidarInfoChangeCallback(uint32_t handle, const KestoLidarIdentity* info, void*) {
  if (info == nullptr) {
    ConsolePrint("lidar info change callback failed, the info is nullptr.\n");
    return;
  }
  const int sn_length = SerialLength(*info);
  ConsolePrint("LidarInfoChangeCallback Lidar handle: %u SN: %.*s\n",
               static_cast<unsigned>(handle), sn_length, info->sn);
  RequestWorkMode(handle, 1, WorkModeCallback, nullptr);
  RequestPointDataType(handle, 1, PclDataTypeCallback, nullptr);
  kesto::bridge::QueryInternalInfo(handle);
}

void WorkModeCallback(kesto_status status, uint32_t handle,
                      KestoLidarAsyncControlResponse* response, void*) {
  kesto::bridge::PrintControlResponse("WorkModeCallack", status, handle, response);
}

void PclDataTypeCallback(kesto_status status, uint32_t handle,
                         KestoLidarAsyncControlResponse* response, void*) {
  kesto::bridge::PrintControlResponse("PclDataTypeCallack", status, handle, response);
}

void InternalInfoCallback(kesto_status status, uint32_t handle,
                          KestoLidarDiagInternalInfoResponse* response, void*) {
  if (status != 0) {
    ConsolePrint("Query lidar internal info failed.\n");
    if (status == kesto::bridge::kSendFailed) {
      kesto::bridge::ListForRetry(handle);
    } else {
      kesto::bridge::QueryInternalInfo(handle);
    }
    return;
  }
  if (response == nullptr) return;
  const kesto::bridge::InternalInfoHosts hosts =
      kesto::bridge::ReadInternalInfoHosts(*response, kesto::bridge::kLengthVouchedByKit);
  const kesto::bridge::HostAddress& point = hosts.point_cloud;
  ConsolePrint(
      "Host point cloud ip addr:%s, host point cloud port:%u, lidar point cloud port:%u.\n",
      kesto::lidar::HandleToText(kesto::lidar::BytesToHandle(point.ip)).c_str(),
      point.host_port, point.lidar_port);
  const kesto::bridge::HostAddress& imu = hosts.imu;
  ConsolePrint("Host imu ip addr:%s, host imu port:%u, lidar imu port:%u.\n",
               kesto::lidar::HandleToText(kesto::lidar::BytesToHandle(imu.ip)).c_str(),
               imu.host_port, imu.lidar_port);
}
