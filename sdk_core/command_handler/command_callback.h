#ifndef KESTO_LIDAR_COMMAND_CALLBACK_H_
#define KESTO_LIDAR_COMMAND_CALLBACK_H_
// The completion of a command: what runs, exactly once, when its acknowledgement arrives, its
// send fails or its time runs out.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

#include "kesto_lidar_sdk.h"
#include "kit_log.h"

namespace kesto::lidar {

// Completion statuses, and the results of the send operations and the command API.
enum CommandStatus : int32_t {
  StatusSuccess = 0,        // acknowledged; the response is valid during the call
  StatusTimeout = -4,       // no acknowledgement before the deadline; no response
  StatusUnknownLidar = -7,  // the query has no key list for the lidar (never a completion)
  // The exchange failed: the datagram could not be sent, the lidar has no handler, or the
  // acknowledgement was too short to hold its result (see CompleteWithRecord).
  StatusSendFailed = -9,
};

// A completion, shared by the packet being sent, the pending-command table and whoever
// handles the acknowledgement. Execute runs on the thread that completes the command (an IO
// thread, or the sender's thread for a failed send) with no kit lock held.
class CommandCallback {
 public:
  virtual ~CommandCallback() = default;
  // `response` is the acknowledgement's payload of `length` bytes (valid during the call), or
  // null with any status but StatusSuccess.
  virtual void Execute(int32_t status, uint32_t handle, const uint8_t* response, size_t length) = 0;
};

// The completion record T built from an acknowledgement payload. Completion functions get no
// length, so they must never see bytes beyond what arrived: the record is a copy, zero-padded
// to at least sizeof(T). An internal-info record also has its param_num lowered to the number
// of entries that lie wholly inside the payload, so a caller that walks param_num entries stays
// inside the copy.
template <typename T>
class ResponseRecord {
 public:
  ResponseRecord(const uint8_t* payload, size_t length)
      : bytes_(length > sizeof(T) ? length : sizeof(T), 0) {
    if (payload != nullptr && length > 0) std::memcpy(bytes_.data(), payload, length);
    if constexpr (std::is_same_v<T, KestoLidarDiagInternalInfoResponse>) {
      LowerParamNum(payload != nullptr ? length : 0);
    }
  }
  T* get() { return reinterpret_cast<T*>(bytes_.data()); }

  // The fixed fields the acknowledgement must carry for the record to mean anything: ret_code
  // and error_key, ret_code and param_num, or ret_code alone. Fewer bytes would read, zero
  // padded, as ret_code 0, an acceptance the lidar never sent.
  static constexpr size_t kFixedSize = std::is_same_v<T, KestoLidarDiagInternalInfoResponse>
                                           ? offsetof(KestoLidarDiagInternalInfoResponse, data)
                                           : sizeof(T);

 private:
  void LowerParamNum(size_t received) {
    constexpr size_t kEntries = offsetof(KestoLidarDiagInternalInfoResponse, data);
    constexpr size_t kEntryHeader = 4;  // key id u16, value length u16
    const uint16_t declared = static_cast<uint16_t>(bytes_[1] | (bytes_[2] << 8));
    uint16_t whole = 0;
    size_t at = kEntries;
    while (whole < declared && at + kEntryHeader <= received) {
      const size_t value_length = static_cast<size_t>(bytes_[at + 2] | (bytes_[at + 3] << 8));
      if (at + kEntryHeader + value_length > received) break;
      at += kEntryHeader + value_length;
      ++whole;
    }
    bytes_[1] = static_cast<uint8_t>(whole);
    bytes_[2] = static_cast<uint8_t>(whole >> 8);
  }

  std::vector<uint8_t> bytes_;
};

// Hands one completion to `complete(status, handle, T* record)`: the record built from the
// acknowledgement, or null when none arrived. An acknowledgement shorter than the record's fixed
// fields is no answer: it completes as StatusSendFailed with no record, after one log line. The
// public-command completions and the kit's configuration completion both come through here.
template <typename T, typename Complete>
void CompleteWithRecord(int32_t status, uint32_t handle, const uint8_t* response, size_t length,
                        Complete&& complete) {
  if (response == nullptr) {
    complete(status, handle, static_cast<T*>(nullptr));
    return;
  }
  if (length < ResponseRecord<T>::kFixedSize) {
    KESTO_LOG_ERROR("Acknowledgement of {} bytes from handle {} is too short for its result, "
                    "taken as failed.",
                    length, handle);
    complete(static_cast<int32_t>(StatusSendFailed), handle, static_cast<T*>(nullptr));
    return;
  }
  ResponseRecord<T> record(response, length);
  complete(status, handle, record.get());
}

// A completion that calls a plain function with the client data it was given. With no function
// it does nothing: the command is sent and its outcome dropped.
template <typename T>
class FunctionStatusCallback : public CommandCallback {
 public:
  using Function = void (*)(kesto_status status, uint32_t handle, T* response, void* client_data);

  FunctionStatusCallback(Function function, void* client_data)
      : function_(function), client_data_(client_data) {}

  void Execute(int32_t status, uint32_t handle, const uint8_t* response, size_t length) override {
    if (function_ == nullptr) return;
    CompleteWithRecord<T>(status, handle, response, length,
                          [this](int32_t final_status, uint32_t final_handle, T* record) {
                            function_(final_status, final_handle, record, client_data_);
                          });
  }

 private:
  Function function_;
  void* client_data_;  // not owned
};

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_COMMAND_CALLBACK_H_
