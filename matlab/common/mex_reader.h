#ifndef KESTO_MATLAB_MEX_READER_H_
#define KESTO_MATLAB_MEX_READER_H_

// The part of a reader plug-in's mexFunction that the readers share: the argument checks, the
// banner, mapping the named block on first use, the usage text and the exit hook. What remains
// to each plug-in is its block's name and size, its matrix shape and the conversion of the
// block into the matrix.

#include <cstddef>
#include <cstdint>

#include "mex_api.h"
#include "shared_memory.h"

namespace kesto::matlab {

// What tells one reader from the other. The usage lines are the plug-in's own, padded as the
// users have always seen them.
struct ReaderConfig {
  const char* block_name;
  std::size_t block_size;
  std::size_t rows;
  std::size_t cols;
  const char* usage_line;      // "Usage: <name>", padded, with its line feed
  const char* call_line;       // "data=<name>;", padded, with its line feed
  void (*exit_hook)(void);     // the plug-in's exit function, registered once mapped
  // Converts the mapped block into the rows x cols matrix; false when the block holds a data
  // type the reader does not know.
  bool (*convert)(const std::uint8_t* block, double* matrix);
};

// Module-level state of one plug-in, alive as long as the host keeps the plug-in loaded.
// The host calls the plug-in and its exit hook on its interpreter thread, one at a time, so
// nothing here is locked. The block's bytes are shared with a writer in another process without
// any synchronisation: what is read from them may be torn.
struct ReaderState {
  int initialised = 0;            // 1 while `block` is mapped, 0 before and after the exit hook
  platform::SharedMemory block;   // the mapping handle and the view
};

inline constexpr char kNoInputError[] = "zero input must be required for shared memory.";
inline constexpr char kOpenError[] = "Could not open file mapping object\n";
inline constexpr char kUsageError[] = "One input and one output must be required.";
inline constexpr char kUsageRule[] = "------------------------------\n";
inline constexpr char kExitMessage[] = "MEX-file is safely terminated.\n";
inline constexpr char kUnknownFormat[] = "**************unknown data format*******\n";

// A whole call of a reader's mexFunction: BeginReaderCall, then the conversion of the block
// into the matrix, with a printed line (not an error) when the conversion does not know the
// block's data type.
void RunReader(const ReaderConfig& config, ReaderState& state, int nlhs, mxArray* plhs[], int nrhs);

// Runs a call up to the output matrix: rejects inputs, maps the block when it is not mapped yet,
// rejects any number of outputs but one (showing the usage first), then creates the zero-filled
// rows x cols real matrix as the first output. Returns its data array, or null when the call
// ended with a MATLAB error; the caller then returns at once. When the block could not be mapped
// nothing is retained and the next call tries again.
double* BeginReaderCall(const ReaderConfig& config, ReaderState& state, int nlhs, mxArray* plhs[],
                        int nrhs);

// The two steps of BeginReaderCall that a plug-in with another output shape uses on its own.
// MapBlockOnce: when the block is not mapped yet, shows the banner and maps it, registering the
// exit hook; false when the call ended with the mapping error (nothing retained). RaiseUsage:
// shows the usage text (rule, the two usage lines, banner, rule) and ends the call with `error`.
bool MapBlockOnce(const char* block_name, std::size_t block_size, void (*exit_hook)(void),
                  ReaderState& state);
void RaiseUsage(const char* usage_line, const char* call_line, const char* error);

// The body of a plug-in's exit hook: unmaps and closes the block when it is mapped, with a line
// to say so; otherwise nothing.
void EndReader(ReaderState& state);

// The two banner lines, one mexPrintf call each.
void PrintBanner();

}  // namespace kesto::matlab

#endif  // KESTO_MATLAB_MEX_READER_H_
