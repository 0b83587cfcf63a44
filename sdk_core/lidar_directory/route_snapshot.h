#ifndef KESTO_LIDAR_ROUTE_SNAPSHOT_H_
#define KESTO_LIDAR_ROUTE_SNAPSHOT_H_
// The routes of every known lidar as an immutable map, republished whole on each change
// (read-copy-update). A reader keeps its own copy of the pointer and looks at the shared one
// only when the version moved, so the data path takes no lock per datagram.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "lidar_record.h"

namespace kesto::lidar {

class RouteSnapshot {
 public:
  RouteSnapshot();

  // Replaces the published map. Any thread (the lidar directory, under its own lock).
  void Publish(RouteMap routes);

  // One reader's view. Each Reader belongs to one thread at a time; it is cheap to keep one per
  // IO thread.
  class Reader {
   public:
    // The routes as last published; valid until the next Get on this reader.
    const RouteMap& Get(const RouteSnapshot& snapshot);

   private:
    uint64_t version_ = ~uint64_t{0};
    std::shared_ptr<const RouteMap> map_;
  };

 private:
  std::atomic<uint64_t> version_{0};
  mutable std::mutex mutex_;              // guards current_, taken only when the version moved
  std::shared_ptr<const RouteMap> current_;  // guarded by mutex_
};

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_ROUTE_SNAPSHOT_H_
