// The kit reads dotted addresses with one reader under two rule sets: TextToHandle (strict, for
// addresses compared as handles) and IpToU8 (the configuration text's rules). These cases pin
// where the two agree and where they differ on purpose, so that neither set drifts into the
// other.
#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "build_request.h"
#include "handle_text.h"
#include "log_capture.h"

namespace kesto::lidar {
namespace {

using Octets = std::array<uint8_t, 4>;

struct RulesCase {
  const char* text;
  std::optional<Octets> strict;  // what TextToHandle reads; nullopt: no address
  std::optional<Octets> config;  // what IpToU8 reads; nullopt: refused
};

TEST(DottedRules, StrictAndConfigurationRulesAgreeAndDifferWhereMeant) {
  const RulesCase cases[] = {
      // Both read the form HandleToText writes.
      {"192.168.1.50", Octets{192, 168, 1, 50}, Octets{192, 168, 1, 50}},
      {"0.0.0.0", Octets{0, 0, 0, 0}, Octets{0, 0, 0, 0}},
      // Only the configuration rules read a component like the string-to-int conversion.
      {"10.0.0.1.", std::nullopt, Octets{10, 0, 0, 1}},
      {" 10.+1.002.3x", std::nullopt, Octets{10, 1, 2, 3}},
      {"0001.2.3.4", std::nullopt, Octets{1, 2, 3, 4}},
      {"-0.0.0.0", std::nullopt, Octets{0, 0, 0, 0}},
      {"1.2.3.4 ", std::nullopt, Octets{1, 2, 3, 4}},
      // Neither takes a value out of range, a wrong count or an empty component.
      {"1.2.3.256", std::nullopt, std::nullopt},
      {"-1.2.3.4", std::nullopt, std::nullopt},
      {"1.2.3", std::nullopt, std::nullopt},
      {"1.2.3.4.5", std::nullopt, std::nullopt},
      {"1..2.3", std::nullopt, std::nullopt},
      {"", std::nullopt, std::nullopt},
      {"a.b.c.d", std::nullopt, std::nullopt},
  };
  test::LogCapture capture;  // IpToU8's refusals log; that is its own test's business
  for (const RulesCase& c : cases) {
    SCOPED_TRACE(std::string("\"") + c.text + "\"");
    const DottedParse strict = ParseDotted(c.text, DottedRules::kStrict);
    EXPECT_EQ(strict.ok(), c.strict.has_value());
    if (c.strict) {
      EXPECT_EQ(strict.octets, *c.strict);
      EXPECT_EQ(TextToHandle(c.text), BytesToHandle(*c.strict));
      EXPECT_EQ(HandleToText(TextToHandle(c.text)), c.text);
    } else {
      EXPECT_EQ(TextToHandle(c.text), 0xFFFFFFFFu);
    }
    std::vector<uint8_t> bytes;
    EXPECT_EQ(IpToU8(c.text, ".", bytes), c.config.has_value());
    if (c.config) {
      EXPECT_EQ(bytes, std::vector<uint8_t>(c.config->begin(), c.config->end()));
    } else {
      EXPECT_TRUE(bytes.empty()) << "a refused text appends nothing";
    }
  }
}

TEST(DottedRules, AFaultNamesWhatWasWrong) {
  const DottedParse value = ParseDotted("1.2.300.4", DottedRules::kStrict);
  EXPECT_EQ(value.fault, DottedFault::kOutOfRange);
  EXPECT_EQ(value.value, 300);
  EXPECT_EQ(value.octets, Octets{});
  // Components past the fourth are still read: a bad one is the fault, else the real count.
  EXPECT_EQ(ParseDotted("1.2.3.4.x", DottedRules::kConfigText).component, "x");
  EXPECT_EQ(ParseDotted("1.2.3.4.5.6", DottedRules::kStrict).count, 6u);
  EXPECT_EQ(ParseDotted("1.2.3.4", DottedRules::kStrict, "").fault,
            DottedFault::kEmptySeparator);
}

}  // namespace
}  // namespace kesto::lidar
