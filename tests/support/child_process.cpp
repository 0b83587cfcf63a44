#include "child_process.h"

#include <cstdlib>
#include <string>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <process.h>
#include <windows.h>
#else
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#endif

namespace kesto::test {
namespace {

std::string OwnDirectory() {
#ifdef _WIN32
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string s(path);
  return s.substr(0, s.find_last_of("\\/") + 1);
#else
  char path[PATH_MAX] = {};
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof(path) - 1);
  if (n <= 0) return "./";
  std::string s(path, static_cast<std::size_t>(n));
  return s.substr(0, s.find_last_of('/') + 1);
#endif
}

}  // namespace

int RunSibling(const std::string& program, const std::vector<std::string>& args) {
#ifdef _WIN32
  const std::string exe = OwnDirectory() + program + ".exe";
  std::vector<const char*> argv{exe.c_str()};
  for (const auto& a : args) argv.push_back(a.c_str());
  argv.push_back(nullptr);
  const intptr_t rc = _spawnv(_P_WAIT, exe.c_str(), argv.data());
  return rc < 0 ? -1 : static_cast<int>(rc);
#else
  std::string command = "'" + OwnDirectory() + program + "'";
  for (const auto& a : args) command += " " + a;
  const int status = std::system(command.c_str());
  if (status == -1 || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
#endif
}

std::string UniqueName(const std::string& stem) {
#ifdef _WIN32
  const unsigned long pid = GetCurrentProcessId();
#else
  const unsigned long pid = static_cast<unsigned long>(::getpid());
#endif
  return stem + "-" + std::to_string(pid);
}

}  // namespace kesto::test
