#ifndef KESTO_BRIDGE_BRIDGE_MAIN_H_
#define KESTO_BRIDGE_BRIDGE_MAIN_H_

#include <string>

#include "packet_block_layout.h"
#include "packet_stream_layout.h"

namespace kesto::bridge {

struct BridgeOptions {
  std::string block_name = kesto::block::kBlockName;
  std::string config_path = "config.json";  // relative to the working directory
  // The ring of every packet beside the version-5 block; empty: none.
  std::string stream_block_name = kesto::stream::kBlockName;
};

// The whole life of cloudpump, on the main thread: maps the packet block and the stream block,
// starts the kit with the configuration file, registers the bridge's observers, waits for the
// user's interrupt (Ctrl-C or SIGTERM, or the console window closing on Windows) while retrying
// the internal-info queries that failed to go out, stops the kit, releases the block and prints
// the end line, and only then lets a closing console window end the process. Returns 0 after
// that shutdown, -1 when the kit does not start (then at once, without waiting).
int RunBridge(const BridgeOptions& options = {});

}  // namespace kesto::bridge

#endif  // KESTO_BRIDGE_BRIDGE_MAIN_H_
