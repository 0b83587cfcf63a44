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
#include <utility>
#include <vector>

#include "mex_api.h"

namespace kesto::test {

using MexGateway = void (*)(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);

// A copy of one output array: a real or complex double matrix, a character row, or a struct
// array whose fields hold any of these.
struct MexOutput {
  std::size_t rows = 0;
  std::size_t cols = 0;
  bool complex = false;
  std::vector<double> values;  // real part, column-major
  bool is_char = false;
  std::string text;            // a character array's characters, column-major
  bool is_struct = false;
  // Element 0's fields that hold double matrices, as their real parts.
  std::map<std::string, std::vector<double>> fields;
  std::vector<std::string> field_names;
  std::vector<std::vector<MexOutput>> elements;  // per element (column-major), per field name

  // The field of one element (an empty double matrix when never set), or null when there is no
  // such element or field.
  const MexOutput* Field(std::size_t element, const std::string& name) const;
};

// One input argument of a call.
struct MexInput {
  enum class Kind { kDouble, kChar, kStruct };
  Kind kind = Kind::kDouble;
  std::size_t rows = 1;
  std::size_t cols = 1;
  bool complex = false;
  std::vector<double> values;  // column-major
  std::string text;

  static MexInput Matrix(std::size_t rows, std::size_t cols, std::vector<double> values);
  static MexInput Row(std::vector<double> values) {
    const std::size_t n = values.size();
    return Matrix(n == 0 ? 0 : 1, n, std::move(values));
  }
  static MexInput Scalar(double value) { return Matrix(1, 1, {value}); }
  static MexInput Complex(double value) {
    MexInput input = Scalar(value);
    input.complex = true;
    return input;
  }
  static MexInput Text(std::string text);
  static MexInput Struct();  // a 1 x 1 struct without fields
};

// What one call of a gateway left behind.
struct MexCall {
  bool failed = false;
  std::string error;                // the mexErrMsgTxt text when failed
  std::string error_id;             // the mexErrMsgIdAndTxt identifier, empty for mexErrMsgTxt
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
  // The same with the given inputs.
  static MexCall Call(MexGateway gateway, int nlhs, const std::vector<MexInput>& inputs);

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
