#ifndef KESTO_TESTS_MATLAB_PLUGIN_UNDER_TEST_H_
#define KESTO_TESTS_MATLAB_PLUGIN_UNDER_TEST_H_

// What the shared plug-in tests (reader_plugin_host_test.cpp) need to know of the one plug-in
// linked into the test binary. Each plug-in's test file defines ThePlugin().

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kesto::test {

struct PluginUnderTest {
  std::string block_name;
  std::size_t block_size;
  std::size_t rows;
  std::size_t cols;
  std::string usage_line;
  std::string call_line;
  // Fills a mapped block with a known content and returns the matrix (column-major) the
  // plug-in must give for it.
  std::vector<double> (*fill_known)(std::uint8_t* block);
};

const PluginUnderTest& ThePlugin();

}  // namespace kesto::test

#endif  // KESTO_TESTS_MATLAB_PLUGIN_UNDER_TEST_H_
