// The bridge's printing observers and completions, driven as the kit would drive them, against
// a fake kit that records the commands they send.
#include "console_callbacks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "console_capture.h"
#include "fake_kit.h"

namespace kesto::bridge::test {
namespace {

using Bytes = std::vector<uint8_t>;

uint32_t Handle(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  const uint8_t octets[4] = {a, b, c, d};  // network byte order: first octet first in memory
  uint32_t handle = 0;
  std::memcpy(&handle, octets, sizeof handle);
  return handle;
}

const uint32_t kHandle = Handle(192, 168, 1, 10);
const std::string kHandleText = std::to_string(kHandle);

void AppendU16(Bytes& bytes, uint16_t value) {
  bytes.push_back(static_cast<uint8_t>(value));
  bytes.push_back(static_cast<uint8_t>(value >> 8));
}

Bytes Entry(uint16_t key, const Bytes& value) {
  Bytes entry;
  AppendU16(entry, key);
  AppendU16(entry, static_cast<uint16_t>(value.size()));
  for (const uint8_t byte : value) entry.push_back(byte);
  return entry;
}

// A host-address value: address, host port, lidar port (little-endian).
Bytes HostValue(uint8_t a, uint8_t b, uint8_t c, uint8_t d, uint16_t host, uint16_t lidar) {
  return {a, b, c, d, static_cast<uint8_t>(host), static_cast<uint8_t>(host >> 8),
          static_cast<uint8_t>(lidar), static_cast<uint8_t>(lidar >> 8)};
}

// An internal-info record as the kit hands it over: ret_code 0, param_num, the entries, and no
// byte more than it holds (at least the record's declared size).
Bytes Record(uint16_t param_num, const std::vector<Bytes>& entries) {
  Bytes record = {0};
  AppendU16(record, param_num);
  for (const Bytes& entry : entries) {
    for (const uint8_t byte : entry) record.push_back(byte);
  }
  if (record.size() < sizeof(KestoLidarDiagInternalInfoResponse)) {
    record.resize(sizeof(KestoLidarDiagInternalInfoResponse), 0);
  }
  return record;
}

KestoLidarDiagInternalInfoResponse* AsResponse(Bytes& record) {
  return reinterpret_cast<KestoLidarDiagInternalInfoResponse*>(record.data());
}

std::string PointLine(const std::string& address, unsigned host, unsigned lidar) {
  return "Host point cloud ip addr:" + address + ", host point cloud port:" + std::to_string(host) +
         ", lidar point cloud port:" + std::to_string(lidar) + ".\n";
}
std::string ImuLine(const std::string& address, unsigned host, unsigned lidar) {
  return "Host imu ip addr:" + address + ", host imu port:" + std::to_string(host) +
         ", lidar imu port:" + std::to_string(lidar) + ".\n";
}

KestoLidarIdentity Identity(const std::string& sn) {
  KestoLidarIdentity identity{};
  identity.dev_type = 9;
  std::memcpy(identity.sn, sn.data(), std::min(sn.size(), sizeof identity.sn));
  std::strcpy(identity.lidar_ip, "192.168.1.10");
  return identity;
}

const std::vector<std::string> kConfigureCommands = {
    "RequestWorkMode " + kHandleText + " 1 WorkModeCallback",
    "RequestPointDataType " + kHandleText + " 1 PclDataTypeCallback",
    "QueryKestoLidarInternalInfo " + kHandleText + " InternalInfoCallback",
};

class ConsoleCallbacksTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetFakeKit();
    ForgetInternalInfoRetries();
    ASSERT_TRUE(console_.ok());
  }
  void TearDown() override {
    ResetFakeKit();
    ForgetInternalInfoRetries();
  }
  ConsoleCapture console_;
};

struct ConsoleCase {
  const char* name;
  std::function<void()> drive;
  std::string printed;
  std::vector<std::string> commands;
};

TEST_F(ConsoleCallbacksTest, PrintExactlyTheirLinesAndSendTheirCommands) {
  const auto identity = Identity("ORB123");
  const auto unterminated = Identity("SN0123456789ABCDEF");  // fills all 16 bytes
  KestoLidarAsyncControlResponse accepted{0, 0};
  KestoLidarAsyncControlResponse refused{1, 0x1234};
  const ConsoleCase cases[] = {
      {"push message",
       [] { PushMessageCallback(kHandle, 9, "{\n    \"work_mode\": 1\n}", nullptr); },
       "handle: " + kHandleText + ", ip: 192.168.1.10, push msg info: \n{\n    \"work_mode\": 1\n}\n",
       {}},
      {"push message from 10.0.0.255",
       [] { PushMessageCallback(Handle(10, 0, 0, 255), 10, "", nullptr); },
       "handle: " + std::to_string(Handle(10, 0, 0, 255)) + ", ip: 10.0.0.255, push msg info: \n\n",
       {}},
      {"info change without a record", [] { LidarInfoChangeCallback(kHandle, nullptr, nullptr); },
       "lidar info change callback failed, the info is nullptr.\n", {}},
      {"info change", [&] { LidarInfoChangeCallback(kHandle, &identity, nullptr); },
       "LidarInfoChangeCallback Lidar handle: " + kHandleText + " SN: ORB123\n", kConfigureCommands},
      {"info change, serial number without its terminator",
       [&] { LidarInfoChangeCallback(kHandle, &unterminated, nullptr); },
       "LidarInfoChangeCallback Lidar handle: " + kHandleText + " SN: SN0123456789ABCD\n",
       kConfigureCommands},
      {"work mode and point type run together on one line",
       [&] {
         WorkModeCallback(0, kHandle, &accepted, nullptr);
         PclDataTypeCallback(0, kHandle, &refused, nullptr);
       },
       "WorkModeCallack, status:0, handle:" + kHandleText + ", ret_code:0, error_key:0" +
           "PclDataTypeCallack, status:0, handle:" + kHandleText + ", ret_code:1, error_key:4660",
       {}},
      {"a time-out prints its status as unsigned",
       [&] { WorkModeCallback(-4, kHandle, &accepted, nullptr); },
       "WorkModeCallack, status:4294967292, handle:" + kHandleText + ", ret_code:0, error_key:0", {}},
      {"completions without a response print nothing",
       [] {
         WorkModeCallback(-4, kHandle, nullptr, nullptr);
         PclDataTypeCallback(-9, kHandle, nullptr, nullptr);
         InternalInfoCallback(0, kHandle, nullptr, nullptr);
       },
       "", {}},
      {"a failed query is printed and asked again",
       [] { InternalInfoCallback(-4, kHandle, nullptr, nullptr); },
       "Query lidar internal info failed.\n",
       {"QueryKestoLidarInternalInfo " + kHandleText + " InternalInfoCallback"}},
  };
  for (const ConsoleCase& c : cases) {
    SCOPED_TRACE(c.name);
    ConsoleCapture console;
    ResetFakeKit();
    c.drive();
    EXPECT_EQ(console.Text(), c.printed);
    EXPECT_EQ(KitCalls(), c.commands);
  }
}

struct InfoCase {
  const char* name;
  Bytes record;
  std::string printed;
};

TEST_F(ConsoleCallbacksTest, InternalInfoPrintsTheHostAddressesOfItsEntries) {
  const Bytes point = Entry(6, HostValue(127, 0, 0, 1, 57001, 57000));
  const Bytes imu = Entry(7, HostValue(127, 0, 0, 1, 58001, 58000));
  const Bytes other = Entry(3, {1, 2, 3});
  const std::string point_line = PointLine("127.0.0.1", 57001, 57000);
  const std::string imu_line = ImuLine("127.0.0.1", 58001, 58000);
  const std::string no_point = PointLine("0.0.0.0", 0, 0);
  const std::string no_imu = ImuLine("0.0.0.0", 0, 0);
  const InfoCase cases[] = {
      {"both keys among others", Record(4, {other, point, other, imu}), point_line + imu_line},
      {"no entries", Record(0, {}), no_point + no_imu},
      {"no point-cloud key", Record(2, {other, imu}), no_point + imu_line},
      {"no IMU key", Record(1, {point}), point_line + no_imu},
      {"a later entry replaces an earlier one",
       Record(2, {point, Entry(6, HostValue(10, 1, 2, 3, 1, 2))}),
       PointLine("10.1.2.3", 1, 2) + no_imu},
      {"entries beyond param_num are not read", Record(1, {point, imu}), point_line + no_imu},
      {"a short value leaves the missing fields 0",
       Record(2, {Entry(6, {192, 168, 0, 9}), Entry(7, {192, 168, 0, 9, 0x10, 0x27})}),
       PointLine("192.168.0.9", 0, 0) + ImuLine("192.168.0.9", 10000, 0)},
      {"a long value is read for its first eight bytes",
       Record(1, {Entry(7, {1, 2, 3, 4, 5, 0, 6, 0, 7, 7, 7})}), no_point + ImuLine("1.2.3.4", 5, 6)},
  };
  for (const InfoCase& c : cases) {
    SCOPED_TRACE(c.name);
    ConsoleCapture console;
    ResetFakeKit();
    Bytes record = c.record;  // exactly as long as the kit's copy, so an over-read is caught
    InternalInfoCallback(0, kHandle, AsResponse(record), nullptr);
    EXPECT_EQ(console.Text(), c.printed);
    EXPECT_TRUE(KitCalls().empty());
  }
}

TEST(ReadInternalInfoHostsTest, StopsAtTheLengthItIsGiven) {
  const Bytes point = Entry(6, HostValue(127, 0, 0, 1, 57001, 57000));
  const Bytes imu = Entry(7, HostValue(127, 0, 0, 1, 58001, 58000));
  const Bytes full = Record(3, {point, imu});  // claims a third entry that is not there
  const size_t after_point = 3 + point.size();
  const struct {
    const char* name;
    size_t length;
    bool has_point;
    bool has_imu;
  } cases[] = {
      {"whole record", full.size(), true, true},
      {"second value cut", full.size() - 1, true, false},
      {"second header cut", after_point + 3, true, false},
      {"first entry only", after_point, true, false},
      {"first value cut", after_point - 1, false, false},
      {"header only", 3, false, false},
      {"shorter than the header", 2, false, false},
      {"empty", 0, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // A heap buffer of exactly `length` bytes (at least one, so it has an address).
    std::unique_ptr<uint8_t[]> bytes(new uint8_t[std::max<size_t>(c.length, 1)]);
    std::memcpy(bytes.get(), full.data(), c.length);
    const auto hosts = ReadInternalInfoHosts(
        *reinterpret_cast<const KestoLidarDiagInternalInfoResponse*>(bytes.get()), c.length);
    EXPECT_EQ(hosts.point_cloud.host_port, c.has_point ? 57001 : 0);
    EXPECT_EQ(hosts.point_cloud.lidar_port, c.has_point ? 57000 : 0);
    EXPECT_EQ(hosts.point_cloud.ip[0], c.has_point ? 127 : 0);
    EXPECT_EQ(hosts.imu.host_port, c.has_imu ? 58001 : 0);
    EXPECT_EQ(hosts.imu.lidar_port, c.has_imu ? 58000 : 0);
  }
}

TEST_F(ConsoleCallbacksTest, QueryIsAskedAgainUntilItSucceeds) {
  std::vector<KestoLidarInternalInfoCallback> pending;
  Kit().on_query = [&](uint32_t, KestoLidarInternalInfoCallback cb) { pending.push_back(cb); };
  const auto identity = Identity("VELA7");
  LidarInfoChangeCallback(kHandle, &identity, nullptr);
  const std::string query = "QueryKestoLidarInternalInfo " + kHandleText + " InternalInfoCallback";

  // Two time-outs, each reported later on a network thread, then an answer.
  for (int attempt = 0; attempt < 2; ++attempt) {
    ASSERT_EQ(pending.size(), static_cast<size_t>(attempt + 1));
    pending.back()(-4, kHandle, nullptr, nullptr);
  }
  Bytes record = Record(1, {Entry(7, HostValue(127, 0, 0, 1, 58001, 58000))});
  ASSERT_EQ(pending.size(), 3u);
  pending.back()(0, kHandle, AsResponse(record), nullptr);

  std::vector<std::string> expected = kConfigureCommands;
  expected.push_back(query);
  expected.push_back(query);
  EXPECT_EQ(KitCalls(), expected);
  EXPECT_EQ(console_.Text(), "LidarInfoChangeCallback Lidar handle: " + kHandleText +
                                 " SN: VELA7\n" + "Query lidar internal info failed.\n" +
                                 "Query lidar internal info failed.\n" + PointLine("0.0.0.0", 0, 0) +
                                 ImuLine("127.0.0.1", 58001, 58000));
}

// The kit reports a send that failed at once from inside the call; asking again from there
// would recurse for as long as sending keeps failing. The lidar waits for the next tick.
TEST_F(ConsoleCallbacksTest, AFailureReportedInsideTheQueryIsNotAskedAgainFromThere) {
  int depth = 0;
  Kit().on_query = [&](uint32_t handle, KestoLidarInternalInfoCallback cb) {
    if (++depth > 64) return;  // keeps a faulty bridge from exhausting the stack here
    cb(-9, handle, nullptr, nullptr);
  };
  const auto identity = Identity("ORB9");
  LidarInfoChangeCallback(kHandle, &identity, nullptr);
  EXPECT_EQ(KitCalls(), kConfigureCommands);
  EXPECT_EQ(console_.Text(), "LidarInfoChangeCallback Lidar handle: " + kHandleText +
                                 " SN: ORB9\nQuery lidar internal info failed.\n");
  EXPECT_EQ(InternalInfoRetries(), std::vector<uint32_t>{kHandle});

  // A failure reported later, outside any query, is asked again (and fails at once again).
  InternalInfoCallback(-4, kHandle, nullptr, nullptr);
  std::vector<std::string> expected = kConfigureCommands;
  expected.push_back(kConfigureCommands.back());
  EXPECT_EQ(KitCalls(), expected);
  EXPECT_EQ(console_.Text(), "LidarInfoChangeCallback Lidar handle: " + kHandleText +
                                 " SN: ORB9\n" +
                                 "Query lidar internal info failed.\n"
                                 "Query lidar internal info failed.\n"
                                 "Query lidar internal info failed.\n");
}

struct GoOutCase {
  const char* name;
  // Makes the first two queries fail to go out, in this case's way.
  std::function<void()> arrange;
  // Runs after each step, as the kit's network threads would (a completion reported later).
  std::function<void()> settle;
  std::string failure_lines;  // printed for the two failures
};

// Whatever way a query fails to go out, the lidar is asked again on each retry tick (and only
// then) until the query goes out; the information change that asked first never fires again.
TEST_F(ConsoleCallbacksTest, AQueryThatFailsToGoOutIsAskedAgainOnEachTickUntilItGoesOut) {
  const std::string query = "QueryKestoLidarInternalInfo " + kHandleText + " InternalInfoCallback";
  const std::string failed = "Query lidar internal info failed.\n";
  std::vector<KestoLidarInternalInfoCallback> later;
  int failures = 0;
  const GoOutCase cases[] = {
      {"the entry point returns non-zero", [] { Kit().failing_queries = 2; }, [] {}, ""},
      {"the completion reports a failed send inside the call",
       [&] {
         Kit().on_query = [&](uint32_t handle, KestoLidarInternalInfoCallback cb) {
           if (failures++ < 2) cb(-9, handle, nullptr, nullptr);
         };
       },
       [] {}, failed + failed},
      {"the completion reports a failed send later",
       [&] {
         Kit().on_query = [&](uint32_t, KestoLidarInternalInfoCallback cb) { later.push_back(cb); };
       },
       [&] {
         if (failures < 2 && !later.empty()) {
           ++failures;
           const KestoLidarInternalInfoCallback cb = later.back();
           later.clear();
           cb(-9, kHandle, nullptr, nullptr);
         }
       },
       failed + failed},
  };
  const auto identity = Identity("VELA3");
  for (const GoOutCase& c : cases) {
    SCOPED_TRACE(c.name);
    ResetFakeKit();
    ForgetInternalInfoRetries();
    later.clear();
    failures = 0;
    c.arrange();
    ConsoleCapture console;

    LidarInfoChangeCallback(kHandle, &identity, nullptr);
    c.settle();
    EXPECT_EQ(CountKitCalls(query), 1u) << "asked again before the tick";
    EXPECT_EQ(InternalInfoRetries(), std::vector<uint32_t>{kHandle});
    RetryInternalInfoQueries();
    c.settle();
    EXPECT_EQ(CountKitCalls(query), 2u);
    EXPECT_EQ(InternalInfoRetries(), std::vector<uint32_t>{kHandle});
    RetryInternalInfoQueries();  // goes out now
    c.settle();
    EXPECT_EQ(CountKitCalls(query), 3u);
    EXPECT_TRUE(InternalInfoRetries().empty());
    RetryInternalInfoQueries();
    EXPECT_EQ(CountKitCalls(query), 3u) << "a query that went out is not asked again";
    EXPECT_EQ(console.Text(),
              "LidarInfoChangeCallback Lidar handle: " + kHandleText + " SN: VELA3\n" +
                  c.failure_lines);
  }
}

TEST_F(ConsoleCallbacksTest, EachLidarIsListedOnceAndForgottenOnRequest) {
  const uint32_t other = Handle(192, 168, 1, 11);
  Kit().failing_queries = 3;
  const auto first = Identity("A1");
  const auto second = Identity("B2");
  LidarInfoChangeCallback(kHandle, &first, nullptr);
  LidarInfoChangeCallback(other, &second, nullptr);
  LidarInfoChangeCallback(kHandle, &first, nullptr);  // fails again: still listed once
  std::vector<uint32_t> both = {kHandle, other};
  std::sort(both.begin(), both.end());
  EXPECT_EQ(InternalInfoRetries(), both);
  ForgetInternalInfoRetries();
  EXPECT_TRUE(InternalInfoRetries().empty());
  RetryInternalInfoQueries();
  EXPECT_EQ(CountKitCalls("QueryKestoLidarInternalInfo"), 3u);
}

}  // namespace
}  // namespace kesto::bridge::test
