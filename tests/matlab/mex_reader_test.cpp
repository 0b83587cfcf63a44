// The shared reader glue when the block cannot be had: the error, nothing retained, a retry on
// the next call, and never a read through a view that was not mapped. Driven through a test
// gateway so the block's name and size can be chosen per case.
#include "mex_reader.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "child_process.h"
#include "fake_mex_host.h"
#include "shared_memory.h"

namespace kesto::matlab {
namespace {

using platform::SharedMemory;
using platform::ShmResult;
using test::FakeMexHost;
using test::MexCall;

ReaderState g_state;
std::string g_name;
std::size_t g_size = 0;

void TestExitHook() { EndReader(g_state); }

// Copies the block's first byte into the 1 x 1 output, so a read through a bad view would show.
bool FirstByte(const std::uint8_t* block, double* matrix) {
  matrix[0] = block[0];
  return true;
}

void TestGateway(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  static_cast<void>(prhs);
  const ReaderConfig config{g_name.c_str(), g_size, 1, 1, "usage\n", "call\n", TestExitHook, FirstByte};
  RunReader(config, g_state, nlhs, plhs, nrhs);
}

// A way to make the block fail on this platform, and the kind of failure it gives.
struct FailureRecipe {
  std::string what;
  std::string name;
  std::size_t size;
  std::function<void(SharedMemory& holder)> prepare;  // may keep an object open in `holder`
};

ShmResult Probe(const FailureRecipe& recipe) {
  SharedMemory holder;
  recipe.prepare(holder);
  SharedMemory probe;
  return probe.Open(recipe.name, recipe.size);
}

std::vector<FailureRecipe> Recipes() {
  const std::string stem = test::UniqueName("kesto-reader-fail");
  return {
      // A name no platform accepts: '/' inside a POSIX name, '\' outside a namespace on Win32.
      {"bad name", stem + "/no\\such", 16, [](SharedMemory&) {}},
      // POSIX: an empty view cannot be mapped.
      {"empty view", stem + "-empty", 0, [](SharedMemory&) {}},
      // Win32: a paging-file mapping keeps its size; a view well past it (beyond the page the
      // object was rounded to) cannot be mapped.
      {"smaller object", stem + "-small", 1u << 20,
       [stem](SharedMemory& holder) { holder.Open(stem + "-small", 64); }},
  };
}

class ReaderFailureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FakeMexHost::Clear();
    FakeMexHost::ResetCounts();
  }
  void TearDown() override {
    FakeMexHost::Clear();
    for (const auto& r : Recipes()) SharedMemory::Unlink(r.name);
  }
};

TEST_F(ReaderFailureTest, EachPlatformHasBothKindsOfFailure) {
  bool open_failed = false;
  bool map_failed = false;
  for (const auto& recipe : Recipes()) {
    const ShmResult result = Probe(recipe);
    open_failed |= result == ShmResult::kOpenFailed;
    map_failed |= result == ShmResult::kMapFailed;
    SharedMemory::Unlink(recipe.name);
  }
  EXPECT_TRUE(open_failed);
  EXPECT_TRUE(map_failed) << "no recipe gives a view that cannot be mapped here";
}

TEST_F(ReaderFailureTest, BlockThatCannotBeHadIsAnErrorAndTheNextCallTriesAgain) {
  for (const auto& recipe : Recipes()) {
    if (Probe(recipe) == ShmResult::kOk) continue;  // not a failure on this platform
    SCOPED_TRACE(recipe.what);
    SharedMemory::Unlink(recipe.name);
    SharedMemory holder;
    recipe.prepare(holder);
    g_name = recipe.name;
    g_size = recipe.size;
    FakeMexHost::ResetCounts();

    for (int attempt = 0; attempt < 2; ++attempt) {
      const MexCall call = FakeMexHost::Call(TestGateway, 1, 0);
      EXPECT_TRUE(call.failed);
      EXPECT_EQ(call.error, "Could not open file mapping object\n");
      EXPECT_FALSE(call.has_output);
      EXPECT_EQ(call.prints.size(), 2u) << "the banner, on every attempt";
      EXPECT_EQ(g_state.initialised, 0);
      EXPECT_FALSE(g_state.block.is_open());
    }
    EXPECT_EQ(FakeMexHost::AtExitCalls(), 0);
    EXPECT_TRUE(FakeMexHost::PersistentPointers().empty());
    EXPECT_TRUE(FakeMexHost::Clear().empty());
  }
}

TEST_F(ReaderFailureTest, ABlockThatCanBeHadLaterIsMappedOnTheNextCall) {
  // First a name that fails, then the same state with a good one: the retry maps it.
  g_name = Recipes()[0].name;
  g_size = 16;
  ASSERT_TRUE(FakeMexHost::Call(TestGateway, 1, 0).failed);
  g_name = test::UniqueName("kesto-reader-ok");
  SharedMemory::Unlink(g_name);
  const MexCall call = FakeMexHost::Call(TestGateway, 1, 0);
  EXPECT_FALSE(call.failed) << call.error;
  EXPECT_EQ(g_state.initialised, 1);
  EXPECT_EQ(call.values, std::vector<double>{0.0});
  EXPECT_EQ(FakeMexHost::AtExitCalls(), 1);
  EXPECT_EQ(FakeMexHost::Clear(), std::vector<std::string>{"MEX-file is safely terminated.\n"});
  EXPECT_EQ(g_state.initialised, 0);
  SharedMemory::Unlink(g_name);
}

}  // namespace
}  // namespace kesto::matlab
