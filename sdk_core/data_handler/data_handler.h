#ifndef KESTO_LIDAR_DATA_HANDLER_H_
#define KESTO_LIDAR_DATA_HANDLER_H_

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "kesto_lidar_sdk.h"

namespace kesto::lidar {

// One data observer as the application registered it: the callable built from its function
// pointer and the client data it gets back. Immutable once published.
struct DataObserver {
  std::function<void(uint32_t, uint8_t, const KestoLidarEthernetPacket*, void*)> callback;
  void* client_data = nullptr;
};

// Hands every point-cloud and IMU datagram to the application's observer of its kind.
// Process-wide single instance.
//
// Threads: Handle runs on the data IO thread (or any thread; it takes no lock and allocates
// nothing). The setters and Clear run on the application thread, possibly while Handle runs,
// and possibly from inside an observer. Each setter publishes a new immutable DataObserver with
// one atomic exchange; the record it replaced is retired, and retired records are freed only at
// a moment when no Handle is in flight, so a dispatch never calls through a freed observer.
class DataHandler {
 public:
  static DataHandler& GetInstance();

  DataHandler() = default;
  ~DataHandler();
  DataHandler(const DataHandler&) = delete;
  DataHandler& operator=(const DataHandler&) = delete;

  bool Init();
  // A null function empties that observer, which stops delivery of its kind.
  void SetPointCloudObserver(KestoLidarDataObserver observer, void* client_data);
  void SetImuDataObserver(KestoLidarDataObserver observer, void* client_data);
  // Data type 0 goes to the IMU observer, every other data type to the point-cloud observer.
  void Handle(uint8_t dev_type, uint32_t handle, const KestoLidarEthernetPacket* packet);
  void Clear();

 private:
  void Publish(std::atomic<const DataObserver*>& slot, KestoLidarDataObserver observer,
               void* client_data);
  void CollectRetiredLocked();

  std::atomic<const DataObserver*> point_cloud_{nullptr};
  std::atomic<const DataObserver*> imu_{nullptr};
  std::atomic<uint32_t> dispatching_{0};  // number of Handle calls in flight

  std::mutex setter_mutex_;                                 // serialises the setters and Clear
  std::vector<std::unique_ptr<const DataObserver>> retired_;  // guarded by setter_mutex_
};

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_DATA_HANDLER_H_
