#include "log_store_layout.h"

#include <gtest/gtest.h>

#include <string>

#include "local_time.h"
#include "log_store_fixture.h"

namespace kesto::lidar {
namespace {

// What the result must never contain, whatever came from the wire.
void ExpectPlainComponent(const std::string& part) {
  EXPECT_FALSE(part.empty());
  EXPECT_LE(part.size(), kMaxSerialNumberPartLength + 1);
  EXPECT_EQ(part.find(".."), std::string::npos);
  for (char c : part) {
    const auto byte = static_cast<unsigned char>(c);
    EXPECT_TRUE(byte >= 0x20 && byte < 0x7F) << int{byte};
    EXPECT_EQ(std::string("/\\<>:\"|?*.").find(c), std::string::npos) << c;
  }
}

TEST(LogStoreLayoutTest, SerialNumbersBecomeSafeFileNameParts) {
  struct Case {
    std::string wire;
    std::string safe;
  };
  const Case cases[] = {
      {"SN1", "SN1"},
      {"3GGDJ6A00100571", "3GGDJ6A00100571"},
      {"a-b_c", "a-b_c"},
      {"../../x", "______x"},
      {"..\\..\\x", "______x"},
      {"a/b", "a_b"},
      {"C:\\Windows", "C__Windows"},
      {"<>:\"|?*", "_______"},
      {std::string("ab\x01\x1f\x7f\n", 6), "ab____"},
      {"\xc3\xa9t\xc3\xa9", "__t__"},
      {"CON", "_CON"},
      {"nul", "_nul"},
      {"Com1", "_Com1"},
      {"LPT9", "_LPT9"},
      {"COM10", "COM10"},
      {"CONSOLE", "CONSOLE"},
      {"", kUnknownSerialNumber},
      {std::string("\0SN", 3), kUnknownSerialNumber},
      {std::string("SN\0../x", 7), "SN"},
      {"0123456789ABCDEF", "0123456789ABCDEF"},  // 16 bytes, as the wire holds them
      {std::string(40, 'A'), std::string(kMaxSerialNumberPartLength, 'A')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.wire);
    const std::string safe = SafeFileNamePart(c.wire);
    EXPECT_EQ(safe, c.safe);
    ExpectPlainComponent(safe);
  }
}

TEST(LogStoreLayoutTest, StoreDirectoryOfAConfiguredPath) {
  struct Case {
    std::string configured;
    std::string store;
  };
  const Case cases[] = {
      {"D:/logs", "D:/logs/lidar_log/"},
      {"D:/logs/", "D:/logs/lidar_log/"},
      {"./", "./lidar_log/"},
      {"", "./lidar_log/"},  // the working directory, never the root
      {"/", "/lidar_log/"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LogStoreDirectory(c.configured), c.store) << c.configured;
  }
  EXPECT_EQ(LogTypeDirectory("D:/logs/lidar_log/", 0), "D:/logs/lidar_log/type_0");
  EXPECT_EQ(LogTypeDirectory("D:/logs/lidar_log", 255), "D:/logs/lidar_log/type_255");
  EXPECT_EQ(LogTypeDirectory("", 1), "./type_1");
}

TEST(LogStoreLayoutTest, FileNamesAreStampSerialTypeIndex) {
  EXPECT_EQ(HiddenLogFileName("2024-01-01_10-00-00", "SN1", 0, 3),
            ".2024-01-01_10-00-00_SN1_0_3.dat");
  EXPECT_EQ(HiddenLogFileName("2024-01-01_10-00-00", "SN1", 255, 255),
            ".2024-01-01_10-00-00_SN1_255_255.dat");
  const std::string stamp = FormatLocalTimeStamp(std::chrono::system_clock::now());
  EXPECT_TRUE(test::IsStampedName(stamp, "")) << stamp;
}

}  // namespace
}  // namespace kesto::lidar
