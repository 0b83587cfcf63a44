#ifndef KESTO_LIDAR_PENDING_COMMANDS_H_
#define KESTO_LIDAR_PENDING_COMMANDS_H_

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

#include "clock.h"
#include "command_packet.h"

namespace kesto::lidar {

// A sent command waiting for its acknowledgement. The packet's payload belongs to the sender
// and is not kept (data null, data_len 0).
struct PendingCommand {
  CommandPacket packet;
  TimePoint deadline;
};

// The commands in flight, by sequence number. Exactly one completion per command follows from
// one rule: whoever takes an entry out runs its completion, and an entry can be taken out only
// once (acknowledgement, failed send or time-out).
//
// Threads: safe from any thread. Its mutex (the command mutex) guards the map and is never held
// while a completion runs: callers take entries out, then complete them.
class PendingCommandTable {
 public:
  // Registers `packet` until `deadline`. A command already registered under the same sequence
  // number (only after 65535 newer ones, so it is long overdue) is handed back for its caller
  // to complete as timed out, rather than being dropped without a completion.
  std::optional<PendingCommand> Add(const CommandPacket& packet, TimePoint deadline);
  // The entry of `seq` sent to `handle`, taken out; empty when there is none (answered, timed
  // out, or never sent by this kit). An acknowledgement from another lidar never takes it.
  std::optional<PendingCommand> Take(uint32_t seq, uint32_t handle);
  // Every entry whose deadline is strictly earlier than `now`, taken out, in ascending sequence
  // order.
  std::vector<PendingCommand> TakeExpired(TimePoint now);
  size_t Size() const;
  // Every entry, taken out, in ascending sequence order: the kit's stop completes them.
  std::vector<PendingCommand> TakeAll();

 private:
  mutable std::mutex mutex_;
  std::map<uint32_t, PendingCommand> entries_;  // guarded by mutex_
};

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_PENDING_COMMANDS_H_
