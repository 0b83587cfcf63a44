#ifndef KESTO_TESTS_MATLAB_FAKE_MEX_HOST_H_
#define KESTO_TESTS_MATLAB_FAKE_MEX_HOST_H_

// A MEX host of our own for the unit tests: it defines the few MEX and MX functions the reader
// plug-ins call (the 730 symbols of mex_api.h), records what the plug-in does with them and
// drives a gateway function as MATLAB would. mexErrMsgTxt throws MexError, which Call catches,
// so the plug-in's call ends there as it does in MATLAB.
//
// The MEX functions are free functions, so there is one host per process; it is not
// thread-safe, like MATLAB's interpreter thread it stands for.

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "mex_api.h"

namespace kesto::test {

using MexGateway = void (*)(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);

// A copy of one output array: a real or complex double matrix, or a 1 x 1 struct whose fields
// hold double matrices (copied as their real parts).
struct MexOutput {
  std::size_t rows = 0;
  std::size_t cols = 0;
  bool complex = false;
  std::vector<double> values;  // real part, column-major
  bool is_struct = false;
  std::map<std::string, std::vector<double>> fields;
};

// What one call of a gateway left behind.
struct MexCall {
  bool failed = false;
  std::string error;                // the mexErrMsgTxt text when failed
  std::vector<std::string> prints;  // one entry per mexPrintf call, formatted
  bool has_output = false;          // plhs[0] was set
  std::size_t rows = 0;
  std::size_t cols = 0;
  bool complex = false;
  std::vector<double> values;       // plhs[0]'s real part, column-major
  std::vector<MexOutput> outputs;   // plhs[0 .. nlhs-1] that were set, in order, after success
};

class FakeMexHost {
 public:
  // Calls the gateway with nlhs outputs (MATLAB always passes room for one) and nrhs scalar
  // inputs. Every array created during the call is freed afterwards, as MATLAB frees
  // temporaries; the first output is copied into the result first.
  static MexCall Call(MexGateway gateway, int nlhs, int nrhs);

  // What `clear name` does: runs the exit function registered last, if any, and forgets it
  // (the plug-in is unloaded). Returns the lines it printed.
  static std::vector<std::string> Clear();
  // Runs the exit function registered last without forgetting it, as a host would that calls
  // it at exit after a clear; returns the lines it printed.
  static std::vector<std::string> RunExitFunction();

  // mexAtExit and mexMakeMemoryPersistent calls since the last Reset.
  static int AtExitCalls();
  static std::vector<void*> PersistentPointers();
  // Forgets the counts above; keeps the registered exit function.
  static void ResetCounts();
};

}  // namespace kesto::test

#endif  // KESTO_TESTS_MATLAB_FAKE_MEX_HOST_H_
