#ifndef KESTO_TESTS_CAPTURE_PCAP_ORACLE_H_
#define KESTO_TESTS_CAPTURE_PCAP_ORACLE_H_

// libpcap as the judge of the capture reader: what libpcap reads from the same bytes, decoded
// to UDP datagrams by a decoder of its own, and the first place where the reader disagrees.
// Native builds only (libpcap is not part of the product).

#include <cstdint>
#include <string>
#include <vector>

namespace kesto::capture::testing {

// Empty when the reader agrees with libpcap on `bytes`: the same packets (time stamps in
// nanoseconds, original lengths, bytes), the same UDP datagrams in them, and an error exactly
// where libpcap reports one. Where libpcap refuses what the reader is meant to read (sections
// of both byte orders, interfaces of different link types or snapshot lengths), the reader
// must agree up to that point and may go on. Otherwise the first difference, in words.
std::string CompareWithLibpcap(const std::vector<uint8_t>& bytes);

// libpcap's error on `bytes`, empty when it reads them to the end.
std::string LibpcapError(const std::vector<uint8_t>& bytes);

}  // namespace kesto::capture::testing

#endif  // KESTO_TESTS_CAPTURE_PCAP_ORACLE_H_
