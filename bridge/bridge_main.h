#ifndef KESTO_BRIDGE_BRIDGE_MAIN_H_
#define KESTO_BRIDGE_BRIDGE_MAIN_H_

#include <cstdint>
#include <string>

#include "packet_block_layout.h"
#include "packet_stream_layout.h"

namespace kesto::bridge {

struct BridgeOptions {
  std::string block_name = kesto::block::kBlockName;
  std::string config_path = "config.json";  // relative to the working directory
  // The ring of every packet beside the version-5 block; empty: none.
  std::string stream_block_name = kesto::stream::kBlockName;
  // A capture file of every datagram exchanged with the lidars; empty: no recording.
  std::string record_path;
  uint32_t record_max_mb = 0;  // a new numbered file every that many megabytes; 0: one file
};

// The whole life of cloudpump, on the main thread: maps the packet block and the stream block,
// starts the kit with the configuration file, registers the bridge's observers, waits for the
// user's interrupt (Ctrl-C or SIGTERM, or the console window closing on Windows) while retrying
// the internal-info queries that failed to go out, stops the kit, releases the block and prints
// the end line, and only then lets a closing console window end the process. With a recording,
// it prints what was recorded and dropped before the end line, and so it does for the datagrams
// the system dropped before the kit read them, when there were any. Returns 0 after that shutdown,
// -1 when the kit does not start (then at once, without waiting).
int RunBridge(const BridgeOptions& options = {});

}  // namespace kesto::bridge

#endif  // KESTO_BRIDGE_BRIDGE_MAIN_H_
