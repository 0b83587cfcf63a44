#ifndef KESTO_TESTS_LOG_STORE_FIXTURE_H_
#define KESTO_TESTS_LOG_STORE_FIXTURE_H_

// Helpers of the log capture's tests: a temporary directory per test, log pushes encoded with
// the kit's own codec, a recording command sender and a look at what landed on disk.

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "log_file_push.h"
#include "logger_command_sender.h"

namespace kesto::test {

namespace fs = std::filesystem;

// A fresh directory under the system's temporary directory, removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const fs::path& path() const { return path_; }
  // The path as text, without a trailing separator.
  std::string text() const { return path_.string(); }

 private:
  fs::path path_;
};

// One log push as a lidar sends it. `declared_length` < 0: the data's own length.
struct PushFields {
  uint8_t log_type = 0;
  uint8_t file_index = 0;
  uint8_t flags = 0;
  uint32_t trans_index = 0;
  std::vector<uint8_t> data;
  int declared_length = -1;
};

std::vector<uint8_t> PushPayload(const PushFields& fields);
// A whole command frame (0x0300 unless `cmd_id` says otherwise) carrying the payload.
std::vector<uint8_t> PushFrame(const PushFields& fields, uint16_t cmd_id = 0x0300);
// The payload decoded as the manager would, for feeding a handler directly. The returned push
// points into `payload`, which must outlive it.
lidar::LogFilePush Decoded(const std::vector<uint8_t>& payload);

std::vector<uint8_t> Bytes(const std::string& text);
std::vector<uint8_t> ReadFile(const fs::path& path);
void WriteFile(const fs::path& path, const std::string& content);
// Regular files under `root`, as paths relative to it with '/' separators, sorted.
std::vector<std::string> FilesUnder(const fs::path& root);
// Bare names of the regular files directly in `directory`, sorted.
std::vector<std::string> NamesIn(const fs::path& directory);
// True when `name` is "<19-character local time stamp>" followed by `suffix`.
bool IsStampedName(const std::string& name, const std::string& suffix);

// Records every command the log capture sends. Safe from any thread.
class FakeLoggerCommandSender : public lidar::LoggerCommandSender {
 public:
  struct Sent {
    uint32_t handle;
    uint16_t command_id;
    std::vector<uint8_t> payload;
    KestoLidarLoggerCallback done;
    void* client_data;
  };

  int32_t SendLoggerCommand(uint32_t handle, uint16_t command_id, const uint8_t* data,
                            uint16_t length, KestoLidarLoggerCallback done,
                            void* client_data) override;
  std::vector<Sent> sent() const;
  void set_result(int32_t result);

 private:
  mutable std::mutex mutex_;
  std::vector<Sent> sent_;
  int32_t result_ = 0;
};

}  // namespace kesto::test

#endif  // KESTO_TESTS_LOG_STORE_FIXTURE_H_
