#ifndef KESTO_LIDAR_SESSION_RECORDER_H_
#define KESTO_LIDAR_SESSION_RECORDER_H_

// The recording of a run: every datagram the kit exchanges with lidars, into pcapng capture
// files, without ever making an IO thread wait for the disk.
//
// The IO threads (and command senders) encode each datagram as a finished packet block into
// the batch being filled, under one short lock: one copy of the datagram, no allocation. Full
// batches go to the recording thread, which writes them out and hands them back. The batches
// are a fixed pool; when every one is full or being written, the datagram is left out of the
// recording (never out of the data path) and counted as dropped. A batch that is only part
// full is written within a tenth of a second, so a recording ends close to the moment the
// program stopped, however little traffic there was.
//
// With a size limit, a new file starts before the packet block that would pass it, named after
// the first with a number: "drive.pcapng", "drive-2.pcapng", "drive-3.pcapng", ...
//
// Threads: Start and Stop on the application thread; Record on any thread; the recording
// thread owns the files. A write the disk refuses ends the recording with one log line; the
// datagrams after it count as dropped.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "capture_writer.h"

namespace kesto::lidar {

struct RecordOptions {
  std::string path;
  uint64_t max_file_bytes = 0;  // 0: one file, however long
  std::string application = "kesto lidar kit";
  // Memory between the IO threads and the disk: batch_count batches of batch_bytes each.
  size_t batch_bytes = 1 << 20;
  size_t batch_count = 48;
};

struct RecordCounts {
  uint64_t recorded = 0;  // datagrams the files hold (written out and flushed)
  uint64_t dropped = 0;   // datagrams left out of the recording
  uint32_t files = 0;     // files started
};

class SessionRecorder {
 public:
  SessionRecorder() = default;
  // Stops: what was recorded is on disk afterwards.
  ~SessionRecorder();
  SessionRecorder(const SessionRecorder&) = delete;
  SessionRecorder& operator=(const SessionRecorder&) = delete;

  // Creates the first file and starts the recording thread. False, with one log line, when the
  // file cannot be created or a recording already runs.
  bool Start(const RecordOptions& options);
  // Whether Record records anything; a relaxed read, cheap on the receive path.
  bool active() const { return active_.load(std::memory_order_relaxed); }
  // One datagram, with the time it was received or sent. Any thread; never blocks on the disk.
  void Record(const capture::DatagramRecord& record);
  // Writes out what was recorded, closes the file and joins the recording thread. Idempotent.
  void Stop();
  RecordCounts counts() const;

 private:
  struct Batch {
    std::vector<uint8_t> bytes;
    size_t used = 0;
    uint64_t datagrams = 0;
  };

  void Run();
  // Writes one batch, starting new files at the size limit; the datagrams lost to a write or a
  // file the system refused. Recording thread.
  uint64_t WriteBatch(const Batch& batch);
  // After a failure inside `batch`, of which `taken` datagrams were handed to files: the
  // recording ends (with its one line when `log`; else it was logged where it failed) and
  // what no file made its own is lost.
  uint64_t Lost(const Batch& batch, uint64_t taken, bool log);
  // One log line; the recording ends. Recording thread.
  bool WriteFailed();
  bool OpenFile();
  std::string FilePath(uint32_t number) const;
  // The batch to fill, taken from the free ones when none is; null when none is free. mutex_ held.
  Batch* FillingLocked();

  RecordOptions options_;
  std::atomic<bool> active_{false};
  // Set by the recording thread when the disk refused a write: what is offered after that is
  // counted as dropped at once.
  std::atomic<bool> broken_{false};

  mutable std::mutex mutex_;
  std::condition_variable ready_;
  std::vector<std::unique_ptr<Batch>> pool_;  // every batch; fixed while recording
  std::vector<Batch*> free_;                  // guarded
  std::vector<Batch*> full_;                  // guarded; oldest first
  Batch* filling_ = nullptr;                  // guarded
  bool stopping_ = false;                     // guarded
  uint16_t ip_id_ = 0;                        // guarded
  uint64_t dropped_ = 0;                      // guarded
  std::atomic<uint64_t> recorded_{0};
  std::atomic<uint32_t> files_{0};

  // The recording thread's.
  capture::CaptureWriter writer_;
  uint32_t file_number_ = 0;
  bool file_fresh_ = false;  // the current file holds no packet yet
  uint64_t unflushed_ = 0;   // datagrams written to the current file, not yet flushed
  std::thread thread_;
};

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_SESSION_RECORDER_H_
