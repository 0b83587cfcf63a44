#include "build_request.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "log_capture.h"

namespace kesto::lidar {
namespace {

using Bytes = std::vector<uint8_t>;
using Builder = std::function<bool(RequestBuffer&, uint16_t&)>;

KestoLidarCfg Cfg(uint8_t dev_type, std::string host_ip, std::string multicast_ip = "") {
  KestoLidarCfg cfg;
  cfg.dev_type = dev_type;
  cfg.host_net_info.host_ip = std::move(host_ip);
  cfg.host_net_info.multicast_ip = std::move(multicast_ip);
  cfg.host_net_info.push_msg_port = 56201;
  cfg.host_net_info.point_data_port = 57001;
  cfg.host_net_info.imu_data_port = 58001;
  return cfg;
}

Builder Lidar(KestoLidarCfg cfg) {
  return [cfg](RequestBuffer& b, uint16_t& n) { return BuildUpdateLidarCfgRequest(cfg, b, n); };
}
Builder Orbit(KestoLidarCfg cfg) {
  return [cfg](RequestBuffer& b, uint16_t& n) {
    return BuildUpdateOrbitLidarCfgRequest(cfg, b, n);
  };
}
Builder View(uint8_t dev_type, std::string host_ip) {
  ViewLidarIpInfo info;
  info.dev_type = dev_type;
  info.host_ip = std::move(host_ip);
  info.host_point_data_port = 57001;
  info.lidar_point_data_port = 57000;
  info.host_imu_data_port = 58001;
  info.lidar_imu_data_port = 58000;
  return [info](RequestBuffer& b, uint16_t& n) { return BuildUpdateViewLidarCfgRequest(info, b, n); };
}

struct BuildCase {
  const char* name;
  Builder build;
  Bytes payload;  // the expected payload on success
};

std::ostream& operator<<(std::ostream& os, const BuildCase& c) { return os << c.name; }

class BuildRequestTest : public ::testing::TestWithParam<BuildCase> {};

TEST_P(BuildRequestTest, WritesThePayloadAndNothingElse) {
  const BuildCase& c = GetParam();
  test::LogCapture capture;
  RequestBuffer buffer{};
  uint16_t length = 0;
  ASSERT_TRUE(c.build(buffer, length));
  ASSERT_EQ(length, c.payload.size());
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + length), c.payload);
  for (size_t i = length; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], 0) << "byte " << i;
  EXPECT_TRUE(capture.Lines().empty());
}

const Bytes kHeader2 = {0x02, 0x00, 0x00, 0x00};
const Bytes kVelaUnicast = {0x02, 0x00, 0x00, 0x00,                                      //
                            0x06, 0x00, 0x08, 0x00, 0xC0, 0xA8, 0x01, 0x32, 0xA9, 0xDE, 0xA8, 0xDE,  //
                            0x07, 0x00, 0x08, 0x00, 0xC0, 0xA8, 0x01, 0x32, 0x91, 0xE2, 0x90, 0xE2};

INSTANTIATE_TEST_SUITE_P(
    Payloads, BuildRequestTest,
    ::testing::Values(
        BuildCase{"VelaUnicast", Lidar(Cfg(10, "192.168.1.50")), kVelaUnicast},
        BuildCase{"VelaMulticast", Lidar(Cfg(10, "192.168.1.50", "224.1.1.5")),
                  {0x02, 0x00, 0x00, 0x00,                                                  //
                   0x06, 0x00, 0x08, 0x00, 0xE0, 0x01, 0x01, 0x05, 0xA9, 0xDE, 0xA8, 0xDE,  //
                   0x07, 0x00, 0x08, 0x00, 0xE0, 0x01, 0x01, 0x05, 0x91, 0xE2, 0x90, 0xE2}},
        BuildCase{"OrbitThroughTheCommonBuilder", Lidar(Cfg(9, "192.168.1.50")),
                  {0x02, 0x00, 0x00, 0x00,                                                  //
                   0x06, 0x00, 0x08, 0x00, 0xC0, 0xA8, 0x01, 0x32, 0xA9, 0xDE, 0xEC, 0xDB,  //
                   0x07, 0x00, 0x08, 0x00, 0xC0, 0xA8, 0x01, 0x32, 0x91, 0xE2, 0x50, 0xDC}},
        BuildCase{"Type16HasNoImuEntry", Lidar(Cfg(16, "192.168.1.50")),
                  {0x01, 0x00, 0x00, 0x00,  //
                   0x06, 0x00, 0x08, 0x00, 0xC0, 0xA8, 0x01, 0x32, 0xA9, 0xDE, 0x10, 0x27}},
        BuildCase{"OrbitUnicast", Orbit(Cfg(9, "192.168.1.50")),
                  {0x03, 0x00, 0x00, 0x00,                                                  //
                   0x05, 0x00, 0x08, 0x00, 0xC0, 0xA8, 0x01, 0x32, 0x89, 0xDB, 0x88, 0xDB,  //
                   0x06, 0x00, 0x08, 0x00, 0xC0, 0xA8, 0x01, 0x32, 0xA9, 0xDE, 0xEC, 0xDB,  //
                   0x07, 0x00, 0x08, 0x00, 0xC0, 0xA8, 0x01, 0x32, 0x91, 0xE2, 0x50, 0xDC}},
        // With a group set, the state pushes go to the group too.
        BuildCase{"OrbitMulticast", Orbit(Cfg(9, "192.168.1.50", "239.0.0.9")),
                  {0x03, 0x00, 0x00, 0x00,                                                  //
                   0x05, 0x00, 0x08, 0x00, 0xEF, 0x00, 0x00, 0x09, 0x89, 0xDB, 0x88, 0xDB,  //
                   0x06, 0x00, 0x08, 0x00, 0xEF, 0x00, 0x00, 0x09, 0xA9, 0xDE, 0xEC, 0xDB,  //
                   0x07, 0x00, 0x08, 0x00, 0xEF, 0x00, 0x00, 0x09, 0x91, 0xE2, 0x50, 0xDC}},
        // The view builder has no multicast alternative and takes its ports as recorded.
        BuildCase{"ViewVela", View(10, "192.168.1.50"), kVelaUnicast},
        BuildCase{"ViewType16", View(16, "10.0.0.2"),
                  {0x01, 0x00, 0x00, 0x00,  //
                   0x06, 0x00, 0x08, 0x00, 0x0A, 0x00, 0x00, 0x02, 0xA9, 0xDE, 0xA8, 0xDE}}),
    [](const auto& test_case) { return std::string(test_case.param.name); });

struct FailCase {
  const char* name;
  Builder build;
  std::vector<std::string> lines;  // every logged text, in order
};

std::ostream& operator<<(std::ostream& os, const FailCase& c) { return os << c.name; }

class BuildRequestFailureTest : public ::testing::TestWithParam<FailCase> {};

TEST_P(BuildRequestFailureTest, FailsWithTheConversionsAndTheBuildersLine) {
  const FailCase& c = GetParam();
  test::LogCapture capture;
  RequestBuffer buffer{};
  uint16_t length = 0;
  EXPECT_FALSE(c.build(buffer, length));
  EXPECT_EQ(capture.Texts(), c.lines);
  for (const auto& line : capture.Lines()) EXPECT_EQ(line.level, spdlog::level::err);
}

std::string SizeLine(const std::string& ip, int size) {
  return "Build broadcast request failed, ip to u8 failed, the ip:" + ip +
         ", the val size:" + std::to_string(size);
}
std::string ValueLine(const std::string& ip, int value) {
  return "Build broadcast request failed, ip to u8 failed, the ip:" + ip +
         ", the fault val:" + std::to_string(value);
}
const std::string kFailed = "Build update lidar cfg request failed, ";

INSTANTIATE_TEST_SUITE_P(
    Failures, BuildRequestFailureTest,
    ::testing::Values(
        FailCase{"UnknownDeviceType", Lidar(Cfg(11, "192.168.1.50")),
                 {kFailed + "unknown the dev_type:11"}},
        FailCase{"BadHostAddress", Lidar(Cfg(10, "192.168.1")),
                 {SizeLine("192.168.1", 3), kFailed + "init pointcloud host ip addr failed."}},
        FailCase{"BadMulticastAddress", Lidar(Cfg(10, "192.168.1.50", "224.1.1.256")),
                 {ValueLine("224.1.1.256", 256),
                  kFailed + "init pointcloud multicast ip addr failed."}},
        FailCase{"OrbitBadHostBehindAGoodGroup", Orbit(Cfg(9, "192.168.1.300", "224.1.1.5")),
                 {ValueLine("192.168.1.300", 300), kFailed + "init host ip addr failed."}},
        FailCase{"OrbitBadHost", Orbit(Cfg(9, "")),
                 {SizeLine("", 0), kFailed + "init host ip addr failed."}},
        FailCase{"OrbitBadGroup", Orbit(Cfg(9, "192.168.1.50", "224.1.1")),
                 {SizeLine("224.1.1", 3), kFailed + "init pointcloud multicast ip addr failed."}},
        FailCase{"ViewBadHost", View(10, "192.168.1.50.1"),
                 {SizeLine("192.168.1.50.1", 5),
                  "Build update view lidar cfg request failed, init host ip addr failed."}}),
    [](const auto& test_case) { return std::string(test_case.param.name); });

}  // namespace
}  // namespace kesto::lidar
