#ifndef KESTO_LIDAR_STATE_PUSH_JSON_H_
#define KESTO_LIDAR_STATE_PUSH_JSON_H_

// Conversion of a lidar's state push (a key-value list) into the JSON text the push-message
// observer receives. Runs on the IO thread that received the push; no shared state.

#include <cstddef>
#include <cstdint>
#include <string>

#include "lidar_state_info.h"

namespace kesto::lidar {

// Parses the key-value list `payload` (the command's payload) and writes its JSON text into
// `text`. On false (a list that runs past its payload) `text` is left as it was.
bool KeyValueListToJson(const uint8_t* payload, size_t length, std::string& text);

// Stores every named key of the list into `info` and its id into `present`. The caller zeroes
// `info` and clears `present` first. False, with one log line, when an entry does not fit.
bool ParseStateInfo(const uint8_t* payload, size_t length, LidarStateInfo& info,
                    PresentKeys& present);

// Writes the members of the keys in `present`, in key order, as pretty-printed JSON.
void StateInfoToJson(const LidarStateInfo& info, const PresentKeys& present, std::string& text);

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_STATE_PUSH_JSON_H_
