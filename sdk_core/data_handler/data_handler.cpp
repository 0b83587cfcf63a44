#include "data_handler.h"

#include "kit_log.h"

namespace kesto::lidar {

bool DataHandler::Init() {
  KESTO_LOG_INFO("Data Handler Init Succ.");
  return true;
}

void DataHandler::SetPointCloudObserver(KestoLidarDataObserver observer, void* client_data) {
  point_cloud_.Set(observer, client_data);
}

void DataHandler::SetImuDataObserver(KestoLidarDataObserver observer, void* client_data) {
  imu_.Set(observer, client_data);
}

void DataHandler::Clear() {
  point_cloud_.Clear();
  imu_.Clear();
}

void DataHandler::Handle(uint8_t dev_type, uint32_t handle, const KestoLidarEthernetPacket* packet) {
  if (packet == nullptr) return;
  (packet->data_type == 0 ? imu_ : point_cloud_).Call(handle, dev_type, packet);
}

}  // namespace kesto::lidar
