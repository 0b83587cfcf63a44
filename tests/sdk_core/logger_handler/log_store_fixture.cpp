#include "log_store_fixture.h"

#include <algorithm>
#include <atomic>
#include <fstream>
#include <iterator>
#include <random>
#include <regex>

#include "little_endian.h"
#include "protocol_command.h"
#include "sdk_protocol.h"

namespace kesto::test {

TempDir::TempDir() {
  static std::atomic<unsigned> counter{0};
  std::random_device random;
  for (;;) {
    path_ = fs::temp_directory_path() / ("kesto_log_" + std::to_string(random()) + "_" +
                                         std::to_string(counter.fetch_add(1)));
    std::error_code ec;
    if (fs::create_directory(path_, ec)) break;
  }
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::vector<uint8_t> PushPayload(const PushFields& fields) {
  // Sized once: growing it by insert trips a false array-bounds warning of GCC 12.
  std::vector<uint8_t> payload(lidar::kLogFilePushHeaderSize + fields.data.size(), 0);
  payload[0] = fields.log_type;
  payload[1] = fields.file_index;
  payload[3] = fields.flags;
  StoreU32(payload.data() + 10, fields.trans_index);
  const int declared =
      fields.declared_length < 0 ? static_cast<int>(fields.data.size()) : fields.declared_length;
  StoreU16(payload.data() + 14, static_cast<uint16_t>(declared));
  std::copy(fields.data.begin(), fields.data.end(), payload.begin() + lidar::kLogFilePushHeaderSize);
  return payload;
}

std::vector<uint8_t> PushFrame(const PushFields& fields, uint16_t cmd_id) {
  const std::vector<uint8_t> payload = PushPayload(fields);
  lidar::ProtocolCommand command;
  command.seq = 7;
  command.cmd_id = cmd_id;
  command.data = payload.data();
  command.data_len = static_cast<uint16_t>(payload.size());
  std::vector<uint8_t> frame(lidar::kMaxFrameLength, 0);
  int length = 0;
  lidar::SdkProtocol().EncodeFrame(frame.data(), static_cast<uint32_t>(frame.size()), length,
                                   command);
  frame.resize(static_cast<size_t>(length));
  return frame;
}

lidar::LogFilePush Decoded(const std::vector<uint8_t>& payload) {
  lidar::LogFilePush push;
  lidar::DecodeLogFilePush(payload.data(), payload.size(), push);
  return push;
}

std::vector<uint8_t> Bytes(const std::string& text) {
  return std::vector<uint8_t>(text.begin(), text.end());
}

std::vector<uint8_t> ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary);
  out << content;
}

std::vector<std::string> FilesUnder(const fs::path& root) {
  std::vector<std::string> files;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_regular_file()) files.push_back(fs::relative(it->path(), root).generic_string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::vector<std::string> NamesIn(const fs::path& directory) {
  std::vector<std::string> names;
  std::error_code ec;
  for (auto it = fs::directory_iterator(directory, ec); !ec && it != fs::directory_iterator();
       it.increment(ec)) {
    if (it->is_regular_file()) names.push_back(it->path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool IsStampedName(const std::string& name, const std::string& suffix) {
  static const std::regex stamp("[0-9]{4}-[0-9]{2}-[0-9]{2}_[0-9]{2}-[0-9]{2}-[0-9]{2}");
  return name.size() == 19 + suffix.size() && std::regex_match(name.substr(0, 19), stamp) &&
         name.compare(19, std::string::npos, suffix) == 0;
}

int32_t FakeLoggerCommandSender::SendLoggerCommand(uint32_t handle, uint16_t command_id,
                                                   const uint8_t* data, uint16_t length,
                                                   KestoLidarLoggerCallback done,
                                                   void* client_data) {
  std::lock_guard<std::mutex> lock(mutex_);
  sent_.push_back({handle, command_id, std::vector<uint8_t>(data, data + length), done, client_data});
  return result_;
}

std::vector<FakeLoggerCommandSender::Sent> FakeLoggerCommandSender::sent() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sent_;
}

void FakeLoggerCommandSender::set_result(int32_t result) {
  std::lock_guard<std::mutex> lock(mutex_);
  result_ = result;
}

}  // namespace kesto::test
