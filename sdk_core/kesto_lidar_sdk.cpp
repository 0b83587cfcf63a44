// The kit's public entry points. Application thread, except where the public header says
// otherwise.
#include "kesto_lidar_sdk.h"

#include "command_impl.h"
#include "data_handler.h"
#include "general_command_handler.h"

using kesto::lidar::DataHandler;
using kesto::lidar::GeneralCommandHandler;

void SetPointCloudObserver(KestoLidarDataObserver cb, void* client_data) {
  DataHandler::GetInstance().SetPointCloudObserver(cb, client_data);
}

void SetImuDataObserver(KestoLidarDataObserver cb, void* client_data) {
  DataHandler::GetInstance().SetImuDataObserver(cb, client_data);
}

void SetPushMessageObserver(KestoLidarPushMessageObserver cb, void* client_data) {
  GeneralCommandHandler::GetInstance().SetPushMessageObserver(cb, client_data);
}

void SetInfoChangeObserver(KestoLidarInfoChangeObserver cb, void* client_data) {
  GeneralCommandHandler::GetInstance().SetInfoChangeObserver(cb, client_data);
}

kesto_status RequestPointDataType(uint32_t handle, int data_type, KestoLidarAsyncControlCallback cb,
                                  void* client_data) {
  return kesto::lidar::RequestPointDataType(handle, data_type, cb, client_data);
}

kesto_status RequestWorkMode(uint32_t handle, int work_mode, KestoLidarAsyncControlCallback cb,
                             void* client_data) {
  return kesto::lidar::RequestWorkMode(handle, work_mode, cb, client_data);
}

kesto_status QueryKestoLidarInternalInfo(uint32_t handle, KestoLidarInternalInfoCallback cb,
                                         void* client_data) {
  return kesto::lidar::QueryKestoLidarInternalInfo(handle, cb, client_data);
}
