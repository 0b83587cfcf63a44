#ifndef KESTO_LIDAR_DEVICE_MANAGER_H_
#define KESTO_LIDAR_DEVICE_MANAGER_H_

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <shared_mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "clock.h"
#include "detection_data.h"
#include "device_link.h"
#include "io_loop.h"
#include "io_thread.h"
#include "kesto_lidar_sdk.h"
#include "lidar_cfg.h"
#include "protocol.h"
#include "route_snapshot.h"
#include "session_recorder.h"

struct sockaddr_in;  // the system's, from platform/socket

namespace kesto::lidar {

class DataHandler;
class GeneralCommandHandler;
class LidarDirectory;
class LidarSetup;
class LoggerManager;

// The kit's owner of the network: every UDP socket ("channel"), the three IO threads that serve
// them (detection, command, data), the detection thread that broadcasts discovery requests, and
// the routing of every datagram that arrives. What it knows of a lidar it asks the lidar
// directory; discovery replies it hands down to the lidar set-up; command frames to the command
// machinery; data to the data handler; log pushes to the log capture. One per kit.
//
// Threads:
//   - Init and Stop: the application thread (kit start and stop).
//   - OnData, OnTick: the IO thread of the socket; the three route concurrently, each through
//     its own route reader.
//   - DetectionLoop: the detection thread.
//   - SendCommand, SendLogCommand: whichever thread issues a command (application or IO thread).
// channels_mutex_ guards the channel tables and the socket list and sets; it is taken for table
// work only, never while receiving or calling another part of the kit. close_mutex_ keeps sends
// and the closing of sockets apart: a send holds it shared from looking up its socket until the
// datagram is out, Stop holds it exclusively while it closes the sockets.
class DeviceManager final : public IOLoop::IOLoopDelegate, public DeviceLink {
 public:
  // Bytes one receive takes: a larger datagram is cut to this length.
  static constexpr int kReceiveBufferSize = 8192;
  // Bytes of a datagram the data path may read (header and 96 records of 14 bytes); the rest of
  // a shorter datagram reads as zeros.
  static constexpr int kDataReadSpan = 36 + 96 * 14;
  // Datagrams a data socket gives per readiness at most, before the loop serves its other
  // sockets, its tick and its tasks.
  static constexpr int kReceiveBatch = 32;
  // The receive buffer asked for each data socket: about 0.1 s of a 1 Gb/s link, room for a
  // reader's pause. The system may grant less (on Linux, net.core.rmem_max caps it).
  static constexpr int kDataReceiveBuffer = 16 << 20;

  // The collaborators must outlive this device manager (the kit declares them first). With a
  // recorder, every datagram received from a lidar or sent to one is offered to it while it
  // records.
  DeviceManager(DataHandler& data, LidarDirectory& directory, LidarSetup& setup,
                GeneralCommandHandler& general, LoggerManager& logger,
                SessionRecorder* recorder = nullptr);
  // Stops, so no IO thread calls into a collaborator any more, then joins the IO threads.
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
  // View mode: the data channels of a view lidar's host ports.
  void CreateViewDataChannel(const ViewLidarIpInfo& info);
  // The socket of the lidar's command or log channel; false when it has none (its commands
  // then leave from the detection socket).
  bool GetCmdChannel(uint32_t handle, int& socket);
  bool GetLogChannel(uint32_t handle, int& socket);

  // DeviceLink.
  int SendCommand(uint8_t dev_type, uint32_t handle, const uint8_t* data, size_t length,
                  uint32_t dest_ip, uint16_t dest_port) override;
  int SendLogCommand(uint8_t dev_type, uint32_t handle, const uint8_t* data, size_t length,
                     uint32_t dest_ip, uint16_t dest_port) override;

  // IOLoopDelegate.
  void OnData(int fd, void* client_data) override;
  void OnTick(TimePoint now) override;
  void OnWake() override {}

  // Which kind of socket a datagram came in on.
  enum class ReceivedOn { kDataChannel, kOtherChannel };
  // Routes one received datagram by its sender (handle, port): what OnData does after the
  // receive; tests and the fuzz target drive it directly, from one thread at a time. `buf`
  // holds `size` bytes and, for the data path, at least kDataReadSpan readable bytes. Point and
  // IMU data go to the data handler only from a data channel: its observers then run on the
  // data IO thread alone, one packet at a time, however a sender addresses its datagrams. The
  // start refuses a host data port that is also a command, push, log or discovery port, so no
  // lidar's stream can arrive on another socket.
  void OnData(uint32_t handle, uint16_t port, const uint8_t* buf, uint32_t size,
              ReceivedOn received_on = ReceivedOn::kDataChannel);

  // Sends one discovery request. Detection thread.
  void Detection();
  // The detection thread's body.
  void DetectionLoop();

  // Datagrams the system dropped on the data sockets for a full receive buffer since Init, as
  // far as it tells (Linux does; Windows does not, and this stays 0). Any thread.
  uint64_t os_dropped() const { return os_dropped_.load(std::memory_order_relaxed); }

  // Tests: the socket of a channel key ("ip:port"), or -1.
  int SocketOfChannel(const std::string& key) const;
  size_t SocketCount() const;

 private:
  // What one IO thread needs to route: its route reader and whether its sockets carry data.
  // Each IO thread's sockets carry the address of its own context as client data.
  struct ReceiveContext {
    RouteSnapshot::Reader routes;
    ReceivedOn kind = ReceivedOn::kOtherChannel;
    // The data IO thread's: the buffers of one batch, and the system's last drop count of
    // each data socket.
    std::vector<uint8_t> batch;
    std::vector<std::pair<int, uint32_t>> drop_counts;
  };
  // One batch from a data socket, each datagram routed in arrival order. Data IO thread.
  void ReceiveBatch(int fd, ReceiveContext& context);
  // One datagram from another socket.
  void ReceiveOne(int fd, ReceiveContext& context);
  // A received datagram of `length` bytes in a buffer of kReceiveBufferSize: to the recording,
  // then routed.
  void Deliver(int fd, ReceiveContext& context, const sockaddr_in& from, uint8_t* buffer,
               int length);
  // The receive buffer and the drop count of a new data socket. channels_mutex_ held.
  void PrepareDataSocketLocked(int fd);

  static std::string ChannelKey(const std::string& ip, uint16_t port);
  // Opens one socket for `key` unless it is already there; true when the key has a socket.
  // `is_command` also enters it in the command table. channels_mutex_ held.
  bool OpenChannelLocked(const std::string& key, const std::string& local_address, uint16_t port,
                         bool broadcast, const std::string& multicast_ip, bool is_command,
                         const std::shared_ptr<IOThread>& thread, int& opened);
  void Register(const std::shared_ptr<IOThread>& thread, int fd, ReceiveContext* context);
  int SendOn(std::mutex& send_lock, uint32_t handle, bool log_port, const uint8_t* data,
             size_t length, uint32_t dest_ip, uint16_t dest_port);
  // The socket of the lidar's command or log channel; the detection socket when it has none.
  // close_mutex_ held (shared).
  int ChannelOfLidar(uint32_t handle, bool log_port);
  bool LidarChannel(uint32_t handle, bool log_port, int& socket);
  void Route(ReceiveContext& context, uint32_t handle, uint16_t port, const uint8_t* buf,
             uint32_t size);
  // A command-channel datagram of a routed lidar: a frame for the command machinery, or a
  // discovery reply for the lidar set-up.
  void RouteCommand(uint8_t dev_type, uint32_t handle, uint16_t port, const uint8_t* buf,
                    uint32_t size);
  void HandleDiscoveryReply(uint32_t handle, uint16_t port, const ProtocolCommand& command);
  // The first discovery reply of a lidar without a route (normal mode).
  void AddDetectedLidar(uint32_t handle, const uint8_t* buf, uint32_t size);
  // False (one log line) when the system refuses the thread.
  bool StartDetection();
  // Whether a socket or the detection thread is left from an earlier Init.
  bool HoldsChannels() const;
  void StopDetection();
  bool CreateIOThreadOf(std::shared_ptr<IOThread>& thread);
  static bool DataPortsStandAlone(const LidarCfgList& models, const LidarCfgList& custom);
  // What both Init variants share after the directory and the log capture are set up.
  bool StartChannels(bool all_channels);
  // The recorder's copy of one datagram on `socket` (recording_tap.cpp). Any thread.
  bool Recording() const { return recorder_ != nullptr && recorder_->active(); }
  // `peer_ip` in network order, `peer_port` in host order.
  void RecordDatagram(int socket, bool received, uint32_t peer_ip, uint16_t peer_port,
                      const uint8_t* data, size_t length);
  // Sockets opened from now on may reuse the numbers of closed ones. Application thread.
  void NewSocketGeneration();

  DataHandler& data_;
  LidarDirectory& directory_;
  LidarSetup& setup_;
  GeneralCommandHandler& general_;
  LoggerManager& logger_;
  SessionRecorder* const recorder_;  // may be null
  std::atomic<uint64_t> socket_generation_{0};
  std::atomic<uint64_t> os_dropped_{0};
  const std::unique_ptr<Protocol> codec_;  // stateless; shared by every thread

  ReceiveContext detection_context_;  // the detection IO thread's
  ReceiveContext command_context_;    // the command IO thread's
  ReceiveContext data_context_;       // the data IO thread's
  std::mutex test_route_mutex_;       // serialises the routing entry of tests
  ReceiveContext test_context_;       // guarded by test_route_mutex_

  mutable std::mutex channels_mutex_;
  std::vector<int> sockets_;                           // guarded; opening order
  std::map<std::string, int> socket_table_;            // guarded
  std::map<std::string, int> command_table_;           // guarded
  std::set<int> command_sockets_;                      // guarded
  std::set<int> data_sockets_;                         // guarded
  bool stopping_ = false;  // guarded; no channel is opened while Stop tears down
  std::string host_ip_;    // guarded
  bool receive_buffer_told_ = false;  // guarded; the granted buffer is logged once per Init
  std::atomic<bool> master_sdk_{true};  // the framework record's flag, read on any thread
  // The host address as a handle, so routing skips the host's own datagrams without a lock;
  // 0xFFFFFFFF (never a sender) when there is none.
  std::atomic<uint32_t> host_handle_{0xFFFFFFFFu};

  std::shared_mutex close_mutex_;
  std::atomic<int> detection_socket_{-1};
  std::mutex command_send_mutex_;
  std::mutex log_send_mutex_;

  // Replaced only by Init, on the application thread, while no IO thread routes.
  std::shared_ptr<IOThread> detection_io_thread_;
  std::shared_ptr<IOThread> command_io_thread_;
  std::shared_ptr<IOThread> data_io_thread_;

  std::atomic<bool> is_stop_detection_{true};
  std::mutex detection_wait_mutex_;
  std::condition_variable detection_wait_;
  std::shared_ptr<std::thread> detection_thread_;
};

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_DEVICE_MANAGER_H_
