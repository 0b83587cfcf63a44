#include "params_check.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "log_capture.h"
#include "parse_cfg_file.h"

namespace kesto::lidar {
namespace {

using spdlog::level::err;
using spdlog::level::info;
using Line = std::pair<spdlog::level::level_enum, std::string>;

std::vector<Line> Captured(const test::LogCapture& capture) {
  std::vector<Line> lines;
  for (const auto& line : capture.Lines()) {
    lines.emplace_back(line.level, test::WithoutLocation(line.message));
  }
  return lines;
}

KestoLidarCfg Entry(uint8_t dev_type, std::string lidar_ip, std::string multicast_ip = "") {
  KestoLidarCfg cfg;
  cfg.dev_type = dev_type;
  cfg.lidar_ip = std::move(lidar_ip);
  cfg.lidar_net_info = {56100, 56200, 56300, 56400, 56500};
  cfg.host_net_info.host_ip = "192.168.1.50";
  cfg.host_net_info.multicast_ip = std::move(multicast_ip);
  return cfg;
}

auto List(std::vector<KestoLidarCfg> entries) {
  return std::make_shared<LidarCfgList>(std::move(entries));
}

TEST(ConfigCheckerTest, BothListsAbsentFail) {
  test::LogCapture capture;
  EXPECT_FALSE(ConfigChecker(nullptr, nullptr).Check());
  EXPECT_EQ(Captured(capture),
            (std::vector<Line>{{err, "Params check failed, all params is nullptr."}}));
}

TEST(ConfigCheckerTest, EmptyListsFailAndAnAbsentListCountsAsEmpty) {
  for (auto custom : {List({}), std::shared_ptr<LidarCfgList>()}) {
    test::LogCapture capture;
    EXPECT_FALSE(ConfigChecker(List({}), custom).Check());
    EXPECT_EQ(Captured(capture),
              (std::vector<Line>{{err, "Params check failed, all kesto lidars config is empty."}}));
  }
}

TEST(ConfigCheckerTest, OnlyCustomEntriesPass) {
  test::LogCapture capture;
  EXPECT_TRUE(ConfigChecker(nullptr, List({Entry(10, "192.168.1.10")})).Check());
  EXPECT_EQ(Captured(capture),
            (std::vector<Line>{
                {info, "Lidar ip:192.168.1.10 point cloud data and IMU data unicast is enabled."}}));
}

struct AddressCase {
  const char* name;
  std::vector<KestoLidarCfg> lidars;
  std::vector<KestoLidarCfg> custom;
  Line line;
};

std::ostream& operator<<(std::ostream& os, const AddressCase& c) { return os << c.name; }

class LidarAddressTest : public ::testing::TestWithParam<AddressCase> {};

TEST_P(LidarAddressTest, FailsWithItsOneLine) {
  const AddressCase& c = GetParam();
  test::LogCapture capture;
  EXPECT_FALSE(ConfigChecker(List(c.lidars), List(c.custom)).Check());
  EXPECT_EQ(Captured(capture), std::vector<Line>{c.line});
}

INSTANTIATE_TEST_SUITE_P(
    Rules, LidarAddressTest,
    ::testing::Values(
        AddressCase{"TwoModelEntriesWithOneAddress",
                    {Entry(10, "192.168.1.10"), Entry(10, "192.168.1.10")},
                    {},
                    {err, "Params check failed, lidar ip conflict, the liar ip:192.168.1.10"}},
        AddressCase{"TwoCustomEntriesWithOneAddress",
                    {},
                    {Entry(10, "192.168.1.10"), Entry(9, "192.168.1.10")},
                    {err, "Params check failed, lidar ip conflict the lidar ip:192.168.1.10"}},
        AddressCase{"CustomEntryWithAModelEntrysAddress",
                    {Entry(10, "192.168.1.10")},
                    {Entry(10, "192.168.1.10")},
                    {err, "Params check failed, lidar ip conflict the lidar ip:192.168.1.10"}},
        AddressCase{"CustomEntryWithoutAddress",
                    {Entry(10, "")},
                    {Entry(10, "192.168.1.10"), Entry(10, "")},
                    {err, "Params check failed, custom lidar ipaddr is empty."}}),
    [](const auto& test_case) { return std::string(test_case.param.name); });

TEST(ConfigCheckerTest, AddressesAreComparedAsTexts) {
  test::LogCapture capture;
  EXPECT_TRUE(
      ConfigChecker(List({}), List({Entry(10, "192.168.1.5"), Entry(10, "192.168.1.05")})).Check());
}

TEST(ConfigCheckerTest, ModelEntriesWithoutAddressDoNotConflict) {
  test::LogCapture capture;
  EXPECT_TRUE(ConfigChecker(List({Entry(10, ""), Entry(9, "")}), List({})).Check());
}

// Every ORBIT lidar-side port that differs from its fixed value is logged and overwritten, in
// the order of LidarNetInfo; the check still passes.
TEST(ConfigCheckerTest, ForcesTheFixedOrbitPortsAndPasses) {
  auto lidars = List({Entry(9, "")});
  auto custom = List({Entry(9, "192.168.1.10")});
  (*lidars)[0].lidar_net_info = {56101, 56200, 56300, 56400, 56500};
  (*custom)[0].lidar_net_info = {1, 2, 3, 4, 5};
  (*custom)[0].host_net_info.cmd_data_port = 7;
  test::LogCapture capture;
  EXPECT_TRUE(ConfigChecker(lidars, custom).Check());
  EXPECT_EQ(Captured(capture),
            (std::vector<Line>{
                {err, "Orbit lidar command data port must be 56100"},
                {err, "Orbit lidar command data port must be 56100"},
                {err, "Orbit lidar push msg port must be 56200"},
                {err, "Orbit lidar point cloud port must be 56300"},
                {err, "Orbit lidar imu data port must be 56400"},
                {err, "Orbit lidar log port must be 56500"},
                {info, "Device type:9 point cloud data and IMU data unicast is enabled."},
                {info, "Lidar ip:192.168.1.10 point cloud data and IMU data unicast is enabled."},
            }));
  for (const auto& cfg : {(*lidars)[0], (*custom)[0]}) {
    EXPECT_EQ(cfg.lidar_net_info.cmd_data_port, 56100);
    EXPECT_EQ(cfg.lidar_net_info.push_msg_port, 56200);
    EXPECT_EQ(cfg.lidar_net_info.point_data_port, 56300);
    EXPECT_EQ(cfg.lidar_net_info.imu_data_port, 56400);
    EXPECT_EQ(cfg.lidar_net_info.log_data_port, 56500);
  }
  EXPECT_EQ((*custom)[0].host_net_info.cmd_data_port, 7) << "host ports are not touched";
}

TEST(ConfigCheckerTest, VelaPortsPassUnchanged) {
  auto lidars = List({Entry(10, "")});
  (*lidars)[0].lidar_net_info = {1, 2, 3, 4, 5};
  test::LogCapture capture;
  EXPECT_TRUE(ConfigChecker(lidars, List({})).Check());
  EXPECT_EQ(capture.Count("port must be"), 0u);
  EXPECT_EQ((*lidars)[0].lidar_net_info.cmd_data_port, 1);
  EXPECT_EQ((*lidars)[0].lidar_net_info.log_data_port, 5);
}

struct GroupCase {
  const char* group;
  bool valid;
};

std::ostream& operator<<(std::ostream& os, const GroupCase& c) { return os << c.group; }

class MulticastGroupTest : public ::testing::TestWithParam<GroupCase> {};

// The class-D range without 224.0.0.0, for a model entry and for a custom entry.
TEST_P(MulticastGroupTest, AcceptsTheMulticastRangeOnly) {
  const GroupCase& c = GetParam();
  {
    test::LogCapture capture;
    EXPECT_EQ(ConfigChecker(List({Entry(10, "", c.group)}), List({})).Check(), c.valid);
    const Line expected =
        c.valid ? Line{info, "Device type:10 point cloud and IMU data multicast ip:" +
                                 std::string(c.group)}
                : Line{err, "Params check failed, lidar multicast ip error:" + std::string(c.group)};
    EXPECT_EQ(Captured(capture), std::vector<Line>{expected});
  }
  {
    test::LogCapture capture;
    EXPECT_EQ(ConfigChecker(List({}), List({Entry(9, "192.168.1.10", c.group)})).Check(), c.valid);
    const Line expected =
        c.valid ? Line{info, "Lidar ip:192.168.1.10 point cloud and IMU data multicast ip:" +
                                 std::string(c.group)}
                : Line{err, "Params check failed, lidar multicast ip error:" + std::string(c.group)};
    EXPECT_EQ(Captured(capture), std::vector<Line>{expected});
  }
}

INSTANTIATE_TEST_SUITE_P(Groups, MulticastGroupTest,
                         ::testing::Values(GroupCase{"224.0.0.0", false},
                                           GroupCase{"224.0.0.1", true},
                                           GroupCase{"224.1.1.5", true},
                                           GroupCase{"239.255.255.255", true},
                                           GroupCase{"240.0.0.0", false},
                                           GroupCase{"240.0.0.1", false},
                                           GroupCase{"223.255.255.255", false},
                                           GroupCase{"192.168.1.5", false},
                                           GroupCase{"0.0.0.0", false},
                                           GroupCase{"255.255.255.255", false}),
                         [](const auto& test_case) {
                           std::string name = test_case.param.group;
                           for (char& c : name) c = c == '.' ? '_' : c;
                           return name;
                         });

// An unreadable group is reported by the conversion alone, and the check stops there.
TEST(ConfigCheckerTest, UnreadableGroupFailsWithTheConversionsLineOnly) {
  test::LogCapture capture;
  EXPECT_FALSE(ConfigChecker(List({Entry(10, "", "224.1.1"), Entry(10, "", "224.1.1.5")}),
                             List({}))
                   .Check());
  EXPECT_EQ(Captured(capture),
            (std::vector<Line>{{err,
                                "Build broadcast request failed, ip to u8 failed, the ip:224.1.1, "
                                "the val size:3"}}));
}

// The checks stop at the first failure: later info lines are not written.
TEST(ConfigCheckerTest, StopsAtTheFirstInvalidGroup) {
  test::LogCapture capture;
  EXPECT_FALSE(
      ConfigChecker(List({Entry(10, "", "10.0.0.1")}), List({Entry(10, "192.168.1.10")})).Check());
  EXPECT_EQ(Captured(capture),
            (std::vector<Line>{{err, "Params check failed, lidar multicast ip error:10.0.0.1"}}));
}

// The file the kit starts with, parsed and checked: the ORBIT command port is corrected.
TEST(ConfigCheckerTest, CorrectsAParsedOrbitSection) {
  std::shared_ptr<LidarCfgList> lidars, custom;
  std::shared_ptr<KestoLidarLoggerCfg> logger;
  std::shared_ptr<KestoLidarSdkFrameworkCfg> sdk;
  ASSERT_TRUE(ConfigFileParser(std::string(KESTO_TEST_DATA_DIR) +
                               "/config/orbit_cmd_port_off_by_one.json")
                  .Parse(lidars, custom, logger, sdk));
  test::LogCapture capture;
  EXPECT_TRUE(ConfigChecker(lidars, custom).Check());
  // One correction for each of the three ORBIT entries.
  EXPECT_EQ(capture.Count("Orbit lidar command data port must be 56100"), 3u);
  for (const auto* list : {lidars.get(), custom.get()}) {
    for (const auto& cfg : *list) {
      if (cfg.dev_type == 9) {
        EXPECT_EQ(cfg.lidar_net_info.cmd_data_port, 56100);
      }
    }
  }
  ASSERT_EQ(lidars->size(), 2u);
  EXPECT_EQ((*lidars)[0].lidar_net_info.cmd_data_port, 56000) << "VELA keeps its port";
}

}  // namespace
}  // namespace kesto::lidar
