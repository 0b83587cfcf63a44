#ifndef KESTO_BENCH_KIT_STREAM_BENCH_PLATFORM_H_
#define KESTO_BENCH_KIT_STREAM_BENCH_PLATFORM_H_

// The benchmark's only system-specific calls: where threads run, and a thread's CPU time. Where
// the system offers neither, placing does nothing and the CPU time reads 0.

#include <cstdint>

namespace kesto::bench {

// Restricts the calling thread, and so every thread it creates from now on, to the `nth`
// (from 0) of the processors the process started with; -1: back to all of them. False when
// there is no such processor or the system does not let it.
bool PlaceThisThread(int nth);

// Processors this process may run on.
int UsableProcessors();

// CPU time the calling thread has used, in nanoseconds.
std::int64_t ThreadCpuNs();
// CPU time every thread of the process has used, in nanoseconds.
std::int64_t ProcessCpuNs();

}  // namespace kesto::bench

#endif  // KESTO_BENCH_KIT_STREAM_BENCH_PLATFORM_H_
