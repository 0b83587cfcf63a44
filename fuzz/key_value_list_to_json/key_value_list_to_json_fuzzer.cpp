// A lidar's state push is untrusted: any bytes must convert without a fault, and every text the
// conversion writes must be valid JSON (UTF-8 checked) with an object at its root.

#include <rapidjson/document.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "state_push_json.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text = "unchanged";
  if (!kesto::lidar::KeyValueListToJson(data, size, text)) {
    if (text != "unchanged") std::abort();  // a failed conversion writes nothing
    return 0;
  }
  rapidjson::Document doc;
  doc.Parse<rapidjson::kParseValidateEncodingFlag>(text.c_str(), text.size());
  if (doc.HasParseError() || !doc.IsObject()) std::abort();
  return 0;
}
