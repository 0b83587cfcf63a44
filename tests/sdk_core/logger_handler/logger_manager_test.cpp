#include "logger_manager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "log_capture.h"
#include "log_store_fixture.h"

namespace kesto::lidar {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using test::PushFields;

constexpr uint32_t kLidar = 0x0A01A8C0;  // 192.168.1.10
constexpr uint32_t kOtherLidar = 0x0B01A8C0;

// The lidars that answered discovery, as the lidar directory tells the capture: a lidar keeps
// the serial number of its first reply (at most 16 bytes from the wire).
class FakeLidars : public LidarIdentities {
 public:
  void Add(uint32_t handle, const std::string& serial_number) {
    std::lock_guard<std::mutex> lock(mutex_);
    serials_.emplace(handle, serial_number.substr(0, kDetectionSnSize));
  }
  bool SerialNumberOf(uint32_t handle, std::string& serial_number) const override {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = serials_.find(handle);
    if (it == serials_.end()) return false;
    serial_number = it->second;
    return true;
  }
  std::vector<uint32_t> DetectedLidars() const override {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<uint32_t> handles;
    for (const auto& [handle, serial] : serials_) handles.push_back(handle);
    return handles;
  }

 private:
  mutable std::mutex mutex_;
  std::map<uint32_t, std::string> serials_;
};

std::shared_ptr<KestoLidarLoggerCfg> Cfg(const std::string& path, uint64_t cache_mb = 200,
                                         bool enable = true) {
  auto cfg = std::make_shared<KestoLidarLoggerCfg>();
  cfg->lidar_log_enable = enable;
  cfg->lidar_log_cache_size = cache_mb;
  cfg->lidar_log_path = path;
  return cfg;
}

class LoggerManagerTest : public ::testing::Test {
 protected:
  void Feed(const PushFields& push, uint32_t handle = kLidar) {
    const std::vector<uint8_t> frame = test::PushFrame(push);
    manager_.Handler(handle, 56500, frame.data(), static_cast<uint32_t>(frame.size()));
  }
  void FeedFile(uint8_t type, uint8_t file, const std::string& data, uint32_t handle = kLidar) {
    Feed({type, file, kLogPushStartsFile, 1, Bytes(data)}, handle);
    Feed({type, file, kLogPushEndsFile, 2, {}}, handle);
  }
  fs::path Store() const { return dir_.path() / "lidar_log"; }

  test::TempDir dir_;
  test::LogCapture capture_;
  test::FakeLoggerCommandSender sender_;
  FakeLidars lidars_;
  LoggerManager manager_{&lidars_};
};

TEST_F(LoggerManagerTest, ConfigurationDecidesCaptureAndLimits) {
  struct Case {
    const char* what;
    bool enable;
    uint64_t cache_mb;
    bool enabled;
    uint64_t type0_mib, type1_mib;
  };
  const Case cases[] = {
      {"200 MB", true, 200, true, 150, 50},
      {"1000 MB", true, 1000, true, 800, 200},
      {"1 MB", true, 1, true, 0, 0},
      {"0 MB: off", true, 0, false, 150, 50},
      {"beyond 10^9 MB: off", true, 1000000001, false, 150, 50},
      {"disabled", false, 200, false, 150, 50},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::TempDir dir;
    LoggerManager manager;
    EXPECT_TRUE(manager.Init(Cfg(dir.text(), c.cache_mb, c.enable), &sender_));
    EXPECT_EQ(manager.IsEnabled(), c.enabled);
    EXPECT_EQ(manager.Limits().type0, c.type0_mib * 1048576);
    EXPECT_EQ(manager.Limits().type1, c.type1_mib * 1048576);
    EXPECT_EQ(fs::is_directory(dir.path() / "lidar_log"), c.enabled);
    EXPECT_FALSE(manager.Uninit());
    EXPECT_TRUE(manager.Uninit());
    EXPECT_FALSE(manager.IsEnabled());
  }
  EXPECT_TRUE(manager_.Init(nullptr, &sender_));
  EXPECT_FALSE(manager_.IsEnabled());
}

TEST_F(LoggerManagerTest, StoreDirectoryWithAndWithoutTheSlash) {
  for (const std::string& path : {dir_.text(), dir_.text() + "/"}) {
    LoggerManager manager;
    ASSERT_TRUE(manager.Init(Cfg(path), &sender_));
    EXPECT_EQ(manager.SavePath(), dir_.text() + "/lidar_log/");
    manager.Uninit();
  }
  EXPECT_EQ(test::FilesUnder(dir_.path()), std::vector<std::string>{});
  EXPECT_TRUE(fs::is_directory(Store()));
}

TEST_F(LoggerManagerTest, AnEmptyPathIsTheWorkingDirectory) {
  const fs::path before = fs::current_path();
  fs::current_path(dir_.path());
  const bool started = manager_.Init(Cfg(""), &sender_);
  const std::string save_path = manager_.SavePath();
  manager_.Uninit();
  fs::current_path(before);
  EXPECT_TRUE(started);
  EXPECT_EQ(save_path, "./lidar_log/");
  EXPECT_TRUE(fs::is_directory(Store()));
}

TEST_F(LoggerManagerTest, AStoreThatCannotBeMadeFailsInit) {
  const std::string missing = (dir_.path() / "missing").string();
  EXPECT_FALSE(manager_.Init(Cfg(missing), &sender_));
  EXPECT_FALSE(manager_.IsEnabled());
  EXPECT_EQ(capture_.Count("Can't Create Dir " + missing + "/lidar_log/"), 1u);
  EXPECT_EQ(capture_.Count("Init logger save path failed"), 1u);
}

TEST_F(LoggerManagerTest, RepliesOnlyWhenAsked) {
  ASSERT_TRUE(manager_.Init(Cfg(dir_.text()), &sender_));
  lidars_.Add(kLidar, "SN1");
  Feed({2, 9, kLogPushWantsReply | kLogPushStartsFile, 0x01020304, Bytes("a")});
  Feed({2, 9, 0x00, 0x01020305, Bytes("b")});
  Feed({2, 9, kLogPushWantsReply, 0x01020306, Bytes("c")});
  Feed({2, 9, kLogPushEndsFile, 0x01020307, {}});
  const auto sent = sender_.sent();
  ASSERT_EQ(sent.size(), 2u);
  for (const auto& s : sent) {
    EXPECT_EQ(s.handle, kLidar);
    EXPECT_EQ(s.command_id, 0x0300);
    EXPECT_EQ(s.done, nullptr);
  }
  EXPECT_EQ(sent[0].payload, (std::vector<uint8_t>{0x00, 0x02, 0x09, 0x04, 0x03, 0x02, 0x01}));
  EXPECT_EQ(sent[1].payload, (std::vector<uint8_t>{0x00, 0x02, 0x09, 0x06, 0x03, 0x02, 0x01}));
  manager_.Uninit();
  const std::vector<std::string> names = test::NamesIn(Store() / "type_2");
  ASSERT_EQ(names.size(), 1u);
  EXPECT_TRUE(test::IsStampedName(names[0], "_SN1_2_9.dat")) << names[0];
  EXPECT_EQ(test::ReadFile(Store() / "type_2" / names[0]), Bytes("abc"));
}

TEST_F(LoggerManagerTest, UninitStopsEveryKnownLidarOnce) {
  ASSERT_TRUE(manager_.Init(Cfg(dir_.text()), &sender_));
  lidars_.Add(kLidar, "SN1");
  lidars_.Add(kOtherLidar, "SN2");
  lidars_.Add(kLidar, "SN3");  // the first record stays
  FeedFile(0, 1, "x");
  EXPECT_FALSE(manager_.Uninit());
  EXPECT_TRUE(manager_.Uninit());
  const auto sent = sender_.sent();
  ASSERT_EQ(sent.size(), 2u);
  for (size_t i = 0; i < sent.size(); ++i) {
    EXPECT_EQ(sent[i].command_id, 0x0301);
    EXPECT_EQ(sent[i].payload, (std::vector<uint8_t>{0x00, 0x00}));
  }
  EXPECT_EQ(sent[0].handle, kLidar);
  EXPECT_EQ(sent[1].handle, kOtherLidar);
  ASSERT_EQ(test::NamesIn(Store() / "type_0").size(), 1u);
  EXPECT_TRUE(test::IsStampedName(test::NamesIn(Store() / "type_0")[0], "_SN1_0_1.dat"));
}

TEST_F(LoggerManagerTest, StopLoggerSendsTheStopCommandWithItsCompletion) {
  ASSERT_TRUE(manager_.Init(Cfg(dir_.text()), &sender_));
  auto done = [](kesto_status, uint32_t, KestoLidarLoggerResponse*, void*) {};
  int client = 0;
  sender_.set_result(-9);
  EXPECT_EQ(manager_.StopLogger(kLidar, 3, done, &client), -9);
  const auto sent = sender_.sent();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].command_id, 0x0301);
  EXPECT_EQ(sent[0].payload, (std::vector<uint8_t>{0x03, 0x00}));
  EXPECT_EQ(sent[0].client_data, &client);
  EXPECT_NE(sent[0].done, nullptr);
  EXPECT_EQ(capture_.Count("Stop Logger handler: " + std::to_string(kLidar) + ", log_type: 3"),
            1u);
}

TEST_F(LoggerManagerTest, LeftoverHiddenFilesAreFinishedAtInitAndOnlyInTheStore) {
  fs::create_directories(Store() / "type_0");
  test::WriteFile(Store() / "type_0" / ".2024-01-01_10-00-00_SN1_0_3.dat", "left");
  test::WriteFile(dir_.path() / ".user_file", "not ours");
  ASSERT_TRUE(manager_.Init(Cfg(dir_.text()), &sender_));
  EXPECT_EQ(test::FilesUnder(dir_.path()),
            (std::vector<std::string>{".user_file",
                                      "lidar_log/type_0/2024-01-01_10-00-00_SN1_0_3.dat"}));
  manager_.Uninit();
}

TEST_F(LoggerManagerTest, PushesThatCannotBeWritten) {
  ASSERT_TRUE(manager_.Init(Cfg(dir_.text()), &sender_));
  // No device record: the start is dropped, and so is what follows it.
  FeedFile(0, 1, "x", kOtherLidar);
  Feed({0, 1, 0, 3, Bytes("y")}, kOtherLidar);
  // Not a frame, another command, a head too short for a push.
  const uint8_t garbage[] = {1, 2, 3};
  manager_.Handler(kLidar, 56500, garbage, sizeof garbage);
  manager_.Handler(kLidar, 56500, nullptr, 10);
  const std::vector<uint8_t> other = test::PushFrame({0, 1, kLogPushStartsFile, 1, {}}, 0x0102);
  manager_.Handler(kLidar, 56500, other.data(), static_cast<uint32_t>(other.size()));
  manager_.Uninit();
  EXPECT_TRUE(test::FilesUnder(Store()).empty());
  EXPECT_EQ(capture_.Count("without a device record"), 1u);
  EXPECT_EQ(capture_.Count("LogType: 0 Stop! File doesn't create"), 1u);
  EXPECT_EQ(capture_.Count("LogType : 0 File doesn't create"), 1u);
  EXPECT_EQ(capture_.Count("Parse GeneralCommandHandler Command Stream failed."), 1u);
  EXPECT_TRUE(sender_.sent().empty());
}

TEST_F(LoggerManagerTest, DataLengthPastTheDatagramKeepsWhatArrived) {
  ASSERT_TRUE(manager_.Init(Cfg(dir_.text()), &sender_));
  lidars_.Add(kLidar, "SN1");
  Feed({0, 1, kLogPushStartsFile, 1, Bytes("head"), 60000});
  Feed({0, 1, 0, 2, Bytes("tail"), 5});
  Feed({0, 1, kLogPushEndsFile, 3, {}});
  manager_.Uninit();
  const std::vector<std::string> names = test::NamesIn(Store() / "type_0");
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(test::ReadFile(Store() / "type_0" / names[0]), Bytes("headtail"));
  EXPECT_EQ(capture_.Count("Log push data length 60000 runs past the datagram, 4 bytes kept"), 1u);
}

TEST_F(LoggerManagerTest, HostileSerialNumbersCannotLeaveTheStore) {
  // The configured path lies two levels down, so an escape of one or two levels would still be
  // seen in the temporary directory.
  const fs::path configured = dir_.path() / "a" / "b";
  fs::create_directories(configured);
  const std::string serials[] = {"../../x", "..\\..\\x", "a/b", "CON", "0123456789ABCDEF",
                                 std::string("\x01\n\t\x1b[0m", 7), "/etc/passwd", "C:\\x"};
  ASSERT_TRUE(manager_.Init(Cfg(configured.string()), &sender_));
  uint32_t handle = 1;
  for (const std::string& serial : serials) {
    lidars_.Add(handle, serial);
    // Distinct file indexes: two serial numbers may become the same safe text.
    FeedFile(0, static_cast<uint8_t>(handle), serial, handle);
    FeedFile(7, static_cast<uint8_t>(handle), serial, handle);
    ++handle;
  }
  manager_.Uninit();
  const std::vector<std::string> files = test::FilesUnder(dir_.path());
  EXPECT_EQ(files.size(), 2 * std::size(serials));
  for (const std::string& file : files) {
    const bool in_store = file.rfind("a/b/lidar_log/type_0/", 0) == 0 ||
                          file.rfind("a/b/lidar_log/type_7/", 0) == 0;
    EXPECT_TRUE(in_store) << file;
    EXPECT_EQ(file.find('/', 21), std::string::npos) << file;
  }
}

TEST_F(LoggerManagerTest, CleanUpSparesTheOpenFile) {
  // A cache of 1 MB gives limits of 0: every finished file of type_0 goes at the next pass.
  fs::create_directories(Store() / "type_0");
  test::WriteFile(Store() / "type_0" / "2024-01-01_10-00-00_OLD_0_1.dat", "old");
  ASSERT_TRUE(manager_.Init(Cfg(dir_.text(), 1), &sender_));
  lidars_.Add(kLidar, "SN1");
  Feed({0, 2, kLogPushStartsFile, 1, Bytes("open")});
  // The writer creates the file within a round; wait for it with a generous deadline.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (test::NamesIn(Store() / "type_0").size() < 2 &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_EQ(test::NamesIn(Store() / "type_0").size(), 2u);
  // Uninit's last pass runs before the writers stop, so the open file is still hidden then.
  manager_.Uninit();
  const std::vector<std::string> names = test::NamesIn(Store() / "type_0");
  ASSERT_EQ(names.size(), 1u);
  EXPECT_TRUE(test::IsStampedName(names[0], "_SN1_0_2.dat")) << names[0];
  EXPECT_EQ(test::ReadFile(Store() / "type_0" / names[0]), Bytes("open"));
}

TEST_F(LoggerManagerTest, StartsAgainAfterUninit) {
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    ASSERT_TRUE(manager_.Init(Cfg(dir_.text()), &sender_));
    EXPECT_TRUE(manager_.IsEnabled());
    lidars_.Add(kLidar, "SN1");
    FeedFile(round == 0 ? 0 : 1, 1, "r");
    EXPECT_FALSE(manager_.Uninit());
  }
  EXPECT_EQ(test::NamesIn(Store() / "type_0").size(), 1u);
  EXPECT_EQ(test::NamesIn(Store() / "type_1").size(), 1u);
  EXPECT_EQ(sender_.sent().size(), 2u);  // one stop per round
}

TEST_F(LoggerManagerTest, PushesRacingUninitLeaveNoWriterBehind) {
  ASSERT_TRUE(manager_.Init(Cfg(dir_.text()), &sender_));
  lidars_.Add(kLidar, "SN1");
  std::atomic<uint32_t> fed{0};
  std::thread io([this, &fed] {
    for (uint32_t i = 0; i < 200; ++i) {
      Feed({static_cast<uint8_t>(i % 3), 1, kLogPushStartsFile, 2 * i + 1, Bytes("s")});
      Feed({static_cast<uint8_t>(i % 3), 1, kLogPushEndsFile, 2 * i + 2, {}});
      fed.store(i + 1);
    }
  });
  // Uninit once some files are in (pushes that arrived before the stop reach their files), while
  // the rest still come.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (fed.load() < 3 && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  manager_.Uninit();
  io.join();
  ASSERT_GE(fed.load(), 3u);
  // Whatever was written before the stop is finished; nothing is left hidden or half made.
  const std::vector<std::string> files = test::FilesUnder(Store());
  EXPECT_FALSE(files.empty()) << "the files pushed before Uninit were not written";
  for (const std::string& file : files) {
    SCOPED_TRACE(file);
    const size_t slash = file.find('/');
    ASSERT_NE(slash, std::string::npos);
    const std::string type = file.substr(0, slash);
    ASSERT_TRUE(type == "type_0" || type == "type_1" || type == "type_2");
    EXPECT_TRUE(test::IsStampedName(file.substr(slash + 1), "_SN1_" + type.substr(5) + "_1.dat"));
    EXPECT_EQ(test::ReadFile(Store() / file), Bytes("s"));
  }
}

}  // namespace
}  // namespace kesto::lidar
