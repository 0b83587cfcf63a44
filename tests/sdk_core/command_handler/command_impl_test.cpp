// The command API's requests, byte for byte, and its refusals.
#include "command_impl.h"

#include <gtest/gtest.h>

#include <functional>

#include "command_fixture.h"

namespace kesto::test {
namespace {

class CommandImplTest : public CommandFixture {
 protected:
  void SetUp() override {
    InitNormal();
    Discover(kKestoLidarDevTypeVela, vela_, kVelaIp);
    AnswerFwType(kKestoLidarDevTypeVela, vela_, 0);
    Discover(kKestoLidarDevTypeOrbit, orbit_, kOrbitIp);
    AnswerFwType(kKestoLidarDevTypeOrbit, orbit_, 0);
    link_.ClearFrames();
  }
};

struct RequestCase {
  const char* name;
  std::function<int32_t(lidar::GeneralCommandHandler&, uint32_t, Completions*)> send;
  uint16_t cmd_id;
  Bytes payload;
};

TEST_F(CommandImplTest, SingleKeyRequestsByteForByte) {
  using lidar::GeneralCommandHandler;
  const RequestCase cases[] = {
      {"work mode 1",
       [](GeneralCommandHandler& g, uint32_t h, Completions* c) {
         return lidar::SendWorkMode(g, h, 1, Completions::kControl, c);
       },
       0x0100,
       {0x01, 0x00, 0x00, 0x00, 0x1A, 0x00, 0x01, 0x00, 0x01}},
      {"point type 0 asks for IMU data",
       [](GeneralCommandHandler& g, uint32_t h, Completions* c) {
         return lidar::RequestPointDataType(g, h, 0, Completions::kControl, c);
       },
       0x0100,
       {0x01, 0x00, 0x00, 0x00, 0x1C, 0x00, 0x01, 0x00, 0x01}},
      {"point type 257 sends its low byte",
       [](GeneralCommandHandler& g, uint32_t h, Completions* c) {
         return lidar::RequestPointDataType(g, h, 257, Completions::kControl, c);
       },
       0x0100,
       {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01}},
      {"point type 3",
       [](GeneralCommandHandler& g, uint32_t h, Completions* c) {
         return lidar::SendPointDataType(g, h, 3, Completions::kControl, c);
       },
       0x0100,
       {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x03}},
  };
  for (const auto& c : cases) {
    link_.ClearFrames();
    ASSERT_EQ(c.send(handler(), vela_, &completions_), 0) << c.name;
    const auto frames = link_.Frames();
    ASSERT_EQ(frames.size(), 1u) << c.name;
    EXPECT_EQ(frames[0].Command().cmd_id, c.cmd_id) << c.name;
    EXPECT_EQ(frames[0].Command().cmd_type, 0) << c.name;
    EXPECT_EQ(frames[0].Payload(), c.payload) << c.name;
    EXPECT_EQ(frames[0].dest_port, 56000) << c.name;
  }
}

TEST_F(CommandImplTest, InternalInfoQueryAsksForTheModelsKeys) {
  struct Case {
    uint32_t handle;
    size_t length;
    Bytes start;
    uint16_t port;
  };
  const Case cases[] = {
      {orbit_, 64, {0x1E, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x04, 0x00, 0x05, 0x00}, 56100},
      {vela_, 58, {0x1B, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x02, 0x00, 0x03, 0x00}, 56000},
  };
  for (const auto& c : cases) {
    link_.ClearFrames();
    ASSERT_EQ(lidar::QueryKestoLidarInternalInfo(handler(), c.handle, Completions::kInternalInfo,
                                                 &completions_),
              0);
    const auto frames = link_.Frames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].Command().cmd_id, 0x0101);
    EXPECT_EQ(frames[0].dest_port, c.port);
    const Bytes payload = frames[0].Payload();
    ASSERT_EQ(payload.size(), c.length);
    EXPECT_EQ(Bytes(payload.begin(), payload.begin() + 12), c.start);
    for (size_t i = 4; i + 3 < payload.size(); i += 2) {
      EXPECT_LT(payload[i] | payload[i + 1] << 8, payload[i + 2] | payload[i + 3] << 8)
          << "keys ascend";
    }
  }
}

TEST_F(CommandImplTest, RefusalsNeverRunTheCompletion) {
  const uint32_t never_seen = HandleOf(10, 0, 0, 1);
  capture_.Clear();
  EXPECT_EQ(lidar::QueryKestoLidarInternalInfo(handler(), never_seen, Completions::kInternalInfo,
                                               &completions_),
            -7);
  EXPECT_EQ(capture_.Count("Query kesto lidar internal info failed."), 1u);
  EXPECT_EQ(lidar::SendWorkMode(handler(), never_seen, 1, Completions::kControl, &completions_), -9);
  EXPECT_EQ(capture_.Count("Send command failed, get cmd handler failed, the handle:" +
                           std::to_string(never_seen) + ", command_id:256."),
            1u);
  handler().CheckCommandTimeout(clock_.Now() + std::chrono::hours(1));
  EXPECT_EQ(completions_.Count(), 0u);
  EXPECT_EQ(link_.FrameCount(), 0u);
}

TEST_F(CommandImplTest, NullCompletionSendsAndDropsTheOutcome) {
  ASSERT_EQ(lidar::SendWorkMode(handler(), vela_, 2, nullptr, nullptr), 0);
  Answer(kKestoLidarDevTypeVela, vela_, 0x0100, ControlAnswer(0, 0));
  EXPECT_EQ(link_.FrameCount(), 1u);
  EXPECT_EQ(handler().PendingCommandCount(), 0u);
}

TEST_F(CommandImplTest, LoggerCommandsGoToTheModelsLogPort) {
  struct Logged {
    int calls = 0;
    int32_t status = 1;
  } logged;
  const uint8_t stop[2] = {0, 0};
  auto done = [](kesto_status status, uint32_t, KestoLidarLoggerResponse*, void* cd) {
    auto* l = static_cast<Logged*>(cd);
    ++l->calls;
    l->status = status;
  };
  lidar::LoggerCommandSender& sender = handler();
  ASSERT_EQ(sender.SendLoggerCommand(vela_, 0x0301, stop, 2, done, &logged), 0);
  ASSERT_EQ(sender.SendLoggerCommand(orbit_, 0x0301, stop, 2, nullptr, nullptr), 0);
  const auto frames = link_.Frames();
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].channel, SentFrame::Channel::kLog);
  EXPECT_EQ(frames[0].dest_port, 59000);
  EXPECT_EQ(frames[1].dest_port, 56500);
  Receive(vela_, 59000, Ack(frames[0].Command().seq, 0x0301, {0}));
  handler().CheckCommandTimeout(clock_.Now() + std::chrono::seconds(2));
  EXPECT_EQ(logged.calls, 1);
  EXPECT_EQ(logged.status, 0);
  EXPECT_EQ(sender.SendLoggerCommand(HandleOf(10, 0, 0, 1), 0x0301, stop, 2, done, &logged), -9);
  EXPECT_EQ(logged.calls, 1);
}

TEST_F(CommandImplTest, AcknowledgementPacketsAreNeitherRegisteredNorSent) {
  lidar::CommandPacket ack;
  ack.cmd_type = 1;
  ack.handle = vela_;
  ack.lidar_ip = "192.168.1.10";
  auto model = handler().GetCommandHandler(kKestoLidarDevTypeVela);
  EXPECT_EQ(model->SendCommand(ack), -1);
  EXPECT_EQ(model->SendLoggerCommand(ack), -1);
  EXPECT_EQ(link_.FrameCount(), 0u);
  EXPECT_EQ(handler().PendingCommandCount(), 0u);
}

}  // namespace
}  // namespace kesto::test
