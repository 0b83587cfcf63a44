// Capture files come from disk, written by any tool or damaged on the way. The reader must never
// fault or read past its input, and wherever libpcap can judge the same bytes, the reader must
// yield the same packets and datagrams, and fail where libpcap fails (pcap_oracle.h says where
// libpcap is stricter than the reader is meant to be).

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "capture_reader.h"
#include "pcap_oracle.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> bytes(data, data + size);
  const std::string difference = kesto::capture::testing::CompareWithLibpcap(bytes);
  if (!difference.empty()) {
    std::fprintf(stderr, "reader and libpcap differ: %s\n", difference.c_str());
    std::abort();
  }
  // The datagram pass alone, as a replay would run it.
  kesto::capture::CaptureContents contents = kesto::capture::ReadCaptureBytes(bytes);
  if (contents.ok() == !contents.error.empty()) std::abort();
  return 0;
}
