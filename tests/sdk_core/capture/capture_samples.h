#ifndef KESTO_TESTS_CAPTURE_CAPTURE_SAMPLES_H_
#define KESTO_TESTS_CAPTURE_CAPTURE_SAMPLES_H_

// Well-formed captures of every format, byte order, time stamp unit and link type the reader
// handles, each with the datagrams it must yield. The reader's tests, the libpcap comparison
// and the fuzz target's seed corpus all start from these.

#include <string>
#include <vector>

#include "captured_packet.h"
#include "capture_writers.h"

namespace kesto::capture::testing {

struct Sample {
  std::string name;
  Bytes bytes;
  std::vector<CapturedDatagram> datagrams;
  // libpcap reads the whole file (it refuses a file mixing byte orders, link types or
  // snapshot lengths, which the reader reads).
  bool libpcap_reads_all = true;
};

std::vector<Sample> Samples();

}  // namespace kesto::capture::testing

#endif  // KESTO_TESTS_CAPTURE_CAPTURE_SAMPLES_H_
