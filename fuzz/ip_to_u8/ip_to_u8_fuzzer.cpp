// Address texts come from the configuration file and from lidars. The conversion must never
// throw or fault, must produce exactly four bytes when it succeeds, and a success must survive
// a round trip through the plain dotted form.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "build_request.h"

namespace {

std::string Dotted(const uint8_t* bytes) {
  return std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "." +
         std::to_string(bytes[2]) + "." + std::to_string(bytes[3]);
}

void CheckConversion(const std::string& text, const std::string& separator) {
  std::vector<uint8_t> out = {0x5A};
  if (!kesto::lidar::IpToU8(text, separator, out)) return;
  if (out.size() != 5 || out[0] != 0x5A) std::abort();  // appends exactly four bytes
  std::vector<uint8_t> again;
  if (!kesto::lidar::IpToU8(Dotted(out.data() + 1), ".", again)) std::abort();
  if (again != std::vector<uint8_t>(out.begin() + 1, out.end())) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  CheckConversion(text, ".");
  // The first bytes as a separator of one or two characters, the rest as the text.
  if (size >= 1) CheckConversion(text.substr(1), text.substr(0, 1));
  if (size >= 2) CheckConversion(text.substr(2), text.substr(0, 2));
  uint8_t four[4] = {};
  kesto::lidar::IpToU8(text, four);
  return 0;
}
