#ifndef KESTO_LIDAR_GENERAL_COMMAND_HANDLER_H_
#define KESTO_LIDAR_GENERAL_COMMAND_HANDLER_H_

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "clock.h"
#include "command_handler.h"
#include "device_link.h"
#include "kesto_lidar_sdk.h"
#include "lidar_models.h"
#include "logger_command_sender.h"
#include "observer_slot.h"
#include "pending_commands.h"
#include "protocol.h"

namespace kesto::lidar {

// The model-independent half of the command machinery, one per kit. All commands of the kit
// leave through it: it owns one model handler per model, the pending-command table with its
// time-outs, and the push-message observer. It decides nothing about a lidar: routing hands it
// decoded command frames of lidars whose model is known, the lidar set-up asks it to send, and
// a command that names only a handle learns the lidar's model from the directory
// (LidarModels). Below it is only a way to send (DeviceLink).
//
// Threads: Handle, HandleUpgradeDatagram, DeliverPushMessage, CheckCommandTimeout and the
// completions run on the device manager's IO threads; the send operations and the observer
// setter on any thread; AttachLink at kit construction, before any thread runs. No lock is
// held while a model handler sends or handles, nor while an observer or a completion runs, so
// those may call back in.
class GeneralCommandHandler : public LoggerCommandSender {
 public:
  using Clock = std::function<TimePoint()>;

  // `models` (may be null: then only commands to a given model can be sent) must outlive this
  // handler. `clock` gives the time that command deadlines count from.
  explicit GeneralCommandHandler(const LidarModels* models = nullptr, Clock clock = SteadyNow);
  // Completes what is still pending (CompleteAllPending).
  ~GeneralCommandHandler();
  GeneralCommandHandler(const GeneralCommandHandler&) = delete;
  GeneralCommandHandler& operator=(const GeneralCommandHandler&) = delete;

  // The way to send; must outlive this handler (or be detached with null first).
  void AttachLink(DeviceLink* link) { link_ = link; }
  DeviceLink* link() const { return link_.load(); }

  // A decoded command frame (acknowledgement or lidar command) of a lidar of `dev_type`.
  void Handle(uint8_t dev_type, uint32_t handle, uint16_t port, const ProtocolCommand& command);
  // A raw datagram of a model's firmware upgrade channel, which carries no command frame.
  void HandleUpgradeDatagram(uint8_t dev_type, uint32_t handle, uint16_t port, const uint8_t* buf,
                             uint32_t size);

  std::shared_ptr<CommandHandler> GetCommandHandler(uint8_t dev_type) const;
  // The model handler of a lidar that has answered discovery; null (logged) otherwise.
  std::shared_ptr<CommandHandler> GetLidarCommandHandler(uint32_t handle) const;
  // The internal-info key list of the lidar's model; false when the lidar is not known or its
  // model has none.
  bool GetInternalInfoKeys(uint32_t handle, std::set<uint16_t>& keys) const;

  // Hands a command with a fresh sequence number to the lidar's model handler: 0, and the
  // callback then runs exactly once; or -9 (logged) when the lidar has no model handler, and
  // the callback never runs. Safe from any thread, including from inside a completion.
  int32_t SendCommand(uint32_t handle, uint16_t command_id, const uint8_t* data, uint16_t length,
                      std::shared_ptr<CommandCallback> callback);
  // The same, for a lidar whose model the caller knows.
  int32_t SendCommand(uint8_t dev_type, uint32_t handle, uint16_t command_id, const uint8_t* data,
                      uint16_t length, std::shared_ptr<CommandCallback> callback);
  // The same, to the lidar's log port.
  int32_t SendLoggerCommand(uint32_t handle, uint16_t command_id, const uint8_t* data,
                            uint16_t length, std::shared_ptr<CommandCallback> callback);
  int32_t SendLoggerCommand(uint32_t handle, uint16_t command_id, const uint8_t* data,
                            uint16_t length, KestoLidarLoggerCallback done,
                            void* client_data) override;

  // A state push of a lidar, as JSON text, to the push-message observer.
  void DeliverPushMessage(uint32_t handle, uint8_t dev_type, const std::string& text);

  // Registers a sent command until now + its time-out.
  void AddPendingCommand(const CommandPacket& packet);
  // Takes a pending command out, for the one who then completes it.
  std::optional<PendingCommand> TakePendingCommand(uint32_t seq, uint32_t handle);
  // Completes every command whose deadline is strictly earlier than `now` with StatusTimeout.
  void CheckCommandTimeout(TimePoint now);
  size_t PendingCommandCount() const { return pending_.Size(); }
  // Completes every command still pending as timed out (the kit's stop, once no IO thread
  // runs): each completion runs exactly once, also when the lidar never answers.
  void CompleteAllPending();

  void SetPushMessageObserver(KestoLidarPushMessageObserver observer, void* client_data);

 private:
  std::shared_ptr<CommandHandler> HandlerOf(uint8_t dev_type) const;
  int32_t Send(std::shared_ptr<CommandHandler> handler, uint32_t handle, uint16_t command_id,
               const uint8_t* data, uint16_t length, std::shared_ptr<CommandCallback> callback,
               bool log_channel);

  const LidarModels* const models_;
  const Clock clock_;
  std::atomic<DeviceLink*> link_{nullptr};

  // One per model of the model table that has a command handler; made by the constructor and
  // never changed, so read from any thread without a lock.
  std::map<uint8_t, std::shared_ptr<CommandHandler>> handlers_;

  PendingCommandTable pending_;  // holds the command mutex

  ObserverSlot<void(uint32_t, uint8_t, const char*)> push_message_;
};

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_GENERAL_COMMAND_HANDLER_H_
