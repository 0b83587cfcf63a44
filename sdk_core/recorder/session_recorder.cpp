#include "session_recorder.h"

#include <chrono>

#include "kit_log.h"
#include "little_endian.h"

namespace kesto::lidar {

namespace {
// How long a part-full batch may wait before it is written.
constexpr auto kWriteAtLeastEvery = std::chrono::milliseconds(100);
}  // namespace

SessionRecorder::~SessionRecorder() { Stop(); }

bool SessionRecorder::Start(const RecordOptions& options) {
  if (thread_.joinable()) {
    KESTO_LOG_ERROR("Recording to {} not started, a recording to {} runs.", options.path,
                    options_.path);
    return false;
  }
  options_ = options;
  broken_ = false;
  file_number_ = 0;
  unflushed_ = 0;
  files_ = 0;
  recorded_ = 0;
  if (!OpenFile()) return false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    pool_.clear();
    free_.clear();
    full_.clear();
    for (size_t i = 0; i < options_.batch_count; ++i) {
      auto batch = std::make_unique<Batch>();
      batch->bytes.resize(options_.batch_bytes);
      free_.push_back(batch.get());
      pool_.push_back(std::move(batch));
    }
    filling_ = nullptr;
    stopping_ = false;
    dropped_ = 0;
  }
  active_ = true;
  thread_ = std::thread([this] { Run(); });
  return true;
}

void SessionRecorder::Record(const capture::DatagramRecord& record) {
  if (!active()) return;
  const size_t size = capture::CaptureWriter::PacketBlockBytes(record.length);
  bool wake = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) return;
    if (broken_.load(std::memory_order_relaxed)) {
      ++dropped_;
      return;
    }
    if (size > options_.batch_bytes || record.length > capture::CaptureWriter::kMaxPayload) {
      ++dropped_;  // no batch can hold it
      return;
    }
    if (filling_ != nullptr && filling_->used + size > filling_->bytes.size()) {
      full_.push_back(filling_);
      filling_ = nullptr;
      wake = true;
    }
    Batch* batch = FillingLocked();
    if (batch == nullptr) {
      ++dropped_;
    } else {
      capture::CaptureWriter::EncodePacketBlock(record, ip_id_++, batch->bytes.data() + batch->used);
      batch->used += size;
      ++batch->datagrams;
    }
  }
  if (wake) ready_.notify_one();
}

SessionRecorder::Batch* SessionRecorder::FillingLocked() {
  if (filling_ == nullptr && !free_.empty()) {
    filling_ = free_.back();
    free_.pop_back();
  }
  return filling_;
}

void SessionRecorder::Stop() {
  if (!thread_.joinable()) return;
  active_ = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  ready_.notify_one();
  thread_.join();
  if (writer_.is_open() && !writer_.Close()) {
    KESTO_LOG_ERROR("Recording stopped: {}", writer_.error());
  }
}

RecordCounts SessionRecorder::counts() const {
  RecordCounts counts;
  counts.recorded = recorded_.load();
  counts.files = files_.load();
  std::lock_guard<std::mutex> lock(mutex_);
  counts.dropped = dropped_;
  return counts;
}

void SessionRecorder::Run() {
  std::vector<Batch*> taken;
  for (;;) {
    bool last = false;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      ready_.wait_for(lock, kWriteAtLeastEvery, [this] { return stopping_ || !full_.empty(); });
      taken.swap(full_);
      // A part-full batch is written when no full one waits, and at the stop.
      if ((taken.empty() || stopping_) && filling_ != nullptr && filling_->used != 0) {
        taken.push_back(filling_);
        filling_ = nullptr;
      }
      last = stopping_;
    }
    uint64_t lost = 0;
    for (Batch* batch : taken) lost += writer_.is_open() ? WriteBatch(*batch) : batch->datagrams;
    // Counted as recorded only once the file has them.
    if (unflushed_ != 0) {
      if (writer_.Flush()) {
        recorded_ += unflushed_;
      } else {
        WriteFailed();
        lost += unflushed_;
      }
      unflushed_ = 0;
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      dropped_ += lost;
      for (Batch* batch : taken) {
        batch->used = 0;
        batch->datagrams = 0;
        free_.push_back(batch);
      }
    }
    taken.clear();
    if (last) return;
  }
}

uint64_t SessionRecorder::WriteBatch(const Batch& batch) {
  const uint8_t* bytes = batch.bytes.data();
  size_t start = 0;
  size_t at = 0;
  uint64_t blocks = 0;  // in the run from `start` to `at`
  uint64_t taken = 0;   // datagrams of this batch handed to a file
  while (at < batch.used) {
    const size_t block = LoadU32(bytes + at + 4);
    const uint64_t file_bytes = writer_.bytes() + (at - start);
    // A file holds at least one packet, however small the limit.
    if (options_.max_file_bytes != 0 && file_bytes + block > options_.max_file_bytes &&
        (at > start || !file_fresh_)) {
      if (!writer_.WriteBlocks(bytes + start, at - start)) return Lost(batch, taken, true);
      unflushed_ += blocks;
      taken += blocks;
      // The closed file holds what was written to it.
      if (!OpenFile()) return Lost(batch, taken, false);  // logged there
      start = at;
      blocks = 0;
    }
    at += block;
    ++blocks;
  }
  if (!writer_.WriteBlocks(bytes + start, at - start)) return Lost(batch, taken, true);
  unflushed_ += blocks;
  file_fresh_ = false;
  return 0;
}

uint64_t SessionRecorder::Lost(const Batch& batch, uint64_t taken, bool log) {
  if (log) {
    WriteFailed();
  } else {
    broken_ = true;
  }
  // What the file had not yet made its own is lost with it.
  const uint64_t lost = batch.datagrams - taken + unflushed_;
  unflushed_ = 0;
  return lost;
}

bool SessionRecorder::WriteFailed() {
  KESTO_LOG_ERROR("Recording stopped: {}", writer_.error());
  broken_ = true;
  writer_.Close();
  return false;
}

bool SessionRecorder::OpenFile() {
  if (writer_.is_open()) {
    if (!writer_.Close()) {
      KESTO_LOG_ERROR("Recording stopped: {}", writer_.error());
      return false;
    }
    recorded_ += unflushed_;
    unflushed_ = 0;
  }
  const std::string path = FilePath(++file_number_);
  if (!writer_.Open(path, options_.application)) {
    KESTO_LOG_ERROR("Recording to {} failed: {}", path, writer_.error());
    return false;
  }
  file_fresh_ = true;
  ++files_;
  return true;
}

std::string SessionRecorder::FilePath(uint32_t number) const {
  if (number <= 1) return options_.path;
  const std::string& path = options_.path;
  const size_t slash = path.find_last_of("/\\");
  const size_t dot = path.find_last_of('.');
  const bool has_extension = dot != std::string::npos && dot != 0 &&
                             (slash == std::string::npos || dot > slash + 1);
  const std::string suffix = "-" + std::to_string(number);
  if (!has_extension) return path + suffix;
  return path.substr(0, dot) + suffix + path.substr(dot);
}

}  // namespace kesto::lidar
