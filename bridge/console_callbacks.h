#ifndef KESTO_BRIDGE_CONSOLE_CALLBACKS_H_
#define KESTO_BRIDGE_CONSOLE_CALLBACKS_H_

// The bridge's observers of lidar events and the completions of the commands it sends. They
// run on the kit's network threads with no kit lock held (the push-message observer with the
// command handler's type lock held, so it only prints); they never touch the packet block.
// Every pointer they get is valid only during the call. Client data is unused (always null).

#include <cstddef>
#include <cstdint>
#include <vector>

#include "kesto_lidar_sdk.h"

void PushMessageCallback(uint32_t handle, uint8_t dev_type, const char* info, void* client_data);
// Configures every lidar the kit reports: work mode 1, point data type 1, then asks for the
// lidar's internal information.
void LidarInfoChangeCallback(uint32_t handle, const KestoLidarIdentity* info, void* client_data);
// Prints one line when a lidar is lost ("Lidar SN (address) lost.") and one when it is back
// ("Lidar SN (address) is back."); the set-up that follows a return is the kit's, and the
// information change then configures the lidar again.
void LidarStateCallback(uint32_t handle, int state, const KestoLidarIdentity* identity,
                        void* client_data);
void WorkModeCallback(kesto_status status, uint32_t handle, KestoLidarAsyncControlResponse* response,
                      void* client_data);
void PclDataTypeCallback(kesto_status status, uint32_t handle,
                         KestoLidarAsyncControlResponse* response, void* client_data);
// Prints the host addresses the lidar streams to. On failure asks again: at once after a
// time-out, from the main thread's next retry tick after a failed send.
void InternalInfoCallback(kesto_status status, uint32_t handle,
                          KestoLidarDiagInternalInfoResponse* response, void* client_data);

namespace kesto::bridge {

// One host-address entry of the internal-info reply: where the lidar sends one kind of data.
struct HostAddress {
  std::uint8_t ip[4] = {0, 0, 0, 0};  // wire order, first octet first
  std::uint16_t host_port = 0;
  std::uint16_t lidar_port = 0;
};

struct InternalInfoHosts {
  HostAddress point_cloud;  // key 6
  HostAddress imu;          // key 7
};

// Walks at most param_num entries of an internal-info reply of `length` bytes (the whole record,
// from ret_code), stopping at the first entry that does not lie wholly inside it. A later entry
// with the same key replaces an earlier one; a value shorter than its fields leaves the missing
// ones 0.
InternalInfoHosts ReadInternalInfoHosts(const KestoLidarDiagInternalInfoResponse& response,
                                        std::size_t length);

// The retry list of internal-info queries that failed to go out: a query whose entry point
// returned non-zero, whose completion ran inside the call, or whose completion reported a failed
// send. Asking again at once would spin (or recurse) for as long as sending fails, so each listed
// lidar is asked again by RetryInternalInfoQueries, which the main thread calls once a second.
// Safe from any thread; a lidar is listed at most once.
void RetryInternalInfoQueries();
// Empties the list; the main thread calls it once the kit has stopped.
void ForgetInternalInfoRetries();
// The lidars listed now, in handle order (for tests).
std::vector<std::uint32_t> InternalInfoRetries();

// The completion gets no length: the kit lowers param_num to the entries that arrived whole, so
// param_num alone bounds the walk there.
inline constexpr std::size_t kLengthVouchedByKit = static_cast<std::size_t>(-1);

}  // namespace kesto::bridge

#endif  // KESTO_BRIDGE_CONSOLE_CALLBACKS_H_
