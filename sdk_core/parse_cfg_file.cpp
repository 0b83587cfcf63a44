#include "parse_cfg_file.h"

#include <rapidjson/document.h>
#include <rapidjson/filereadstream.h>

#include <cstdio>
#include <string_view>
#include <vector>

#include "kit_log.h"
#include "model_table.h"

// The framework and log-capture settings are steps of Parse, and their lines name it, whichever
// helper reads them.
#define PARSE_LOG(level, ...)                                                                  \
  ::kesto::lidar::log::Write(level, ::kesto::lidar::log::BaseName(__FILE__), "Parse", __LINE__, \
                             __VA_ARGS__)
#define PARSE_LOG_INFO(...) PARSE_LOG(::spdlog::level::info, __VA_ARGS__)
#define PARSE_LOG_ERROR(...) PARSE_LOG(::spdlog::level::err, __VA_ARGS__)

namespace kesto::lidar {
namespace {

constexpr size_t kReadBufferSize = 32768;

using Json = rapidjson::Value;

// The member `name` of an object, or null when absent (the first occurrence when repeated).
const Json* Member(const Json& object, std::string_view name) {
  const Json key(rapidjson::StringRef(name.data(), static_cast<rapidjson::SizeType>(name.size())));
  const auto it = object.FindMember(key);
  return it == object.MemberEnd() ? nullptr : &it->value;
}

// The five ports of LidarNetInfo or HostNetInfo in reading order, each with the message logged
// when it is missing or not an unsigned integer.
template <typename Info>
struct PortField {
  const char* key;
  uint16_t Info::*field;
  const char* missing;
};

constexpr PortField<LidarNetInfo> kLidarPorts[] = {
    {"cmd_data_port", &LidarNetInfo::cmd_data_port,
     "Parse lidar net info failed, has not cmd_data_port member or cmd_data_port is not uint."},
    {"push_msg_port", &LidarNetInfo::push_msg_port,
     "Parse lidar net info failed, has not push_msg_port member or push_msg_port is not uint."},
    {"point_data_port", &LidarNetInfo::point_data_port,
     "Parse lidar net info failed, has not point_data_port member or point_data_port is not uint."},
    {"imu_data_port", &LidarNetInfo::imu_data_port,
     "Parse lidar net info failed, has not imu_data_port member or imu_data_port is not uint."},
    {"log_data_port", &LidarNetInfo::log_data_port,
     "Parse lidar net info failed, has not log_data_port member or log_data_port is not uint."},
};

constexpr PortField<HostNetInfo> kHostPorts[] = {
    {"cmd_data_port", &HostNetInfo::cmd_data_port,
     "Parse host net info failed, has not cmd_data_port or cmd_data_port is not uint."},
    {"push_msg_port", &HostNetInfo::push_msg_port,
     "Parse host net info failed, has not push_msg_port or push_msg_port is not uint."},
    {"point_data_port", &HostNetInfo::point_data_port,
     "Parse host net info failed, has not point_data_port or point_data_port is not uint."},
    {"imu_data_port", &HostNetInfo::imu_data_port,
     "Parse host net info failed, has not imu_data_port or imu_data_port is not uint."},
    {"log_data_port", &HostNetInfo::log_data_port,
     "Parse host net info failed, has not log_data_port or log_data_port is not uint."},
};

// Reads the ports in order; a port is any unsigned integer that fits 32 bits, kept as its low 16
// bits. Returns the message of the first port that is missing or not such a number, else null.
template <typename Info, size_t N>
const char* ReadPorts(const Json& object, const PortField<Info> (&ports)[N], Info& info) {
  for (const PortField<Info>& port : ports) {
    const Json* value = Member(object, port.key);
    if (value == nullptr || !value->IsUint()) return port.missing;
    info.*port.field = static_cast<uint16_t>(value->GetUint() & 0xFFFFu);
  }
  return nullptr;
}

bool ParseLidarNetInfo(const Json& section, LidarNetInfo& info) {
  const Json* net = Member(section, "lidar_net_info");
  if (net == nullptr || !net->IsObject()) {
    KESTO_LOG_ERROR("Parse lidar net info failed, has not lidar_net_info member or lidar_net_info is not object.");
    return false;
  }
  if (const char* missing = ReadPorts(*net, kLidarPorts, info); missing != nullptr) {
    KESTO_LOG_ERROR("{}", missing);
    return false;
  }
  return true;
}

bool ParseHostNetInfo(const Json& host, HostNetInfo& info) {
  const Json* host_ip = Member(host, "host_ip");
  const Json* cmd_data_ip = Member(host, "cmd_data_ip");
  if (host_ip == nullptr && cmd_data_ip == nullptr) {
    KESTO_LOG_ERROR("Parse host net info failed, has not host_ip or cmd_data_ip.");
    return false;
  }
  if (host_ip != nullptr && !host_ip->IsString()) {
    KESTO_LOG_ERROR("Parse host net info failed, host_ip is not string.");
    return false;
  }
  if (cmd_data_ip != nullptr && !cmd_data_ip->IsString()) {
    KESTO_LOG_ERROR("Parse host net info failed, cmd_data_ip is not string.");
    return false;
  }
  // "host_ip" is the current name; "cmd_data_ip" is still read from older files.
  const Json* address = host_ip != nullptr ? host_ip : cmd_data_ip;
  info.host_ip.assign(address->GetString(), address->GetStringLength());

  if (const Json* multicast = Member(host, "multicast_ip"); multicast != nullptr) {
    if (!multicast->IsString()) {
      KESTO_LOG_ERROR("Parse host net info failed, has not multicast_ip or multicast_ip is not string.");
      return false;
    }
    info.multicast_ip.assign(multicast->GetString(), multicast->GetStringLength());
  } else {
    info.multicast_ip.clear();
  }

  if (const char* missing = ReadPorts(host, kHostPorts, info); missing != nullptr) {
    KESTO_LOG_ERROR("{}", missing);
    return false;
  }
  return true;
}

// One entry from the section's lidar-side ports and one host object.
bool ParseTypeLidarCfg(const Json& section, const Json& host, uint8_t dev_type,
                       KestoLidarCfg& cfg) {
  cfg.dev_type = dev_type;
  if (!ParseLidarNetInfo(section, cfg.lidar_net_info)) {
    KESTO_LOG_ERROR("Parse vela lidar net info failed.");
    return false;
  }
  if (!ParseHostNetInfo(host, cfg.host_net_info)) {
    KESTO_LOG_ERROR("Parse host net info failed.");
    return false;
  }
  return true;
}

// A section whose "host_net_info" is an array of host objects.
bool ParseNewLidarCfg(const Json& section, uint8_t dev_type, LidarCfgList& lidars_cfg,
                      LidarCfgList& custom_lidars_cfg) {
  const Json& hosts = *Member(section, "host_net_info");
  for (const Json& host : hosts.GetArray()) {
    if (!host.IsObject()) {
      KESTO_LOG_ERROR("Parse host net info failed, host_net_info item is not object.");
      return false;
    }
    const Json* lidar_ips = Member(host, "lidar_ip");
    if (lidar_ips != nullptr && lidar_ips->IsArray()) {
      for (const Json& lidar_ip : lidar_ips->GetArray()) {
        if (!lidar_ip.IsString()) {
          KESTO_LOG_ERROR("Parse lidar ip failed, has not lidar_ip member or lidar_ip is not object.");
          return false;
        }
        KestoLidarCfg cfg;
        cfg.lidar_ip.assign(lidar_ip.GetString(), lidar_ip.GetStringLength());
        if (!ParseTypeLidarCfg(section, host, dev_type, cfg)) return false;
        custom_lidars_cfg.push_back(std::move(cfg));
      }
    } else {
      KestoLidarCfg cfg;
      if (!ParseTypeLidarCfg(section, host, dev_type, cfg)) return false;
      lidars_cfg.push_back(std::move(cfg));
    }
  }
  return true;
}

bool ParseLidarCfg(const Json& section, uint8_t dev_type, LidarCfgList& lidars_cfg,
                   LidarCfgList& custom_lidars_cfg) {
  const Json* hosts = Member(section, "host_net_info");
  if (hosts != nullptr && hosts->IsArray()) {
    if (!ParseNewLidarCfg(section, dev_type, lidars_cfg, custom_lidars_cfg)) {
      KESTO_LOG_ERROR("Parse vela lidar new cfg failed.");
      return false;
    }
    return true;
  }
  if (hosts != nullptr && hosts->IsObject()) {
    KestoLidarCfg cfg;
    if (!ParseTypeLidarCfg(section, *hosts, dev_type, cfg)) {
      KESTO_LOG_ERROR("Parse vela lidar old cfg failed.");
      return false;
    }
    lidars_cfg.push_back(std::move(cfg));
    return true;
  }
  KESTO_LOG_ERROR("Parse lidar net info failed, has not host_net_info member or host_net_info is not object or arry.");
  return false;
}

bool ParseMasterSdk(const Json& root, KestoLidarSdkFrameworkCfg& framework) {
  const Json* master = Member(root, "master_sdk");
  if (master == nullptr) {
    framework.master_sdk = true;
    PARSE_LOG_INFO("set master/slave sdk to master sdk by default");
    return true;
  }
  if (!master->IsBool()) {
    PARSE_LOG_ERROR("set master/slave sdk error");
    return false;
  }
  framework.master_sdk = master->GetBool();
  if (framework.master_sdk) {
    PARSE_LOG_INFO("set master/slave sdk to master sdk");
  } else {
    PARSE_LOG_INFO("set master/slave sdk to slave sdk");
  }
  return true;
}

bool ParseLoggerCfg(const Json& root, KestoLidarLoggerCfg& logger) {
  const Json* enable = Member(root, "lidar_log_enable");
  const Json* path = Member(root, "lidar_log_path");
  if (enable == nullptr) {
    logger.lidar_log_enable = false;
    logger.lidar_log_cache_size = 0;
    logger.lidar_log_path = "./";
    if (path != nullptr && path->IsString()) {
      logger.lidar_log_path.assign(path->GetString(), path->GetStringLength());
    }
    PARSE_LOG_INFO("Kesto lidar logger disable.");
    return true;
  }
  if (!enable->IsBool()) {
    PARSE_LOG_ERROR("Lidar log enable data type is error");
    return false;
  }
  logger.lidar_log_enable = enable->GetBool();
  const Json* size = Member(root, "lidar_log_cache_size_MB");
  if (size == nullptr || !size->IsUint()) {
    PARSE_LOG_ERROR("Parse json file failed, has not lidar_log_cache_size_MB member or lidar_log_cache_size_MB is uint");
    return false;
  }
  logger.lidar_log_cache_size = size->GetUint();
  if (path == nullptr || !path->IsString()) {
    PARSE_LOG_ERROR("Parse json file failed, has not lidar_log_path member or lidar_log_path is uint");
    return false;
  }
  logger.lidar_log_path.assign(path->GetString(), path->GetStringLength());
  PARSE_LOG_INFO("Lidar log cfg, lidar_log_enable:{}, lidar_log_cache_size_MB:{}, lidar_log_path:{}",
                 logger.lidar_log_enable, logger.lidar_log_cache_size, logger.lidar_log_path);
  return true;
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

bool ConfigFileParser::Parse(std::shared_ptr<LidarCfgList>& lidars_cfg,
                             std::shared_ptr<LidarCfgList>& custom_lidars_cfg,
                             std::shared_ptr<KestoLidarLoggerCfg>& lidar_logger_cfg,
                             std::shared_ptr<KestoLidarSdkFrameworkCfg>& sdk_framework_cfg) {
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path_.c_str(), "rb"));
  if (!file) {
    KESTO_LOG_INFO("Parse lidar config failed, can not open json config file!");
    return false;
  }
  rapidjson::Document doc;
  {
    std::vector<char> read_buffer(kReadBufferSize);
    rapidjson::FileReadStream stream(file.get(), read_buffer.data(), read_buffer.size());
    // Iterative: the nesting depth lives on the heap, so no file can exhaust the thread's stack
    // (the recursive parse overflows it on deeply nested arrays). Same documents accepted.
    doc.ParseStream<rapidjson::kParseIterativeFlag>(stream);
  }
  // The whole text is in the document now; nothing below reads the file again.
  file.reset();
  if (doc.HasParseError()) {
    KESTO_LOG_ERROR("Parse lidar config failed, parse the config file has error!");
    return false;
  }
  if (!doc.IsObject()) {
    KESTO_LOG_ERROR("Parse lidar config failed, the config file root is not an object!");
    return false;
  }

  lidars_cfg = std::make_shared<LidarCfgList>();
  custom_lidars_cfg = std::make_shared<LidarCfgList>();
  lidar_logger_cfg = std::make_shared<KestoLidarLoggerCfg>();
  sdk_framework_cfg = std::make_shared<KestoLidarSdkFrameworkCfg>();

  if (!ParseMasterSdk(doc, *sdk_framework_cfg)) return false;
  if (!ParseLoggerCfg(doc, *lidar_logger_cfg)) return false;
  for (const LidarModel& model : kLidarModels) {
    if (model.name.empty()) continue;  // a model without a section of its own
    const Json* section = Member(doc, model.name);
    if (section == nullptr || !section->IsObject()) continue;
    const auto code = kLidarModelMap.find(std::string(model.name));
    if (code == kLidarModelMap.end()) continue;
    if (!ParseLidarCfg(*section, static_cast<uint8_t>(code->second), *lidars_cfg,
                       *custom_lidars_cfg)) {
      return false;
    }
  }
  return true;
}

}  // namespace kesto::lidar
