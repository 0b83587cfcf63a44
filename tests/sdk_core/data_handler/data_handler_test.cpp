#include "data_handler.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <thread>

#include "log_capture.h"

namespace kesto::lidar {
namespace {

struct Calls {
  std::atomic<int> count{0};
  uint32_t handle = 0;
  uint8_t dev_type = 0;
  const KestoLidarEthernetPacket* packet = nullptr;
};

void Record(uint32_t handle, uint8_t dev_type, const KestoLidarEthernetPacket* packet, void* cd) {
  auto* calls = static_cast<Calls*>(cd);
  calls->handle = handle;
  calls->dev_type = dev_type;
  calls->packet = packet;
  calls->count.fetch_add(1);
}

struct Datagram {
  explicit Datagram(uint8_t data_type) { bytes[10] = data_type; }
  const KestoLidarEthernetPacket* packet() const {
    return reinterpret_cast<const KestoLidarEthernetPacket*>(bytes.data());
  }
  std::array<uint8_t, 64> bytes{};
};

class DataHandlerTest : public ::testing::Test {
 protected:
  DataHandler handler_;
  Calls points_, imu_;
};

TEST_F(DataHandlerTest, InitLogsOnceAtInfo) {
  test::LogCapture capture;
  EXPECT_TRUE(handler_.Init());
  ASSERT_EQ(capture.Lines().size(), 1u);
  EXPECT_EQ(capture.Lines()[0].level, spdlog::level::info);
  EXPECT_EQ(capture.Texts()[0], "Data Handler Init Succ.");
  EXPECT_NE(capture.Lines()[0].message.find("[data_handler.cpp] [Init] ["), std::string::npos);
}

TEST_F(DataHandlerTest, DataTypeChoosesTheObserver) {
  handler_.SetPointCloudObserver(Record, &points_);
  handler_.SetImuDataObserver(Record, &imu_);
  struct Case {
    uint8_t data_type;
    int points, imu;
  };
  // Every non-zero type goes to the point-cloud observer, including ones no reader knows.
  const Case cases[] = {{0, 0, 1}, {1, 1, 1}, {2, 2, 1}, {3, 3, 1}, {5, 4, 1}, {255, 5, 1}};
  for (const auto& c : cases) {
    Datagram d(c.data_type);
    handler_.Handle(10, 0x0100007Fu, d.packet());
    EXPECT_EQ(points_.count, c.points) << "data type " << int(c.data_type);
    EXPECT_EQ(imu_.count, c.imu) << "data type " << int(c.data_type);
  }
  EXPECT_EQ(points_.handle, 0x0100007Fu);
  EXPECT_EQ(points_.dev_type, 10);
}

TEST_F(DataHandlerTest, PacketIsPassedWithoutACopy) {
  handler_.SetImuDataObserver(Record, &imu_);
  Datagram d(0);
  handler_.Handle(9, 1, d.packet());
  EXPECT_EQ(imu_.packet, d.packet());
  EXPECT_EQ(imu_.dev_type, 9);
}

TEST_F(DataHandlerTest, MissingObserverOrPacketDropsSilently) {
  handler_.SetPointCloudObserver(Record, &points_);
  Datagram imu(0);
  handler_.Handle(10, 1, imu.packet());  // no IMU observer: dropped, not sent to points
  handler_.Handle(10, 1, nullptr);
  EXPECT_EQ(points_.count, 0);
}

TEST_F(DataHandlerTest, NullFunctionStopsOneKindOnly) {
  handler_.SetPointCloudObserver(Record, &points_);
  handler_.SetImuDataObserver(Record, &imu_);
  handler_.SetPointCloudObserver(nullptr, &points_);
  Datagram point(1), imu(0);
  handler_.Handle(10, 1, point.packet());
  handler_.Handle(10, 1, imu.packet());
  EXPECT_EQ(points_.count, 0);
  EXPECT_EQ(imu_.count, 1);
}

TEST_F(DataHandlerTest, ClearEmptiesBothUntilSetAgain) {
  handler_.SetPointCloudObserver(Record, &points_);
  handler_.SetImuDataObserver(Record, &imu_);
  handler_.Clear();
  Datagram point(1), imu(0);
  handler_.Handle(10, 1, point.packet());
  handler_.Handle(10, 1, imu.packet());
  EXPECT_EQ(points_.count + imu_.count, 0);
  handler_.SetImuDataObserver(Record, &imu_);
  handler_.Handle(10, 1, imu.packet());
  EXPECT_EQ(imu_.count, 1);
}

// Observers that replace themselves from inside the dispatch, as an application might: the
// first hands over to the second, which clears and sets itself again on every call.
struct Replacing {
  DataHandler* handler;
  int first = 0;
  int second = 0;
};
void SecondObserver(uint32_t, uint8_t, const KestoLidarEthernetPacket*, void* cd) {
  auto* r = static_cast<Replacing*>(cd);
  ++r->second;
  r->handler->SetPointCloudObserver(nullptr, nullptr);
  r->handler->SetPointCloudObserver(SecondObserver, r);
}
void FirstObserver(uint32_t, uint8_t, const KestoLidarEthernetPacket*, void* cd) {
  auto* r = static_cast<Replacing*>(cd);
  ++r->first;
  r->handler->SetPointCloudObserver(SecondObserver, r);
}

TEST_F(DataHandlerTest, ObserverMayReplaceItselfDuringDispatch) {
  // Each dispatch calls the observer set when it began, once; a replacement takes the next
  // packet. Under AddressSanitizer a call through a freed observer would fail here as well.
  Replacing replacing{&handler_};
  handler_.SetPointCloudObserver(FirstObserver, &replacing);
  Datagram point(1);
  for (int i = 0; i < 100; ++i) handler_.Handle(10, 1, point.packet());
  EXPECT_EQ(replacing.first, 1);
  EXPECT_EQ(replacing.second, 99);
}

// Two observers, each registered only with its own client data: a dispatch that paired one
// observer with the other's client data (a torn replacement) counts a mismatch.
struct Tagged {
  int tag;
  std::atomic<int>* mismatches;
  std::atomic<int>* calls;
};
template <int kTag>
void Expect(uint32_t, uint8_t, const KestoLidarEthernetPacket*, void* cd) {
  auto* t = static_cast<Tagged*>(cd);
  if (t->tag != kTag) t->mismatches->fetch_add(1);
  t->calls->fetch_add(1);
}

TEST_F(DataHandlerTest, ObserversReplacedWhileAnotherThreadDispatches) {
  std::atomic<int> mismatches{0}, calls{0};
  Tagged a{0, &mismatches, &calls}, b{1, &mismatches, &calls};
  handler_.SetPointCloudObserver(Expect<0>, &a);
  std::atomic<bool> stop{false};
  std::thread data_thread([&] {
    Datagram point(1), imu(0);
    while (!stop.load()) {
      handler_.Handle(10, 1, point.packet());
      handler_.Handle(10, 1, imu.packet());
    }
  });
  // The replacements start only once dispatch is going: a data thread that has not been
  // scheduled yet would leave the whole loop without a single concurrent dispatch.
  const auto started = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (calls.load() == 0 && std::chrono::steady_clock::now() < started) {
    std::this_thread::yield();
  }
  if (calls.load() == 0) {
    stop = true;
    data_thread.join();
    FAIL() << "the data thread never dispatched";
  }
  // The setter side runs a bounded number of replacements while dispatch goes on.
  for (int i = 0; i < 20000; ++i) {
    if (i % 2) {
      handler_.SetPointCloudObserver(Expect<0>, &a);
    } else {
      handler_.SetPointCloudObserver(Expect<1>, &b);
    }
    handler_.SetImuDataObserver((i % 3) ? Expect<1> : nullptr, &b);
    if (i % 1000 == 0) handler_.Clear();
  }
  handler_.SetPointCloudObserver(Expect<0>, &a);
  const int seen = calls.load();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (calls.load() == seen && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::yield();
  }
  stop = true;
  data_thread.join();
  EXPECT_GT(calls.load(), seen) << "dispatch kept going after the last replacement";
  EXPECT_EQ(mismatches.load(), 0);
}

}  // namespace
}  // namespace kesto::lidar
