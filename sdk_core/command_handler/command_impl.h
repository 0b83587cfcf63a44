#ifndef KESTO_LIDAR_COMMAND_IMPL_H_
#define KESTO_LIDAR_COMMAND_IMPL_H_
// The kit's commands to a lidar: each builds one request, wraps the caller's completion and
// hands both to the general command handler. They return at once: 0 when the command went to
// the lidar's model handler (the completion then runs exactly once, on an IO thread or, for a
// failed send, on this one), -9 when the lidar has no model handler and -7 when the query has no
// key list for it (the completion then never runs). A null completion is allowed: the command
// is sent and its outcome dropped. Safe from any thread, including from inside completions and
// observers.
#include <cstdint>

#include "kesto_lidar_sdk.h"

namespace kesto::lidar {

class GeneralCommandHandler;

kesto_status SendImuDataEnable(GeneralCommandHandler& general, uint32_t handle,
                               KestoLidarAsyncControlCallback cb, void* client_data);
kesto_status SendPointDataType(GeneralCommandHandler& general, uint32_t handle, int data_type,
                               KestoLidarAsyncControlCallback cb, void* client_data);
kesto_status SendWorkMode(GeneralCommandHandler& general, uint32_t handle, int work_mode,
                          KestoLidarAsyncControlCallback cb, void* client_data);
kesto_status RequestPointDataType(GeneralCommandHandler& general, uint32_t handle, int data_type,
                                  KestoLidarAsyncControlCallback cb, void* client_data);
kesto_status RequestWorkMode(GeneralCommandHandler& general, uint32_t handle, int work_mode,
                             KestoLidarAsyncControlCallback cb, void* client_data);
// The internal-info keys of the lidar's model.
kesto_status QueryKestoLidarInternalInfo(GeneralCommandHandler& general, uint32_t handle,
                                         KestoLidarInternalInfoCallback cb, void* client_data);

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_COMMAND_IMPL_H_
