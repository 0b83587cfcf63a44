// hostile_sender: a bounded storm of malformed and hostile datagrams at a host's ports, from
// addresses where no real lidar lives, for the end-to-end test of cloudpump.
//
// Usage: hostile_sender discovery HOST UNKNOWN_LIDARS
//        hostile_sender storm HOST PORT[,PORT...] PER_PORT UNKNOWN_LIDARS [SEED]
//   discovery: UNKNOWN_LIDARS lidars that nobody runs (127.1.1.1 upward) answer discovery from
//     port 56000 to HOST:56000, twice each (a host takes a lidar in at its first reply and
//     handles the second), with hostile serial numbers and all kinds of device types;
//   storm: those lidars push a log file each from their log ports (56500, 59000), with odd log
//     types, to the given ports in turn; then each PORT gets PER_PORT datagrams, in turn: random
//     bytes, truncated frames, bit-flipped frames, frames whose length field lies (beyond the
//     datagram, or short of it with a matching header checksum), data packets of odd sizes and
//     unknown data types from the data ports of the unknown lidars, and datagrams over 8192
//     bytes.
// Every datagram goes to HOST, which must be a loopback address; a run ends after all of them or
// after 30 seconds, whichever comes first. Exit status 0 when every planned datagram was sent,
// 2 on bad arguments, 1 when the storm was incomplete (a datagram the system refused, or the
// time limit reached): a test that passed on a partial storm would claim more than it saw.
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "crc16.h"
#include "data_packet.h"
#include "frame_writer.h"
#include "lidar_sim.h"
#include "little_endian.h"
#include "socket.h"

namespace {

namespace platform = kesto::platform;
using kesto::StoreU16;
using kesto::StoreU32;
namespace sim = kesto::lidar_sim;
using Bytes = std::vector<uint8_t>;

constexpr uint16_t kDiscoveryPort = 56000;
constexpr auto kTimeLimit = std::chrono::seconds(30);

// Serial numbers a lidar could claim: no terminator, path parts of both systems, format
// directives, control characters, reserved device names, bytes that are no text at all.
const std::vector<std::string> kHostileSerials = {
    "ABCDEFGHIJKLMNOP",   "../../../../evil",   "..\\..\\..\\evil", "/etc/passwd",
    "%s%s%s%n%x",         std::string("\x01\x02\r\n\t\x7f", 6), "CON",
    "NUL.txt",            "",                   std::string("\xff\xfe\x80\xc0", 4),
    "a:b*c?d\"e<f>g|h",   ".hidden",            " ",
};

struct Storm {
  sockaddr_in host{};
  std::mt19937 random;
  std::chrono::steady_clock::time_point deadline;
  size_t sent = 0;
  size_t refused = 0;
  bool out_of_time = false;
  // Datagrams between short pauses, so that a receiver keeps up: discovery replies, each of which
  // makes the host take a lidar in, come slower than the storm.
  size_t pace_every = 64;

  // One datagram from `source`:`source_port` (0: any port).
  void Send(const std::array<uint8_t, 4>& source, uint16_t source_port, uint16_t port, const Bytes& bytes) {
    if (std::chrono::steady_clock::now() >= deadline) {
      out_of_time = true;
      return;
    }
    const int s = platform::SocketOpen(AF_INET, SOCK_DGRAM, 0);
    if (s == platform::kInvalidSocket) {
      ++refused;
      return;
    }
    platform::SocketSetOption(s, SOL_SOCKET, SO_REUSEADDR, 1);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_port = htons(source_port);
    std::memcpy(&from.sin_addr.s_addr, source.data(), 4);
    sockaddr_in to = host;
    to.sin_port = htons(port);
    if (!platform::SocketBind(s, from) ||
        platform::SocketSendTo(s, bytes.data(), static_cast<int>(bytes.size()), to) < 0) {
      ++refused;
    } else {
      ++sent;
    }
    platform::SocketClose(s);
    if ((sent + refused) % pace_every == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }

  size_t Below(size_t n) { return static_cast<size_t>(random() % n); }
  Bytes RandomBytes(size_t size) {
    Bytes b(size);
    for (uint8_t& v : b) v = static_cast<uint8_t>(random());
    return b;
  }
};

// Unknown lidar i lives at 127.(1 + i / 250).1.(1 + i % 250).
std::array<uint8_t, 4> UnknownLidar(size_t i) {
  return {127, static_cast<uint8_t>(1 + i / 250), 1, static_cast<uint8_t>(1 + i % 250)};
}

// ORBIT, VELA, and types no configuration knows.
uint8_t DeviceTypeOf(size_t i) {
  static const uint8_t kTypes[] = {9, 10, 9, 10, 16, 0xFF, 0};
  return kTypes[i % std::size(kTypes)];
}

// Frames a lidar could send, to be spoiled.
Bytes SampleFrame(Storm& storm) {
  switch (storm.Below(4)) {
    case 0: {  // a state push of a few keys
      Bytes list;
      sim::KeyValueWriter writer(list);
      writer.Add(0x001A, Bytes{1});
      writer.Add(0x8000, Bytes(16, 'S'));
      writer.Add(0x8009, Bytes(8, 7));
      return sim::EncodeLidarFrame(0x0102, 0, static_cast<uint32_t>(storm.random()), list);
    }
    case 1:  // an acknowledgement of a command nobody sent
      return sim::EncodeLidarFrame(0x0101, 1, static_cast<uint32_t>(storm.random()), Bytes{0, 2, 0, 0x06, 0, 8, 0});
    case 2: {  // a discovery reply
      Bytes reply(24, 0);
      reply[1] = 9;
      return sim::EncodeLidarFrame(0x0000, 1, 1, reply);
    }
    default:  // a log file push
      return sim::EncodeLidarFrame(0x0300, 0, 1, Bytes(16 + 40, 'L'));
  }
}

Bytes LogPush(uint8_t log_type, uint8_t file_index, uint8_t flags, uint32_t trans_index, const Bytes& data) {
  Bytes payload(16 + data.size(), 0);
  payload[0] = log_type;
  payload[1] = file_index;
  payload[3] = flags;
  StoreU32(payload.data() + 10, trans_index);
  StoreU16(payload.data() + 14, static_cast<uint16_t>(data.size()));
  std::copy(data.begin(), data.end(), payload.begin() + 16);
  return sim::EncodeLidarFrame(0x0300, 0, trans_index + 1, payload);
}

void Discovery(Storm& storm, size_t count) {
  storm.pace_every = 8;
  for (int round = 0; round < 2; ++round) {
    for (size_t i = 0; i < count && !storm.out_of_time; ++i) {
      const std::array<uint8_t, 4> self = UnknownLidar(i);
      const std::string& serial = kHostileSerials[i % kHostileSerials.size()];
      Bytes reply(24, 0);
      reply[1] = DeviceTypeOf(i);
      std::copy(serial.begin(), serial.begin() + static_cast<long>(std::min<size_t>(serial.size(), 16)),
                reply.begin() + 2);
      // Mostly its own address; now and then one that is not.
      const std::array<uint8_t, 4> claimed = i % 5 == 4 ? std::array<uint8_t, 4>{10, 0, 0, 1} : self;
      std::copy(claimed.begin(), claimed.end(), reply.begin() + 18);
      StoreU16(reply.data() + 22, static_cast<uint16_t>(40000 + i));
      storm.Send(self, kDiscoveryPort, kDiscoveryPort, sim::EncodeLidarFrame(0x0000, 1, 1, reply));
    }
  }
}

void LogFiles(Storm& storm, size_t count, const std::vector<uint16_t>& ports) {
  static const uint8_t kLogTypes[] = {0, 1, 7, 255};
  for (size_t i = 0; i < count && !storm.out_of_time; ++i) {
    const uint8_t log_type = kLogTypes[i % std::size(kLogTypes)];
    const uint8_t file = static_cast<uint8_t>(i);
    const uint16_t from = i % 2 == 0 ? 56500 : 59000;
    const uint16_t port = ports[i % ports.size()];
    const Bytes text(100 + storm.Below(900), static_cast<uint8_t>('a' + i % 26));
    storm.Send(UnknownLidar(i), from, port, LogPush(log_type, file, 0x03, 0, {}));
    storm.Send(UnknownLidar(i), from, port, LogPush(log_type, file, 0x01, 1, text));
    storm.Send(UnknownLidar(i), from, port, LogPush(log_type, file, 0x04, 2, {}));
  }
}

Bytes Spoiled(Storm& storm, size_t turn, size_t unknown_lidars, std::array<uint8_t, 4>& source,
              uint16_t& source_port) {
  source = {127, 0, 3, static_cast<uint8_t>(1 + storm.Below(254))};
  source_port = 0;
  switch (turn % 7) {
    case 0:
      return storm.RandomBytes(1 + storm.Below(1500));
    case 1: {
      Bytes frame = SampleFrame(storm);
      frame.resize(storm.Below(frame.size()));
      return frame;
    }
    case 2: {
      Bytes frame = SampleFrame(storm);
      for (size_t flips = 1 + storm.Below(3); flips > 0; --flips) {
        frame[storm.Below(frame.size())] ^= static_cast<uint8_t>(1u << storm.Below(8));
      }
      return frame;
    }
    case 3: {
      Bytes frame = SampleFrame(storm);
      if (storm.Below(2) == 0) return sim::DamageFrame(frame, sim::kMalformedBadLength);
      // Short of the datagram, even short of the header, with a header checksum that matches.
      StoreU16(frame.data() + 2, static_cast<uint16_t>(storm.Below(frame.size())));
      StoreU16(frame.data() + 18, kesto::lidar::Crc16(frame.data(), 18));
      return frame;
    }
    case 4:
    case 5: {
      // From the data ports of an unknown lidar that the host may have taken in.
      if (unknown_lidars > 0) {
        const size_t i = storm.Below(unknown_lidars);
        source = UnknownLidar(i);
        const bool point = turn % 7 == 4;
        source_port = DeviceTypeOf(i) == 10 ? (point ? 57000 : 58000) : (point ? 56300 : 56400);
      }
      static const size_t kSizes[] = {1, 11, 35, 36, 37, 59, 61, 803, 995, 1379, 1381, 4097, 8191, 8192};
      static const uint8_t kTypes[] = {0, 1, 2, 3, 4, 255};
      Bytes packet = storm.RandomBytes(kSizes[storm.Below(std::size(kSizes))]);
      if (packet.size() >= sim::kDataHeaderLength) {
        sim::WriteDataHeader(packet.data(), static_cast<uint16_t>(storm.random()), 96,
                             kTypes[storm.Below(std::size(kTypes))], 0, storm.random());
      }
      return packet;
    }
    default: {
      static const size_t kSizes[] = {8193, 9000, 16384, 65000};
      Bytes big = storm.RandomBytes(kSizes[storm.Below(std::size(kSizes))]);
      const Bytes frame = SampleFrame(storm);
      std::copy(frame.begin(), frame.end(), big.begin());
      return big;
    }
  }
}

bool ParsePorts(const std::string& text, std::vector<uint16_t>& ports) {
  size_t at = 0;
  while (at <= text.size()) {
    const size_t comma = std::min(text.find(',', at), text.size());
    const long port = std::strtol(text.substr(at, comma - at).c_str(), nullptr, 10);
    if (port <= 0 || port > 65535) return false;
    ports.push_back(static_cast<uint16_t>(port));
    at = comma + 1;
  }
  return !ports.empty();
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  const bool discovery = mode == "discovery" && argc == 4;
  const bool storm_mode = mode == "storm" && (argc == 6 || argc == 7);
  Storm storm;
  std::vector<uint16_t> ports;
  if ((!discovery && !storm_mode) || inet_pton(AF_INET, argv[2], &storm.host.sin_addr) != 1 ||
      reinterpret_cast<const uint8_t*>(&storm.host.sin_addr.s_addr)[0] != 127 ||
      (storm_mode && !ParsePorts(argv[3], ports))) {
    std::fprintf(stderr,
                 "usage: hostile_sender discovery LOOPBACK_HOST UNKNOWN_LIDARS\n"
                 "       hostile_sender storm LOOPBACK_HOST PORT[,PORT...] PER_PORT UNKNOWN_LIDARS [SEED]\n");
    return 2;
  }
  storm.host.sin_family = AF_INET;
  const size_t unknown_lidars = std::min<size_t>(std::strtoul(argv[discovery ? 3 : 5], nullptr, 10), 2500);
  const unsigned long seed = argc == 7 ? std::strtoul(argv[6], nullptr, 10) : 12;
  storm.random.seed(static_cast<std::mt19937::result_type>(seed));
  storm.deadline = std::chrono::steady_clock::now() + kTimeLimit;
  if (!platform::SocketStartup()) return 1;

  size_t planned = 0;
  if (discovery) {
    planned = 2 * unknown_lidars;
    Discovery(storm, unknown_lidars);
  } else {
    const size_t per_port = std::strtoul(argv[4], nullptr, 10);
    planned = 3 * unknown_lidars + per_port * ports.size();
    LogFiles(storm, unknown_lidars, ports);
    for (size_t turn = 0; turn < per_port && !storm.out_of_time; ++turn) {
      for (uint16_t port : ports) {
        std::array<uint8_t, 4> source{};
        uint16_t source_port = 0;
        const Bytes bytes = Spoiled(storm, turn, unknown_lidars, source, source_port);
        storm.Send(source, source_port, port, bytes);
      }
    }
  }
  platform::SocketCleanup();
  // An incomplete storm is told on the error stream, which the test shows.
  const bool complete = storm.sent == planned;
  std::fprintf(complete ? stdout : stderr,
               "hostile_sender %s: seed %lu, %zu of %zu datagrams sent, %zu refused%s%s\n",
               mode.c_str(), seed, storm.sent, planned, storm.refused,
               storm.out_of_time ? ", stopped at the time limit" : "",
               complete ? "" : ": the storm is incomplete");
  return complete ? 0 : 1;
}
