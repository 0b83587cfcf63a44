// Starts the platform's socket library once for the whole test binary, as the kit's start does.
#include <gtest/gtest.h>

#include "socket.h"

namespace {

class SocketEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { ASSERT_TRUE(kesto::platform::SocketStartup()); }
  void TearDown() override { kesto::platform::SocketCleanup(); }
};

const ::testing::Environment* const kSocketEnvironment =
    ::testing::AddGlobalTestEnvironment(new SocketEnvironment);

}  // namespace
