#include "pending_commands.h"

#include <utility>

namespace kesto::lidar {

std::optional<PendingCommand> PendingCommandTable::Add(const CommandPacket& packet,
                                                       TimePoint deadline) {
  PendingCommand entry{packet, deadline};
  entry.packet.data = nullptr;
  entry.packet.data_len = 0;
  std::optional<PendingCommand> displaced;
  std::lock_guard<std::mutex> lock(mutex_);
  auto [it, inserted] = entries_.try_emplace(packet.seq, std::move(entry));
  if (!inserted) {
    displaced = std::move(it->second);
    it->second = std::move(entry);
  }
  return displaced;
}

std::optional<PendingCommand> PendingCommandTable::Take(uint32_t seq, uint32_t handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = entries_.find(seq);
  if (it == entries_.end() || it->second.packet.handle != handle) return std::nullopt;
  std::optional<PendingCommand> taken(std::move(it->second));
  entries_.erase(it);
  return taken;
}

std::vector<PendingCommand> PendingCommandTable::TakeExpired(TimePoint now) {
  std::vector<PendingCommand> expired;
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = entries_.begin(); it != entries_.end();) {
    if (it->second.deadline < now) {
      expired.push_back(std::move(it->second));
      it = entries_.erase(it);
    } else {
      ++it;
    }
  }
  return expired;
}

size_t PendingCommandTable::Size() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return entries_.size();
}

std::vector<PendingCommand> PendingCommandTable::TakeAll() {
  std::vector<PendingCommand> all;
  std::lock_guard<std::mutex> lock(mutex_);
  all.reserve(entries_.size());
  for (auto& [seq, entry] : entries_) all.push_back(std::move(entry));
  entries_.clear();
  return all;
}

}  // namespace kesto::lidar
