#ifndef KESTO_TESTS_LOG_CAPTURE_H_
#define KESTO_TESTS_LOG_CAPTURE_H_

#include <spdlog/common.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kesto::test {

// One line the kit logged: its level and the message (text with the "  [file] [function] [line]"
// suffix), without spdlog's time stamp and logger name.
struct LoggedLine {
  spdlog::level::level_enum level;
  std::string message;
};

// Captures the kit's log lines while it lives. Sets the kit log up (as the kit's start would) and
// attaches a sink beside the console, so what the console shows is unchanged.
class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::vector<LoggedLine> Lines() const;
  // Message texts without the location suffix, for exact comparisons.
  std::vector<std::string> Texts() const;
  // Number of captured lines whose message contains `fragment`.
  std::size_t Count(const std::string& fragment) const;
  void Clear();

 private:
  class Sink;
  std::shared_ptr<Sink> sink_;
};

// Strips the "  [file] [function] [line]" suffix from a logged message.
std::string WithoutLocation(const std::string& message);

}  // namespace kesto::test

#endif  // KESTO_TESTS_LOG_CAPTURE_H_
