// Every command completes exactly once: acknowledgement, send failure or time-out.
#include <gtest/gtest.h>

#include "command_fixture.h"
#include "command_impl.h"

namespace kesto::test {
namespace {

using std::chrono::milliseconds;
using std::chrono::nanoseconds;

class CommandCompletionTest : public CommandFixture {
 protected:
  void SetUp() override {
    InitNormal();
    Discover(kKestoLidarDevTypeVela, vela_, kVelaIp);
    AnswerFwType(kKestoLidarDevTypeVela, vela_, 0);  // type 0: discovery configures nothing
    link_.ClearFrames();
    capture_.Clear();
  }
  int32_t WorkMode(int mode) {
    return lidar::SendWorkMode(handler(), vela_, mode, Completions::kControl, &completions_);
  }
};

TEST_F(CommandCompletionTest, AcknowledgedInTimeCompletesOnceWithTheRecord) {
  ASSERT_EQ(WorkMode(1), 0);
  clock_.Advance(milliseconds(999));
  Answer(kKestoLidarDevTypeVela, vela_, 0x0100, ControlAnswer(0, 0x001A));
  handler().CheckCommandTimeout(clock_.Now() + milliseconds(5000));
  const auto all = completions_.All();
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0].status, 0);
  EXPECT_EQ(all[0].handle, vela_);
  EXPECT_EQ(all[0].record, (Bytes{0x00, 0x1A, 0x00}));
  EXPECT_EQ(capture_.Count("Receive Ack: Id 256 Seq"), 1u);
  EXPECT_EQ(handler().PendingCommandCount(), 0u);
}

TEST_F(CommandCompletionTest, UnansweredTimesOutOnceOnTheFirstCheckAfterItsDeadline) {
  const lidar::TimePoint sent = clock_.Now();
  ASSERT_EQ(WorkMode(1), 0);
  handler().CheckCommandTimeout(sent + milliseconds(1000));  // the deadline itself: not yet
  EXPECT_EQ(completions_.Count(), 0u);
  handler().CheckCommandTimeout(sent + milliseconds(1000) + nanoseconds(1));
  handler().CheckCommandTimeout(sent + milliseconds(1050));
  auto all = completions_.All();
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0].status, -4);
  EXPECT_FALSE(all[0].has_response);

  // The late acknowledgement finds no entry: it is only logged.
  capture_.Clear();
  Answer(kKestoLidarDevTypeVela, vela_, 0x0100, ControlAnswer(0, 0));
  EXPECT_EQ(completions_.Count(), 1u);
  EXPECT_EQ(capture_.Count("Receive Ack: Id 256 Seq"), 1u);
}

TEST_F(CommandCompletionTest, TwoInFlightCompleteBySequenceNumber) {
  Completions first, second;
  ASSERT_EQ(lidar::SendWorkMode(handler(), vela_, 1, Completions::kControl, &first), 0);
  ASSERT_EQ(lidar::SendPointDataType(handler(), vela_, 1, Completions::kControl, &second), 0);
  const auto frames = link_.Frames();
  ASSERT_EQ(frames.size(), 2u);
  // Answered in reverse order, each with its own error key.
  Receive(vela_, 56000,
          Ack(frames[1].Command().seq, 0x0100, ControlAnswer(0, 0x0000)));
  Receive(vela_, 56000,
          Ack(frames[0].Command().seq, 0x0100, ControlAnswer(1, 0x001A)));
  ASSERT_EQ(first.Count(), 1u);
  ASSERT_EQ(second.Count(), 1u);
  EXPECT_EQ(first.All()[0].record, (Bytes{1, 0x1A, 0}));
  EXPECT_EQ(second.All()[0].record, (Bytes{0, 0, 0}));
}

TEST_F(CommandCompletionTest, FailedSendCompletesOnceWithSendFailed) {
  link_.SetFailSends(true);
  ASSERT_EQ(WorkMode(1), 0) << "the failure reaches the caller through the completion";
  ASSERT_EQ(completions_.Count(), 1u);
  EXPECT_EQ(completions_.All()[0].status, -9);
  EXPECT_EQ(capture_.Count("Sent cmd to lidar failed, the send_byte:-1, cmd_id:256, seq:"), 1u);
  EXPECT_NE(capture_.Lines()[0].message.find("[vela_command_handler.cpp]"), std::string::npos);
  handler().CheckCommandTimeout(clock_.Now() + milliseconds(5000));
  EXPECT_EQ(completions_.Count(), 1u) << "never -4 after -9";
}

TEST_F(CommandCompletionTest, AcknowledgementFromAnotherLidarCompletesNothing) {
  ASSERT_EQ(WorkMode(1), 0);
  Receive(orbit_, 56000,
          Ack(Last(0x0100).Command().seq, 0x0100, ControlAnswer(0, 0)));
  EXPECT_EQ(completions_.Count(), 0u);
  Answer(kKestoLidarDevTypeVela, vela_, 0x0100, ControlAnswer(0, 0));
  EXPECT_EQ(completions_.Count(), 1u);
}

// Zero padding would read an answer without its result fields as ret_code 0, error_key 0: an
// acceptance the lidar never sent. Such an answer fails the command instead.
TEST_F(CommandCompletionTest, AnAcknowledgementTooShortForItsResultFailsTheCommand) {
  const struct {
    const char* name;
    Bytes answer;
    int32_t status;
    bool has_response;
  } cases[] = {
      {"empty", {}, -9, false},
      {"ret_code only", {0}, -9, false},
      {"half an error key", {0, 0}, -9, false},
      {"whole", {0, 0, 0}, 0, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Completions completions;
    capture_.Clear();
    ASSERT_EQ(lidar::SendWorkMode(handler(), vela_, 1, Completions::kControl, &completions), 0);
    Answer(kKestoLidarDevTypeVela, vela_, 0x0100, c.answer);
    const auto all = completions.All();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].status, c.status);
    EXPECT_EQ(all[0].has_response, c.has_response);
    EXPECT_EQ(capture_.Count("too short for its result"), c.has_response ? 0u : 1u);
  }
  EXPECT_EQ(handler().PendingCommandCount(), 0u);
}

// The kit's own configuration request goes through the same check: a short answer does not
// count the lidar as configured, so the request may be sent again.
TEST_F(CommandCompletionTest, AShortAnswerToTheConfigurationLeavesTheLidarUnconfigured) {
  Discover(kKestoLidarDevTypeOrbit, orbit_, kOrbitIp);
  AnswerFwType(kKestoLidarDevTypeOrbit, orbit_, 1);
  Discover(kKestoLidarDevTypeOrbit, orbit_, kOrbitIp);
  ASSERT_EQ(CountSent(0x0100), 1u);
  Answer(kKestoLidarDevTypeOrbit, orbit_, 0x0100, {});
  EXPECT_EQ(capture_.Count("too short for its result"), 1u);
  EXPECT_EQ(capture_.Count("Update lidar failed, the status:-9"), 1u);
  EXPECT_EQ(capture_.Count("succ."), 0u);
  EXPECT_EQ(directory().Find(orbit_)->state, lidar::LidarState::kConfiguring);
  Discover(kKestoLidarDevTypeOrbit, orbit_, kOrbitIp);
  EXPECT_EQ(CountSent(0x0100), 2u) << "not configured: asked again";
}

TEST_F(CommandCompletionTest, LyingAcknowledgementsStayInsideTheDatagram) {

  // An internal-info answer that claims 300 entries but carries one: the caller walks one.
  struct Walked {
    int calls = 0;
    uint16_t param_num = 0xFFFF;
    size_t bytes = 0;
  } walked;
  auto walk = [](kesto_status, uint32_t, KestoLidarDiagInternalInfoResponse* r, void* cd) {
    auto* w = static_cast<Walked*>(cd);
    ++w->calls;
    if (r == nullptr) return;
    w->param_num = r->param_num;
    const uint8_t* at = r->data;
    for (uint16_t i = 0; i < r->param_num; ++i) {
      const uint16_t length = static_cast<uint16_t>(at[2] | (at[3] << 8));
      for (uint16_t b = 0; b < length; ++b) w->bytes += static_cast<size_t>(at[4 + b] == 1);
      at += 4 + length;
    }
  };
  ASSERT_EQ(lidar::QueryKestoLidarInternalInfo(handler(), vela_, walk, &walked), 0);
  Bytes lying = InternalInfoAnswer(0, {{0x0006, Bytes(8, 1)}});
  lying[1] = 0x2C;
  lying[2] = 0x01;
  Answer(kKestoLidarDevTypeVela, vela_, 0x0101, lying);
  EXPECT_EQ(walked.calls, 1);
  EXPECT_EQ(walked.param_num, 1);
  EXPECT_EQ(walked.bytes, 8u);
}

// A completion that sends the next command from inside its call, as the bridge's do.
struct Chain {
  lidar::GeneralCommandHandler* handler;
  uint32_t handle;
  int remaining;
  Completions* done;
};
void SendNext(kesto_status status, uint32_t handle, KestoLidarAsyncControlResponse* r, void* cd) {
  auto* chain = static_cast<Chain*>(cd);
  Completions::Record(status, handle, r, chain->done);
  if (--chain->remaining > 0) lidar::SendWorkMode(*chain->handler, chain->handle, 1, SendNext, cd);
}

TEST_F(CommandCompletionTest, CompletionMaySendTheNextCommand) {
  Chain chain{&handler(), vela_, 3, &completions_};
  ASSERT_EQ(lidar::SendWorkMode(handler(), vela_, 1, SendNext, &chain), 0);
  Answer(kKestoLidarDevTypeVela, vela_, 0x0100, ControlAnswer(0, 0));  // -> second sent
  handler().CheckCommandTimeout(clock_.Now() + milliseconds(1001));     // second times out -> third
  handler().CheckCommandTimeout(clock_.Now() + milliseconds(2002));     // third times out
  const auto all = completions_.All();
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[0].status, 0);
  EXPECT_EQ(all[1].status, -4);
  EXPECT_EQ(all[2].status, -4);
  EXPECT_EQ(CountSent(0x0100), 3u);
  EXPECT_EQ(handler().PendingCommandCount(), 0u);
}

TEST_F(CommandCompletionTest, AKitsStopCompletesWhatIsStillPendingOnce) {
  // A user's command and, for a second VELA lidar, a configuration request are in flight when
  // the kit goes away.
  const uint32_t other = HandleOf(192, 168, 1, 11);
  InitWith({Cfg(kKestoLidarDevTypeVela, "192.168.1.10"), Cfg(kKestoLidarDevTypeVela, "192.168.1.11")});
  Discover(kKestoLidarDevTypeVela, vela_, kVelaIp);
  AnswerFwType(kKestoLidarDevTypeVela, vela_, 0);
  Discover(kKestoLidarDevTypeVela, other, {192, 168, 1, 11});
  AnswerFwType(kKestoLidarDevTypeVela, other, 1);
  Discover(kKestoLidarDevTypeVela, other, {192, 168, 1, 11});
  ASSERT_EQ(CountSent(0x0100), 1u);
  ASSERT_EQ(WorkMode(1), 0);
  ASSERT_EQ(handler().PendingCommandCount(), 2u);
  kit_.reset();  // AddressSanitizer watches the configuration's completion
  ASSERT_EQ(completions_.Count(), 1u);
  EXPECT_EQ(completions_.All()[0].status, -4);
  EXPECT_EQ(capture_.Count("Update lidar failed, the status:-4"), 1u);
}

}  // namespace
}  // namespace kesto::test
