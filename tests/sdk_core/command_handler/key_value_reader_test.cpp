#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "kesto_lidar_sdk.h"
#include "key_table.h"
#include "key_value_list.h"

namespace kesto::lidar {
namespace {

using Bytes = std::vector<uint8_t>;

// Entries copied into a buffer of their exact size, so the address sanitizer sees any read past.
struct Exact {
  explicit Exact(const Bytes& bytes) : data(std::make_unique<uint8_t[]>(bytes.size())), size(bytes.size()) {
    std::memcpy(data.get(), bytes.data(), bytes.size());
  }
  std::unique_ptr<uint8_t[]> data;
  size_t size;
};

TEST(KeyValueReaderTest, ReadsAnInternalInfoReplyFromOffsetThree) {
  // ret_code, param_num = 2, then entries 0x0006 and 0x0007 from offset 3.
  const Bytes reply = {0x00, 0x02, 0x00,                                            //
                       0x06, 0x00, 0x08, 0x00, 192, 168, 1, 50, 0xA8, 0xDE, 0xEC, 0xDB,  //
                       0x07, 0x00, 0x08, 0x00, 192, 168, 1, 50, 0x90, 0xE2, 0x50, 0xDC};
  const Exact buffer(reply);
  const auto* response = reinterpret_cast<const KestoLidarDiagInternalInfoResponse*>(buffer.data.get());
  KeyValueReader reader(response->data, buffer.size - 3, LoadU16(buffer.data.get() + 1));
  KeyValueView entry;
  ASSERT_TRUE(reader.Next(entry));
  EXPECT_EQ(entry.key_id, kKeyPointCloudHostIpCfg);
  ASSERT_EQ(entry.length, 8u);
  EXPECT_EQ(LoadU16(entry.value + 4), 57000);
  EXPECT_EQ(LoadU16(entry.value + 6), 56300);
  ASSERT_TRUE(reader.Next(entry));
  EXPECT_EQ(entry.key_id, kKeyImuHostIpCfg);
  EXPECT_EQ(LoadU16(entry.value + 6), 56400);
  EXPECT_FALSE(reader.Next(entry));
  EXPECT_FALSE(reader.truncated());
}

TEST(KeyValueReaderTest, CutsAValueAtTheEndOfTheBuffer) {
  const Exact buffer({0x13, 0x00, 0xFF, 0xFF, 1, 2, 3});
  KeyValueReader reader(buffer.data.get(), buffer.size, 1);
  KeyValueView entry;
  ASSERT_TRUE(reader.Next(entry));
  EXPECT_EQ(entry.declared_length, 0xFFFF);
  EXPECT_EQ(entry.length, 3u);
  EXPECT_FALSE(reader.Next(entry));
  EXPECT_FALSE(reader.truncated()) << "all declared entries were read";
}

TEST(KeyValueReaderTest, StopsAtAnEntryThatDoesNotFit) {
  const Exact buffer({0x13, 0x00, 0x10, 0x00, 1, 2, 3, 4});  // declares 16 bytes, has 4
  KeyValueReader reader(buffer.data.get(), buffer.size, 2);
  KeyValueView entry;
  ASSERT_TRUE(reader.Next(entry));
  EXPECT_FALSE(reader.Next(entry));
  EXPECT_TRUE(reader.truncated());
  EXPECT_EQ(reader.entries_read(), 1);
  EXPECT_FALSE(reader.Next(entry)) << "stays at the end";
}

TEST(KeyValueReaderTest, CopyValueNeverWritesPastTheField) {
  const Exact buffer({0x00, 0x00, 0x04, 0x00, 9, 8, 7, 6});
  KeyValueReader reader(buffer.data.get(), buffer.size, 1);
  KeyValueView entry;
  ASSERT_TRUE(reader.Next(entry));
  uint8_t fields[4] = {0xEE, 0xEE, 0xEE, 0xEE};
  CopyValue(entry, fields + 1, 2);
  EXPECT_EQ(fields[0], 0xEE);
  EXPECT_EQ(fields[1], 9);
  EXPECT_EQ(fields[2], 8);
  EXPECT_EQ(fields[3], 0xEE);
  CopyValue(entry, fields, 0);
  EXPECT_EQ(fields[0], 0xEE);
}

TEST(KeyTableTest, IdsAscendAndWidthsAreSet) {
  for (size_t i = 1; i < kKeyTable.size(); ++i) {
    EXPECT_LT(kKeyTable[i - 1].id, kKeyTable[i].id) << kKeyTable[i].name;
  }
  for (const KeyInfo& key : kKeyTable) EXPECT_GT(key.width, 0) << key.name;
  EXPECT_EQ(FindKey(kKeyUnnamed001E), nullptr);
  EXPECT_EQ(FindKey(kKeyUnnamed8012), nullptr);
  EXPECT_EQ(FindKey(kKeyUnnamedFFFF), nullptr);
  ASSERT_NE(FindKey(kKeyPointCloudHostIpCfg), nullptr);
  EXPECT_EQ(FindKey(kKeyPointCloudHostIpCfg)->name, "ponitcloud_host_ipcfg");
}

}  // namespace
}  // namespace kesto::lidar
