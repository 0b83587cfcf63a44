#ifndef KESTO_TESTS_MATLAB_READER_HOST_FIXTURE_H_
#define KESTO_TESTS_MATLAB_READER_HOST_FIXTURE_H_

// A plug-in loaded in the fake MEX host, unmapped and with its block removed before and after
// each test. The plug-in maps the real block name; on Linux that name lives in /dev/shm, so
// running these tests on a machine where MATLAB or Octave readers run would disturb them (the
// tests hold the CTest resource lock "brenic-shm" against each other).

#include <gtest/gtest.h>

#include "fake_mex_host.h"
#include "plugin_under_test.h"
#include "shared_memory.h"

namespace kesto::test {

class ReaderHostTest : public ::testing::Test {
 protected:
  void SetUp() override { Fresh(); }
  void TearDown() override {
    writer_.Close();
    Fresh();
  }
  // Unloads the plug-in (running its exit hook) and removes the block.
  void Fresh() {
    FakeMexHost::Clear();
    platform::SharedMemory::Unlink(plugin_.block_name);
    FakeMexHost::ResetCounts();
  }
  MexCall Call(int nlhs, int nrhs) { return FakeMexHost::Call(mexFunction, nlhs, nrhs); }
  // The block as an external writer maps it.
  std::uint8_t* Writer() {
    if (!writer_.is_open()) {
      EXPECT_EQ(writer_.Open(plugin_.block_name, plugin_.block_size), platform::ShmResult::kOk)
          << writer_.error();
    }
    return writer_.data();
  }

  const PluginUnderTest& plugin_ = ThePlugin();
  platform::SharedMemory writer_;
};

}  // namespace kesto::test

#endif  // KESTO_TESTS_MATLAB_READER_HOST_FIXTURE_H_
