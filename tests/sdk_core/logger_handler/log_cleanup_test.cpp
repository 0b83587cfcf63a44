#include "log_cleanup.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "log_store_fixture.h"

namespace kesto::lidar {
namespace {

namespace fs = std::filesystem;

TEST(LogCleanupTest, LimitsFromTheCacheSize) {
  struct Case {
    uint64_t cache_mb;
    uint64_t type0_mib, type1_mib;
  };
  const Case cases[] = {
      {200, 150, 50}, {1000, 800, 200}, {1, 0, 0},     {2, 1, 0},
      {800, 600, 200}, {801, 601, 200}, {1000000000, 999999800, 200},
  };
  for (const Case& c : cases) {
    const LogStoreLimits limits = ComputeLogStoreLimits(c.cache_mb);
    EXPECT_EQ(limits.type0, c.type0_mib * kMiB) << c.cache_mb;
    EXPECT_EQ(limits.type1, c.type1_mib * kMiB) << c.cache_mb;
  }
  const LogStoreLimits before_init;
  EXPECT_EQ(before_init.type0, 157286400u);
  EXPECT_EQ(before_init.type1, 52428800u);
}

LogFileEntry Entry(const std::string& name, uint64_t size) { return {name, name, size}; }

TEST(LogCleanupTest, ChoosesTheOldestFinishedFilesUntilTheRestFits) {
  const std::vector<LogFileEntry> listing = {
      Entry("2024-03-01_07-00-00_SN2_0_5.dat", 30),
      Entry(".2024-01-01_00-00-00_SN1_0_9.dat", 50),  // open: oldest name, never chosen
      Entry("2024-02-28_23-59-59_SN1_0_1.dat", 10),
      Entry("2024-03-01_07-00-00_SN1_0_6.dat", 20),  // same second as SN2: after it
  };
  struct Case {
    uint64_t limit;
    std::vector<std::string> chosen;
  };
  const Case cases[] = {
      {110, {}},  // exactly at the limit
      {109, {"2024-02-28_23-59-59_SN1_0_1.dat"}},
      {100, {"2024-02-28_23-59-59_SN1_0_1.dat"}},
      {99, {"2024-02-28_23-59-59_SN1_0_1.dat", "2024-03-01_07-00-00_SN2_0_5.dat"}},
      {0,
       {"2024-02-28_23-59-59_SN1_0_1.dat", "2024-03-01_07-00-00_SN2_0_5.dat",
        "2024-03-01_07-00-00_SN1_0_6.dat"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ChooseFilesToDelete(listing, c.limit), c.chosen) << c.limit;
  }
  EXPECT_TRUE(ChooseFilesToDelete({}, 0).empty());
}

TEST(LogCleanupTest, APassOverTheLimitRemovesOldestFilesButNeverTheOpenOne) {
  test::TempDir dir;
  const fs::path type0 = dir.path() / "type_0";
  fs::create_directory(type0);
  auto make = [&](const std::string& name, uint64_t size) {
    test::WriteFile(type0 / name, "");
    fs::resize_file(type0 / name, size);
  };
  // 10 MiB over a 20 MiB limit, and the file being written sorts first.
  make(".2024-01-01_00-00-00_SN1_0_9.dat", 4 * kMiB);
  make("2024-01-02_00-00-00_SN1_0_1.dat", 6 * kMiB);
  make("2024-01-03_00-00-00_SN1_0_2.dat", 8 * kMiB);
  make("2024-01-04_00-00-00_SN1_0_3.dat", 12 * kMiB);
  EXPECT_EQ(RunCleanupPass(type0.string(), 20 * kMiB), 2u);
  EXPECT_EQ(test::NamesIn(type0), (std::vector<std::string>{".2024-01-01_00-00-00_SN1_0_9.dat",
                                                            "2024-01-04_00-00-00_SN1_0_3.dat"}));
  EXPECT_LE(GetDirTotalSize(type0.string()), 20 * kMiB);

  // Only the open file left above a zero limit: it stays.
  EXPECT_EQ(RunCleanupPass(type0.string(), 0), 1u);
  EXPECT_EQ(test::NamesIn(type0),
            std::vector<std::string>{".2024-01-01_00-00-00_SN1_0_9.dat"});
  EXPECT_EQ(RunCleanupPass((dir.path() / "type_1").string(), 0), 0u);  // missing: nothing
}

}  // namespace
}  // namespace kesto::lidar
