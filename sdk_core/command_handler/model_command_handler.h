#ifndef KESTO_LIDAR_MODEL_COMMAND_HANDLER_H_
#define KESTO_LIDAR_MODEL_COMMAND_HANDLER_H_

#include <cstdint>
#include <memory>

#include "build_request.h"
#include "command_handler.h"
#include "device_link.h"
#include "protocol.h"

namespace kesto::lidar {

class GeneralCommandHandler;

// What differs between the lidar models for their commands: their ports, the builder of their
// configuration request and the source file their log lines cite.
struct ModelTraits {
  uint8_t dev_type;
  uint16_t cmd_port;          // destination of SendCommand
  uint16_t log_port;          // destination of SendLoggerCommand
  uint16_t push_source_port;  // the only source port a state push is accepted from
  bool (*build_request)(const KestoLidarCfg&, RequestBuffer&, uint16_t&);
  const char* log_file;
};

// The command handler of one lidar model; VelaCommandHandler and OrbitCommandHandler are this
// class with their own ModelTraits. Stateless apart from its traits: which lidar is configured
// is the lidar directory's to know.
//
// Threads: Handle runs on IO threads; the send operations on any thread. Completions run on
// the thread that completes the command, with no lock held.
class ModelCommandHandler : public CommandHandler {
 public:
  ModelCommandHandler(const ModelTraits& traits, GeneralCommandHandler& general);

  void Handle(uint32_t handle, uint16_t port, const CommandPacket& packet) override;
  int8_t SendCommand(const CommandPacket& packet) override;
  int8_t SendLoggerCommand(const CommandPacket& packet) override;
  bool SendConfiguration(uint32_t handle, const KestoLidarCfg& cfg, uint16_t lidar_cmd_port,
                         ConfigDone done) override;
  bool SendViewConfiguration(const ViewLidarIpInfo& info, ConfigDone done) override;
  // As SendCommand, to `port`.
  int8_t SendCommand(const CommandPacket& packet, uint16_t port);

  // Logs how a configuration request ended, in this model's words, and says what it means.
  ConfigOutcome ConfigurationResult(kesto_status status, uint32_t handle,
                                    const KestoLidarAsyncControlResponse* response) const;

  const ModelTraits& traits() const { return traits_; }

 private:
  enum class Channel { kCommand, kLog };
  int8_t Send(const CommandPacket& packet, uint16_t port, Channel channel);
  void SendConfigurationRequest(uint32_t handle, const RequestBuffer& request, uint16_t length,
                                uint16_t port, ConfigDone done);

  const ModelTraits traits_;
  GeneralCommandHandler& general_;  // owns this handler
  const std::unique_ptr<Protocol> codec_;
};

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_MODEL_COMMAND_HANDLER_H_
