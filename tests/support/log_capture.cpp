#include "log_capture.h"

#include <spdlog/sinks/base_sink.h>

#include "kit_log.h"

namespace kesto::test {

class LogCapture::Sink : public spdlog::sinks::base_sink<std::mutex> {
 public:
  std::vector<LoggedLine> Lines() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }
  void Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.clear();
  }

 protected:
  void sink_it_(const spdlog::details::log_msg& msg) override {
    lines_.push_back({msg.level, std::string(msg.payload.data(), msg.payload.size())});
  }
  void flush_() override {}

 private:
  std::vector<LoggedLine> lines_;  // guarded by base_sink's mutex_
};

LogCapture::LogCapture() : sink_(std::make_shared<Sink>()) {
  lidar::log::Setup();
  lidar::log::AttachSink(sink_);
}

LogCapture::~LogCapture() { lidar::log::DetachSink(sink_); }

std::vector<LoggedLine> LogCapture::Lines() const { return sink_->Lines(); }

std::vector<std::string> LogCapture::Texts() const {
  std::vector<std::string> texts;
  for (const auto& line : sink_->Lines()) texts.push_back(WithoutLocation(line.message));
  return texts;
}

std::size_t LogCapture::Count(const std::string& fragment) const {
  std::size_t n = 0;
  for (const auto& line : sink_->Lines()) {
    if (line.message.find(fragment) != std::string::npos) ++n;
  }
  return n;
}

void LogCapture::Clear() { sink_->Clear(); }

std::string WithoutLocation(const std::string& message) {
  // The suffix starts at the last "  [": its own fields are separated by "] [" with one space.
  const auto at = message.rfind("  [");
  return at == std::string::npos ? message : message.substr(0, at);
}

}  // namespace kesto::test
