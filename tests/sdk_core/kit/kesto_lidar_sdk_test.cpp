// The kit's start and stop through its public entry points: refusals, a start from a
// configuration file on loopback, a stop, and a second start.
#include <gtest/gtest.h>

#include <fstream>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "device_manager_fixture.h"
#include "handle_text.h"
#include "kesto_lidar_sdk.h"
#include "lidar_sim.h"
#include "log_capture.h"

namespace {

// One VELA section on 127.0.0.1; nothing here is sent beyond loopback (the tests run in a
// private network namespace).
constexpr char kLoopbackConfig[] = R"({
  "master_sdk": true,
  "lidar_log_enable": false,
  "lidar_log_cache_size_MB": 0,
  "lidar_log_path": "",
  "VELA": {
    "lidar_net_info": {"cmd_data_port": 56000, "push_msg_port": 56000, "point_data_port": 57000,
                       "imu_data_port": 58000, "log_data_port": 59000},
    "host_net_info": {"host_ip": "127.0.0.1", "cmd_data_port": 52001, "push_msg_port": 52002,
                      "point_data_port": 52003, "imu_data_port": 52004, "log_data_port": 52005}
  }
})";

std::string WriteFile(const std::string& name, const std::string& text) {
  const std::string path = ::testing::TempDir() + name;
  std::ofstream(path) << text;
  return path;
}

class KitLifecycleTest : public ::testing::Test {
 protected:
  ~KitLifecycleTest() override { KestoSdkStop(); }
  kesto::test::LogCapture log_;
};

TEST_F(KitLifecycleTest, StartsThatFail) {
  EXPECT_FALSE(KestoSdkStart(nullptr, nullptr, nullptr));
  EXPECT_FALSE(KestoSdkStart((::testing::TempDir() + "no_such_config.json").c_str(), nullptr,
                             nullptr));
  EXPECT_FALSE(KestoSdkStart(WriteFile("not_json.json", "{").c_str(), nullptr, nullptr));
  KestoSdkStop();  // after failed starts: nothing to undo
}

TEST_F(KitLifecycleTest, StartStopAndStartAgain) {
  const std::string path = WriteFile("loopback_config.json", kLoopbackConfig);
  ASSERT_TRUE(KestoSdkStart(path.c_str(), nullptr, nullptr));
  EXPECT_EQ(log_.Count("Init kesto lidars succ."), 1u);
  // A second start is refused at once: the file is not even read again.
  log_.Clear();
  EXPECT_FALSE(KestoSdkStart((::testing::TempDir() + "no_such_config.json").c_str(), nullptr,
                             nullptr));
  EXPECT_EQ(log_.Lines().size(), 0u);
  KestoSdkStop();
  KestoSdkStop();  // a stop when stopped does nothing

  kesto::test::LogCapture again;  // the stop shut the kit log down; the start sets it up anew
  ASSERT_TRUE(KestoSdkStart(path.c_str(), nullptr, nullptr));
  EXPECT_EQ(again.Count("Init kesto lidars succ."), 1u);
  KestoSdkStop();

  KestoLidarLoggerCfgInfo record{};
  ASSERT_TRUE(KestoSdkStart(nullptr, "127.0.0.1", &record));
  KestoSdkStop();
}

// What the application's observers and completions saw, from the kit's threads.
struct Seen {
  std::mutex mutex;
  std::vector<std::string> identities;
  int points = 0;
  int imu = 0;
  int pushes = 0;
  std::vector<kesto_status> completions;

  template <typename F>
  auto With(F f) {
    std::lock_guard<std::mutex> lock(mutex);
    return f();
  }
};

void OnInfo(uint32_t, const KestoLidarIdentity* info, void* cd) {
  auto* seen = static_cast<Seen*>(cd);
  seen->With([&] { seen->identities.push_back(std::string(info->sn) + "@" + info->lidar_ip); });
}
void OnPoints(uint32_t, uint8_t, const KestoLidarEthernetPacket*, void* cd) {
  auto* seen = static_cast<Seen*>(cd);
  seen->With([&] { ++seen->points; });
}
void OnImu(uint32_t, uint8_t, const KestoLidarEthernetPacket*, void* cd) {
  auto* seen = static_cast<Seen*>(cd);
  seen->With([&] { ++seen->imu; });
}
void OnPush(uint32_t, uint8_t, const char*, void* cd) {
  auto* seen = static_cast<Seen*>(cd);
  seen->With([&] { ++seen->pushes; });
}
void OnControl(kesto_status status, uint32_t, KestoLidarAsyncControlResponse*, void* cd) {
  auto* seen = static_cast<Seen*>(cd);
  seen->With([&] { seen->completions.push_back(status); });
}
void OnInternalInfo(kesto_status status, uint32_t, KestoLidarDiagInternalInfoResponse*, void* cd) {
  auto* seen = static_cast<Seen*>(cd);
  seen->With([&] { seen->completions.push_back(status); });
}

// Observers set before the start reach the kit the start creates; the commands reach the
// running kit, and after the stop there is no kit to reach.
TEST_F(KitLifecycleTest, ObserversAndCommandsReachTheRunningKit) {
  using kesto::lidar::test::LoopbackSendersAreDistinct;
  using kesto::lidar::test::WaitFor;
  if (!LoopbackSendersAreDistinct()) GTEST_SKIP() << kesto::lidar::test::kSameSenderNote;
  Seen seen;
  SetInfoChangeObserver(OnInfo, &seen);
  SetPointCloudObserver(OnPoints, &seen);
  SetImuDataObserver(OnImu, &seen);
  SetPushMessageObserver(OnPush, &seen);
  kesto::lidar_sim::SimOptions options;
  options.lidars = {{kesto::lidar_sim::Model::kVela, "127.0.0.2", "VELA-K"}};
  options.point_rate = 200;
  options.imu_rate = 50;
  options.stream_seconds = 60;
  kesto::lidar_sim::Simulator emulator(options);
  ASSERT_TRUE(emulator.Start());
  const std::string path = WriteFile("loopback_config.json", kLoopbackConfig);
  ASSERT_TRUE(KestoSdkStart(path.c_str(), nullptr, nullptr));

  const uint32_t lidar = kesto::lidar::TextToHandle("127.0.0.2");
  ASSERT_TRUE(WaitFor([&] { return seen.With([&] { return !seen.identities.empty(); }); },
                      std::chrono::seconds(20)));
  EXPECT_EQ(seen.With([&] { return seen.identities; }),
            std::vector<std::string>{"VELA-K@127.0.0.2"});
  EXPECT_EQ(RequestWorkMode(lidar, 1, OnControl, &seen), 0);
  EXPECT_EQ(QueryKestoLidarInternalInfo(lidar, OnInternalInfo, &seen), 0);
  ASSERT_TRUE(WaitFor([&] {
    return seen.With([&] {
      return seen.completions.size() == 2 && seen.points > 0 && seen.imu > 0 && seen.pushes > 0;
    });
  }));
  EXPECT_EQ(seen.With([&] { return seen.completions; }), (std::vector<kesto_status>{0, 0}));

  const uint32_t stranger = kesto::lidar::TextToHandle("127.0.0.9");
  EXPECT_EQ(RequestWorkMode(stranger, 1, OnControl, &seen), -9);
  EXPECT_EQ(QueryKestoLidarInternalInfo(stranger, OnInternalInfo, &seen), -7);
  KestoSdkStop();
  EXPECT_EQ(RequestPointDataType(lidar, 1, OnControl, &seen), -9);
  EXPECT_EQ(QueryKestoLidarInternalInfo(lidar, OnInternalInfo, &seen), -7);
  EXPECT_EQ(seen.With([&] { return seen.completions.size(); }), 2u) << "refusals never complete";

  // A new start: the push-message observer is the one a stop keeps; the others were cleared.
  const auto [identities, points, pushes] =
      seen.With([&] { return std::make_tuple(seen.identities.size(), seen.points, seen.pushes); });
  ASSERT_TRUE(KestoSdkStart(path.c_str(), nullptr, nullptr));
  ASSERT_TRUE(WaitFor([&] { return seen.With([&] { return seen.pushes > pushes; }); },
                      std::chrono::seconds(20)));
  KestoSdkStop();
  EXPECT_EQ(seen.With([&] { return seen.identities.size(); }), identities);
  EXPECT_EQ(seen.With([&] { return seen.points; }), points);
  SetPushMessageObserver(nullptr, nullptr);
}

}  // namespace
