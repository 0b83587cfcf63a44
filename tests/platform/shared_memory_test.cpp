#include "shared_memory.h"

#include <gtest/gtest.h>

#include <cstring>

#include "child_process.h"
#include "shm_pattern.h"

namespace kesto::platform {
namespace {

constexpr std::size_t kSize = 1385;

class SharedMemoryTest : public ::testing::Test {
 protected:
  void SetUp() override { SharedMemory::Unlink(name_); }
  void TearDown() override { SharedMemory::Unlink(name_); }
  const std::string name_ = test::UniqueName("kesto-shm-test");
};

TEST_F(SharedMemoryTest, CreatedZeroFilledAndSharedBetweenMappings) {
  SharedMemory writer;
  ASSERT_EQ(writer.Open(name_, kSize), ShmResult::kOk) << writer.error();
  ASSERT_TRUE(writer.is_open());
  EXPECT_EQ(writer.size(), kSize);
  for (std::size_t i = 0; i < kSize; ++i) ASSERT_EQ(writer.data()[i], 0) << "offset " << i;

  SharedMemory reader;
  ASSERT_EQ(reader.Open(name_, kSize), ShmResult::kOk) << reader.error();
  EXPECT_NE(reader.data(), writer.data());
  test::FillPattern(writer.data(), kSize, 3);
  EXPECT_TRUE(test::HasPattern(reader.data(), kSize, 3));
}

TEST_F(SharedMemoryTest, SecondProcessSeesTheSameBytesBothWays) {
  SharedMemory block;
  ASSERT_EQ(block.Open(name_, kSize), ShmResult::kOk) << block.error();
  const std::string size = std::to_string(kSize);

  EXPECT_EQ(test::RunSibling("shm_probe", {name_, size, "zero"}), 0);
  test::FillPattern(block.data(), kSize, 11);
  EXPECT_EQ(test::RunSibling("shm_probe", {name_, size, "check", "11"}), 0);
  EXPECT_EQ(test::RunSibling("shm_probe", {name_, size, "check", "12"}), 1);

  ASSERT_EQ(test::RunSibling("shm_probe", {name_, size, "fill", "29"}), 0);
  EXPECT_TRUE(test::HasPattern(block.data(), kSize, 29));
}

TEST_F(SharedMemoryTest, ObjectThatCannotGiveTheSizeIsAnErrorNotAFault) {
  SharedMemory small;
  ASSERT_EQ(small.Open(name_, 64), ShmResult::kOk) << small.error();
#ifdef _WIN32
  // A paging-file mapping keeps the size it was created with; a larger view is refused.
  SharedMemory larger;
  EXPECT_EQ(larger.Open(name_, 1u << 20), ShmResult::kMapFailed);
  EXPECT_FALSE(larger.is_open());
  EXPECT_NE(larger.error().find("MapViewOfFile"), std::string::npos) << larger.error();
#else
  // POSIX grows a smaller object; what exists keeps its bytes and the new tail reads zero.
  small.data()[0] = 0x5A;
  SharedMemory larger;
  ASSERT_EQ(larger.Open(name_, kSize), ShmResult::kOk) << larger.error();
  EXPECT_EQ(larger.data()[0], 0x5A);
  EXPECT_EQ(larger.data()[kSize - 1], 0);
#endif
}

TEST_F(SharedMemoryTest, CloseReleasesAndReopenSeesTheSameObject) {
  SharedMemory keep;
  ASSERT_EQ(keep.Open(name_, kSize), ShmResult::kOk);
  keep.data()[100] = 0x42;
  {
    SharedMemory other;
    ASSERT_EQ(other.Open(name_, kSize), ShmResult::kOk);
    other.Close();
    EXPECT_FALSE(other.is_open());
    EXPECT_EQ(other.data(), nullptr);
  }
  SharedMemory moved = std::move(keep);
  EXPECT_FALSE(keep.is_open());  // NOLINT(bugprone-use-after-move): moved-from state is defined
  SharedMemory again;
  ASSERT_EQ(again.Open(name_, kSize), ShmResult::kOk);
  EXPECT_EQ(again.data()[100], 0x42);
}

TEST_F(SharedMemoryTest, NameWithASpaceWorks) {
  const std::string spaced = name_ + " v5";
  SharedMemory a, b;
  ASSERT_EQ(a.Open(spaced, kSize), ShmResult::kOk) << a.error();
  ASSERT_EQ(b.Open(spaced, kSize), ShmResult::kOk) << b.error();
  a.data()[kSize - 1] = 7;
  EXPECT_EQ(b.data()[kSize - 1], 7);
  SharedMemory::Unlink(spaced);
}

TEST(SharedMemoryOpen, EmptySizeFailsCleanly) {
  SharedMemory block;
  // Neither platform maps a block of no bytes; the failure is a value with its reason.
  EXPECT_NE(block.Open(test::UniqueName("kesto-shm-empty"), 0), ShmResult::kOk);
  EXPECT_FALSE(block.is_open());
  EXPECT_FALSE(block.error().empty());
  SharedMemory::Unlink(test::UniqueName("kesto-shm-empty"));
}

}  // namespace
}  // namespace kesto::platform
