#ifndef KESTO_BENCH_KIT_STREAM_OCTAVE_FRAME_H_
#define KESTO_BENCH_KIT_STREAM_OCTAVE_FRAME_H_

// The cost of one lidarstream call in Octave that returns a 0.1 s frame of one lidar, beside
// Octave's own zeros of that size: bench/octave_stream_bench.m run by octave-cli, with this
// program as the writer of the stream block between the calls.

#include <map>
#include <string>

namespace kesto::bench {

// "unlink": removes the stream block "kesto-stream v1"; a count: one writer start on it, then
// that many type-1 point packets of one ORBIT lidar. Returns the exit status (0, or 1 when the
// block cannot be mapped, 2 for a bad argument).
int FillStreamBlock(const std::string& what);

struct OctaveFrameFigures {
  bool ran = false;
  std::string note;                       // why it did not run, or what went wrong
  std::map<std::string, double> values;   // the script's "result NAME VALUE" lines
};

// Runs the script with `self` (this program, as the block's writer), `packets` per frame and
// `frames` calls. The script's output goes to standard output as it comes.
OctaveFrameFigures RunOctaveFrameBench(const std::string& self, int packets, int frames);

}  // namespace kesto::bench

#endif  // KESTO_BENCH_KIT_STREAM_OCTAVE_FRAME_H_
