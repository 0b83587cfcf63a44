#ifndef KESTO_TESTS_BRIDGE_FAKE_KIT_H_
#define KESTO_TESTS_BRIDGE_FAKE_KIT_H_

// A stand-in for the kit's entry points (include/kesto_lidar_sdk.h), linked into the bridge's
// tests in place of the kit. Every call is recorded as one line of text, with the callbacks named
// ("RequestWorkMode 16885952 1 WorkModeCallback"); the observers and the last completion of each
// command are kept so a test can call them as the kit would. Safe from any thread.

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "kesto_lidar_sdk.h"

namespace kesto::bridge::test {

struct FakeKit {
  // Behaviour, set by the test before the code under test runs.
  bool start_result = true;
  KestoRecordCounts record_counts{};  // what KestoSdkGetRecordCounts reports
  uint64_t os_dropped = 0;            // what KestoSdkGetOsDropped reports
  kesto_status command_result = 0;
  // The first this many calls of QueryKestoLidarInternalInfo return -9 (a failed send) without
  // calling on_query; the later ones return command_result.
  int failing_queries = 0;
  // Runs inside KestoSdkStart / KestoSdkStop / QueryKestoLidarInternalInfo, after the call is
  // recorded and without the fake's lock.
  std::function<void()> on_start;
  std::function<void()> on_stop;
  std::function<void(uint32_t handle, KestoLidarInternalInfoCallback cb)> on_query;

  // What the code under test registered.
  KestoLidarDataObserver point_observer = nullptr;
  KestoLidarDataObserver imu_observer = nullptr;
  KestoLidarPushMessageObserver push_observer = nullptr;
  KestoLidarInfoChangeObserver info_change_observer = nullptr;
  KestoLidarStateObserver state_observer = nullptr;
};

// Resets the fake to its defaults and forgets every call.
void ResetFakeKit();
// The fake's settings and registrations; change them only while nothing calls the kit.
FakeKit& Kit();
std::vector<std::string> KitCalls();
// The number of recorded calls that start with `prefix`.
std::size_t CountKitCalls(const std::string& prefix);
// Waits until `count` recorded calls start with `prefix`; false after the deadline.
bool WaitForKitCall(const std::string& prefix,
                    std::chrono::seconds deadline = std::chrono::seconds(30),
                    std::size_t count = 1);

}  // namespace kesto::bridge::test

#endif  // KESTO_TESTS_BRIDGE_FAKE_KIT_H_
