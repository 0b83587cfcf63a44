#ifndef KESTO_LIDAR_PROTOCOL_H_
#define KESTO_LIDAR_PROTOCOL_H_

#include <cstdint>

#include "protocol_command.h"

namespace kesto::lidar {

// A frame codec. Each owner (device manager, general command handler, model command handlers,
// logger manager) holds its own through std::unique_ptr<Protocol>. Implementations keep no
// mutable state, so one object may serve several threads at once.
class Protocol {
 public:
  virtual ~Protocol() = default;

  // Fills `command` from a frame of `size` bytes; `command.data` then points into `frame`.
  // Checks the layout only, not the checksums: receivers go through ParseFrame.
  virtual bool DecodeFrame(const uint8_t* frame, uint32_t size, ProtocolCommand& command) const = 0;
  // Writes `command` as one frame into `buffer` (`capacity` bytes). Returns 0 and sets
  // `frame_length`, or returns -1 and sets `frame_length` to 0.
  virtual int EncodeFrame(uint8_t* buffer, uint32_t capacity, int& frame_length,
                          const ProtocolCommand& command) const = 0;
  virtual uint32_t MinFrameLength() const = 0;
  virtual uint32_t HeaderLength() const = 0;
  // The length field of a frame; `frame` must hold at least MinFrameLength() bytes.
  virtual uint16_t FrameLengthOf(const uint8_t* frame) const = 0;
  // True when `size` bytes hold one intact frame (layout and both checksums).
  virtual bool VerifyFrame(const uint8_t* frame, uint32_t size) const = 0;
};

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_PROTOCOL_H_
