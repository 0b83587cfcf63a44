#ifndef KESTO_TESTS_CHILD_PROCESS_H_
#define KESTO_TESTS_CHILD_PROCESS_H_

#include <string>
#include <vector>

namespace kesto::test {

// Runs a program that lives beside the current test binary (same build folder) with the given
// arguments, waits for it and returns its exit code, or -1 when it could not be run. Arguments
// must not contain spaces or quotes.
int RunSibling(const std::string& program, const std::vector<std::string>& args);

// A name unique to this process, for shared objects a test creates.
std::string UniqueName(const std::string& stem);

}  // namespace kesto::test

#endif  // KESTO_TESTS_CHILD_PROCESS_H_
