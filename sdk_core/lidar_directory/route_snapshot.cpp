#include "route_snapshot.h"

#include <utility>

namespace kesto::lidar {

RouteSnapshot::RouteSnapshot() : current_(std::make_shared<const RouteMap>()) {}

void RouteSnapshot::Publish(RouteMap routes) {
  auto fresh = std::make_shared<const RouteMap>(std::move(routes));
  std::lock_guard<std::mutex> lock(mutex_);
  current_ = std::move(fresh);
  // Moved under the lock: a reader that sees the new version and then takes the lock finds a
  // map at least as new.
  version_.fetch_add(1, std::memory_order_release);
}

const RouteMap& RouteSnapshot::Reader::Get(const RouteSnapshot& snapshot) {
  const uint64_t version = snapshot.version_.load(std::memory_order_acquire);
  if (version != version_ || !map_) {
    std::lock_guard<std::mutex> lock(snapshot.mutex_);
    map_ = snapshot.current_;
    version_ = snapshot.version_.load(std::memory_order_relaxed);
  }
  return *map_;
}

}  // namespace kesto::lidar
