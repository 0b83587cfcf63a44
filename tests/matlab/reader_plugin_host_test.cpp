// The behaviour both reader plug-ins share, driven through their mexFunction in the fake MEX
// host: argument checks, banner, usage, mapping on first use, exit hook, mapping again.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "reader_host_fixture.h"

namespace kesto::test {
namespace {

constexpr char kNoInput[] = "zero input must be required for shared memory.";
constexpr char kUsageError[] = "One input and one output must be required.";
constexpr char kRule[] = "------------------------------\n";
constexpr char kExit[] = "MEX-file is safely terminated.\n";

void ExpectBanner(const std::vector<std::string>& lines) {
  ASSERT_EQ(lines.size(), 2u);
  const std::string& first = lines[0];
  EXPECT_NE(first.find("Shared-memory access for MATLAB"), std::string::npos) << first;
  EXPECT_NE(first.find("Kesto"), std::string::npos) << first;
  EXPECT_NE(first.find("2024"), std::string::npos) << first;
  EXPECT_EQ(first.back(), '\n');
  // "https://www.kesto.example.com  built Mmm dd yyyy\n"
  const std::string site = "https://www.kesto.example.com  built ";
  const std::string& second = lines[1];
  ASSERT_EQ(second.size(), site.size() + 11 + 1) << second;
  EXPECT_EQ(second.substr(0, site.size()), site);
  EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(second[second.size() - 2]))) << second;
  EXPECT_EQ(second.back(), '\n');
}

std::vector<std::string> Head(const std::vector<std::string>& v, std::size_t n) {
  return {v.begin(), v.begin() + static_cast<std::ptrdiff_t>(std::min(n, v.size()))};
}

void ExpectZeros(const MexCall& call, const PluginUnderTest& plugin) {
  ASSERT_TRUE(call.has_output);
  EXPECT_EQ(call.rows, plugin.rows);
  EXPECT_EQ(call.cols, plugin.cols);
  EXPECT_FALSE(call.complex);
  for (double v : call.values) ASSERT_EQ(v, 0.0);
}

TEST_F(ReaderHostTest, InputsAreRejectedBeforeAnythingIsMappedOrPrinted) {
  for (int nrhs : {1, 2}) {
    for (int nlhs : {0, 1}) {
      SCOPED_TRACE(testing::Message() << "nlhs " << nlhs << " nrhs " << nrhs);
      const MexCall call = Call(nlhs, nrhs);
      EXPECT_TRUE(call.failed);
      EXPECT_EQ(call.error, kNoInput);
      EXPECT_TRUE(call.prints.empty());
      EXPECT_FALSE(call.has_output);
    }
  }
  EXPECT_EQ(FakeMexHost::AtExitCalls(), 0);
  EXPECT_TRUE(FakeMexHost::PersistentPointers().empty());
  // Nothing was mapped: the first good call still maps and shows the banner.
  const MexCall first = Call(1, 0);
  ExpectBanner(first.prints);
  // Once mapped, an input is still refused first, silently.
  const MexCall again = Call(1, 1);
  EXPECT_EQ(again.error, kNoInput);
  EXPECT_TRUE(again.prints.empty());
}

TEST_F(ReaderHostTest, WithoutWriterZerosAndTheBannerOnce) {
  const MexCall first = Call(1, 0);
  EXPECT_FALSE(first.failed) << first.error;
  ExpectBanner(first.prints);
  ExpectZeros(first, plugin_);
  EXPECT_EQ(FakeMexHost::AtExitCalls(), 1);
  ASSERT_EQ(FakeMexHost::PersistentPointers().size(), 1u);
  EXPECT_NE(FakeMexHost::PersistentPointers()[0], nullptr);

  for (int i = 0; i < 3; ++i) {
    const MexCall next = Call(1, 0);
    EXPECT_TRUE(next.prints.empty());
    ExpectZeros(next, plugin_);
  }
  EXPECT_EQ(FakeMexHost::AtExitCalls(), 1);
}

TEST_F(ReaderHostTest, AnyOutputCountButOneShowsTheUsageAndKeepsTheBlockMapped) {
  for (int nlhs : {0, 2, 3}) {
    SCOPED_TRACE(testing::Message() << "nlhs " << nlhs);
    Fresh();
    const MexCall call = Call(nlhs, 0);
    EXPECT_TRUE(call.failed);
    EXPECT_EQ(call.error, kUsageError);
    EXPECT_FALSE(call.has_output);
    ASSERT_EQ(call.prints.size(), 8u);
    const std::vector<std::string> banner = Head(call.prints, 2);
    ExpectBanner(banner);
    const std::vector<std::string> usage(call.prints.begin() + 2, call.prints.end());
    EXPECT_EQ(usage, (std::vector<std::string>{kRule, plugin_.usage_line, plugin_.call_line,
                                               banner[0], banner[1], kRule}));

    // Mapped by the failed call: no banner now, and the usage alone on the next mistake.
    const MexCall good = Call(1, 0);
    EXPECT_TRUE(good.prints.empty());
    ExpectZeros(good, plugin_);
    const MexCall wrong = Call(nlhs, 0);
    EXPECT_EQ(wrong.prints, usage);
    EXPECT_EQ(FakeMexHost::AtExitCalls(), 1);
  }
}

TEST_F(ReaderHostTest, UsageLinesArePaddedAsUsersKnowThem) {
  // What the plug-in prints: lidartap5's two lines 32 characters wide, lidartap2's 31, the text
  // then spaces up to the width, then the line feed.
  const std::size_t width = plugin_.rows == 5 ? 32 : 31;
  const MexCall call = Call(0, 0);
  ASSERT_EQ(call.prints.size(), 8u);  // banner (2), rule, the two lines, banner again, rule
  const std::string& usage = call.prints[3];
  const std::string& call_line = call.prints[4];
  EXPECT_EQ(usage.rfind("Usage: lidartap", 0), 0u) << usage;
  EXPECT_EQ(call_line.rfind("data=lidartap", 0), 0u) << call_line;
  for (const std::string& line : {usage, call_line}) {
    SCOPED_TRACE(line);
    ASSERT_EQ(line.size(), width + 1);
    EXPECT_EQ(line.back(), '\n');
    const std::size_t text_end = line.find_last_not_of(" \n") + 1;
    EXPECT_EQ(line.find_first_not_of(' ', text_end), width) << "spaces only after the text";
    EXPECT_LT(text_end, width) << "at least one space of padding";
  }
}

TEST_F(ReaderHostTest, ReturnsTheBlockAsWrittenOnEveryCall) {
  const std::vector<double> expected = plugin_.fill_known(Writer());
  const MexCall call = Call(1, 0);
  ASSERT_FALSE(call.failed) << call.error;
  ASSERT_EQ(call.values.size(), plugin_.rows * plugin_.cols);
  for (std::size_t i = 0; i < expected.size(); ++i) ASSERT_EQ(call.values[i], expected[i]) << i;

  // The view stays mapped and shared: a new write shows in the next call.
  std::fill(Writer(), Writer() + plugin_.block_size, std::uint8_t{0});
  ExpectZeros(Call(1, 0), plugin_);
}

TEST_F(ReaderHostTest, ExitHookUnmapsOnceAndTheNextCallMapsAgain) {
  plugin_.fill_known(Writer());
  ASSERT_FALSE(Call(1, 0).failed);

  EXPECT_EQ(FakeMexHost::RunExitFunction(), std::vector<std::string>{kExit});
  EXPECT_TRUE(FakeMexHost::RunExitFunction().empty()) << "a second run of the hook does nothing";

  // Without any mapping left, the object is gone; the next call makes a fresh one.
  writer_.Close();
  platform::SharedMemory::Unlink(plugin_.block_name);
  const MexCall again = Call(1, 0);
  ExpectBanner(again.prints);
  ExpectZeros(again, plugin_);
  EXPECT_EQ(FakeMexHost::AtExitCalls(), 2);
  EXPECT_EQ(FakeMexHost::PersistentPointers().size(), 2u);

  const std::vector<double> expected = plugin_.fill_known(Writer());
  EXPECT_EQ(Call(1, 0).values, expected);
  EXPECT_EQ(FakeMexHost::Clear(), std::vector<std::string>{kExit});
}

TEST(ReaderApiVersion, BuiltForR2023bAgainstApi730) {
  unsigned int release = 0;
  unsigned int api = 0;
  mexfilerequiredapiversion(&release, &api);
  EXPECT_EQ(release, 0x2023Bu);
  EXPECT_EQ(release, 131643u);
  EXPECT_EQ(api, 0x07300000u);
}

}  // namespace
}  // namespace kesto::test
