// A lidar's set-up from its discovery replies: the firmware-type query, the configuration of
// new lidars, view lidars, state pushes and the information change, through the routing entry
// of a kit whose device link is a fake.
#include "lidar_setup.h"

#include <gtest/gtest.h>

#include <functional>
#include <iterator>

#include "command_fixture.h"

namespace kesto::test {
namespace {

using std::chrono::milliseconds;

class LidarSetupTest : public CommandFixture {
 protected:
  void SetUp() override {
    InitNormal();
    ObserveInfoChange();
  }
};

TEST_F(LidarSetupTest, FirstDiscoveryReplyQueriesTheFirmwareTypeOnce) {
  Discover(kKestoLidarDevTypeVela, vela_, kVelaIp, "SN-0001", 56000);
  const std::string detected = "Handle detection data, handle:" + std::to_string(vela_) +
                               ", dev_type:10, sn:SN-0001, cmd_port:56000";
  EXPECT_EQ(capture_.Count(detected), 1u);
  const auto frames = link_.Frames();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].Command().cmd_id, 0x0101);
  EXPECT_EQ(frames[0].Payload(), (Bytes{0x01, 0x00, 0x00, 0x00, 0x10, 0x80}));
  EXPECT_EQ(frames[0].dest_ip, vela_);
  EXPECT_EQ(frames[0].dest_port, 56000);
  EXPECT_EQ(frames[0].channel, SentFrame::Channel::kCommand);
  EXPECT_NE(handler().GetLidarCommandHandler(vela_), nullptr);
  ASSERT_TRUE(directory().Find(vela_).has_value());
  EXPECT_EQ(directory().Find(vela_)->state, lidar::LidarState::kDetected);
  for (int i = 0; i < 2; ++i) Discover(kKestoLidarDevTypeVela, vela_, kVelaIp);
  EXPECT_EQ(link_.FrameCount(), 1u) << "asked once, while its answer is awaited";
  std::set<uint16_t> keys;
  EXPECT_TRUE(handler().GetInternalInfoKeys(vela_, keys));
  EXPECT_EQ(keys.size(), 27u);
}

struct FwTypeCase {
  uint8_t dev_type;
  uint8_t fw_type;
  size_t configurations;  // requests sent by three further discovery replies
  uint16_t cmd_port;
  size_t payload_length;
};

TEST_F(LidarSetupTest, FirmwareTypeDecidesWhetherDiscoveryConfigures) {
  const FwTypeCase cases[] = {
      {kKestoLidarDevTypeVela, 1, 3, 56000, 28},
      {kKestoLidarDevTypeVela, 0, 0, 56000, 0},
      {kKestoLidarDevTypeOrbit, 2, 3, 56100, 40},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message()
                 << "dev_type " << int(c.dev_type) << " fw_type " << int(c.fw_type));
    Rebuild();
    link_.ClearFrames();
    const uint32_t handle = c.dev_type == kKestoLidarDevTypeVela ? vela_ : orbit_;
    const auto ip = c.dev_type == kKestoLidarDevTypeVela ? kVelaIp : kOrbitIp;
    InitNormal();
    Discover(c.dev_type, handle, ip, "SN", c.cmd_port);
    AnswerFwType(c.dev_type, handle, c.fw_type);
    for (int i = 0; i < 3; ++i) Discover(c.dev_type, handle, ip, "SN", c.cmd_port);
    EXPECT_EQ(CountSent(0x0100), c.configurations);
    if (c.configurations == 0) continue;
    const SentFrame request = Last(0x0100);
    EXPECT_EQ(request.dest_port, c.cmd_port) << "the port the reply names";
    EXPECT_EQ(request.Payload().size(), c.payload_length);
    const auto record = directory().Find(handle);
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(record->fw_type, std::optional<uint8_t>(c.fw_type));
    EXPECT_EQ(record->state, lidar::LidarState::kConfiguring);
  }
}

TEST_F(LidarSetupTest, InformationChangeOncePerLidar) {
  SetUpLidar(kKestoLidarDevTypeVela, vela_, kVelaIp);
  ASSERT_EQ(identities_.size(), 1u);
  EXPECT_EQ(identities_[0].handle, vela_);
  EXPECT_EQ(identities_[0].dev_type, 10);
  EXPECT_EQ(identities_[0].sn, "SN-0001");
  EXPECT_EQ(identities_[0].lidar_ip, "192.168.1.10");
  EXPECT_EQ(capture_.Count("Update lidar:" + std::to_string(vela_) + " succ."), 1u);

  for (int i = 0; i < 3; ++i) Discover(kKestoLidarDevTypeVela, vela_, kVelaIp);
  EXPECT_EQ(CountSent(0x0100), 1u) << "a configured lidar is not configured again";
  EXPECT_EQ(directory().Find(vela_)->state, lidar::LidarState::kConfigured);
  setup().KestoLidarInfoChange(vela_);
  EXPECT_EQ(identities_.size(), 1u);
}

TEST_F(LidarSetupTest, RefusedConfigurationEndsTheAttemptAndAnUnansweredOneIsSentAgain) {
  Discover(kKestoLidarDevTypeOrbit, orbit_, kOrbitIp);
  AnswerFwType(kKestoLidarDevTypeOrbit, orbit_, 1);
  Discover(kKestoLidarDevTypeOrbit, orbit_, kOrbitIp);
  Answer(kKestoLidarDevTypeOrbit, orbit_, 0x0100, ControlAnswer(1, 0x0005));
  EXPECT_EQ(identities_.size(), 1u);
  EXPECT_EQ(capture_.Count("Update lidar failed, the ret_code:1, error_key:5"), 1u);
  EXPECT_EQ(capture_.Count("error_key:5  [orbit_command_handler.cpp]"), 1u) << "the model's file";
  Discover(kKestoLidarDevTypeOrbit, orbit_, kOrbitIp);
  EXPECT_EQ(CountSent(0x0100), 1u) << "the attempt has ended";

  // VELA's request times out: the lidar stays configuring, the next reply sends it again.
  Discover(kKestoLidarDevTypeVela, vela_, kVelaIp);
  AnswerFwType(kKestoLidarDevTypeVela, vela_, 1);
  Discover(kKestoLidarDevTypeVela, vela_, kVelaIp);
  ASSERT_EQ(CountSent(0x0100), 2u);
  handler().CheckCommandTimeout(clock_.Now() + std::chrono::seconds(2));
  EXPECT_EQ(directory().Find(vela_)->state, lidar::LidarState::kConfiguring);
  Discover(kKestoLidarDevTypeVela, vela_, kVelaIp);
  EXPECT_EQ(CountSent(0x0100), 3u);
  Answer(kKestoLidarDevTypeVela, vela_, 0x0100, ControlAnswer(0, 0));
  EXPECT_EQ(identities_.size(), 2u);
}

TEST_F(LidarSetupTest, ConfigurationThatCannotBeBuiltIsNotSentAndTriedAgain) {
  const uint32_t handle = HandleOf(192, 168, 1, 12);
  lidar::KestoLidarCfg cfg = Cfg(kKestoLidarDevTypeVela, "192.168.1.12");
  cfg.host_net_info.host_ip = "192.168.1";
  InitWith({cfg});
  Discover(kKestoLidarDevTypeVela, handle, {192, 168, 1, 12});
  AnswerFwType(kKestoLidarDevTypeVela, handle, 1);
  Discover(kKestoLidarDevTypeVela, handle, {192, 168, 1, 12});
  Discover(kKestoLidarDevTypeVela, handle, {192, 168, 1, 12});
  EXPECT_EQ(CountSent(0x0100), 0u);
  EXPECT_EQ(capture_.Count("Build update lidar cfg request failed."), 2u);
  EXPECT_EQ(handler().PendingCommandCount(), 0u);
  EXPECT_TRUE(identities_.empty());
}

TEST_F(LidarSetupTest, InfoChangeOfAnUnknownLidarCreatesNothing) {
  setup().KestoLidarInfoChange(vela_);
  EXPECT_EQ(capture_.Count("Lidar info change failed, can not found device, the handle:" +
                           std::to_string(vela_)),
            1u);
  EXPECT_TRUE(identities_.empty());
  EXPECT_EQ(handler().SendCommand(vela_, 0x0100, nullptr, 0, nullptr), -9);
}

TEST_F(LidarSetupTest, SlaveCreatesEntriesButSendsNothing) {
  InitNormal(false);
  for (int i = 0; i < 3; ++i) Discover(kKestoLidarDevTypeVela, vela_, kVelaIp);
  EXPECT_EQ(link_.FrameCount(), 0u);
  EXPECT_EQ(directory().Find(vela_)->state, lidar::LidarState::kDetected);
  setup().KestoLidarInfoChange(vela_);
  EXPECT_EQ(identities_.size(), 1u);
}

TEST_F(LidarSetupTest, SerialNumberConflictIsLoggedEveryTimeAndKeepsTheEntry) {
  Discover(kKestoLidarDevTypeVela, vela_, kVelaIp, "FIRST");
  Discover(kKestoLidarDevTypeVela, vela_, kVelaIp, "SECOND");
  Discover(kKestoLidarDevTypeVela, vela_, kVelaIp, "SECOND");
  EXPECT_EQ(capture_.Count("Lidar ip conflic, the lidar ip:192.168.1.10, the sn1:FIRST, the "
                           "sn2:SECOND"),
            2u);
  setup().KestoLidarInfoChange(vela_);
  ASSERT_EQ(identities_.size(), 1u);
  EXPECT_EQ(identities_[0].sn, "FIRST");
}

TEST_F(LidarSetupTest, SerialNumberFillingItsFieldIsCutInTheIdentity) {
  Discover(kKestoLidarDevTypeVela, vela_, kVelaIp, "ABCDEFGHIJKLMNOP");
  EXPECT_EQ(capture_.Count("sn:ABCDEFGHIJKLMNOP, cmd_port"), 1u) << "16 characters, no more";
  setup().KestoLidarInfoChange(vela_);
  ASSERT_EQ(identities_.size(), 1u);
  EXPECT_EQ(identities_[0].sn, "ABCDEFGHIJKLMNO");
}

TEST_F(LidarSetupTest, ControlCharactersOfASerialNumberNeverReachTheLog) {
  Discover(kKestoLidarDevTypeVela, vela_, kVelaIp, "SN\x1b[2J\n");
  EXPECT_EQ(capture_.Count("sn:SN?[2J?, cmd_port"), 1u);
}

TEST_F(LidarSetupTest, FailedDiscoveryReplyCreatesNothing) {
  Receive(vela_, 56000, DiscoveryReply(1, 10, "SN", kVelaIp, 56000));
  EXPECT_EQ(capture_.Count("Detection lidar faield, the handle:" + std::to_string(vela_) +
                           ", lidar_port:56000, ret_code:1"),
            1u);
  EXPECT_EQ(link_.FrameCount(), 0u);
  EXPECT_EQ(handler().GetLidarCommandHandler(vela_), nullptr);
  // A reply too short to hold its record, and a discovery request echoed back, create nothing.
  Receive(vela_, 56000, Frame(3, 0x0000, 1, Bytes(23, 0)));
  EXPECT_EQ(capture_.Count("Detection data is too short, the handle:" + std::to_string(vela_) +
                           ", the len:23"),
            1u);
  Receive(vela_, 56000, Frame(3, 0x0000, 0, DiscoveryPayload(0, 10, "SN", kVelaIp, 1)));
  EXPECT_EQ(link_.FrameCount(), 0u);
}

TEST_F(LidarSetupTest, TwelveFailedFirmwareAnswersThenTheLidarCountsAsNotZero) {
  Discover(kKestoLidarDevTypeVela, vela_, kVelaIp);
  for (int i = 0; i < 12; ++i) {
    Answer(kKestoLidarDevTypeVela, vela_, 0x0101, InternalInfoAnswer(3, {}));
  }
  EXPECT_EQ(CountSent(0x0101), 12u);
  EXPECT_EQ(capture_.Count("Query kesto lidar Fw type failed, the ret_code:3"), 11u);
  EXPECT_EQ(capture_.Count("Query kesto lidar failed, the retry time more than 10."), 1u);
  Discover(kKestoLidarDevTypeVela, vela_, kVelaIp);
  EXPECT_EQ(CountSent(0x0100), 1u);
  EXPECT_EQ(handler().PendingCommandCount(), 1u);
}

// The retry limit counts one lidar's failed answers; another lidar's good answer is taken as it
// is, whatever came before it.
TEST_F(LidarSetupTest, FailedFirmwareAnswersOfOneLidarDoNotDecideAnothers) {
  Discover(kKestoLidarDevTypeVela, vela_, kVelaIp);
  for (int i = 0; i < 11; ++i) {
    Answer(kKestoLidarDevTypeVela, vela_, 0x0101, InternalInfoAnswer(3, {}));
  }
  Discover(kKestoLidarDevTypeOrbit, orbit_, kOrbitIp);
  AnswerFwType(kKestoLidarDevTypeOrbit, orbit_, 0);
  EXPECT_EQ(directory().Find(orbit_)->fw_type, std::optional<uint8_t>(0));
  EXPECT_EQ(capture_.Count("Query kesto lidar failed, the retry time more than 10."), 0u);
}

TEST_F(LidarSetupTest, FirmwareAnswersWithoutAUsableEntryAreFailedAnswers) {
  const Bytes cases[] = {
      {0, 0, 0},                                  // param_num 0
      {0, 1, 0},                                  // claims an entry, ends before it
      {0, 1, 0, 0x10, 0x80, 1, 0},                // entry header without its value
      InternalInfoAnswer(0, {{0x8011, {1}}}),     // another key
      InternalInfoAnswer(0, {{0x8010, {1, 0}}}),  // value of two bytes
  };
  Discover(kKestoLidarDevTypeVela, vela_, kVelaIp);
  for (const Bytes& answer : cases) Answer(kKestoLidarDevTypeVela, vela_, 0x0101, answer);
  EXPECT_EQ(CountSent(0x0101), 1u + std::size(cases));
  EXPECT_EQ(capture_.Count("Query Fw type failed, the response holds no whole entry."), 3u);
  EXPECT_EQ(capture_.Count("Query Fw type filed, the key had fault, the key:32785"), 1u);
  EXPECT_EQ(capture_.Count("Query Fw type failed, the val lenth is error, the len:2"), 1u);
  AnswerFwType(kKestoLidarDevTypeVela, vela_, 1);
  EXPECT_EQ(capture_.Count("Query Fw type succ, the fw_type:1"), 1u);
}

struct SegmentCase {
  const char* host_ip;
  std::array<uint8_t, 4> lidar_ip;
  bool accepted;
  const char* message;
};

TEST_F(LidarSetupTest, ViewModeAcceptsOnlyTheHostsSegment) {
  const SegmentCase cases[] = {
      {"192.168.1.50", {192, 168, 1, 10}, true, "Host ip:192.168.1.50, lidar ip:192.168.1.10"},
      {"192.168.1.50",
       {192, 168, 2, 10},
       false,
       "The host address and lidar address are on different network segments, the "
       "host_ip:192.168.1.50, lidar_ip:192.168.2.10"},
      {"", {192, 168, 1, 10}, false, "Verify net segment faield, the host ip is empty."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    Rebuild();
    link_.ClearFrames();
    capture_.Clear();
    InitView(c.host_ip);
    const uint32_t handle = HandleOf(c.lidar_ip[0], c.lidar_ip[1], c.lidar_ip[2], c.lidar_ip[3]);
    Receive(handle, 56000, DiscoveryReply(0, 10, "SN", c.lidar_ip, 56000));
    EXPECT_EQ(capture_.Count(c.message), 1u);
    EXPECT_EQ(link_.FrameCount(), c.accepted ? 1u : 0u) << "the firmware query, as master";
    EXPECT_EQ(handler().GetLidarCommandHandler(handle) != nullptr, c.accepted);
  }
}

TEST_F(LidarSetupTest, AViewLidarIsConfiguredFromItsInternalInformation) {
  ObserveInfoChange();
  InitView("192.168.1.50");
  Discover(kKestoLidarDevTypeVela, vela_, kVelaIp, "SN", 56001);
  ASSERT_EQ(CountSent(0x0101), 1u);
  AnswerFwType(kKestoLidarDevTypeVela, vela_, 1);
  EXPECT_EQ(capture_.Count("Query Fw type succ, the fw_type:1"), 1u);
  Answer(kKestoLidarDevTypeVela, vela_, 0x0101, InternalInfoAnswer(0, {{0x8010, {1}}}));
  EXPECT_EQ(capture_.Count("Receive Ack: Id 257 Seq"), 2u) << "the second finds no command";

  // The next reply asks for the internal information, whose answer names the data ports.
  Discover(kKestoLidarDevTypeVela, vela_, kVelaIp, "SN", 56001);
  ASSERT_EQ(CountSent(0x0101), 2u);
  EXPECT_EQ(Last(0x0101).Payload().size(), 4u + 2u * 27u) << "VELA's internal-info keys";
  const Bytes point = {192, 168, 1, 50, 0x41, 0xDE, 0x68, 0xDE};  // host port 56897, lidar 56936
  const Bytes imu = {192, 168, 1, 50, 0x42, 0xDE, 0x69, 0xDE};
  Answer(kKestoLidarDevTypeVela, vela_, 0x0101, InternalInfoAnswer(0, {{0x0006, point}, {0x0007, imu}}));
  ASSERT_EQ(CountSent(0x0100), 1u);
  const SentFrame request = Last(0x0100);
  EXPECT_EQ(request.dest_port, 56001) << "the command port the reply named";
  const auto record = directory().Find(vela_);
  ASSERT_TRUE(record.has_value() && record->view.has_value());
  EXPECT_EQ(record->view->host_point_data_port, 56897);
  EXPECT_EQ(record->view->lidar_imu_data_port, 56937);
  EXPECT_EQ(record->state, lidar::LidarState::kConfiguring);
  EXPECT_EQ(record->route.lidar.point_data_port, 56936) << "its data is routed now";

  Discover(kKestoLidarDevTypeVela, vela_, kVelaIp, "SN", 56001);
  EXPECT_EQ(CountSent(0x0100), 2u) << "sent again while unanswered";
  Answer(kKestoLidarDevTypeVela, vela_, 0x0100, ControlAnswer(0, 0));
  EXPECT_EQ(directory().Find(vela_)->state, lidar::LidarState::kViewing);
  EXPECT_EQ(identities_.size(), 1u);
  Discover(kKestoLidarDevTypeVela, vela_, kVelaIp, "SN", 56001);
  EXPECT_EQ(CountSent(0x0100), 2u);
  EXPECT_EQ(CountSent(0x0101), 2u);
}

struct PushCase {
  uint8_t dev_type;
  uint32_t handle;
  uint16_t port;
  bool delivered;
};

TEST_F(LidarSetupTest, StatePushOnlyFromTheModelsPushPort) {
  struct Pushes {
    std::vector<std::pair<uint32_t, std::string>> texts;
    uint8_t dev_type = 0;
  } pushes;
  handler().SetPushMessageObserver(
      [](uint32_t handle, uint8_t dev_type, const char* text, void* cd) {
        auto* p = static_cast<Pushes*>(cd);
        p->texts.emplace_back(handle, text);
        p->dev_type = dev_type;
      },
      &pushes);
  Discover(kKestoLidarDevTypeVela, vela_, kVelaIp);
  Discover(kKestoLidarDevTypeOrbit, orbit_, kOrbitIp);
  const uint32_t stranger = HandleOf(192, 168, 1, 99);
  const PushCase cases[] = {
      {kKestoLidarDevTypeVela, vela_, 56000, true},
      {kKestoLidarDevTypeVela, vela_, 56200, false},
      {kKestoLidarDevTypeOrbit, orbit_, 56200, true},
      {kKestoLidarDevTypeOrbit, orbit_, 56000, false},
      {kKestoLidarDevTypeVela, stranger, 56000, false},
  };
  const Bytes push = StatePush(KeyValueList({{0x001A, {3}}}));
  for (const auto& c : cases) {
    const size_t before = pushes.texts.size();
    Receive(c.handle, c.port, push);
    EXPECT_EQ(pushes.texts.size() - before, c.delivered ? 1u : 0u)
        << int(c.dev_type) << " from " << c.port;
  }
  ASSERT_EQ(pushes.texts.size(), 2u);
  EXPECT_EQ(pushes.texts[1].first, orbit_);
  EXPECT_EQ(pushes.dev_type, 9);
  EXPECT_EQ(pushes.texts[0].second, "{\n    \"work_tgt_mode\": 3\n}");
  // A list that does not convert is delivered as an empty text.
  Receive(vela_, 56000, StatePush(Bytes{5, 0, 0, 0}));
  ASSERT_EQ(pushes.texts.size(), 3u);
  EXPECT_EQ(pushes.texts[2].second, "");
}

TEST_F(LidarSetupTest, UpgradeChannelAndBrokenFramesAreOnlyLogged) {
  const uint32_t unnamed = HandleOf(192, 168, 1, 30);
  InitWith({Cfg(kKestoLidarDevTypeVela, "192.168.1.10"), Cfg(kKestoLidarDevTypeUnnamed, "192.168.1.30")});
  const Bytes anything = {1, 2, 3};
  Receive(unnamed, 10001, anything);
  EXPECT_EQ(capture_.Count("GeneralCommandHandler::Handler get cmd handler failed"), 1u);
  Receive(vela_, 56000, anything);
  EXPECT_EQ(capture_.Count("Parse Command Stream failed."), 1u);
  EXPECT_EQ(link_.FrameCount(), 0u);
}

TEST_F(LidarSetupTest, ANewKitKnowsNothingOfThePreviousOne) {
  SetUpLidar(kKestoLidarDevTypeVela, vela_, kVelaIp);
  ASSERT_EQ(identities_.size(), 1u);
  Rebuild();
  InitNormal();
  std::set<uint16_t> keys;
  EXPECT_FALSE(handler().GetInternalInfoKeys(vela_, keys));
  // The lidar is new again: set up once more, told to the observer of the new kit only.
  SetUpLidar(kKestoLidarDevTypeVela, vela_, kVelaIp);
  EXPECT_EQ(CountSent(0x0100), 2u);
  EXPECT_EQ(identities_.size(), 1u);
}

// Lidars that come and go: a discovery period begins before each request, and a lidar silent
// for three of them in a row is lost; when it answers again it is set up once more.
class ComeAndGoTest : public LidarSetupTest {
 protected:
  struct Change {
    uint32_t handle;
    int state;
    std::string sn;
  };
  void SetUp() override {
    LidarSetupTest::SetUp();
    setup().SetLidarStateObserver(
        [](uint32_t handle, int state, const KestoLidarIdentity* identity, void* cd) {
          static_cast<ComeAndGoTest*>(cd)->changes_.push_back({handle, state, identity->sn});
        },
        this);
  }
  // `periods` discovery periods; the lidar answers in those `answered` says.
  void Periods(int periods, const std::function<bool(int)>& answered) {
    for (int i = 0; i < periods; ++i) {
      setup().OnDiscoveryPeriod();
      if (answered(i)) Discover(kKestoLidarDevTypeVela, vela_, kVelaIp);
    }
  }
  size_t CountChanges(int state) const {
    size_t n = 0;
    for (const Change& change : changes_) n += change.state == state;
    return n;
  }
  std::vector<Change> changes_;
};

TEST_F(ComeAndGoTest, MissingOneOrTwoPeriodsIsNotLost) {
  setup().OnDiscoveryPeriod();
  SetUpLidar(kKestoLidarDevTypeVela, vela_, kVelaIp);
  ASSERT_EQ(CountChanges(kKestoLidarStateConfigured), 1u);
  // Silent for one period, then two, between answers.
  Periods(12, [](int i) { return i != 1 && i != 4 && i != 5; });
  EXPECT_EQ(CountChanges(kKestoLidarStateLost), 0u);
  EXPECT_EQ(directory().Find(vela_)->state, lidar::LidarState::kConfigured);
  EXPECT_EQ(CountSent(0x0100), 1u) << "never set up twice";
}

TEST_F(ComeAndGoTest, ALidarSilentForThreePeriodsIsLostAndSetUpAgainWhenBack) {
  setup().OnDiscoveryPeriod();
  SetUpLidar(kKestoLidarDevTypeVela, vela_, kVelaIp);
  ASSERT_EQ(identities_.size(), 1u);
  ASSERT_EQ(CountChanges(kKestoLidarStateDetected), 1u);
  Periods(3, [](int) { return false; });
  EXPECT_EQ(CountChanges(kKestoLidarStateLost), 0u) << "the third request may still be answered";
  setup().OnDiscoveryPeriod();
  ASSERT_EQ(CountChanges(kKestoLidarStateLost), 1u);
  EXPECT_EQ(changes_.back().sn, "SN-0001");
  EXPECT_EQ(directory().Find(vela_)->state, lidar::LidarState::kLost);
  Periods(3, [](int) { return false; });
  EXPECT_EQ(CountChanges(kKestoLidarStateLost), 1u) << "told once";

  // Back: the whole set-up once more, as for a new lidar.
  link_.ClearFrames();
  Discover(kKestoLidarDevTypeVela, vela_, kVelaIp);
  EXPECT_EQ(CountChanges(kKestoLidarStateBack), 1u);
  ASSERT_EQ(CountSent(0x0101), 1u) << "the firmware-type query";
  AnswerFwType(kKestoLidarDevTypeVela, vela_, 1);
  Discover(kKestoLidarDevTypeVela, vela_, kVelaIp);
  ASSERT_EQ(CountSent(0x0100), 1u) << "the configuration";
  Answer(kKestoLidarDevTypeVela, vela_, 0x0100, ControlAnswer(0, 0));
  EXPECT_EQ(identities_.size(), 2u) << "the information change again";
  EXPECT_EQ(CountChanges(kKestoLidarStateConfigured), 2u);
  EXPECT_EQ(CountChanges(kKestoLidarStateDetected), 1u) << "back, not detected";
}

TEST_F(ComeAndGoTest, AnAnswerOfBeforeTheLossDoesNotEndTheNewSetUp) {
  setup().OnDiscoveryPeriod();
  Discover(kKestoLidarDevTypeVela, vela_, kVelaIp);
  AnswerFwType(kKestoLidarDevTypeVela, vela_, 1);
  Discover(kKestoLidarDevTypeVela, vela_, kVelaIp);
  ASSERT_EQ(CountSent(0x0100), 1u);
  Periods(4, [](int) { return false; });
  ASSERT_EQ(directory().Find(vela_)->state, lidar::LidarState::kLost);
  Answer(kKestoLidarDevTypeVela, vela_, 0x0100, ControlAnswer(0, 0));  // late, of the old set-up
  EXPECT_TRUE(identities_.empty());
  EXPECT_EQ(directory().Find(vela_)->state, lidar::LidarState::kLost);
}

TEST_F(ComeAndGoTest, AViewLidarThatComesBackIsViewedAgain) {
  InitView("192.168.1.50");
  const Bytes point = {192, 168, 1, 50, 0x41, 0xDE, 0x68, 0xDE};
  const auto view_up = [&] {
    Discover(kKestoLidarDevTypeVela, vela_, kVelaIp, "SN", 56001);
    AnswerFwType(kKestoLidarDevTypeVela, vela_, 1);
    Discover(kKestoLidarDevTypeVela, vela_, kVelaIp, "SN", 56001);
    Answer(kKestoLidarDevTypeVela, vela_, 0x0101, InternalInfoAnswer(0, {{0x0006, point}}));
    Answer(kKestoLidarDevTypeVela, vela_, 0x0100, ControlAnswer(0, 0));
  };
  setup().OnDiscoveryPeriod();
  view_up();
  ASSERT_EQ(directory().Find(vela_)->state, lidar::LidarState::kViewing);
  EXPECT_EQ(directory().TakeViewChannelsToOpen().size(), 1u);
  Periods(4, [](int) { return false; });
  ASSERT_EQ(directory().Find(vela_)->state, lidar::LidarState::kLost);
  view_up();
  EXPECT_EQ(directory().Find(vela_)->state, lidar::LidarState::kViewing);
  EXPECT_EQ(CountSent(0x0101), 4u) << "firmware type and internal info, twice";
  EXPECT_EQ(directory().TakeViewChannelsToOpen().size(), 1u) << "its channels, again";
  EXPECT_EQ(identities_.size(), 2u);
}

// A lidar given a new address is a new lidar: the same serial number under another handle,
// while its old handle goes lost.
TEST_F(ComeAndGoTest, ANewAddressIsANewLidar) {
  const uint32_t moved = HandleOf(192, 168, 1, 11);
  InitWith({Cfg(kKestoLidarDevTypeVela, "192.168.1.10"), Cfg(kKestoLidarDevTypeVela, "192.168.1.11")});
  setup().OnDiscoveryPeriod();
  SetUpLidar(kKestoLidarDevTypeVela, vela_, kVelaIp);
  for (int i = 0; i < 4; ++i) {
    setup().OnDiscoveryPeriod();
    Discover(kKestoLidarDevTypeVela, moved, {192, 168, 1, 11});
    if (i == 0) {
      AnswerFwType(kKestoLidarDevTypeVela, moved, 1);
    } else if (i == 1) {
      Answer(kKestoLidarDevTypeVela, moved, 0x0100, ControlAnswer(0, 0));
    }
  }
  ASSERT_EQ(identities_.size(), 2u);
  EXPECT_EQ(identities_[1].lidar_ip, "192.168.1.11");
  EXPECT_EQ(identities_[1].sn, identities_[0].sn);
  EXPECT_EQ(directory().Find(vela_)->state, lidar::LidarState::kLost);
  EXPECT_EQ(directory().Find(moved)->state, lidar::LidarState::kConfigured);
  ASSERT_EQ(CountChanges(kKestoLidarStateLost), 1u);
  EXPECT_EQ(changes_.back().handle, vela_);
}

}  // namespace
}  // namespace kesto::test
