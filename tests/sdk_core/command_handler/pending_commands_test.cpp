#include "pending_commands.h"

#include <gtest/gtest.h>

#include <chrono>

namespace kesto::lidar {
namespace {

using std::chrono::milliseconds;

CommandPacket Packet(uint32_t seq, uint32_t handle) {
  CommandPacket packet;
  packet.seq = seq;
  packet.handle = handle;
  static const uint8_t payload[2] = {1, 2};
  packet.data = payload;
  packet.data_len = sizeof payload;
  return packet;
}

TEST(PendingCommandTable, EntryIsTakenOnceAndOnlyByItsLidar) {
  PendingCommandTable table;
  const TimePoint t0(std::chrono::hours(1));
  EXPECT_FALSE(table.Add(Packet(5, 0x0A01A8C0), t0));
  EXPECT_FALSE(table.Take(5, 0x0B01A8C0)) << "an acknowledgement from another lidar";
  EXPECT_FALSE(table.Take(6, 0x0A01A8C0));
  auto taken = table.Take(5, 0x0A01A8C0);
  ASSERT_TRUE(taken);
  EXPECT_EQ(taken->packet.data, nullptr) << "the payload belongs to the sender";
  EXPECT_EQ(taken->packet.data_len, 0);
  EXPECT_EQ(taken->deadline, t0);
  EXPECT_FALSE(table.Take(5, 0x0A01A8C0));
  EXPECT_EQ(table.Size(), 0u);
}

TEST(PendingCommandTable, ExpiredAreStrictlyBeforeNowInSequenceOrder) {
  PendingCommandTable table;
  const TimePoint t0(std::chrono::hours(1));
  table.Add(Packet(9, 1), t0);
  table.Add(Packet(3, 1), t0 - milliseconds(1));
  table.Add(Packet(7, 1), t0 + milliseconds(1));
  EXPECT_EQ(table.TakeExpired(t0 - milliseconds(1)).size(), 0u);
  const auto expired = table.TakeExpired(t0 + std::chrono::nanoseconds(1));
  ASSERT_EQ(expired.size(), 2u);
  EXPECT_EQ(expired[0].packet.seq, 3u);
  EXPECT_EQ(expired[1].packet.seq, 9u);
  EXPECT_EQ(table.Size(), 1u);
  EXPECT_EQ(table.TakeExpired(t0 + milliseconds(2)).size(), 1u);
}

TEST(PendingCommandTable, ReusedSequenceNumberHandsTheOldEntryBack) {
  PendingCommandTable table;
  const TimePoint t0(std::chrono::hours(1));
  table.Add(Packet(4, 1), t0);
  auto displaced = table.Add(Packet(4, 2), t0 + milliseconds(5));
  ASSERT_TRUE(displaced);
  EXPECT_EQ(displaced->packet.handle, 1u);
  EXPECT_TRUE(table.Take(4, 2));
}

}  // namespace
}  // namespace kesto::lidar
