#include "bench_platform.h"

#include <thread>

#if defined(__linux__)
#include <sched.h>
#include <time.h>
#endif

namespace kesto::bench {

#if defined(__linux__)

namespace {

// The processors the process was started with, taken before any placement narrows them.
cpu_set_t StartingSet() {
  static const cpu_set_t set = [] {
    cpu_set_t s;
    CPU_ZERO(&s);
    if (sched_getaffinity(0, sizeof s, &s) != 0) CPU_ZERO(&s);
    return s;
  }();
  return set;
}

}  // namespace

bool PlaceThisThread(int nth) {
  cpu_set_t set = StartingSet();
  if (nth >= 0) {
    int found = -1;
    for (int cpu = 0, seen = 0; cpu < CPU_SETSIZE && found < 0; ++cpu) {
      if (CPU_ISSET(cpu, &set) && seen++ == nth) found = cpu;
    }
    if (found < 0) return false;
    CPU_ZERO(&set);
    CPU_SET(found, &set);
  }
  return sched_setaffinity(0, sizeof set, &set) == 0;
}

int UsableProcessors() {
  cpu_set_t set = StartingSet();
  return CPU_COUNT(&set);
}

namespace {
std::int64_t CpuClockNs(clockid_t clock) {
  timespec t{};
  if (clock_gettime(clock, &t) != 0) return 0;
  return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}
}  // namespace

std::int64_t ThreadCpuNs() { return CpuClockNs(CLOCK_THREAD_CPUTIME_ID); }
std::int64_t ProcessCpuNs() { return CpuClockNs(CLOCK_PROCESS_CPUTIME_ID); }

#else

bool PlaceThisThread(int) { return false; }
int UsableProcessors() { return static_cast<int>(std::thread::hardware_concurrency()); }
std::int64_t ThreadCpuNs() { return 0; }
std::int64_t ProcessCpuNs() { return 0; }

#endif

}  // namespace kesto::bench
