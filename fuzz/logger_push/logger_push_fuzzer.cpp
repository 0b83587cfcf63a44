// The log capture writes files named from what lidars send. Whatever a lidar sends (its serial
// number in the discovery reply, then any datagrams to the log port) no file may appear
// outside <lidar_log_path>/lidar_log/type_<n>/, and nothing may read outside a datagram.
//
// Input: 16 bytes of serial number (as the wire holds it, perhaps without a terminator), then
// records of [kind u8][length u16 LE][bytes]. An odd kind wraps the bytes as the payload of a
// valid log push frame (the fuzzer cannot forge the checksums), an even kind sends them as they
// are. Each input runs a private capture from Init to Uninit, which joins every writer.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "command_id.h"
#include "detection_data.h"
#include "lidar_identities.h"
#include "logger_manager.h"
#include "protocol_command.h"
#include "sdk_protocol.h"

namespace {

namespace fs = std::filesystem;
using kesto::lidar::LoggerCommandSender;

constexpr std::size_t kMaxDatagrams = 64;

void Require(bool condition) {
  if (!condition) std::abort();
}

class NullSender : public LoggerCommandSender {
 public:
  int32_t SendLoggerCommand(uint32_t, uint16_t, const uint8_t* data, uint16_t length,
                            KestoLidarLoggerCallback, void*) override {
    Require(length == 0 || data != nullptr);
    return 0;
  }
};

// The lidar directory as the capture sees it: one detected lidar, handle 1, with the serial
// number as the directory keeps it from a discovery reply (up to the first zero of 16 bytes).
class OneLidar : public kesto::lidar::LidarIdentities {
 public:
  explicit OneLidar(std::string serial_number) : serial_number_(std::move(serial_number)) {}
  bool SerialNumberOf(uint32_t handle, std::string& serial_number) const override {
    if (handle != 1) return false;
    serial_number = serial_number_;
    return true;
  }
  std::vector<uint32_t> DetectedLidars() const override { return {1}; }

 private:
  std::string serial_number_;
};

// <temp>/kesto_logger_fuzz_<n>/a/b is the configured path: an escape of one or two levels
// still lands inside the directory this target checks.
const fs::path& Root() {
  static const fs::path root = [] {
    std::random_device random;
    for (;;) {
      fs::path candidate =
          fs::temp_directory_path() / ("kesto_logger_fuzz_" + std::to_string(random()));
      std::error_code ec;
      if (fs::create_directory(candidate, ec)) {
        fs::create_directories(candidate / "a" / "b", ec);
        Require(!ec);
        return candidate;
      }
    }
  }();
  return root;
}

// The directory goes with the process (libFuzzer ends through exit()).
// Made after Root's own static, so it is destroyed first.
struct RemoveRootAtExit {
  RemoveRootAtExit() { Root(); }
  ~RemoveRootAtExit() {
    std::error_code ec;
    fs::remove_all(Root(), ec);
  }
};

bool IsTypeDirectory(const std::string& name) {
  if (name.rfind("type_", 0) != 0 || name.size() < 6 || name.size() > 8) return false;
  for (std::size_t i = 5; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return false;
  }
  return std::stoi(name.substr(5)) <= 255;
}

// Every entry under the root is one of a, a/b, a/b/lidar_log, a/b/lidar_log/type_<n>, or a
// regular file directly inside such a type directory.
void CheckTree() {
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(Root(), ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    std::vector<std::string> parts;
    for (const fs::path& part : fs::relative(it->path(), Root())) parts.push_back(part.string());
    const bool is_dir = it->is_directory();
    const bool ok = (parts.size() == 1 && parts[0] == "a" && is_dir) ||
                    (parts.size() == 2 && parts[1] == "b" && is_dir) ||
                    (parts.size() == 3 && parts[2] == "lidar_log" && is_dir) ||
                    (parts.size() == 4 && IsTypeDirectory(parts[3]) && is_dir) ||
                    (parts.size() == 5 && IsTypeDirectory(parts[3]) && it->is_regular_file());
    if (!ok) {
      std::fprintf(stderr, "outside the store: %s\n", it->path().string().c_str());
      std::abort();
    }
  }
  Require(!ec);
}

std::vector<uint8_t> Frame(const uint8_t* payload, uint16_t length) {
  kesto::lidar::ProtocolCommand command;
  command.seq = 1;
  command.cmd_id = kesto::lidar::kCmdIdLogFilePush;
  command.data = payload;
  command.data_len = length;
  std::vector<uint8_t> frame(kesto::lidar::kMaxFrameLength, 0);
  int frame_length = 0;
  if (kesto::lidar::SdkProtocol().EncodeFrame(frame.data(), static_cast<uint32_t>(frame.size()),
                                              frame_length, command) != 0) {
    return {};
  }
  frame.resize(static_cast<std::size_t>(frame_length));
  return frame;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Every rejected frame prints one line; millions of them would only slow the run down.
  Require(std::freopen("/dev/null", "w", stdout) != nullptr);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static RemoveRootAtExit remove_root_at_exit;
  if (size < kesto::lidar::kDetectionSnSize) return 0;
  kesto::lidar::DetectionData detection;
  std::memcpy(detection.sn, data, kesto::lidar::kDetectionSnSize);
  data += kesto::lidar::kDetectionSnSize;
  size -= kesto::lidar::kDetectionSnSize;

  auto cfg = std::make_shared<kesto::lidar::KestoLidarLoggerCfg>();
  cfg->lidar_log_enable = true;
  cfg->lidar_log_cache_size = 1;  // limits of 0: the last clean-up pass removes finished files
  cfg->lidar_log_path = (Root() / "a" / "b").string();
  NullSender sender;
  {
    const OneLidar lidar(detection.sn);
    kesto::lidar::LoggerManager manager(&lidar);
    Require(manager.Init(cfg, &sender));
    for (std::size_t n = 0; n < kMaxDatagrams && size >= 3; ++n) {
      const uint8_t kind = data[0];
      const std::size_t length =
          std::min<std::size_t>(static_cast<std::size_t>(data[1] | (data[2] << 8)), size - 3);
      // A copy of exactly the datagram's bytes, so a read past it is caught.
      std::vector<uint8_t> datagram(data + 3, data + 3 + length);
      data += 3 + length;
      size -= 3 + length;
      if ((kind & 1) != 0) {
        datagram = Frame(datagram.data(), static_cast<uint16_t>(length));
      }
      if (datagram.empty()) continue;
      const uint32_t handle = (kind & 2) != 0 ? 2 : 1;  // 2 is not a detected lidar
      manager.Handler(handle, 56500, datagram.data(), static_cast<uint32_t>(datagram.size()));
    }
    manager.Uninit();
  }
  CheckTree();
  std::error_code ec;
  fs::remove_all(Root() / "a" / "b" / "lidar_log", ec);
  return 0;
}
