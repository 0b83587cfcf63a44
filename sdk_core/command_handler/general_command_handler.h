#ifndef KESTO_LIDAR_GENERAL_COMMAND_HANDLER_H_
#define KESTO_LIDAR_GENERAL_COMMAND_HANDLER_H_

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "clock.h"
#include "command_handler.h"
#include "detection_data.h"
#include "device_link.h"
#include "kesto_lidar_sdk.h"
#include "lidar_cfg.h"
#include "logger_command_sender.h"
#include "observer_slot.h"
#include "pending_commands.h"
#include "protocol.h"

namespace kesto::lidar {

// The model-independent half of the command machinery, one instance per process. Takes every
// command datagram of the lidars from the device manager, handles discovery replies itself
// (lidar table, firmware-type query, configuration of new lidars) and hands everything else to
// the model handler of the lidar's device type. All commands of the kit leave through it, and
// it owns the pending-command table and the two application observers of lidar events.
//
// Threads: Handler, HandleDetectionData, KestoLidarInfoChange, DeliverPushMessage,
// UpdateViewLidarCfg, CheckCommandTimeout and the completions run on the device manager's IO
// threads; SendCommand and the observer setters on any thread; Init, InitHostIpMode and Destroy
// at start and stop, while no IO thread handles anything (Init also on an IO thread after a new
// detection). Each map has its own mutex (below); the only nesting is type mutex, then handler
// mutex. No mutex is held while a model handler sends or handles, nor while an observer or a
// completion runs, so those may call back in.
class GeneralCommandHandler : public LoggerCommandSender {
 public:
  using Clock = std::function<TimePoint()>;

  static GeneralCommandHandler& GetInstance();

  // `clock` gives the time that command deadlines count from.
  explicit GeneralCommandHandler(Clock clock = SteadyNow);
  ~GeneralCommandHandler();
  GeneralCommandHandler(const GeneralCommandHandler&) = delete;
  GeneralCommandHandler& operator=(const GeneralCommandHandler&) = delete;

  // Normal mode. Creates both model handlers and adds the per-lidar configurations (the first
  // configuration of an address wins, also across calls). Always true.
  bool Init(std::shared_ptr<LidarCfgList> custom_lidars_cfg, DeviceLink* device_manager);
  // View mode (`view_mode` 1): lidars are configured from their internal information and
  // accepted only from the host's /24 segment. Always true.
  bool InitHostIpMode(const std::string& host_ip, uint8_t view_mode, DeviceLink* device_manager);
  // Detaches from the device manager and empties the type map, the lidar table, the model
  // handlers and the information-change observer. The custom configurations, the pending
  // commands and the push-message observer stay.
  void Destroy();

  // A command datagram of a lidar whose device type the device manager knows.
  void Handler(uint8_t dev_type, uint32_t handle, uint16_t port, const uint8_t* buf, uint32_t size);
  // View mode: a datagram of a lidar that is not a view lidar yet.
  void Handler(uint32_t handle, uint16_t port, const uint8_t* buf, uint32_t size);
  // Makes sure the model handler of `dev_type` exists (view mode) or has the current custom
  // configurations (normal mode).
  void CreateCommandHandler(uint8_t dev_type);

  std::shared_ptr<CommandHandler> GetCommandHandler(uint8_t dev_type);
  std::shared_ptr<CommandHandler> GetLidarCommandHandler(uint32_t handle);
  // The internal-info key list of the lidar's device type; false when the lidar was never
  // detected or its type has none.
  bool GetInternalInfoKeys(uint32_t handle, std::set<uint16_t>& keys);

  // Hands a command with a fresh sequence number to the lidar's model handler: 0, and the
  // callback then runs exactly once; or -9 (logged) when the lidar has no model handler, and
  // the callback never runs. Safe from any thread, including from inside a completion.
  int32_t SendCommand(uint32_t handle, uint16_t command_id, const uint8_t* data, uint16_t length,
                      std::shared_ptr<CommandCallback> callback);
  // The same, to the lidar's log port.
  int32_t SendLoggerCommand(uint32_t handle, uint16_t command_id, const uint8_t* data,
                            uint16_t length, std::shared_ptr<CommandCallback> callback);
  int32_t SendLoggerCommand(uint32_t handle, uint16_t command_id, const uint8_t* data,
                            uint16_t length, KestoLidarLoggerCallback done,
                            void* client_data) override;

  // The lidar's configuration attempt has ended: the information-change observer is called,
  // once per lidar table entry.
  void KestoLidarInfoChange(uint32_t handle);
  // A state push of a detected lidar, as JSON text, to the push-message observer.
  void DeliverPushMessage(uint32_t handle, const std::string& text);
  void UpdateViewLidarCfg(const ViewLidarIpInfo& info);
  // A discovery reply (a decoded frame with cmd_id 0 from port 56000).
  void HandleDetectionData(uint32_t handle, uint16_t port, const ProtocolCommand& command);

  // Registers a sent command until now + its time-out.
  void AddPendingCommand(const CommandPacket& packet);
  // Takes a pending command out, for the one who then completes it.
  std::optional<PendingCommand> TakePendingCommand(uint32_t seq, uint32_t handle);
  // Completes every command whose deadline is strictly earlier than `now` with StatusTimeout.
  void CheckCommandTimeout(TimePoint now);
  size_t PendingCommandCount() const { return pending_.Size(); }

  void SetInfoChangeObserver(KestoLidarInfoChangeObserver observer, void* client_data);
  void SetPushMessageObserver(KestoLidarPushMessageObserver observer, void* client_data);

  // Completion of the firmware-type query; `client_data` is the general handler.
  static void QueryFwTypeCallback(kesto_status status, uint32_t handle,
                                  KestoLidarDiagInternalInfoResponse* response, void* client_data);

  // Tests only: Destroy, and also forget what outlives it (custom configurations, pending
  // commands without completing them, push-message observer, firmware retry counter).
  void ResetForTests();

 private:
  // One detected lidar. `sn`, `lidar_ip` and `dev_type` are written only at creation; the four
  // flags are read and set from several IO threads without the lidar-table mutex.
  struct LidarEntry {
    std::string sn;
    std::string lidar_ip;
    uint8_t dev_type = 0;
    std::atomic<bool> cfg_done{false};       // the configuration attempt has ended
    std::atomic<bool> fw_type_known{false};  // the firmware-type query has ended
    std::atomic<bool> fw_type_zero{false};   // ... and answered 0
    std::atomic<bool> info_reported{false};  // the information-change observer was called
  };

  bool IsViewMode() const { return view_mode_.load() != 0; }
  bool IsMaster() const;
  std::shared_ptr<LidarEntry> FindLidar(uint32_t handle);
  bool VerifyNetSegment(const DetectionData& data);
  void QueryFwType(uint32_t handle);
  void SetFwType(uint32_t handle, uint8_t value);
  // Decodes a datagram and handles a discovery reply; true when the frame is for the caller.
  bool ParseOrDetect(uint32_t handle, uint16_t port, const uint8_t* buf, uint32_t size,
                     bool without_type, ProtocolCommand& command);
  void HandleAck(uint32_t handle, const ProtocolCommand& command);
  int32_t Send(uint32_t handle, uint16_t command_id, const uint8_t* data, uint16_t length,
               std::shared_ptr<CommandCallback> callback, bool log_channel);

  const Clock clock_;
  const std::unique_ptr<Protocol> codec_;  // stateless; shared by every thread

  // Attached by Init / InitHostIpMode, forgotten by Destroy (both while no IO thread handles
  // anything); read on every thread.
  std::atomic<DeviceLink*> device_link_{nullptr};
  std::atomic<bool> attached_{false};
  std::atomic<uint8_t> view_mode_{0};
  std::string host_ip_;  // view mode; written only at start and stop

  std::mutex cfg_mutex_;
  std::map<uint32_t, KestoLidarCfg> custom_cfgs_;  // guarded by cfg_mutex_

  std::mutex type_mutex_;
  std::map<uint32_t, uint8_t> types_;  // guarded by type_mutex_; type at first detection

  std::mutex lidar_mutex_;
  std::map<uint32_t, std::shared_ptr<LidarEntry>> lidars_;  // guarded by lidar_mutex_

  std::mutex handler_mutex_;
  std::map<uint8_t, std::shared_ptr<CommandHandler>> handlers_;  // guarded by handler_mutex_

  PendingCommandTable pending_;  // holds the command mutex

  ObserverSlot<void(uint32_t, const KestoLidarIdentity*)> info_change_;
  ObserverSlot<void(uint32_t, uint8_t, const char*)> push_message_;

  // Consecutive failed firmware-type answers, shared by all lidars. Completions of several IO
  // threads may touch it at once.
  std::atomic<int> fw_query_retries_{0};
};

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_GENERAL_COMMAND_HANDLER_H_
