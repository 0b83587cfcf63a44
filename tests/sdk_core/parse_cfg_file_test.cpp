#include "parse_cfg_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "child_process.h"
#include "log_capture.h"

namespace kesto::lidar {
namespace {

using spdlog::level::err;
using spdlog::level::info;
using Line = std::pair<spdlog::level::level_enum, std::string>;

std::string ConfigPath(const std::string& name) {
  return std::string(KESTO_TEST_DATA_DIR) + "/config/" + name + ".json";
}

std::string Describe(const KestoLidarCfg& cfg) {
  const LidarNetInfo& l = cfg.lidar_net_info;
  const HostNetInfo& h = cfg.host_net_info;
  return std::to_string(cfg.dev_type) + " '" + cfg.lidar_ip + "' " + h.host_ip + " '" +
         h.multicast_ip + "' lidar " + std::to_string(l.cmd_data_port) + " " +
         std::to_string(l.push_msg_port) + " " + std::to_string(l.point_data_port) + " " +
         std::to_string(l.imu_data_port) + " " + std::to_string(l.log_data_port) + " host " +
         std::to_string(h.cmd_data_port) + " " + std::to_string(h.push_msg_port) + " " +
         std::to_string(h.point_data_port) + " " + std::to_string(h.imu_data_port) + " " +
         std::to_string(h.log_data_port);
}

// The four results as one text: framework and logger, then each entry of both lists.
std::string Describe(const LidarCfgList& lidars, const LidarCfgList& custom,
                     const KestoLidarLoggerCfg& logger, const KestoLidarSdkFrameworkCfg& sdk) {
  std::string text = "master=" + std::to_string(sdk.master_sdk) +
                     " log=" + std::to_string(logger.lidar_log_enable) + "," +
                     std::to_string(logger.lidar_log_cache_size) + "," + logger.lidar_log_path +
                     "\n";
  for (const auto& cfg : lidars) text += "model " + Describe(cfg) + "\n";
  for (const auto& cfg : custom) text += "custom " + Describe(cfg) + "\n";
  return text;
}

// The entries of data/config/good.json, and the variants the cases below make of them.
const std::string kVela =
    "10 '' 192.168.1.50 '224.1.1.5' lidar 56000 56001 57000 58000 59000 host 56010 56011 57001 "
    "58001 59001";
const std::string kOrbitOrbitPorts = "lidar 56100 56200 56300 56400 56500";
const std::string kOrbitFirstHost =
    "192.168.1.51 '' " + kOrbitOrbitPorts + " host 56110 56210 56310 56410 56510";
const std::string kOrbit10 = "9 '192.168.1.10' " + kOrbitFirstHost;
const std::string kOrbit11 = "9 '192.168.1.11' " + kOrbitFirstHost;
const std::string kOrbitModel = "9 '' 192.168.1.52 '' " + kOrbitOrbitPorts +
                                " host 56120 56220 56320 56420 56520";
const std::string kGoodLog = "master=1 log=1,500,./lidar_logs/\n";
const std::string kGoodTail = "model " + kOrbitModel + "\ncustom " + kOrbit10 + "\ncustom " +
                              kOrbit11 + "\n";
const std::string kGood = kGoodLog + "model " + kVela + "\n" + kGoodTail;

std::string VelaWith(const std::string& from, const std::string& to) {
  std::string vela = kVela;
  vela.replace(vela.find(from), from.size(), to);
  return kGoodLog + "model " + vela + "\n" + kGoodTail;
}

const Line kMaster{info, "set master/slave sdk to master sdk"};
const Line kLogCfg{info,
                   "Lidar log cfg, lidar_log_enable:true, lidar_log_cache_size_MB:500, "
                   "lidar_log_path:./lidar_logs/"};
const Line kParseError{err, "Parse lidar config failed, parse the config file has error!"};
const Line kOldCfg{err, "Parse vela lidar old cfg failed."};
const Line kNewCfg{err, "Parse vela lidar new cfg failed."};
const Line kLidarNet{err, "Parse vela lidar net info failed."};
const Line kHostNet{err, "Parse host net info failed."};

Line LidarPort(const std::string& port) {
  return {err, "Parse lidar net info failed, has not " + port + " member or " + port +
                   " is not uint."};
}
Line HostPort(const std::string& port) {
  return {err, "Parse host net info failed, has not " + port + " or " + port + " is not uint."};
}

struct ConfigCase {
  std::string name;  // data/config/<name>.json
  bool result;
  std::vector<Line> lines;
  std::string parsed;  // Describe() of the results, for a true result
};

std::ostream& operator<<(std::ostream& os, const ConfigCase& c) { return os << c.name; }

std::vector<ConfigCase> Cases() {
  const Line log_size{err,
                      "Parse json file failed, has not lidar_log_cache_size_MB member or "
                      "lidar_log_cache_size_MB is uint"};
  const Line log_path{err,
                      "Parse json file failed, has not lidar_log_path member or lidar_log_path "
                      "is uint"};
  const Line log_disable{info, "Kesto lidar logger disable."};
  const Line no_host_net{err,
                         "Parse lidar net info failed, has not host_net_info member or "
                         "host_net_info is not object or arry."};
  const Line no_lidar_net{err,
                          "Parse lidar net info failed, has not lidar_net_info member or "
                          "lidar_net_info is not object."};
  std::vector<ConfigCase> cases = {
      {"good", true, {kMaster, kLogCfg}, kGood},
      {"empty", false, {kParseError}, ""},
      {"trailing_comma", false, {kParseError}, ""},
      {"comment", false, {kParseError}, ""},
      {"text_after_root", false, {kParseError}, ""},
      {"root_array", false,
       {{err, "Parse lidar config failed, the config file root is not an object!"}}, ""},
      {"root_number", false,
       {{err, "Parse lidar config failed, the config file root is not an object!"}}, ""},
      {"only_braces", true,
       {{info, "set master/slave sdk to master sdk by default"}, log_disable},
       "master=1 log=0,0,./\n"},
      {"duplicate_key", true, {{info, "set master/slave sdk to slave sdk"}, log_disable},
       "master=0 log=0,0,./\n"},
      {"master_sdk_string", false, {{err, "set master/slave sdk error"}}, ""},
      {"master_sdk_false", true, {{info, "set master/slave sdk to slave sdk"}, kLogCfg},
       "master=0" + kGood.substr(kGood.find(' '))},
      {"master_sdk_absent", true,
       {{info, "set master/slave sdk to master sdk by default"}, kLogCfg}, kGood},
      {"log_enable_number", false, {kMaster, {err, "Lidar log enable data type is error"}}, ""},
      {"log_enable_false", true,
       {kMaster,
        {info,
         "Lidar log cfg, lidar_log_enable:false, lidar_log_cache_size_MB:500, "
         "lidar_log_path:./lidar_logs/"}},
       "master=1 log=0" + kGood.substr(kGood.find(','))},
      {"log_enable_false_without_size", false, {kMaster, log_size}, ""},
      {"log_size_negative", false, {kMaster, log_size}, ""},
      {"log_size_string", false, {kMaster, log_size}, ""},
      {"log_size_too_big", false, {kMaster, log_size}, ""},
      {"log_path_missing", false, {kMaster, log_path}, ""},
      {"log_path_number", false, {kMaster, log_path}, ""},
      {"log_disabled_path_number", true, {kMaster, log_disable},
       "master=1 log=0,0,./\n" + kGood.substr(kGoodLog.size())},
      {"log_disabled_path_string", true, {kMaster, log_disable},
       "master=1 log=0,0,/var/lidar/\n" + kGood.substr(kGoodLog.size())},
      {"vela_section_array", true, {kMaster, kLogCfg}, kGoodLog + kGoodTail},
      {"vela_section_string", true, {kMaster, kLogCfg}, kGoodLog + kGoodTail},
      {"host_net_info_missing", false, {kMaster, kLogCfg, no_host_net}, ""},
      {"host_net_info_string", false, {kMaster, kLogCfg, no_host_net}, ""},
      {"lidar_net_info_missing", false, {kMaster, kLogCfg, no_lidar_net, kLidarNet, kOldCfg}, ""},
      {"lidar_net_info_array", false, {kMaster, kLogCfg, no_lidar_net, kLidarNet, kOldCfg}, ""},
      {"lidar_port_65537", true, {kMaster, kLogCfg}, VelaWith("lidar 56000", "lidar 1")},
      {"lidar_port_minus_one", false,
       {kMaster, kLogCfg, LidarPort("imu_data_port"), kLidarNet, kOldCfg}, ""},
      {"host_port_65537", true, {kMaster, kLogCfg}, VelaWith("56011 57001", "56011 1")},
      {"host_port_minus_one", false,
       {kMaster, kLogCfg, HostPort("point_data_port"), kHostNet, kOldCfg}, ""},
      {"host_address_missing", false,
       {kMaster, kLogCfg, {err, "Parse host net info failed, has not host_ip or cmd_data_ip."},
        kHostNet, kOldCfg},
       ""},
      {"host_ip_number", false,
       {kMaster, kLogCfg, {err, "Parse host net info failed, host_ip is not string."}, kHostNet,
        kOldCfg},
       ""},
      {"cmd_data_ip_number", false,
       {kMaster, kLogCfg, {err, "Parse host net info failed, cmd_data_ip is not string."},
        kHostNet, kOldCfg},
       ""},
      {"host_ip_and_cmd_data_ip", true, {kMaster, kLogCfg}, kGood},
      {"cmd_data_ip_only", true, {kMaster, kLogCfg}, VelaWith("192.168.1.50", "10.0.0.1")},
      {"multicast_ip_number", false,
       {kMaster, kLogCfg,
        {err, "Parse host net info failed, has not multicast_ip or multicast_ip is not string."},
        kHostNet, kOldCfg},
       ""},
      {"multicast_ip_absent", true, {kMaster, kLogCfg}, VelaWith("'224.1.1.5'", "''")},
      {"old_form_lidar_ip_ignored", true, {kMaster, kLogCfg}, kGood},
      {"lidar_ip_item_number", false,
       {kMaster, kLogCfg,
        {err, "Parse lidar ip failed, has not lidar_ip member or lidar_ip is not object."},
        kNewCfg},
       ""},
      {"lidar_ip_single_string", true, {kMaster, kLogCfg},
       kGoodLog + "model " + kVela + "\nmodel 9 '' " + kOrbitFirstHost + "\nmodel " +
           kOrbitModel + "\n"},
      {"lidar_ip_empty_array", true, {kMaster, kLogCfg},
       kGoodLog + "model " + kVela + "\nmodel " + kOrbitModel + "\n"},
      {"host_net_info_empty_array", true, {kMaster, kLogCfg}, kGoodLog + "model " + kVela + "\n"},
      {"host_net_info_item_number", false,
       {kMaster, kLogCfg, {err, "Parse host net info failed, host_net_info item is not object."},
        kNewCfg},
       ""},
      {"new_form_host_port_missing", false,
       {kMaster, kLogCfg, HostPort("push_msg_port"), kHostNet, kNewCfg}, ""},
      {"new_form_lidar_port_missing", false,
       {kMaster, kLogCfg, LidarPort("log_data_port"), kLidarNet, kNewCfg}, ""},
      {"orbit_old_form", true, {kMaster, kLogCfg}, kGoodLog + "model " + kOrbitModel + "\n"},
  };
  for (const char* port :
       {"cmd_data_port", "push_msg_port", "point_data_port", "imu_data_port", "log_data_port"}) {
    for (const char* how : {"missing", "mistyped"}) {
      const std::string suffix = std::string(port) + "_" + how;
      cases.push_back({"lidar_" + suffix, false,
                       {kMaster, kLogCfg, LidarPort(port), kLidarNet, kOldCfg}, ""});
      cases.push_back(
          {"host_" + suffix, false, {kMaster, kLogCfg, HostPort(port), kHostNet, kOldCfg}, ""});
    }
  }
  return cases;
}

class ConfigFileTest : public ::testing::TestWithParam<ConfigCase> {};

// What parsing one file gave: the result, the log lines without their location, and Describe()
// of the outputs ("" unless all four were made).
struct Parsed {
  bool result = false;
  std::vector<Line> lines;
  std::string described;
};

Parsed ParseFile(const std::string& path) {
  test::LogCapture capture;
  std::shared_ptr<LidarCfgList> lidars, custom;
  std::shared_ptr<KestoLidarLoggerCfg> logger;
  std::shared_ptr<KestoLidarSdkFrameworkCfg> sdk;
  ConfigFileParser parser(path);
  Parsed parsed;
  parsed.result = parser.Parse(lidars, custom, logger, sdk);
  for (const auto& line : capture.Lines()) {
    parsed.lines.emplace_back(line.level, test::WithoutLocation(line.message));
  }
  if (lidars && custom && logger && sdk) parsed.described = Describe(*lidars, *custom, *logger, *sdk);
  return parsed;
}

TEST_P(ConfigFileTest, GivesItsResultAndExactlyItsLogLines) {
  const ConfigCase& c = GetParam();
  const Parsed parsed = ParseFile(ConfigPath(c.name));
  EXPECT_EQ(parsed.result, c.result);
  EXPECT_EQ(parsed.lines, c.lines);
  if (c.result) {
    EXPECT_EQ(parsed.described, c.parsed);
  }
}

INSTANTIATE_TEST_SUITE_P(Files, ConfigFileTest, ::testing::ValuesIn(Cases()),
                         [](const auto& test_case) { return test_case.param.name; });

TEST(ConfigFileParserTest, MissingFileFailsAtInfoLevelAndCreatesNothing) {
  test::LogCapture capture;
  std::shared_ptr<LidarCfgList> lidars;
  std::shared_ptr<LidarCfgList> custom;
  std::shared_ptr<KestoLidarLoggerCfg> logger;
  std::shared_ptr<KestoLidarSdkFrameworkCfg> sdk;
  ConfigFileParser parser(ConfigPath("no_such_file"));
  EXPECT_FALSE(parser.Parse(lidars, custom, logger, sdk));
  ASSERT_EQ(capture.Lines().size(), 1u);
  EXPECT_EQ(capture.Lines()[0].level, info);
  EXPECT_EQ(capture.Texts()[0], "Parse lidar config failed, can not open json config file!");
  EXPECT_FALSE(lidars || custom || logger || sdk);
}

// The framework and log settings are read as steps of Parse; the sections by their own helpers.
TEST(ConfigFileParserTest, MessagesNameTheOperationThatReportsThem) {
  const struct {
    std::string file;
    std::vector<std::string> functions;  // of each line, in order
  } cases[] = {
      {"lidar_push_msg_port_missing",
       {"Parse", "Parse", "ParseLidarNetInfo", "ParseTypeLidarCfg", "ParseLidarCfg"}},
      {"only_braces", {"Parse", "Parse"}},
      {"master_sdk_string", {"Parse"}},
      {"log_enable_number", {"Parse", "Parse"}},
      {"log_path_missing", {"Parse", "Parse"}},
      {"empty", {"Parse"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    test::LogCapture capture;
    std::shared_ptr<LidarCfgList> lidars, custom;
    std::shared_ptr<KestoLidarLoggerCfg> logger;
    std::shared_ptr<KestoLidarSdkFrameworkCfg> sdk;
    ConfigFileParser parser(ConfigPath(c.file));
    parser.Parse(lidars, custom, logger, sdk);
    std::vector<std::string> functions;
    for (const auto& line : capture.Lines()) {
      const std::string tag = "  [parse_cfg_file.cpp] [";
      const size_t at = line.message.find(tag);
      const size_t from = at == std::string::npos ? at : at + tag.size();
      functions.push_back(at == std::string::npos
                              ? line.message
                              : line.message.substr(from, line.message.find(']', from) - from));
    }
    EXPECT_EQ(functions, c.functions);
  }
}

// Nesting depth is bounded only by memory: a file of a million nested arrays is read without
// recursion and ends as a plain result, never as an overflowed stack.
TEST(ConfigFileParserTest, DeeplyNestedFilesGiveAResultNotACrash) {
  std::string good;
  {
    std::ifstream in(ConfigPath("good"), std::ios::binary);
    good.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  const std::string good_members = good.substr(good.find('{') + 1);
  const auto nested = [](size_t depth, bool closed) {
    return std::string(depth, '[') + (closed ? std::string(depth, ']') : std::string());
  };
  const Line not_object{err, "Parse lidar config failed, the config file root is not an object!"};
  const Line item{err, "Parse host net info failed, host_net_info item is not object."};
  const struct {
    const char* name;
    std::string text;
    bool result;
    std::vector<Line> lines;
  } cases[] = {
      {"unclosed", nested(1000000, false), false, {kParseError}},
      {"closed_root_array", nested(1000000, true), false, {not_object}},
      {"unclosed_inside_object", "{\"deep\": " + nested(1000000, false), false, {kParseError}},
      // A deep value under an unknown key is ignored like any other unknown member.
      {"deep_unknown_member", "{\"deep\": " + nested(1000000, true) + ", " + good_members, true,
       {kMaster, kLogCfg}},
      // Valid JSON of the wrong shape: the first "ORBIT" wins and its hosts are arrays.
      {"deep_host_list", "{\"ORBIT\": {\"host_net_info\": " + nested(100000, true) + "}, " +
                             good_members,
       false, {kMaster, kLogCfg, item, kNewCfg}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path =
        testing::TempDir() + test::UniqueName(std::string("kesto_nested_") + c.name) + ".json";
    {
      std::ofstream out(path, std::ios::binary);
      out << c.text;
      ASSERT_TRUE(out.good());
    }
    const Parsed parsed = ParseFile(path);
    EXPECT_EQ(parsed.result, c.result);
    EXPECT_EQ(parsed.lines, c.lines);
    if (c.result) {
      EXPECT_EQ(parsed.described, kGood);
    }
    std::remove(path.c_str());
  }
}

// A configuration larger than the stream's 32768-byte read buffer is read across refills. The
// file name carries the process id: other builds of this test may run at the same time.
TEST(ConfigFileParserTest, ReadsAFileLargerThanTheReadBuffer) {
  const std::string path = testing::TempDir() + test::UniqueName("kesto_large_config") + ".json";
  {
    std::ifstream good(ConfigPath("good"), std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(good)), std::istreambuf_iterator<char>());
    std::ofstream out(path, std::ios::binary);
    out << std::string(40000, ' ') << text;
  }
  const Parsed parsed = ParseFile(path);
  EXPECT_TRUE(parsed.result);
  EXPECT_EQ(parsed.described, kGood);
  std::remove(path.c_str());
}

}  // namespace
}  // namespace kesto::lidar
