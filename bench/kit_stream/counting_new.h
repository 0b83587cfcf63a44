#ifndef KESTO_BENCH_KIT_STREAM_COUNTING_NEW_H_
#define KESTO_BENCH_KIT_STREAM_COUNTING_NEW_H_

// The benchmark binary replaces the global operator new (counting_new.cpp) so that it can tell
// whether a thread allocates while it handles datagrams.

#include <atomic>
#include <cstdint>

namespace kesto::bench {

// From now on every operator new on the calling thread also counts into `counter` (null: stop
// counting this thread). The counter must outlive the thread's counting. Calling thread only.
void CountAllocationsOnThisThread(std::atomic<std::uint64_t>* counter);

// operator new calls in the whole process so far. Any thread.
std::uint64_t AllocationsInProcess();

}  // namespace kesto::bench

#endif  // KESTO_BENCH_KIT_STREAM_COUNTING_NEW_H_
