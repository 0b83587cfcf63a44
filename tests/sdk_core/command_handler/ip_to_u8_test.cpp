#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "build_request.h"
#include "log_capture.h"

namespace kesto::lidar {
namespace {

using Bytes = std::vector<uint8_t>;

struct IpCase {
  std::string text;
  Bytes bytes;        // on success
  std::string fault;  // on failure: the end of the one logged line
};

std::ostream& operator<<(std::ostream& os, const IpCase& c) { return os << '"' << c.text << '"'; }

class IpToU8Test : public ::testing::TestWithParam<IpCase> {};

TEST_P(IpToU8Test, ConvertsOrFailsWithOneLine) {
  const IpCase& c = GetParam();
  test::LogCapture capture;
  Bytes out = {0xAA};  // the conversion appends
  const bool ok = IpToU8(c.text, ".", out);
  if (c.fault.empty()) {
    ASSERT_TRUE(ok);
    Bytes expected = {0xAA};
    expected.insert(expected.end(), c.bytes.begin(), c.bytes.end());
    EXPECT_EQ(out, expected);
    EXPECT_TRUE(capture.Lines().empty());
  } else {
    EXPECT_FALSE(ok);
    ASSERT_EQ(capture.Texts().size(), 1u);
    EXPECT_EQ(capture.Texts()[0],
              "Build broadcast request failed, ip to u8 failed, the ip:" + c.text + ", " + c.fault);
    EXPECT_EQ(capture.Lines()[0].level, spdlog::level::err);
  }

  // The four-byte form agrees, and writes nothing on failure.
  uint8_t four[4] = {1, 2, 3, 4};
  EXPECT_EQ(IpToU8(c.text, four), c.fault.empty());
  if (c.fault.empty()) {
    EXPECT_EQ(Bytes(four, four + 4), c.bytes);
  } else {
    EXPECT_EQ(Bytes(four, four + 4), (Bytes{1, 2, 3, 4}));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, IpToU8Test,
    ::testing::Values(
        IpCase{"192.168.1.50", {192, 168, 1, 50}, ""},
        IpCase{"0.0.0.0", {0, 0, 0, 0}, ""},
        IpCase{"255.255.255.255", {255, 255, 255, 255}, ""},
        IpCase{"10.0.0.1.", {10, 0, 0, 1}, ""},
        // Read like the standard string-to-int conversion: blanks, a sign, digits, the rest.
        IpCase{" 10.+1.002.3x", {10, 1, 2, 3}, ""},
        IpCase{"-0.0.0.0", {0, 0, 0, 0}, ""},
        IpCase{"192.168.1.256", {}, "the fault val:256"},
        IpCase{"-1.1.1.1", {}, "the fault val:-1"},
        IpCase{"2147483647.1.1.1", {}, "the fault val:2147483647"},
        IpCase{"192.168.1", {}, "the val size:3"},
        IpCase{"1.2.3.4.5", {}, "the val size:5"},
        IpCase{"", {}, "the val size:0"},
        IpCase{"192.168..1", {}, "the fault component:\"\""},
        IpCase{"10.0.0.1..", {}, "the fault component:\"\""},
        IpCase{".", {}, "the fault component:\"\""},
        IpCase{"a.b.c.d", {}, "the fault component:\"a\""},
        IpCase{"192.168.1.x", {}, "the fault component:\"x\""},
        IpCase{"192.168.1. ", {}, "the fault component:\" \""},
        IpCase{"192.168.1.-", {}, "the fault component:\"-\""},
        IpCase{"2147483648.1.1.1", {}, "the fault component:\"2147483648\""},
        IpCase{"-2147483649.1.1.1", {}, "the fault component:\"-2147483649\""},
        IpCase{"99999999999999999999999.1.1.1", {},
               "the fault component:\"99999999999999999999999\""}));

TEST(IpToU8Test, OtherSeparators) {
  test::LogCapture capture;
  Bytes out;
  EXPECT_TRUE(IpToU8("1::2::3::4", "::", out));
  EXPECT_EQ(out, (Bytes{1, 2, 3, 4}));
  out.clear();
  EXPECT_FALSE(IpToU8("1.2.3.4", "", out));
  EXPECT_EQ(capture.Count("empty separator"), 1u);
}

TEST(IpToU8Test, MissingDestinationFails) {
  test::LogCapture capture;
  EXPECT_FALSE(IpToU8("192.168.1.50", static_cast<uint8_t*>(nullptr)));
  EXPECT_EQ(capture.Lines().size(), 1u);
}

}  // namespace
}  // namespace kesto::lidar
