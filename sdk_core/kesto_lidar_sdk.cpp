// The kit's public entry points. Application thread, except where the public header says
// otherwise.
#include "kesto_lidar_sdk.h"

#include "data_handler.h"

using kesto::lidar::DataHandler;

void SetPointCloudObserver(KestoLidarDataObserver cb, void* client_data) {
  DataHandler::GetInstance().SetPointCloudObserver(cb, client_data);
}

void SetImuDataObserver(KestoLidarDataObserver cb, void* client_data) {
  DataHandler::GetInstance().SetImuDataObserver(cb, client_data);
}
