#ifndef KESTO_LIDAR_COMMAND_HANDLER_H_
#define KESTO_LIDAR_COMMAND_HANDLER_H_

#include <cstdint>
#include <functional>

#include "command_packet.h"
#include "lidar_cfg.h"

namespace kesto::lidar {

// How a configuration request ended.
enum class ConfigOutcome : uint8_t {
  kAccepted,    // acknowledged with ret_code 0 and no error key
  kRefused,     // acknowledged with an error
  kUnanswered,  // timed out or could not be sent: worth sending again
};
using ConfigDone = std::function<void(ConfigOutcome)>;

// The per-model half of the command machinery: sends a model's commands to its ports, builds
// and sends its configuration requests, and handles what its lidars send. Holds no state of
// any lidar. The general command handler owns one per model through a shared pointer.
class CommandHandler {
 public:
  virtual ~CommandHandler() = default;

  // A received command or acknowledgement of `handle` from `port`. IO thread, no lock held.
  virtual void Handle(uint32_t handle, uint16_t port, const CommandPacket& packet) = 0;
  // Register the packet, then send it to the model's command or log port. 0 when sent; -9 when
  // the send failed (the completion then told StatusSendFailed, once); -1 for an
  // acknowledgement packet, which is neither registered nor sent. Safe from any thread.
  virtual int8_t SendCommand(const CommandPacket& packet) = 0;
  virtual int8_t SendLoggerCommand(const CommandPacket& packet) = 0;
  // Points the lidar at the host of `cfg` with a request sent to `lidar_cmd_port` (the port its
  // discovery reply names). False (logged) when the request cannot be built: nothing is sent
  // and `done` never runs; otherwise `done` runs exactly once. Any thread.
  virtual bool SendConfiguration(uint32_t handle, const KestoLidarCfg& cfg,
                                 uint16_t lidar_cmd_port, ConfigDone done) = 0;
  // The same for a view lidar, to the ports its internal information named.
  virtual bool SendViewConfiguration(const ViewLidarIpInfo& info, ConfigDone done) = 0;
};

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_COMMAND_HANDLER_H_
