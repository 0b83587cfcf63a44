#ifndef KESTO_LIDAR_LOGGER_HANDLER_H_
#define KESTO_LIDAR_LOGGER_HANDLER_H_

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "log_file_push.h"

namespace kesto::lidar {

// What a queued push asks the writer to do.
constexpr uint8_t kLogBagStart = 1;
constexpr uint8_t kLogBagEnd = 2;
constexpr uint8_t kLogBagData = 3;

// One queued push, with its own copy of the data (the datagram is gone by the time it is
// written).
struct LogBag {
  uint8_t log_type = 0;
  uint8_t op = 0;
  uint8_t file_index = 0;
  uint16_t data_length = 0;
  uint32_t trans_index = 0;
  std::vector<uint8_t> data;
};

// The file of one log type. Writer thread only (StopWriter: after the join).
struct LogFileState {
  uint8_t last_op = 0;
  uint8_t file_index = 0;
  uint32_t trans_index = 0;
  std::unique_ptr<std::ofstream> file;  // open under `file_name`, or null
  std::string file_name;                // the hidden name, without directory
  bool write_failed = false;            // reported once per file
};

// Writes the log files of one lidar: the logger manager hands it every push of that lidar, and
// its own writer thread applies them in arrival order. A start push opens a new file under its
// hidden name, data pushes append to it, an end push closes it and gives it its finished name.
// The sequence checks report pushes the lidar lost or sent out of order.
//
// Threads: StoreLogBag from any thread (the log channel's IO thread); StartWriter and
// StopWriter from the owner's thread; everything else on the writer thread. The queue mutex
// guards the queue, its byte count and the overflow flag, and is held only to append or to
// swap the queue out. The file states and log-type directories belong to the writer thread
// while it runs and to StopWriter after the join.
class LoggerHandler {
 public:
  // Called on the writer thread each time a file got its finished name.
  using FileFinished = std::function<void()>;

  // Bytes of data the queue holds at most; pushes beyond it are dropped (a flood of pushes
  // cannot grow the kit's memory without bound while the disk lags).
  static constexpr std::size_t kMaxQueuedBytes = 32u * 1024u * 1024u;

  // `base_directory`: the store, ending in "/". `serial_number` is the lidar's as it came from
  // the wire; only its SafeFileNamePart reaches a file name.
  LoggerHandler(std::string base_directory, const std::string& serial_number,
                FileFinished on_file_finished = {});
  ~LoggerHandler();
  LoggerHandler(const LoggerHandler&) = delete;
  LoggerHandler& operator=(const LoggerHandler&) = delete;

  // Starts the writer thread; false (logged) when it cannot be started.
  bool StartWriter();
  // Queues a copy of the push. `op`: kLogBagStart, kLogBagEnd or kLogBagData. Any thread.
  void StoreLogBag(const LogFilePush& push, uint8_t op);
  // Stops the writer once it has applied every bag queued so far, then closes the open files
  // without renaming them: they stay hidden until the manager renames the whole store.
  void StopWriter();

  const std::string& safe_serial_number() const { return serial_number_; }

 private:
  void WriterThread();
  void ProcessBags();
  void CreateFileA(const LogBag& bag, LogFileState& state);
  void StopFile(const LogBag& bag, LogFileState& state);
  void WriteFile(const LogBag& bag, LogFileState& state);
  // Closes the state's file and gives it its finished name.
  void FinishFile(uint8_t log_type, LogFileState& state);
  void Append(LogFileState& state, const std::vector<uint8_t>& data);

  const std::string base_directory_;
  const std::string serial_number_;  // already safe for a file name
  const FileFinished on_file_finished_;

  std::map<uint8_t, std::string> log_type_directories_;  // writer thread
  std::map<uint8_t, LogFileState> file_states_;          // writer thread

  std::mutex queue_mutex_;
  std::condition_variable queue_cv_;  // wakes the writer for a stop
  std::deque<LogBag> queue_;          // guarded by queue_mutex_
  std::size_t queued_bytes_ = 0;      // guarded by queue_mutex_
  bool overflowing_ = false;          // guarded by queue_mutex_
  std::atomic<bool> quit_{false};     // changed under queue_mutex_, so the writer cannot miss it

  std::mutex writer_mutex_;  // serialises StartWriter and StopWriter
  std::unique_ptr<std::thread> writer_;  // guarded by writer_mutex_
};

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_LOGGER_HANDLER_H_
