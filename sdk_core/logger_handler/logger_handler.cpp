#include "logger_handler.h"

#include <chrono>
#include <exception>
#include <filesystem>
#include <system_error>
#include <utility>

#include "file_manager.h"
#include "guarded_call.h"
#include "kit_log.h"
#include "local_time.h"
#include "log_store_layout.h"

namespace kesto::lidar {

namespace {

// How long the writer lets pushes gather between two rounds.
constexpr std::chrono::milliseconds kWriterRound{100};

}  // namespace

LoggerHandler::LoggerHandler(std::string base_directory, const std::string& serial_number,
                             FileFinished on_file_finished)
    : base_directory_(std::move(base_directory)),
      serial_number_(SafeFileNamePart(serial_number)),
      on_file_finished_(std::move(on_file_finished)) {}

LoggerHandler::~LoggerHandler() { StopWriter(); }

bool LoggerHandler::StartWriter() {
  std::lock_guard<std::mutex> lock(writer_mutex_);
  if (writer_) return true;
  {
    std::lock_guard<std::mutex> queue_lock(queue_mutex_);
    quit_ = false;
  }
  try {
    writer_ = std::make_unique<std::thread>(&LoggerHandler::WriterThread, this);
  } catch (const std::exception& e) {
    KESTO_LOG_ERROR("Start log writer of {} failed: {}", serial_number_, e.what());
    return false;
  }
  return true;
}

void LoggerHandler::StoreLogBag(const LogFilePush& push, uint8_t op) {
  KESTO_LOG_INFO("Transform Data Length : {}", push.data_length);
  LogBag bag;
  bag.log_type = push.log_type;
  bag.op = op;
  bag.file_index = push.file_index;
  bag.data_length = push.data_length;
  bag.trans_index = push.trans_index;
  if (push.data != nullptr) bag.data.assign(push.data, push.data + push.data_length);

  std::lock_guard<std::mutex> lock(queue_mutex_);
  if (queued_bytes_ + bag.data.size() > kMaxQueuedBytes) {
    if (!overflowing_) {
      KESTO_LOG_WARN("Log queue of {} is full, pushes are dropped until it drains",
                     serial_number_);
    }
    overflowing_ = true;
    return;
  }
  queued_bytes_ += bag.data.size();
  queue_.push_back(std::move(bag));
}

void LoggerHandler::StopWriter() {
  std::lock_guard<std::mutex> lock(writer_mutex_);
  {
    std::lock_guard<std::mutex> queue_lock(queue_mutex_);
    quit_ = true;
  }
  queue_cv_.notify_all();
  if (writer_) {
    if (writer_->joinable()) writer_->join();
    writer_.reset();
  }
  for (auto& [log_type, state] : file_states_) {
    if (state.file) {
      state.file->close();
      state.file.reset();
    }
  }
}

void LoggerHandler::WriterThread() {
  const std::string round = "Log writer of " + serial_number_;
  // A round that throws loses the bags it had taken, one log line, and the writer goes on with
  // the next; only a failure outside the rounds ends the thread (with its own line).
  RunGuarded(round + " (thread)", [&] {
    std::unique_lock<std::mutex> lock(queue_mutex_);
    while (!quit_) {
      lock.unlock();
      RunGuarded(round, [this] { ProcessBags(); });
      lock.lock();
      queue_cv_.wait_for(lock, kWriterRound, [this] { return quit_.load(); });
    }
    lock.unlock();
    // Pushes that arrived before the stop still reach their files.
    RunGuarded(round, [this] { ProcessBags(); });
  });
}

void LoggerHandler::ProcessBags() {
  std::deque<LogBag> bags;
  {
    std::lock_guard<std::mutex> lock(queue_mutex_);
    bags.swap(queue_);
    queued_bytes_ = 0;
    overflowing_ = false;
  }
  for (LogBag& bag : bags) {
    LogFileState& state = file_states_[bag.log_type];
    if (bag.op == kLogBagStart) {
      CreateFileA(bag, state);
    } else if (bag.trans_index < state.trans_index) {
      // A late duplicate or reordered push: what it carries was superseded.
    } else if (bag.op == kLogBagEnd) {
      StopFile(bag, state);
    } else {
      WriteFile(bag, state);
    }
    bag.data = std::vector<uint8_t>();
  }
}

void LoggerHandler::CreateFileA(const LogBag& bag, LogFileState& state) {
  const std::string stamp = FormatLocalTimeStamp(std::chrono::system_clock::now());
  const std::string directory = LogTypeDirectory(base_directory_, bag.log_type);
  log_type_directories_[bag.log_type] = directory;
  if (!PathExists(directory) && !MakeDir(directory)) {
    KESTO_LOG_ERROR("Can't Create Dir {}", directory);
    return;
  }
  if (state.file) {
    if (state.trans_index + 1 != bag.trans_index) {
      KESTO_LOG_WARN("The terminal command to end the {}rd log file has been lost.",
                     state.file_index);
    }
    FinishFile(bag.log_type, state);
  }

  const std::string hidden_name =
      HiddenLogFileName(stamp, serial_number_, bag.log_type, bag.file_index);
  const std::string path = directory + "/" + hidden_name;
  KESTO_LOG_INFO("file path : {}", path);
  auto file = std::make_unique<std::ofstream>(std::filesystem::path(path),
                                              std::ios::binary | std::ios::app);
  if (file->is_open()) {
    state.file = std::move(file);
    state.write_failed = false;
    Append(state, bag.data);
  } else {
    KESTO_LOG_ERROR("Open log file {} failed", path);
    state.file.reset();
  }
  state.last_op = kLogBagStart;
  state.file_index = bag.file_index;
  state.trans_index = bag.trans_index;
  state.file_name = hidden_name;
  KESTO_LOG_INFO("Create File index: {}", bag.file_index);
}

void LoggerHandler::StopFile(const LogBag& bag, LogFileState& state) {
  if (state.last_op == kLogBagEnd && state.trans_index + 1 != bag.trans_index) {
    KESTO_LOG_ERROR(
        "There is an issue with the lidar firmware. Multiple terminal commands to close the log "
        "files with discontinuous trans_index.");
  }
  if (state.file) FinishFile(bag.log_type, state);
  state.file.reset();
  state.last_op = kLogBagEnd;
  state.trans_index = bag.trans_index;
}

void LoggerHandler::WriteFile(const LogBag& bag, LogFileState& state) {
  if (bag.file_index != state.file_index) {
    KESTO_LOG_WARN("Log Type: {}, File Index error: last file index: {}, current file index: {}",
                   bag.log_type, state.file_index, bag.file_index);
    return;
  }
  if (state.trans_index + 1 != bag.trans_index && bag.trans_index != 1) {
    KESTO_LOG_WARN("Log Type: {}, Trans Index error: last trans index: {}, current trans index: {}",
                   bag.log_type, state.trans_index, bag.trans_index);
  }
  if (!state.file) {
    KESTO_LOG_ERROR(
        "There is an issue with the lidar firmware, the starting file command is not sent from "
        "lidar. trans_index: {}",
        bag.trans_index);
  } else {
    Append(state, bag.data);
  }
  state.last_op = kLogBagData;
  state.trans_index = bag.trans_index;
}

void LoggerHandler::FinishFile(uint8_t log_type, LogFileState& state) {
  state.file->close();
  state.file.reset();
  if (ChangeCurrentFileName(log_type_directories_[log_type], state.file_name) &&
      on_file_finished_) {
    on_file_finished_();
  }
}

void LoggerHandler::Append(LogFileState& state, const std::vector<uint8_t>& data) {
  if (!data.empty()) {
    state.file->write(reinterpret_cast<const char*>(data.data()),
                      static_cast<std::streamsize>(data.size()));
  }
  state.file->flush();
  if (!*state.file && !state.write_failed) {
    state.write_failed = true;
    KESTO_LOG_ERROR("Write log file {} failed", state.file_name);
  }
}

}  // namespace kesto::lidar
