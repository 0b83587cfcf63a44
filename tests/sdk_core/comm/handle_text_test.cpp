#include "handle_text.h"

#include <gtest/gtest.h>

#include <cstring>

namespace kesto::lidar {
namespace {

uint32_t Handle(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  const uint8_t octets[4] = {a, b, c, d};
  uint32_t handle;
  std::memcpy(&handle, octets, sizeof handle);
  return handle;
}

TEST(HandleText, DottedTextAndBack) {
  struct Case {
    const char* text;
    uint32_t handle;
  };
  const Case cases[] = {
      {"192.168.1.10", Handle(192, 168, 1, 10)},
      {"0.0.0.0", 0},
      {"127.0.0.1", Handle(127, 0, 0, 1)},
      {"255.255.255.255", 0xFFFFFFFFu},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TextToHandle(c.text), c.handle) << c.text;
    EXPECT_EQ(HandleToText(c.handle), c.text);
  }
  const uint8_t octets[4] = {10, 0, 0, 7};
  EXPECT_EQ(BytesToHandle(octets), Handle(10, 0, 0, 7));
}

TEST(HandleText, AnythingButFourDecimalOctetsIsNoAddress) {
  for (const char* text : {"", "1.2.3", "1.2.3.4.", "1.2.3.4.5", "256.1.1.1", "a.b.c.d", "1..2.3",
                           " 1.2.3.4", "1.2.3.4 ", "0001.2.3.4", "-1.2.3.4", "1.2.3.99999"}) {
    EXPECT_EQ(TextToHandle(text), 0xFFFFFFFFu) << '"' << text << '"';
  }
}

}  // namespace
}  // namespace kesto::lidar
