#include "logger_manager.h"

#include <chrono>
#include <cstring>
#include <exception>
#include <filesystem>
#include <system_error>
#include <utility>
#include <vector>

#include "command_id.h"
#include "file_manager.h"
#include "guarded_call.h"
#include "kit_log.h"
#include "log_store_layout.h"
#include "parse_frame.h"
#include "protocol_command.h"
#include "sdk_protocol.h"

namespace kesto::lidar {

namespace {

// Without a pushed end of file, the store is still checked this often.
constexpr std::chrono::seconds kCleanupPeriod{600};
constexpr uint64_t kMaxCacheSizeMb = 1000000000;
constexpr int32_t kStatusSendFailed = -9;

}  // namespace

LoggerManager::LoggerManager(const LidarIdentities* lidars)
    : lidars_(lidars), codec_(std::make_unique<SdkProtocol>()) {}

LoggerManager::~LoggerManager() { Uninit(); }

bool LoggerManager::Init(std::shared_ptr<KestoLidarLoggerCfg> cfg, LoggerCommandSender* sender) {
  std::lock_guard<std::mutex> lock(lifecycle_mutex_);
  if (cleaner_) UninitLocked();  // a start that failed after this Init leaves capture running
  stopped_ = false;
  sender_ = sender;
  if (!cfg || !cfg->lidar_log_enable || cfg->lidar_log_cache_size < 1 ||
      cfg->lidar_log_cache_size > kMaxCacheSizeMb) {
    enabled_ = false;
    return true;
  }
  enabled_ = true;
  limits_ = ComputeLogStoreLimits(cfg->lidar_log_cache_size);
  if (!InitLoggerSavePath(cfg->lidar_log_path)) {
    KESTO_LOG_ERROR("Init logger save path failed");
    enabled_ = false;
    return false;
  }
  // Only the store's own files: the configured path may be a directory the user keeps other
  // hidden files in.
  if (!ChangeHiddenFiles(SavePath())) {
    KESTO_LOG_ERROR("Change hidden files to normal files failed");
  }
  {
    std::lock_guard<std::mutex> maps_lock(maps_mutex_);
    capturing_ = true;
  }
  {
    std::lock_guard<std::mutex> wake_lock(wake_mutex_);
    wake_ = false;
  }
  running_ = true;
  try {
    cleaner_ = std::make_unique<std::thread>(&LoggerManager::CycleDelete, this);
  } catch (const std::exception& e) {
    KESTO_LOG_ERROR("Start log clean-up thread failed: {}", e.what());
    running_ = false;
    std::lock_guard<std::mutex> maps_lock(maps_mutex_);
    capturing_ = false;
    enabled_ = false;
    return false;
  }
  return true;
}

bool LoggerManager::InitLoggerSavePath(const std::string& path) {
  const std::string directory = LogStoreDirectory(path);
  std::error_code ec;
  if (!std::filesystem::is_directory(std::filesystem::path(directory), ec) && !MakeDir(directory)) {
    KESTO_LOG_ERROR("Can't Create Dir {}", directory);
    return false;
  }
  std::lock_guard<std::mutex> lock(maps_mutex_);
  save_path_ = directory;
  return true;
}

void LoggerManager::Handler(uint32_t handle, uint16_t /*port*/, const uint8_t* buf, uint32_t size) {
  if (!enabled_ || buf == nullptr || size == 0) return;
  ProtocolCommand command;
  if (!ParseFrame(*codec_, buf, size, command)) {
    KESTO_LOG_INFO("Parse GeneralCommandHandler Command Stream failed.");
    return;
  }
  if (command.cmd_id != kCmdIdLogFilePush) return;
  LogFilePush push;
  if (!DecodeLogFilePush(command.data, command.data_len, push)) {
    KESTO_LOG_WARN("Log push of {} bytes is shorter than its head, dropped", command.data_len);
    return;
  }
  if (push.data_length < push.declared_length) {
    KESTO_LOG_WARN("Log push data length {} runs past the datagram, {} bytes kept",
                   push.declared_length, push.data_length);
  }
  if ((push.flags & kLogPushWantsReply) != 0) {
    const auto reply = EncodeLogPushReply(push);
    if (LoggerCommandSender* sender = sender_.load()) {
      sender->SendLoggerCommand(handle, kCmdIdLogFilePush, reply.data(),
                                static_cast<uint16_t>(reply.size()), nullptr, nullptr);
    }
  }
  if ((push.flags & kLogPushStartsFile) != 0) {
    OnLoggerStart(handle, push);
  } else if ((push.flags & kLogPushEndsFile) != 0) {
    OnLoggerStopped(handle, push);
  } else {
    OnLoggerTransfer(handle, push);
  }
}

void LoggerManager::OnLoggerStart(uint32_t handle, const LogFilePush& push) {
  std::shared_ptr<LoggerHandler> handler;
  {
    std::lock_guard<std::mutex> lock(maps_mutex_);
    if (!capturing_) return;
    const auto found = handlers_.find(handle);
    if (found != handlers_.end()) {
      handler = found->second;
    } else {
      std::string serial_number;
      if (lidars_ == nullptr || !lidars_->SerialNumberOf(handle, serial_number)) {
        KESTO_LOG_WARN("LogType: {} Start from a lidar without a device record ({}), dropped",
                       push.log_type, handle);
        return;
      }
      auto fresh = std::make_shared<LoggerHandler>(save_path_, serial_number,
                                                   [this] { WakeCycleDelete(); });
      if (!fresh->StartWriter()) return;
      handlers_.emplace(handle, fresh);
      handler = std::move(fresh);
    }
  }
  handler->StoreLogBag(push, kLogBagStart);
}

void LoggerManager::OnLoggerStopped(uint32_t handle, const LogFilePush& push) {
  const std::shared_ptr<LoggerHandler> handler = FindHandler(handle);
  if (!handler) {
    KESTO_LOG_INFO("LogType: {} Stop! File doesn't create", push.log_type);
    return;
  }
  handler->StoreLogBag(push, kLogBagEnd);
  WakeCycleDelete();
}

void LoggerManager::OnLoggerTransfer(uint32_t handle, const LogFilePush& push) {
  const std::shared_ptr<LoggerHandler> handler = FindHandler(handle);
  if (!handler) {
    KESTO_LOG_ERROR("LogType : {} File doesn't create", push.log_type);
    return;
  }
  handler->StoreLogBag(push, kLogBagData);
}

std::shared_ptr<LoggerHandler> LoggerManager::FindHandler(uint32_t handle) {
  std::lock_guard<std::mutex> lock(maps_mutex_);
  const auto found = handlers_.find(handle);
  return found == handlers_.end() ? nullptr : found->second;
}

void LoggerManager::WakeCycleDelete() {
  {
    std::lock_guard<std::mutex> lock(wake_mutex_);
    wake_ = true;
  }
  wake_cv_.notify_all();
}

void LoggerManager::CycleDelete() {
  // A pass that throws is logged and the next one runs on time; only a failure outside the
  // passes ends the thread (with its own line).
  RunGuarded("Log clean-up thread", [this] {
    const std::string base = SavePath();
    const std::string type0 = LogTypeDirectory(base, 0);
    const std::string type1 = LogTypeDirectory(base, 1);
    // The run flag is tested only here, so the wake-up of Uninit still gets one last pass.
    while (running_) {
      {
        std::unique_lock<std::mutex> lock(wake_mutex_);
        const auto deadline = std::chrono::steady_clock::now() + kCleanupPeriod;
        wake_cv_.wait_until(lock, deadline, [this] { return wake_; });
        // Cleared before the pass: a file finished during the pass wakes the next one.
        wake_ = false;
      }
      RunGuarded("Log clean-up pass", [&] {
        RunCleanupPass(type0, limits_.type0);
        RunCleanupPass(type1, limits_.type1);
      });
    }
  });
}

int32_t LoggerManager::StopLogger(uint32_t handle, uint8_t log_type, KestoLidarLoggerCallback done,
                                  void* client_data) {
  KESTO_LOG_INFO("Stop Logger handler: {}, log_type: {}", handle, log_type);
  LoggerCommandSender* sender = sender_.load();
  if (sender == nullptr) return kStatusSendFailed;
  const auto payload = EncodeLogStopCommand(log_type);
  return sender->SendLoggerCommand(handle, kCmdIdLogCaptureControl, payload.data(),
                                   static_cast<uint16_t>(payload.size()), done, client_data);
}

bool LoggerManager::Uninit() {
  std::lock_guard<std::mutex> lock(lifecycle_mutex_);
  return UninitLocked();
}

bool LoggerManager::UninitLocked() {
  if (stopped_) return true;
  running_ = false;
  WakeCycleDelete();
  if (cleaner_) {
    if (cleaner_->joinable()) cleaner_->join();
    cleaner_.reset();
  }

  std::map<uint32_t, std::shared_ptr<LoggerHandler>> handlers;
  std::vector<uint32_t> lidars;
  std::string save_path;
  {
    // From here on no push makes a new handler, so none is left running.
    std::lock_guard<std::mutex> maps_lock(maps_mutex_);
    capturing_ = false;
    handlers.swap(handlers_);
    save_path = save_path_;
  }
  for (auto& [handle, handler] : handlers) handler->StopWriter();
  handlers.clear();

  if (enabled_) {
    if (lidars_ != nullptr) lidars = lidars_->DetectedLidars();
    for (uint32_t handle : lidars) StopLogger(handle, 0, nullptr, nullptr);
    ChangeHiddenFiles(save_path);
  }
  enabled_ = false;
  return stopped_.exchange(true);
}

std::string LoggerManager::SavePath() const {
  std::lock_guard<std::mutex> lock(maps_mutex_);
  return save_path_;
}

LogStoreLimits LoggerManager::Limits() const {
  std::lock_guard<std::mutex> lock(lifecycle_mutex_);
  return limits_;
}

}  // namespace kesto::lidar
