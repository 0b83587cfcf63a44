#ifndef KESTO_LIDAR_KIT_LOG_H_
#define KESTO_LIDAR_KIT_LOG_H_

// The kit's diagnostic log. Every component logs through KESTO_LOG_INFO / _WARN / _ERROR, which
// write the message text (with its "{}" arguments) followed by
//   "  [" file base name "] [" function "] [" line "]"
// to the logger "console" at that level. Safe from any thread.

#include <spdlog/logger.h>
#include <spdlog/sinks/sink.h>

#include <iterator>
#include <memory>
#include <string_view>
#include <utility>

namespace kesto::lidar::log {

// Creates (or finds in spdlog's registry) the logger "console" over a colour console sink to
// standard output, level debug, flushed after every message. Application thread, at kit start.
void Setup();
// Removes the kit logger from spdlog's registry, and only that one: the host program's own
// loggers stay registered. The kit logger itself stays usable, so threads still ending may go on
// logging; the next Setup creates a fresh one. Application thread.
void Drop();
// The kit logger, or null before the first Setup. Messages issued before any Setup are dropped.
std::shared_ptr<spdlog::logger> Logger();

// Extra sinks that every kit logger also writes to, beside the console (tests attach a capturing
// sink here). Safe from any thread.
void AttachSink(std::shared_ptr<spdlog::sinks::sink> sink);
void DetachSink(const std::shared_ptr<spdlog::sinks::sink>& sink);

// File base name of a path, evaluated at compile time for __FILE__.
constexpr std::string_view BaseName(std::string_view path) {
  const auto slash = path.find_last_of("/\\");
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

template <typename... Args>
void Write(spdlog::level::level_enum level, std::string_view file, const char* function, int line,
           fmt::format_string<Args...> text, Args&&... args) {
  const std::shared_ptr<spdlog::logger> logger = Logger();
  if (!logger || !logger->should_log(level)) return;
  fmt::memory_buffer message;
  fmt::format_to(std::back_inserter(message), text, std::forward<Args>(args)...);
  fmt::format_to(std::back_inserter(message), "  [{}] [{}] [{}]", file, function, line);
  logger->log(level, spdlog::string_view_t(message.data(), message.size()));
}

}  // namespace kesto::lidar::log

#define KESTO_LOG_AT(level, ...)                                                              \
  ::kesto::lidar::log::Write(level, ::kesto::lidar::log::BaseName(__FILE__), __func__, __LINE__, \
                             __VA_ARGS__)
#define KESTO_LOG_DEBUG(...) KESTO_LOG_AT(::spdlog::level::debug, __VA_ARGS__)
#define KESTO_LOG_INFO(...) KESTO_LOG_AT(::spdlog::level::info, __VA_ARGS__)
#define KESTO_LOG_WARN(...) KESTO_LOG_AT(::spdlog::level::warn, __VA_ARGS__)
#define KESTO_LOG_ERROR(...) KESTO_LOG_AT(::spdlog::level::err, __VA_ARGS__)

#endif  // KESTO_LIDAR_KIT_LOG_H_
