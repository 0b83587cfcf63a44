#include "bridge_main.h"

#include <chrono>
#include <string>

#include "block_observers.h"
#include "console.h"
#include "console_callbacks.h"
#include "interrupt.h"
#include "kesto_lidar_sdk.h"
#include "shared_memory.h"
#include "stream_observers.h"

namespace kesto::bridge {

namespace {

void PrintRecordCounts(const std::string& path) {
  KestoRecordCounts counts{};
  KestoSdkGetRecordCounts(&counts);
  std::string more;
  if (counts.files > 1) more = " and " + std::to_string(counts.files - 1) + " numbered files after it";
  ConsolePrint("Recorded %llu datagrams to %s%s, dropped %llu.\n",
               static_cast<unsigned long long>(counts.recorded), path.c_str(), more.c_str(),
               static_cast<unsigned long long>(counts.dropped));
}

}  // namespace

int RunBridge(const BridgeOptions& options) {
  // Opened if a reader created it first; either way both sides see the same bytes.
  platform::SharedMemory block;
  switch (block.Open(options.block_name, kesto::block::kBlockSize)) {
    case platform::ShmResult::kOk:
      break;
    case platform::ShmResult::kOpenFailed:
      ConsolePrint("Could not open file mapping object\n");
      break;
    case platform::ShmResult::kMapFailed:
      ConsolePrint("Could not map view of file\n");
      break;
  }
  // Null when there is no block: the data observers then write nothing. Set before the kit
  // starts its threads, which orders it before every observer call.
  SetBlockView(block.data());

  // The stream block keeps every packet for readers that must not miss one. Without it the
  // bridge still serves the version-5 block; the console says so only then.
  platform::SharedMemory stream_block;
  PacketStreamWriter stream_writer;
  if (!options.stream_block_name.empty()) {
    if (stream_block.Open(options.stream_block_name, stream::kBlockSize) ==
            platform::ShmResult::kOk &&
        stream_writer.Attach(stream_block.data(), stream_block.size())) {
      SetStreamWriter(&stream_writer);
    } else {
      ConsolePrint("Could not open the stream block, every packet goes to the version-5 block only\n");
    }
  }

  ForgetInternalInfoRetries();  // a previous run's lidars are not this run's
  const bool recording = !options.record_path.empty();
  if (recording && !KestoSdkRecordTo(options.record_path.c_str(), options.record_max_mb)) {
    ConsolePrint("Could not record to %s\n", options.record_path.c_str());
  }
  if (!KestoSdkStart(options.config_path.c_str(), "", nullptr)) {
    ConsolePrint("Kesto Init Failed\n");
    KestoSdkStop();
    SetStreamWriter(nullptr);
    SetBlockView(nullptr);
    return -1;
  }

  SetPointCloudObserver(StreamingPointCloudCallback, nullptr);
  SetImuDataObserver(StreamingImuDataCallback, nullptr);
  SetPushMessageObserver(PushMessageCallback, nullptr);
  SetInfoChangeObserver(LidarInfoChangeCallback, nullptr);
  SetLidarStateObserver(LidarStateCallback, nullptr);

  // Without the handler Ctrl-C keeps its default action and ends the program at once.
  if (!platform::InstallInterruptHandler()) {
    ConsolePrint("Could not install the interrupt handler\n");
  }
  // The main thread's tick: internal-info queries that failed to go out are asked again, at
  // most once a second per lidar, until they go out or the program ends.
  // It also brings the stream block's count of what the system dropped up to date.
  while (!platform::WaitForInterruptFor(std::chrono::seconds(1))) {
    RetryInternalInfoQueries();
    if (stream_writer.attached()) stream_writer.SetOsDropped(KestoSdkGetOsDropped());
  }

  // The stop clears the data observers, so nothing writes the block once it returns.
  KestoSdkStop();
  if (recording) PrintRecordCounts(options.record_path);
  const uint64_t os_dropped = KestoSdkGetOsDropped();
  if (stream_writer.attached()) stream_writer.SetOsDropped(os_dropped);
  if (os_dropped != 0) {
    ConsolePrint("The system dropped %llu datagrams on the data sockets before they were read.\n",
                 static_cast<unsigned long long>(os_dropped));
  }
  ForgetInternalInfoRetries();
  SetStreamWriter(nullptr);
  SetBlockView(nullptr);
  stream_block.Close();
  block.Close();
  ConsolePrint("Kesto Quick Start Demo End!\n");
  // Only now may a closing console window end the process (Windows).
  platform::NotifyStopped();
  return 0;
}

}  // namespace kesto::bridge
