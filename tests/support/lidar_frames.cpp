#include "lidar_frames.h"

#include <cstdlib>
#include <cstring>

#include "handle_text.h"
#include "little_endian.h"
#include "sdk_protocol.h"

namespace kesto::test {

uint32_t HandleOf(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  const uint8_t octets[4] = {a, b, c, d};
  return lidar::BytesToHandle(octets);
}

Bytes Frame(uint32_t seq, uint16_t cmd_id, uint8_t cmd_type, const Bytes& payload) {
  static const lidar::SdkProtocol codec;
  lidar::ProtocolCommand command;
  command.seq = seq;
  command.cmd_id = cmd_id;
  command.cmd_type = cmd_type;
  command.data = payload.empty() ? nullptr : payload.data();
  command.data_len = static_cast<uint16_t>(payload.size());
  Bytes frame(lidar::kFrameHeaderLength + payload.size(), 0);
  int length = 0;
  if (codec.EncodeFrame(frame.data(), static_cast<uint32_t>(frame.size()), length, command) != 0) {
    std::abort();
  }
  frame.resize(static_cast<size_t>(length));
  return frame;
}

Bytes DiscoveryPayload(uint8_t ret_code, uint8_t dev_type, std::string_view sn,
                       std::array<uint8_t, 4> ip, uint16_t cmd_port) {
  Bytes payload(24, 0);
  payload[0] = ret_code;
  payload[1] = dev_type;
  std::memcpy(payload.data() + 2, sn.data(), sn.size() < 16 ? sn.size() : 16);
  std::memcpy(payload.data() + 18, ip.data(), 4);
  StoreU16(payload.data() + 22, cmd_port);
  return payload;
}

Bytes DiscoveryReply(uint8_t ret_code, uint8_t dev_type, std::string_view sn,
                     std::array<uint8_t, 4> ip, uint16_t cmd_port, uint32_t seq) {
  return Frame(seq, 0x0000, 1, DiscoveryPayload(ret_code, dev_type, sn, ip, cmd_port));
}

Bytes Ack(uint32_t seq, uint16_t cmd_id, const Bytes& payload) {
  return Frame(seq, cmd_id, 1, payload);
}

Bytes StatePush(const Bytes& key_value_list, uint32_t seq) {
  return Frame(seq, 0x0102, 0, key_value_list);
}

Bytes ControlAnswer(uint8_t ret_code, uint16_t error_key) {
  Bytes payload(3, 0);
  payload[0] = ret_code;
  StoreU16(payload.data() + 1, error_key);
  return payload;
}

namespace {
void AppendEntries(Bytes& out, const std::vector<Entry>& entries) {
  for (const Entry& entry : entries) {
    const size_t at = out.size();
    out.resize(at + 4);
    StoreU16(out.data() + at, entry.key);
    StoreU16(out.data() + at + 2, static_cast<uint16_t>(entry.value.size()));
    out.insert(out.end(), entry.value.begin(), entry.value.end());
  }
}
}  // namespace

Bytes InternalInfoAnswer(uint8_t ret_code, const std::vector<Entry>& entries) {
  Bytes payload(3, 0);
  payload[0] = ret_code;
  StoreU16(payload.data() + 1, static_cast<uint16_t>(entries.size()));
  AppendEntries(payload, entries);
  return payload;
}

Bytes KeyValueList(const std::vector<Entry>& entries) {
  Bytes payload(4, 0);
  StoreU16(payload.data(), static_cast<uint16_t>(entries.size()));
  AppendEntries(payload, entries);
  return payload;
}

ExactBuffer::ExactBuffer(const Bytes& bytes)
    : data_(new uint8_t[bytes.empty() ? 1 : bytes.size()]),
      size_(static_cast<uint32_t>(bytes.size())) {
  if (!bytes.empty()) std::memcpy(data_.get(), bytes.data(), bytes.size());
}

}  // namespace kesto::test
