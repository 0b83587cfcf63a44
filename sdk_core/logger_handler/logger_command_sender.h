#ifndef KESTO_LIDAR_LOGGER_COMMAND_SENDER_H_
#define KESTO_LIDAR_LOGGER_COMMAND_SENDER_H_
// How the log capture sends its replies and stop commands: through the command machinery, which
// sits above it in the link order. The general command handler implements this; tests use a
// fake that records every command.
#include <cstdint>

#include "kesto_lidar_sdk.h"

namespace kesto::lidar {

class LoggerCommandSender {
 public:
  // Sends a log command (0x0300 reply, 0x0301 stop) with `length` payload bytes to the lidar's
  // log port through its model command handler. `done` may be null: the outcome is then not
  // reported. Otherwise `done` runs exactly once (acknowledgement, send failure or time-out),
  // unless the result is negative, in which case it never runs. Returns 0 when the command was
  // handed to the lidar's model handler, -9 when the lidar has none. Safe from any thread.
  virtual int32_t SendLoggerCommand(uint32_t handle, uint16_t command_id, const uint8_t* data,
                                    uint16_t length, KestoLidarLoggerCallback done,
                                    void* client_data) = 0;

 protected:
  ~LoggerCommandSender() = default;
};

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_LOGGER_COMMAND_SENDER_H_
