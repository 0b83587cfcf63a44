#include "command_impl.h"

#include <memory>
#include <set>

#include "build_request.h"
#include "command_callback.h"
#include "command_id.h"
#include "general_command_handler.h"
#include "key_table.h"
#include "key_value_list.h"
#include "kit_log.h"
#include "little_endian.h"

namespace kesto::lidar {
namespace {

// A set-parameters request of one key with a one-byte value: 01 00 00 00, key, 01 00, value.
kesto_status SendSingleKey(GeneralCommandHandler& general, uint32_t handle, uint16_t key,
                           uint8_t value, KestoLidarAsyncControlCallback cb, void* client_data) {
  RequestBuffer request{};
  StoreU16(request.data(), 1);  // key_num; the reserved field stays 0
  StoreU16(request.data() + kKeyValueListHeaderLength, key);
  StoreU16(request.data() + kKeyValueListHeaderLength + 2, 1);
  request[kKeyValueListHeaderLength + kKeyValueEntryHeaderLength] = value;
  constexpr uint16_t kLength = kKeyValueListHeaderLength + kKeyValueEntryHeaderLength + 1;
  return general.SendCommand(
      handle, kCmdIdSetParameters, request.data(), kLength,
      std::make_shared<FunctionStatusCallback<KestoLidarAsyncControlResponse>>(cb, client_data));
}

}  // namespace

kesto_status SendImuDataEnable(GeneralCommandHandler& general, uint32_t handle,
                               KestoLidarAsyncControlCallback cb, void* client_data) {
  return SendSingleKey(general, handle, kKeyImuDataEn, 1, cb, client_data);
}

kesto_status SendPointDataType(GeneralCommandHandler& general, uint32_t handle, int data_type,
                               KestoLidarAsyncControlCallback cb, void* client_data) {
  return SendSingleKey(general, handle, kKeyPclDataType, static_cast<uint8_t>(data_type & 0xFF), cb,
                       client_data);
}

kesto_status SendWorkMode(GeneralCommandHandler& general, uint32_t handle, int work_mode,
                          KestoLidarAsyncControlCallback cb, void* client_data) {
  return SendSingleKey(general, handle, kKeyWorkTgtMode, static_cast<uint8_t>(work_mode & 0xFF), cb,
                       client_data);
}

kesto_status RequestPointDataType(GeneralCommandHandler& general, uint32_t handle, int data_type,
                                  KestoLidarAsyncControlCallback cb, void* client_data) {
  return data_type == 0 ? SendImuDataEnable(general, handle, cb, client_data)
                        : SendPointDataType(general, handle, data_type, cb, client_data);
}

kesto_status QueryKestoLidarInternalInfo(GeneralCommandHandler& general, uint32_t handle,
                                         KestoLidarInternalInfoCallback cb, void* client_data) {
  std::set<uint16_t> keys;
  if (!general.GetInternalInfoKeys(handle, keys)) {
    KESTO_LOG_ERROR("Query kesto lidar internal info failed.");
    return StatusUnknownLidar;
  }
  RequestBuffer request{};
  StoreU16(request.data(), static_cast<uint16_t>(keys.size()));
  size_t at = kKeyQueryListHeaderLength;
  for (uint16_t key : keys) {  // ascending: a std::set is ordered
    StoreU16(request.data() + at, key);
    at += sizeof(uint16_t);
  }
  return general.SendCommand(
      handle, kCmdIdQueryParameters, request.data(), static_cast<uint16_t>(at),
      std::make_shared<FunctionStatusCallback<KestoLidarDiagInternalInfoResponse>>(cb,
                                                                                   client_data));
}

kesto_status RequestWorkMode(GeneralCommandHandler& general, uint32_t handle, int work_mode,
                             KestoLidarAsyncControlCallback cb, void* client_data) {
  return SendWorkMode(general, handle, work_mode, cb, client_data);
}

}  // namespace kesto::lidar
