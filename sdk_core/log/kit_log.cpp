#include "kit_log.h"

#include <spdlog/sinks/dist_sink.h>
#include <spdlog/sinks/stdout_color_sinks.h>
#include <spdlog/spdlog.h>

#include <mutex>

namespace kesto::lidar::log {
namespace {

constexpr const char* kLoggerName = "console";

// The kit logger. Written by Setup on the application thread and read by every thread that
// logs; the atomic shared-pointer access keeps a logger alive for a log call that races with a
// Setup replacing it.
std::shared_ptr<spdlog::logger> g_logger;
// The last logger Setup made itself (not one it found registered). Application thread.
std::weak_ptr<spdlog::logger> g_made;

// Fan-out to the attached extra sinks; empty (and silent) unless a test attached one. Created
// once and shared by every logger Setup makes, so attachments survive Drop and Setup.
std::shared_ptr<spdlog::sinks::dist_sink_mt> Tap() {
  static const auto tap = std::make_shared<spdlog::sinks::dist_sink_mt>();
  return tap;
}

}  // namespace

void Setup() {
  if (auto existing = spdlog::get(kLoggerName)) {
    std::atomic_store(&g_logger, std::move(existing));
    return;
  }
  auto console = std::make_shared<spdlog::sinks::stdout_color_sink_mt>();
  console->set_level(spdlog::level::debug);
  auto tap = Tap();
  tap->set_level(spdlog::level::debug);
  auto logger = std::make_shared<spdlog::logger>(
      kLoggerName, spdlog::sinks_init_list{std::move(console), std::move(tap)});
  logger->set_level(spdlog::level::debug);
  logger->flush_on(spdlog::level::debug);
  spdlog::register_logger(logger);
  g_made = logger;
  std::atomic_store(&g_logger, std::move(logger));
}

void Drop() {
  // A "console" the host registered before the kit started is the host's, only borrowed.
  const auto registered = spdlog::get(kLoggerName);
  if (registered != nullptr && registered == g_made.lock()) spdlog::drop(kLoggerName);
}

std::shared_ptr<spdlog::logger> Logger() { return std::atomic_load(&g_logger); }

void AttachSink(std::shared_ptr<spdlog::sinks::sink> sink) { Tap()->add_sink(std::move(sink)); }

void DetachSink(const std::shared_ptr<spdlog::sinks::sink>& sink) { Tap()->remove_sink(sink); }

}  // namespace kesto::lidar::log
