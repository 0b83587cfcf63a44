#include "kit_log.h"

#include <gtest/gtest.h>
#include <spdlog/spdlog.h>

#include <regex>

#include "log_capture.h"

namespace kesto::lidar::log {
namespace {

TEST(KitLog, MessageCarriesFileFunctionAndLine) {
  test::LogCapture capture;
  const int line = __LINE__ + 1;
  KESTO_LOG_ERROR("Create channel failed, port: {}, key: {}.", 56000, "127.0.0.1:56000");
  const auto lines = capture.Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].level, spdlog::level::err);
  EXPECT_EQ(lines[0].message, "Create channel failed, port: 56000, key: 127.0.0.1:56000.  "
                              "[kit_log_test.cpp] [TestBody] [" + std::to_string(line) + "]");
  EXPECT_EQ(capture.Texts()[0], "Create channel failed, port: 56000, key: 127.0.0.1:56000.");
}

TEST(KitLog, LevelsAreInfoWarnError) {
  test::LogCapture capture;
  KESTO_LOG_INFO("a");
  KESTO_LOG_WARN("b");
  KESTO_LOG_ERROR("c");
  const auto lines = capture.Lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].level, spdlog::level::info);
  EXPECT_EQ(lines[1].level, spdlog::level::warn);
  EXPECT_EQ(lines[2].level, spdlog::level::err);
}

TEST(KitLog, SetupRegistersConsoleAtDebugAndReusesIt) {
  log::Setup();
  const auto first = spdlog::get("console");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first, Logger());
  EXPECT_EQ(first->level(), spdlog::level::debug);
  EXPECT_EQ(first->flush_level(), spdlog::level::debug);
  log::Setup();  // a registered "console" is reused, not registered twice
  EXPECT_EQ(spdlog::get("console"), first);
  EXPECT_EQ(Logger(), first);
}

TEST(KitLog, DropKeepsTheLoggerUsableAndTheNextSetupMakesAFreshOne) {
  test::LogCapture capture;
  const auto before = Logger();
  log::Drop();
  EXPECT_EQ(spdlog::get("console"), nullptr);
  EXPECT_EQ(Logger(), before);
  KESTO_LOG_WARN("after drop");  // a thread still ending may log
  EXPECT_EQ(capture.Count("after drop"), 1u);

  log::Setup();
  EXPECT_NE(Logger(), before);
  EXPECT_EQ(spdlog::get("console"), Logger());
  KESTO_LOG_INFO("after new setup");  // the attached sink follows to the new logger
  EXPECT_EQ(capture.Count("after new setup"), 1u);
}

// The kit shares spdlog's registry with the program it runs in; its stop must leave the
// program's loggers registered, or the program's spdlog::get calls find nothing afterwards.
TEST(KitLog, DropLeavesTheHostProgramsLoggersRegistered) {
  auto host = std::make_shared<spdlog::logger>("host-program");
  spdlog::register_logger(host);
  log::Setup();
  log::Drop();
  EXPECT_EQ(spdlog::get("host-program"), host);
  EXPECT_EQ(spdlog::get("console"), nullptr);
  spdlog::drop("host-program");
}

TEST(KitLog, DropLeavesAConsoleLoggerTheHostRegisteredFirst) {
  log::Setup();
  log::Drop();  // the kit's own "console" is gone, so the name is free for the host
  auto host = std::make_shared<spdlog::logger>("console");
  spdlog::register_logger(host);
  log::Setup();  // borrows the host's logger
  EXPECT_EQ(Logger(), host);
  log::Drop();
  EXPECT_EQ(spdlog::get("console"), host);
  spdlog::drop("console");
  log::Setup();  // later tests get a kit logger of the kit's own again
  EXPECT_NE(Logger(), host);
}

TEST(KitLog, BaseNameStripsBothSeparators) {
  static_assert(BaseName("sdk_core/data_handler/data_handler.cpp") == "data_handler.cpp");
  static_assert(BaseName("C:\\src\\io_loop.cpp") == "io_loop.cpp");
  static_assert(BaseName("plain.cpp") == "plain.cpp");
  SUCCEED();
}

}  // namespace
}  // namespace kesto::lidar::log
