#include "log_file_push.h"

#include <gtest/gtest.h>

#include <vector>

#include "log_store_fixture.h"

namespace kesto::lidar {
namespace {

TEST(LogFilePushTest, DecodesTheHeadAndKeepsDataInsideThePayload) {
  struct Case {
    const char* what;
    int declared;       // -1: the data's own length
    size_t cut;         // bytes removed from the payload's end
    bool decoded;
    uint16_t kept;
  };
  const Case cases[] = {
      {"exact", -1, 0, true, 5},
      {"shorter claim", 3, 0, true, 3},
      {"claim past the payload", 9, 0, true, 5},
      {"claim of 65535", 65535, 0, true, 5},
      {"no data", 0, 5, true, 0},
      {"head only, claiming data", 4, 5, true, 0},
      {"head cut short", -1, 6, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::PushFields fields{7, 3, 0x05, 0x01020304, test::Bytes("hello"), c.declared};
    std::vector<uint8_t> payload = test::PushPayload(fields);
    payload.resize(payload.size() - c.cut);
    LogFilePush push;
    ASSERT_EQ(DecodeLogFilePush(payload.data(), payload.size(), push), c.decoded);
    if (!c.decoded) continue;
    EXPECT_EQ(push.log_type, 7);
    EXPECT_EQ(push.file_index, 3);
    EXPECT_EQ(push.flags, 0x05);
    EXPECT_EQ(push.trans_index, 0x01020304u);
    EXPECT_EQ(push.data_length, c.kept);
    EXPECT_EQ(push.data, payload.data() + kLogFilePushHeaderSize);
  }
  LogFilePush push;
  EXPECT_FALSE(DecodeLogFilePush(nullptr, 100, push));
}

TEST(LogFilePushTest, ReplyAndStopCommandBytes) {
  LogFilePush push;
  push.log_type = 1;
  push.file_index = 9;
  push.trans_index = 0x0A0B0C0D;
  EXPECT_EQ(EncodeLogPushReply(push),
            (std::array<uint8_t, 7>{0x00, 0x01, 0x09, 0x0D, 0x0C, 0x0B, 0x0A}));
  EXPECT_EQ(EncodeLogStopCommand(0), (std::array<uint8_t, 2>{0x00, 0x00}));
  EXPECT_EQ(EncodeLogStopCommand(5), (std::array<uint8_t, 2>{0x05, 0x00}));
}

}  // namespace
}  // namespace kesto::lidar
