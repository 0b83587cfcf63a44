// Completion records never expose bytes beyond the acknowledgement that arrived.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "command_callback.h"
#include "lidar_frames.h"

namespace kesto::lidar {
namespace {

using test::Bytes;
using test::Entry;
using test::ExactBuffer;

struct ControlCase {
  const char* name;
  Bytes payload;
  uint8_t ret_code;
  uint16_t error_key;
};

TEST(ResponseRecord, ShortControlAnswerIsZeroPadded) {
  const ControlCase cases[] = {
      {"empty", {}, 0, 0},
      {"ret_code only", {1}, 1, 0},
      {"half a key", {0, 0x1A}, 0, 0x001A},
      {"whole", {2, 0x1C, 0x00}, 2, 0x001C},
      {"longer", {0, 0x05, 0x80, 0xEE}, 0, 0x8005},
  };
  for (const auto& c : cases) {
    ExactBuffer received(c.payload);
    ResponseRecord<KestoLidarAsyncControlResponse> record(received.data(), received.size());
    // Copies: the record is packed, and EXPECT_EQ binds references.
    const uint8_t ret_code = record.get()->ret_code;
    const uint16_t error_key = record.get()->error_key;
    EXPECT_EQ(ret_code, c.ret_code) << c.name;
    EXPECT_EQ(error_key, c.error_key) << c.name;
  }
}

// Walks param_num entries as a caller would; every byte it reads must lie in the record.
size_t Walk(KestoLidarDiagInternalInfoResponse* response) {
  const uint8_t* at = response->data;
  size_t sum = 0;
  for (uint16_t i = 0; i < response->param_num; ++i) {
    const uint16_t length = static_cast<uint16_t>(at[2] | (at[3] << 8));
    for (uint16_t b = 0; b < length; ++b) sum += at[4 + b];
    at += 4 + length;
  }
  return sum;
}

struct InfoCase {
  const char* name;
  Bytes payload;
  uint16_t param_num;
};

TEST(ResponseRecord, InternalInfoCountsOnlyWholeEntries) {
  const Bytes two = test::InternalInfoAnswer(0, {{0x8010, {1}}, {0x0006, Bytes(8, 7)}});
  Bytes lying = two;
  lying[1] = 200;  // claims 200 entries
  Bytes cut = two;
  cut.resize(cut.size() - 1);  // the second entry's value lacks a byte
  Bytes header_only = two;
  header_only.resize(3 + 5 + 2);  // second entry: half a header
  const InfoCase cases[] = {
      {"honest", two, 2},
      {"lying count", lying, 2},
      {"cut value", cut, 1},
      {"cut header", header_only, 1},
      {"no entries", {0, 0, 0}, 0},
      {"three bytes claiming one", {0, 1, 0}, 0},
      {"two bytes", {0, 5}, 0},
      {"nothing", {}, 0},
      {"zero-length value", test::InternalInfoAnswer(0, {{0x001E, {}}}), 1},
  };
  for (const auto& c : cases) {
    ExactBuffer received(c.payload);
    ResponseRecord<KestoLidarDiagInternalInfoResponse> record(received.data(), received.size());
    const uint16_t param_num = record.get()->param_num;
    EXPECT_EQ(param_num, c.param_num) << c.name;
    Walk(record.get());  // AddressSanitizer reports a read past the record
  }
}

int g_calls = 0;
void Count(kesto_status, uint32_t, KestoLidarLoggerResponse*, void*) { ++g_calls; }

TEST(FunctionStatusCallback, NullFunctionDoesNothingAndOthersGetNullWithoutResponse) {
  FunctionStatusCallback<KestoLidarLoggerResponse> silent(nullptr, nullptr);
  const uint8_t one = 0;
  silent.Execute(StatusSuccess, 1, &one, 1);
  FunctionStatusCallback<KestoLidarLoggerResponse> counted(Count, nullptr);
  counted.Execute(StatusTimeout, 1, nullptr, 0);
  counted.Execute(StatusSuccess, 1, &one, 1);
  EXPECT_EQ(g_calls, 2);
}

struct Seen {
  int calls = 0;
  kesto_status status = 1;
  bool has_response = false;
};
template <typename T>
void Note(kesto_status status, uint32_t, T* response, void* client_data) {
  auto* seen = static_cast<Seen*>(client_data);
  ++seen->calls;
  seen->status = status;
  seen->has_response = response != nullptr;
}

template <typename T>
Seen ExecuteWith(const uint8_t* bytes, size_t length) {
  Seen seen;
  FunctionStatusCallback<T>(Note<T>, &seen).Execute(StatusSuccess, 1, bytes, length);
  return seen;
}

// Each record has its own fixed fields; an acknowledgement without all of them fails.
TEST(FunctionStatusCallback, AnAnswerShorterThanItsRecordsFixedFieldsCompletesAsFailed) {
  const struct {
    const char* name;
    size_t fixed;
    Seen (*execute)(const uint8_t*, size_t);
  } kinds[] = {
      {"control", 3, &ExecuteWith<KestoLidarAsyncControlResponse>},
      {"internal info", 3, &ExecuteWith<KestoLidarDiagInternalInfoResponse>},
      {"logger", 1, &ExecuteWith<KestoLidarLoggerResponse>},
  };
  for (const auto& kind : kinds) {
    for (size_t length = 0; length <= kind.fixed; ++length) {
      SCOPED_TRACE(std::string(kind.name) + ", " + std::to_string(length) + " bytes");
      ExactBuffer received(Bytes(length, 0));
      // A zero-length buffer still has an address: an empty answer is not a missing one.
      const uint8_t empty = 0;
      const Seen seen = kind.execute(length == 0 ? &empty : received.data(), length);
      EXPECT_EQ(seen.calls, 1);
      EXPECT_EQ(seen.status, length < kind.fixed ? StatusSendFailed : StatusSuccess);
      EXPECT_EQ(seen.has_response, length == kind.fixed);
    }
  }
}

}  // namespace
}  // namespace kesto::lidar
