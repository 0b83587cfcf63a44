#ifndef KESTO_LIDAR_DEVICE_MANAGER_H_
#define KESTO_LIDAR_DEVICE_MANAGER_H_

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "clock.h"
#include "detection_data.h"
#include "device_link.h"
#include "io_loop.h"
#include "io_thread.h"
#include "kesto_lidar_sdk.h"
#include "lidar_cfg.h"
#include "protocol.h"

namespace kesto::lidar {

class DataHandler;
class GeneralCommandHandler;
class LoggerManager;

// The kit's owner of the network: every UDP socket ("channel"), the three IO threads that serve
// them (detection, command, data), the detection thread that broadcasts discovery requests, and
// the routing of every datagram that arrives. Process-wide single instance through GetInstance;
// tests build private ones over private collaborators.
//
// Threads:
//   - Init and Stop: the application thread (kit start and stop).
//   - OnData, OnTick: the IO thread of the socket; the three route concurrently.
//   - DetectionLoop: the detection thread.
//   - SendCommand, SendLogCommand: whichever thread issues a command (application or IO thread).
//   - HandleDetectionData, AddViewLidar, UpdateViewLidarCfgCallback: the IO thread that received
//     the reply that led to them.
// channels_mutex_ guards the channel tables, the socket list and sets, the per-model and
// per-lidar tables and the configuration lists. It is taken for table work only: never while
// sending, receiving, or calling the data handler, the general command handler or the log
// capture. Each send lock is held around exactly one platform send. The three view tables have
// a mutex each and are never nested with channels_mutex_ held.
class DeviceManager final : public IOLoop::IOLoopDelegate, public DeviceLink {
 public:
  // Bytes one receive takes: a larger datagram is cut to this length.
  static constexpr int kReceiveBufferSize = 8192;
  // Bytes of a datagram the data path may read (header and 96 records of 14 bytes); the rest of
  // a shorter datagram reads as zeros.
  static constexpr int kDataReadSpan = 36 + 96 * 14;

  static DeviceManager& GetInstance();

  // The collaborators must outlive this device manager: the defaults are the process-wide
  // instances, which this constructor creates first so that they are destroyed after it (its
  // destructor joins the IO threads that call into them).
  DeviceManager();
  DeviceManager(DataHandler& data, GeneralCommandHandler& general, LoggerManager& logger);
  ~DeviceManager();
  DeviceManager(const DeviceManager&) = delete;
  DeviceManager& operator=(const DeviceManager&) = delete;

  // Configuration variant (kit start from a configuration file).
  bool Init(std::shared_ptr<LidarCfgList> lidars_cfg, std::shared_ptr<LidarCfgList> custom_lidars_cfg,
            std::shared_ptr<KestoLidarLoggerCfg> lidar_logger_cfg_ptr,
            std::shared_ptr<KestoLidarSdkFrameworkCfg> sdk_framework_cfg);
  // Host-address variant (view mode). `log_cfg_info` may be null.
  bool Init(const std::string& host_ip, const KestoLidarLoggerCfgInfo* log_cfg_info);
  // Returns once no OnData or OnTick of this device manager runs or can start on any IO thread,
  // with every socket closed and every table empty. The IO threads stay, idle. Application
  // thread; never from inside a kit callback.
  void Stop();

  bool CreateIOThread();
  bool CreateDetectionIOThread();
  bool CreateCommandIOThread();
  bool CreateDataIOThread();
  bool CreateChannel();
  bool CreateDetectionChannel();
  bool CreateDataChannel(const HostNetInfo& host_net_info);
  bool CreateDataSocketAndAddDelegate(const HostNetInfo& host_net_info, uint16_t port,
                                      const std::string& multicast_ip);
  bool CreateCommandChannel(uint8_t dev_type, const HostNetInfo& host_net_info);
  bool CreateCmdSocketAndAddDelegate(uint8_t dev_type, const HostNetInfo& host_net_info,
                                     uint16_t port);
  bool GetCmdChannel(uint32_t handle, int& socket);
  bool GetLogChannel(uint32_t handle, int& socket);

  // DeviceLink.
  int SendCommand(uint8_t dev_type, uint32_t handle, const uint8_t* data, size_t length,
                  uint32_t dest_ip, uint16_t dest_port) override;
  int SendLogCommand(uint8_t dev_type, uint32_t handle, const uint8_t* data, size_t length,
                     uint32_t dest_ip, uint16_t dest_port) override;
  void HandleDetectionData(uint32_t handle, const DetectionData& data, bool fw_type_known,
                           bool fw_type_zero) override;
  void UpdateViewLidarCfgCallback(uint32_t handle) override;
  void AddLoggerDevice(uint32_t handle, const DetectionData& data) override;
  bool IsMasterSdk() const override;

  // IOLoopDelegate.
  void OnData(int fd, void* client_data) override;
  void OnTick(TimePoint now) override;
  void OnWake() override {}

  // Which kind of socket a datagram came in on.
  enum class ReceivedOn { kDataChannel, kOtherChannel };
  // Routes one received datagram by its sender (handle, port): what OnData does after the
  // receive; tests and the fuzz target drive it directly. `buf` holds `size` bytes and, for the
  // data path, at least kDataReadSpan readable bytes. Point and IMU data go to the data handler
  // only from a data channel: its observers then run on the data IO thread alone, one packet at
  // a time, however a sender addresses its datagrams. IO thread.
  void OnData(uint32_t handle, uint16_t port, const uint8_t* buf, uint32_t size,
              ReceivedOn received_on = ReceivedOn::kDataChannel);

  // Sends one discovery request. Detection thread.
  void Detection();
  // The detection thread's body.
  void DetectionLoop();

  static void GetKestoLidarInternalInfoCallback(kesto_status status, uint32_t handle,
                                                KestoLidarDiagInternalInfoResponse* response,
                                                void* client_data);
  void AddViewLidar(uint32_t handle, const KestoLidarDiagInternalInfoResponse* response);
  void CreateViewDataChannel(const ViewLidarIpInfo& info);

  // Tests: the socket of a channel key ("ip:port"), or -1.
  int SocketOfChannel(const std::string& key) const;
  size_t SocketCount() const;
  bool IsViewLidar(uint32_t handle) const;

 private:
  // What routing needs of a known lidar, copied out under the lock per datagram.
  struct Route {
    uint8_t dev_type = 0;
    LidarNetInfo lidar;
  };
  struct PendingViewLidar {
    uint32_t handle = 0;
    uint16_t lidar_cmd_port = 0;
    uint8_t dev_type = 0;
    std::atomic<bool> added{false};
    std::atomic<bool> configured{false};
  };

  static std::string ChannelKey(const std::string& ip, uint16_t port);
  void BuildCfgTables();
  // Opens one socket for `key` unless it is already there; true when the key has a socket.
  // `is_command` also enters it in the command table. channels_mutex_ held.
  bool OpenChannelLocked(const std::string& key, const std::string& local_address, uint16_t port,
                         bool broadcast, const std::string& multicast_ip, bool is_command,
                         const std::shared_ptr<IOThread>& thread, int& opened);
  // Adds the socket to the thread's loop; a data channel's readiness carries the address of
  // data_channel_tag_ as its client data, so OnData knows the socket's kind without a lock.
  void Register(const std::shared_ptr<IOThread>& thread, int fd, bool data_channel);
  static char data_channel_tag_;  // only its address is used
  bool ChannelOfLidar(uint32_t handle, bool log_port, int& socket);
  int SendOn(std::mutex& send_lock, int socket, const uint8_t* data, size_t length, uint32_t dest_ip,
             uint16_t dest_port);
  enum class NewLidar { kIgnored, kParseFailed, kAdded, kDataChannelFailed, kCommandChannelFailed };
  // The first discovery reply of a lidar that is not in the per-lidar table.
  NewLidar AddDetectedLidar(uint32_t handle, const uint8_t* buf, uint32_t size);
  // False (one log line) when the system refuses the thread.
  bool StartDetection();
  // Whether a socket or the detection thread is left from an earlier Init.
  bool HoldsChannels() const;
  void StopDetection();
  bool CreateIOThreadOf(std::shared_ptr<IOThread>& thread);
  bool FindRoute(uint32_t handle, Route& route);
  std::shared_ptr<ViewLidarIpInfo> FindViewLidar(uint32_t handle) const;

  DataHandler& data_;
  GeneralCommandHandler& general_;
  LoggerManager& logger_;

  mutable std::mutex channels_mutex_;
  std::shared_ptr<LidarCfgList> lidars_cfg_;          // guarded by channels_mutex_
  std::shared_ptr<LidarCfgList> custom_lidars_cfg_;   // guarded by channels_mutex_
  std::shared_ptr<KestoLidarLoggerCfg> logger_cfg_;   // written by Init and Stop
  std::shared_ptr<KestoLidarSdkFrameworkCfg> framework_cfg_;  // written by Init and Stop
  std::atomic<bool> master_sdk_{true};  // the framework record's flag, read on any thread
  std::map<uint8_t, KestoLidarCfg> model_cfgs_;        // guarded by channels_mutex_
  std::map<uint32_t, KestoLidarCfg> lidar_cfgs_;       // guarded by channels_mutex_
  std::map<uint32_t, Route> routes_;                   // guarded; mirrors lidar_cfgs_
  std::vector<int> sockets_;                           // guarded; opening order
  std::map<std::string, int> socket_table_;            // guarded
  std::map<std::string, int> command_table_;           // guarded
  std::set<int> command_sockets_;                      // guarded
  std::set<int> data_sockets_;                         // guarded
  bool stopping_ = false;  // guarded; no channel is opened while Stop tears down
  std::string host_ip_;    // guarded
  // The host address as a handle, so routing skips the host's own datagrams without a lock;
  // 0xFFFFFFFF (never a sender) when there is none.
  std::atomic<uint32_t> host_handle_{0xFFFFFFFFu};

  std::atomic<int> detection_socket_{0};
  std::mutex command_send_mutex_;
  std::mutex log_send_mutex_;

  // Replaced only by Init, on the application thread, while no IO thread routes.
  std::shared_ptr<IOThread> detection_io_thread_;
  std::shared_ptr<IOThread> command_io_thread_;
  std::shared_ptr<IOThread> data_io_thread_;
  // Created by Init, destroyed by Stop after every user is stopped; stateless.
  std::unique_ptr<Protocol> codec_;

  std::atomic<bool> is_stop_detection_{true};
  std::mutex detection_wait_mutex_;
  std::condition_variable detection_wait_;
  std::shared_ptr<std::thread> detection_thread_;

  std::atomic<bool> view_mode_{false};

  std::mutex detected_type_mutex_;
  std::map<uint32_t, uint8_t> detected_types_;  // guarded by detected_type_mutex_
  mutable std::mutex pending_view_mutex_;
  std::map<uint32_t, std::shared_ptr<PendingViewLidar>> pending_view_lidars_;  // guarded
  mutable std::mutex view_lidar_mutex_;
  std::map<uint32_t, std::shared_ptr<ViewLidarIpInfo>> view_lidars_;  // guarded
};

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_DEVICE_MANAGER_H_
