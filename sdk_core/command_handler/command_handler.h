#ifndef KESTO_LIDAR_COMMAND_HANDLER_H_
#define KESTO_LIDAR_COMMAND_HANDLER_H_

#include <cstdint>
#include <map>

#include "command_packet.h"
#include "lidar_cfg.h"

namespace kesto::lidar {

// The per-model half of the command machinery: sends a model's commands to its ports, handles
// what its lidars send, and points detected lidars at this host. The general command handler
// owns one per device type through a shared pointer.
class CommandHandler {
 public:
  virtual ~CommandHandler() = default;

  // Both run under the general handler's handler mutex and must not call back into it.
  virtual bool SetCustomLidarCfgs(const std::map<uint32_t, KestoLidarCfg>& cfgs) = 0;
  virtual bool SetHostIpMode(int mode) = 0;
  // A received command or acknowledgement of `handle` from `port`. IO thread, no lock held.
  virtual void Handle(uint32_t handle, uint16_t port, const CommandPacket& packet) = 0;
  // Points a detected lidar at this host unless it is already configured.
  virtual void UpdateLidarCfg(uint32_t handle, uint16_t lidar_cmd_port) = 0;
  virtual void UpdateViewLidarCfg(const ViewLidarIpInfo& info) = 0;
  // Register the packet, then send it to the model's command or log port. 0 when sent; -9 when
  // the send failed (the completion then told StatusSendFailed, once); -1 for an
  // acknowledgement packet, which is neither registered nor sent. Safe from any thread.
  virtual int8_t SendCommand(const CommandPacket& packet) = 0;
  virtual int8_t SendLoggerCommand(const CommandPacket& packet) = 0;
};

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_COMMAND_HANDLER_H_
