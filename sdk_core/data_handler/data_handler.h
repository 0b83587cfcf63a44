#ifndef KESTO_LIDAR_DATA_HANDLER_H_
#define KESTO_LIDAR_DATA_HANDLER_H_

#include <cstdint>

#include "kesto_lidar_sdk.h"
#include "observer_slot.h"

namespace kesto::lidar {

// Hands every point-cloud and IMU datagram to the application's observer of its kind.
// One per kit (the Kit owns it).
//
// Threads: Handle runs on the data IO thread (or any thread; it takes no lock and allocates
// nothing). The setters and Clear run on the application thread, possibly while Handle runs,
// and possibly from inside an observer; each observer is an ObserverSlot, whose publishing
// scheme makes a dispatch never call through a replaced and freed observer.
class DataHandler {
 public:

  DataHandler() = default;
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
  using Slot = ObserverSlot<void(uint32_t, uint8_t, const KestoLidarEthernetPacket*)>;
  Slot point_cloud_;
  Slot imu_;
};

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_DATA_HANDLER_H_
