// The kit's start and stop through its public entry points: refusals, a start from a
// configuration file on loopback, a stop, and a second start.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "kesto_lidar_sdk.h"
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

}  // namespace
