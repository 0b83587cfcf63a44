#include "file_manager.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "log_capture.h"
#include "log_store_fixture.h"

namespace kesto::lidar {
namespace {

using test::FilesUnder;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;
namespace fs = std::filesystem;

std::vector<std::string> Values(const FileNameMap& names) {
  std::vector<std::string> values;
  for (const auto& [key, name] : names) values.push_back(name);
  return values;
}

TEST(FileManagerTest, TotalSizeCountsFilesPast4GiBAndSubdirectories) {
  TempDir dir;
  WriteFile(dir.path() / "small.dat", std::string(100, 'a'));
  {
    WriteFile(dir.path() / "big.dat", "");
    std::error_code ec;
    fs::resize_file(dir.path() / "big.dat", 4294967396ull, ec);  // sparse: no disk used
    ASSERT_FALSE(ec) << ec.message();
  }
  fs::create_directory(dir.path() / "sub");
  WriteFile(dir.path() / "sub" / "ten.dat", std::string(10, 'b'));
  EXPECT_EQ(GetDirTotalSize(dir.text()), 4294967506ull);
}

TEST(FileManagerTest, NameOrderIsHiddenFirstThenStampThenListingOrder) {
  FileNameMap names;
  for (const char* name : {"2024-03-01_07-00-00_SN2_0_5.dat", ".2024-03-01_08-00-00_SN1_0_2.dat",
                           "2024-02-28_23-59-59_SN1_0_1.dat", "2024-03-01_07-00-00_SN1_0_9.dat",
                           "short"}) {
    EXPECT_TRUE(StoreFileName(name, names));
  }
  EXPECT_FALSE(StoreFileName("", names));
  EXPECT_EQ(Values(names), (std::vector<std::string>{
                               ".2024-03-01_08-00-00_SN1_0_2.dat",
                               "2024-02-28_23-59-59_SN1_0_1.dat",
                               "2024-03-01_07-00-00_SN2_0_5.dat",  // same second: insertion order
                               "2024-03-01_07-00-00_SN1_0_9.dat",
                               "short",
                           }));
  EXPECT_EQ(names.begin()->first, ".2024-03-01_08-00-0");  // keys are 19 characters at most
}

TEST(FileManagerTest, FileNamesComeFromTheWholeTreeWithoutTheirSubdirectory) {
  TempDir dir;
  WriteFile(dir.path() / "2024-02-28_23-59-59_SN1_0_1.dat", "x");
  fs::create_directory(dir.path() / "sub");
  WriteFile(dir.path() / "sub" / ".2024-03-01_08-00-00_SN1_0_2.dat", "y");
  FileNameMap names;
  ASSERT_TRUE(GetFileNames(dir.text(), names));
  EXPECT_EQ(Values(names), (std::vector<std::string>{".2024-03-01_08-00-00_SN1_0_2.dat",
                                                      "2024-02-28_23-59-59_SN1_0_1.dat"}));
}

TEST(FileManagerTest, RenamingAHiddenFile) {
  struct Case {
    const char* what;
    std::vector<std::pair<std::string, std::string>> before;  // name, content
    std::string name;
    bool result;
    std::vector<std::string> after;
    const char* logged;  // a warning the call writes, or null
  };
  const Case cases[] = {
      {"no leading dot: nothing touched", {{"X.dat", "old"}}, "X.dat", false, {"X.dat"}, nullptr},
      {"empty name", {}, "", false, {}, nullptr},
      {"missing file", {}, ".X.dat", false, {},
       "The file to be renamed : .X.dat does not exist "},
      {"plain rename", {{".X.dat", "new"}}, ".X.dat", true, {"X.dat"}, nullptr},
      {"replaces the finished file", {{".X.dat", "new"}, {"X.dat", "old"}}, ".X.dat", true,
       {"X.dat"}, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    for (const auto& [name, content] : c.before) WriteFile(dir.path() / name, content);
    test::LogCapture capture;
    EXPECT_EQ(ChangeCurrentFileName(dir.text(), c.name), c.result);
    EXPECT_EQ(FilesUnder(dir.path()), c.after);
    if (c.logged != nullptr) {
      ASSERT_EQ(capture.Texts().size(), 1u);
      EXPECT_EQ(capture.Texts()[0], c.logged);
    } else {
      EXPECT_TRUE(capture.Texts().empty());
    }
    if (c.result) {
      EXPECT_EQ(ReadFile(dir.path() / "X.dat"), test::Bytes("new"));
    }
  }
}

TEST(FileManagerTest, HiddenFilesOfTheWholeTreeGetTheirFinishedNames) {
  TempDir dir;
  WriteFile(dir.path() / ".2024-01-01_10-00-00_SN1_0_3.dat", "a");
  WriteFile(dir.path() / "2024-01-01_09-00-00_SN1_0_2.dat", "b");
  fs::create_directories(dir.path() / "type_1");
  WriteFile(dir.path() / "type_1" / ".2024-01-01_10-00-00_SN1_1_4.dat", "c");
  fs::create_directories(dir.path() / ".hidden_dir");
  WriteFile(dir.path() / ".hidden_dir" / ".inner.dat", "d");
  ASSERT_TRUE(ChangeHiddenFiles(dir.text()));
  EXPECT_EQ(FilesUnder(dir.path()), (std::vector<std::string>{
                                        ".hidden_dir/inner.dat",
                                        "2024-01-01_09-00-00_SN1_0_2.dat",
                                        "2024-01-01_10-00-00_SN1_0_3.dat",
                                        "type_1/2024-01-01_10-00-00_SN1_1_4.dat",
                                    }));
}

TEST(FileManagerTest, AMissingDirectory) {
  TempDir dir;
  const std::string missing = (dir.path() / "missing").string();
  test::LogCapture capture;
  EXPECT_EQ(GetDirTotalSize(missing), 0u);
  EXPECT_EQ(capture.Texts(), std::vector<std::string>{"get directory stat error"});
  EXPECT_EQ(capture.Lines()[0].level, spdlog::level::err);
  FileNameMap names;
  EXPECT_FALSE(GetFileNames(missing, names));
  EXPECT_FALSE(ChangeHiddenFiles(missing));
  EXPECT_TRUE(names.empty());
  EXPECT_FALSE(PathExists(missing));
}

TEST(FileManagerTest, MakeDirCreatesOneLevel) {
  TempDir dir;
  const fs::path one = dir.path() / "one";
  EXPECT_TRUE(MakeDir(one.string()));
  EXPECT_TRUE(PathExists(one.string()));
  EXPECT_TRUE(MakeDir(one.string()));  // already there
  EXPECT_FALSE(MakeDir((dir.path() / "two" / "three").string()));
  WriteFile(dir.path() / "file", "x");
  EXPECT_FALSE(MakeDir((dir.path() / "file").string()));
}

}  // namespace
}  // namespace kesto::lidar
