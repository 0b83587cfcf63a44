#include "data_handler.h"

#include "kit_log.h"

namespace kesto::lidar {

DataHandler& DataHandler::GetInstance() {
  static DataHandler instance;
  return instance;
}

DataHandler::~DataHandler() {
  delete point_cloud_.load();
  delete imu_.load();
}

bool DataHandler::Init() {
  KESTO_LOG_INFO("Data Handler Init Succ.");
  return true;
}

void DataHandler::SetPointCloudObserver(KestoLidarDataObserver observer, void* client_data) {
  Publish(point_cloud_, observer, client_data);
}

void DataHandler::SetImuDataObserver(KestoLidarDataObserver observer, void* client_data) {
  Publish(imu_, observer, client_data);
}

void DataHandler::Clear() {
  Publish(point_cloud_, nullptr, nullptr);
  Publish(imu_, nullptr, nullptr);
}

void DataHandler::Handle(uint8_t dev_type, uint32_t handle, const KestoLidarEthernetPacket* packet) {
  if (packet == nullptr) return;
  // The increment is ordered before the observer load (both sequentially consistent), so a setter
  // that sees no dispatch in flight knows every later dispatch loads the new observer.
  dispatching_.fetch_add(1);
  const DataObserver* observer = (packet->data_type == 0 ? imu_ : point_cloud_).load();
  if (observer != nullptr) {
    observer->callback(handle, dev_type, packet, observer->client_data);
  }
  dispatching_.fetch_sub(1);
}

void DataHandler::Publish(std::atomic<const DataObserver*>& slot, KestoLidarDataObserver observer,
                          void* client_data) {
  std::unique_ptr<const DataObserver> fresh;
  if (observer != nullptr) {
    fresh.reset(new DataObserver{observer, client_data});
  }
  std::lock_guard<std::mutex> lock(setter_mutex_);
  std::unique_ptr<const DataObserver> old(slot.exchange(fresh.release()));
  if (old) retired_.push_back(std::move(old));
  CollectRetiredLocked();
}

void DataHandler::CollectRetiredLocked() {
  // A dispatch in flight may still hold any retired record; they wait for a quiet moment at a
  // later set. Their number is bounded by the number of sets, which is a handful per start.
  if (dispatching_.load() == 0) retired_.clear();
}

}  // namespace kesto::lidar
