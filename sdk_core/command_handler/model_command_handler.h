#ifndef KESTO_LIDAR_MODEL_COMMAND_HANDLER_H_
#define KESTO_LIDAR_MODEL_COMMAND_HANDLER_H_

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>

#include "build_request.h"
#include "command_handler.h"
#include "device_link.h"
#include "protocol.h"

namespace kesto::lidar {

class GeneralCommandHandler;

// What differs between the lidar models: their ports, the builder of their configuration
// request and the source file their log lines cite.
struct ModelTraits {
  uint8_t dev_type;
  uint16_t cmd_port;          // destination of SendCommand
  uint16_t log_port;          // destination of SendLoggerCommand
  uint16_t push_source_port;  // the only source port a state push is accepted from
  bool (*build_request)(const KestoLidarCfg&, RequestBuffer&, uint16_t&);
  const char* log_file;
};

// The command handler of one lidar model; VelaCommandHandler and OrbitCommandHandler are this
// class with their own ModelTraits. Created by the general command handler through
// std::make_shared (its configuration completions hold it weakly, so an acknowledgement that
// arrives after the kit stopped finds no handler rather than a freed one).
//
// Threads: Handle runs on IO threads; the send operations on any thread; UpdateLidarCfg and
// UpdateViewLidarCfg on the IO thread handling a discovery reply. `mutex_` guards the
// configured set and the custom configurations and is never held while a command is sent or a
// completion or the general handler runs.
class ModelCommandHandler : public CommandHandler,
                            public std::enable_shared_from_this<ModelCommandHandler> {
 public:
  ModelCommandHandler(const ModelTraits& traits, DeviceLink* device_link,
                      GeneralCommandHandler& general);

  bool SetCustomLidarCfgs(const std::map<uint32_t, KestoLidarCfg>& cfgs) override;
  bool SetHostIpMode(int mode) override;
  void Handle(uint32_t handle, uint16_t port, const CommandPacket& packet) override;
  void UpdateLidarCfg(uint32_t handle, uint16_t lidar_cmd_port) override;
  void UpdateViewLidarCfg(const ViewLidarIpInfo& info) override;
  int8_t SendCommand(const CommandPacket& packet) override;
  int8_t SendLoggerCommand(const CommandPacket& packet) override;
  // As SendCommand, to `port`.
  int8_t SendCommand(const CommandPacket& packet, uint16_t port);

  void SetCustomLidar(uint32_t handle, uint16_t lidar_cmd_port, const KestoLidarCfg& cfg);
  void SetViewLidar(const ViewLidarIpInfo& info);

  // Completion of the configuration requests; `client_data` is the model handler.
  static void UpdateLidarCallback(kesto_status status, uint32_t handle,
                                  KestoLidarAsyncControlResponse* response, void* client_data);

  const ModelTraits& traits() const { return traits_; }

 private:
  enum class Channel { kCommand, kLog };
  int8_t Send(const CommandPacket& packet, uint16_t port, Channel channel);
  void SendConfiguration(uint32_t handle, const RequestBuffer& request, uint16_t length,
                         uint16_t port);

  const ModelTraits traits_;
  DeviceLink* const device_link_;   // not owned; outlives the handler (attached at kit start)
  GeneralCommandHandler& general_;  // owns this handler
  const std::unique_ptr<Protocol> codec_;

  std::mutex mutex_;
  std::set<uint32_t> configured_;                  // guarded by mutex_
  std::map<uint32_t, KestoLidarCfg> custom_cfgs_;  // guarded by mutex_
  int host_ip_mode_ = 0;                           // guarded by mutex_; stored only
};

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_MODEL_COMMAND_HANDLER_H_
