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

namespace kesto::lidar {

// Completion statuses, and the results of the send operations and the command API.
enum CommandStatus : int32_t {
  StatusSuccess = 0,        // acknowledged; the response is valid during the call
  StatusTimeout = -4,       // no acknowledgement before the deadline; no response
  StatusUnknownLidar = -7,  // the query has no key list for the lidar (never a completion)
  StatusSendFailed = -9,    // the datagram could not be sent, or the lidar has no handler
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
    if (response == nullptr) {
      function_(status, handle, nullptr, client_data_);
      return;
    }
    ResponseRecord<T> record(response, length);
    function_(status, handle, record.get(), client_data_);
  }

 private:
  Function function_;
  void* client_data_;  // not owned
};

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_COMMAND_CALLBACK_H_
