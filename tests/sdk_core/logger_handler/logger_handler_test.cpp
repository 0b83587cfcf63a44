#include "logger_handler.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "log_capture.h"
#include "log_store_fixture.h"

namespace kesto::lidar {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using test::PushFields;

struct Step {
  uint8_t op;
  PushFields push;
};

Step Start(uint32_t trans, uint8_t file, const std::string& data, uint8_t type = 0) {
  return {kLogBagStart, {type, file, kLogPushStartsFile, trans, Bytes(data)}};
}
Step Data(uint32_t trans, uint8_t file, const std::string& data, uint8_t type = 0) {
  return {kLogBagData, {type, file, 0, trans, Bytes(data)}};
}
Step End(uint32_t trans, uint8_t file, uint8_t type = 0) {
  return {kLogBagEnd, {type, file, kLogPushEndsFile, trans, Bytes("ignored")}};
}

// What a store holds after the writer was stopped: file name (time stamp cut off) -> content.
std::map<std::string, std::string> Contents(const fs::path& directory) {
  std::map<std::string, std::string> contents;
  for (const std::string& name : test::NamesIn(directory)) {
    const bool hidden = name[0] == '.';
    const std::string stamped = hidden ? name.substr(1) : name;
    EXPECT_TRUE(test::IsStampedName(stamped, stamped.substr(19))) << name;
    const std::vector<uint8_t> bytes = test::ReadFile(directory / name);
    contents[(hidden ? "." : "") + stamped.substr(19)] = std::string(bytes.begin(), bytes.end());
  }
  return contents;
}

class LoggerHandlerTest : public ::testing::Test {
 protected:
  // Runs the steps through a fresh handler and joins its writer.
  void Run(const std::vector<Step>& steps, const std::string& serial_number = "SN1") {
    LoggerHandler handler(base_, serial_number, [this] { ++finished_; });
    ASSERT_TRUE(handler.StartWriter());
    for (const Step& step : steps) {
      const std::vector<uint8_t> payload = test::PushPayload(step.push);
      handler.StoreLogBag(test::Decoded(payload), step.op);
    }
    handler.StopWriter();
  }
  // Log lines other than the per-push and per-file info lines.
  std::vector<std::string> Complaints() const {
    std::vector<std::string> complaints;
    for (const test::LoggedLine& line : capture_.Lines()) {
      if (line.level != spdlog::level::info) {
        complaints.push_back(test::WithoutLocation(line.message));
      }
    }
    return complaints;
  }

  test::TempDir dir_;
  std::string base_ = dir_.text() + "/";
  fs::path type0_ = dir_.path() / "type_0";
  test::LogCapture capture_;
  int finished_ = 0;  // written by the writer thread, read after the join
};

TEST_F(LoggerHandlerTest, SequencesOfPushes) {
  struct Case {
    const char* what;
    std::vector<Step> steps;
    std::map<std::string, std::string> files;  // in type_0, stamp cut off
    std::vector<std::string> complaints;
    int finished;
  };
  const std::string lost_end = "The terminal command to end the 3rd log file has been lost.";
  const std::string no_start =
      "There is an issue with the lidar firmware, the starting file command is not sent from "
      "lidar. trans_index: 1";
  const std::string two_ends =
      "There is an issue with the lidar firmware. Multiple terminal commands to close the log "
      "files with discontinuous trans_index.";
  const Case cases[] = {
      {"start, data, data, end",
       {Start(1, 3, "A"), Data(2, 3, "B"), Data(3, 3, "C"), End(4, 3)},
       {{"_SN1_0_3.dat", "ABC"}},
       {},
       1},
      {"wrong file index dropped",
       {Start(1, 3, "A"), Data(2, 4, "X"), Data(3, 3, "C"), End(4, 3)},
       {{"_SN1_0_3.dat", "AC"}},
       {"Log Type: 0, File Index error: last file index: 3, current file index: 4",
        "Log Type: 0, Trans Index error: last trans index: 1, current trans index: 3"},
       1},
      {"lost end: the next start finishes the open file",
       {Start(1, 3, "A"), Data(7, 3, "B"), Start(10, 4, "N")},
       {{"_SN1_0_3.dat", "AB"}, {"._SN1_0_4.dat", "N"}},
       {"Log Type: 0, Trans Index error: last trans index: 1, current trans index: 7", lost_end},
       1},
      {"lower trans index discarded silently",
       {Start(5, 3, "A"), Data(6, 3, "B"), Data(4, 3, "old"), End(2, 3), Data(7, 3, "C"),
        End(8, 3)},
       {{"_SN1_0_3.dat", "ABC"}},
       {},
       1},
      {"data before start", {Data(1, 0, "X")}, {}, {no_start}, 0},
      {"two ends", {End(5, 0), End(9, 0)}, {}, {two_ends}, 0},
      {"two ends in sequence", {End(5, 0), End(6, 0)}, {}, {}, 0},
      {"log types keep their own files",
       {Start(1, 3, "A"), Start(1, 0, "Z", 1), Data(2, 3, "B"), End(3, 3), End(2, 0, 1)},
       {{"_SN1_0_3.dat", "AB"}},
       {},
       2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::TempDir dir;
    base_ = dir.text() + "/";
    capture_.Clear();
    finished_ = 0;
    Run(c.steps);
    EXPECT_EQ(Contents(dir.path() / "type_0"), c.files);
    EXPECT_EQ(Complaints(), c.complaints);
    EXPECT_EQ(finished_, c.finished);
  }
}

TEST_F(LoggerHandlerTest, StopWriterWritesWhatWasQueuedAndLeavesOpenFilesHidden) {
  Run({Start(1, 3, "A"), Data(2, 3, "B")});
  EXPECT_EQ(Contents(type0_), (std::map<std::string, std::string>{{"._SN1_0_3.dat", "AB"}}));
  EXPECT_EQ(finished_, 0);
}

TEST_F(LoggerHandlerTest, HostileSerialNumbersNameFilesInsideTheStore) {
  const std::string serials[] = {"../../x", "..\\..\\x", "a/b", "CON", std::string("\x01\x02", 2)};
  for (const std::string& serial : serials) {
    SCOPED_TRACE(serial);
    test::TempDir dir;
    base_ = (dir.path() / "store").string() + "/";
    fs::create_directory(dir.path() / "store");
    Run({Start(1, 0, "A"), End(2, 0)}, serial);
    const std::vector<std::string> files = test::FilesUnder(dir.path());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].rfind("store/type_0/", 0), 0u) << files[0];
    EXPECT_EQ(files[0].find('/', 13), std::string::npos) << files[0];
  }
}

// The finished-file hook throws once, inside the writer's round: one log line, and the writer
// goes on writing the next file rather than leaving the lidar's logs unwritten for the run.
TEST_F(LoggerHandlerTest, AWriterRoundThatThrowsIsLoggedAndTheWriterGoesOn) {
  std::atomic<int> calls{0};
  LoggerHandler handler(base_, "SN1", [&calls] {
    if (++calls == 1) throw std::runtime_error("hook failed");
  });
  ASSERT_TRUE(handler.StartWriter());
  auto feed = [&handler](const std::vector<Step>& steps) {
    for (const Step& step : steps) {
      const std::vector<uint8_t> payload = test::PushPayload(step.push);
      handler.StoreLogBag(test::Decoded(payload), step.op);
    }
  };
  feed({Start(1, 0, "A"), End(2, 0)});
  // The second file is fed only after the first round threw, so the throw loses no bag of it.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (calls.load() == 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_EQ(calls.load(), 1);
  feed({Start(3, 1, "B"), Data(4, 1, "C"), End(5, 1)});
  handler.StopWriter();
  EXPECT_EQ(calls.load(), 2);
  EXPECT_EQ(Contents(type0_), (std::map<std::string, std::string>{{"_SN1_0_0.dat", "A"},
                                                                   {"_SN1_0_1.dat", "BC"}}));
  EXPECT_EQ(Complaints(), std::vector<std::string>{"Log writer of SN1 threw: hook failed"});
}

TEST_F(LoggerHandlerTest, AStoreThatCannotBeMadeDropsTheStart) {
  base_ = dir_.text() + "/missing/";
  Run({Start(1, 3, "A"), Data(2, 3, "B")});
  EXPECT_EQ(Complaints(),
            (std::vector<std::string>{
                "Can't Create Dir " + base_ + "type_0",
                "Log Type: 0, File Index error: last file index: 0, current file index: 3"}));
  EXPECT_TRUE(test::FilesUnder(dir_.path()).empty());
}

TEST_F(LoggerHandlerTest, AFloodIsBoundedByTheQueue) {
  // Without a running writer nothing drains, so the bound alone decides what is kept.
  LoggerHandler handler(base_, "SN1");
  const std::string chunk(60000, 'x');
  const size_t fit = LoggerHandler::kMaxQueuedBytes / chunk.size();
  const std::vector<uint8_t> start = test::PushPayload(Start(1, 0, "").push);
  handler.StoreLogBag(test::Decoded(start), kLogBagStart);
  for (uint32_t i = 0; i < fit + 10; ++i) {
    const std::vector<uint8_t> data = test::PushPayload(Data(i + 2, 0, chunk).push);
    handler.StoreLogBag(test::Decoded(data), kLogBagData);
  }
  ASSERT_TRUE(handler.StartWriter());
  handler.StopWriter();
  EXPECT_EQ(Complaints(), std::vector<std::string>{"Log queue of SN1 is full, pushes are dropped "
                                                   "until it drains"});
  const std::vector<std::string> names = test::NamesIn(type0_);
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(fs::file_size(type0_ / names[0]), fit * chunk.size());
}

}  // namespace
}  // namespace kesto::lidar
