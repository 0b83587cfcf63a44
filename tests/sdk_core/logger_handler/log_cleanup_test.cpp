#include "log_cleanup.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "log_capture.h"
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

// The listing names a finished file that cannot be removed: in its place on disk is a non-empty
// directory, which no remove() takes away, not even as root (the file was swapped after the
// listing). It keeps its room, so the next oldest file goes instead, and only real removals
// count.
TEST(LogCleanupTest, AFileThatCannotBeRemovedIsPassedOverForTheNextOldest) {
  test::LogCapture capture;
  test::TempDir dir;
  const fs::path type0 = dir.path() / "type_0";
  fs::create_directory(type0);
  const std::string stuck = "2024-01-01_00-00-00_SN1_0_1.dat";
  fs::create_directory(type0 / stuck);
  test::WriteFile(type0 / stuck / "inside", "x");
  test::WriteFile(type0 / "2024-01-02_00-00-00_SN1_0_2.dat", "");
  test::WriteFile(type0 / "2024-01-03_00-00-00_SN1_0_3.dat", "");
  test::WriteFile(type0 / "2024-01-04_00-00-00_SN1_0_4.dat", "");
  const std::vector<LogFileEntry> listing = {
      Entry(stuck, 10),
      Entry("2024-01-02_00-00-00_SN1_0_2.dat", 10),
      Entry("2024-01-03_00-00-00_SN1_0_3.dat", 10),
      Entry("2024-01-04_00-00-00_SN1_0_4.dat", 10),
  };
  // 40 over a limit of 25: removing the oldest alone would do, but it stays, so two others go.
  EXPECT_EQ(RemoveOldestToFit(type0.string(), listing, 25), 2u);
  EXPECT_TRUE(fs::is_directory(type0 / stuck));
  EXPECT_FALSE(fs::exists(type0 / "2024-01-02_00-00-00_SN1_0_2.dat"));
  EXPECT_FALSE(fs::exists(type0 / "2024-01-03_00-00-00_SN1_0_3.dat"));
  EXPECT_TRUE(fs::exists(type0 / "2024-01-04_00-00-00_SN1_0_4.dat"));
  EXPECT_EQ(capture.Count("Remove log file"), 1u);

  // Nothing removable is left to make room: the stuck file is not counted as removed.
  EXPECT_EQ(RemoveOldestToFit(type0.string(), {Entry(stuck, 10)}, 0), 0u);
  // A file already gone before the removal is no removal either, and frees its room.
  EXPECT_EQ(RemoveOldestToFit(type0.string(),
                              {Entry("2024-01-02_00-00-00_SN1_0_2.dat", 10),
                               Entry("2024-01-04_00-00-00_SN1_0_4.dat", 10)},
                              10),
            0u);
  EXPECT_TRUE(fs::exists(type0 / "2024-01-04_00-00-00_SN1_0_4.dat"));
}

}  // namespace
}  // namespace kesto::lidar
