#include "fake_mex_host.h"

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <utility>

// The host's arrays: double matrices and 1 x 1 structs, which is all the plug-ins create.
struct mxArray_tag {
  std::size_t rows = 0;
  std::size_t cols = 0;
  bool complex = false;
  std::vector<double> real;
  bool is_struct = false;
  std::vector<std::string> field_names;
  std::vector<mxArray_tag*> field_values;  // owned by the host's array list, null until set
};

namespace kesto::test {
namespace {

struct MexError {
  std::string message;
};

struct HostState {
  std::vector<std::string> prints;
  std::vector<std::unique_ptr<mxArray_tag>> arrays;  // freed after each call
  void (*exit_function)(void) = nullptr;
  int at_exit_calls = 0;
  std::vector<void*> persistent;
};

HostState& Host() {
  static HostState state;
  return state;
}

mxArray* NewArray(std::size_t rows, std::size_t cols, bool complex) {
  auto array = std::make_unique<mxArray_tag>();
  array->rows = rows;
  array->cols = cols;
  array->complex = complex;
  array->real.assign(rows * cols, 0.0);
  Host().arrays.push_back(std::move(array));
  return Host().arrays.back().get();
}

MexOutput CopyOut(const mxArray_tag& array) {
  MexOutput out;
  out.rows = array.rows;
  out.cols = array.cols;
  out.complex = array.complex;
  out.values = array.real;
  out.is_struct = array.is_struct;
  for (std::size_t i = 0; i < array.field_names.size(); ++i) {
    if (array.field_values[i] != nullptr) out.fields[array.field_names[i]] = array.field_values[i]->real;
  }
  return out;
}

std::vector<std::string> RunExit(bool forget) {
  HostState& host = Host();
  host.prints.clear();
  void (*exit_function)(void) = host.exit_function;
  if (forget) host.exit_function = nullptr;
  if (exit_function != nullptr) exit_function();
  return std::exchange(host.prints, {});
}

}  // namespace

MexCall FakeMexHost::Call(MexGateway gateway, int nlhs, int nrhs) {
  HostState& host = Host();
  host.prints.clear();
  std::vector<const mxArray*> inputs;
  for (int i = 0; i < nrhs; ++i) inputs.push_back(NewArray(1, 1, false));
  std::vector<mxArray*> outputs(static_cast<std::size_t>(nlhs > 1 ? nlhs : 1), nullptr);

  MexCall call;
  try {
    gateway(nlhs, outputs.data(), nrhs, inputs.data());
  } catch (const MexError& e) {
    call.failed = true;
    call.error = e.message;
  }
  call.prints = std::exchange(host.prints, {});
  // After an error MATLAB discards the outputs; the result says whether one had been set.
  if (outputs[0] != nullptr) {
    call.has_output = true;
    call.rows = outputs[0]->rows;
    call.cols = outputs[0]->cols;
    call.complex = outputs[0]->complex;
    call.values = outputs[0]->real;
  }
  if (!call.failed) {
    for (int i = 0; i < nlhs; ++i) {
      if (outputs[static_cast<std::size_t>(i)] != nullptr) {
        call.outputs.push_back(CopyOut(*outputs[static_cast<std::size_t>(i)]));
      }
    }
  }
  host.arrays.clear();
  return call;
}

std::vector<std::string> FakeMexHost::Clear() { return RunExit(true); }
std::vector<std::string> FakeMexHost::RunExitFunction() { return RunExit(false); }
int FakeMexHost::AtExitCalls() { return Host().at_exit_calls; }
std::vector<void*> FakeMexHost::PersistentPointers() { return Host().persistent; }

void FakeMexHost::ResetCounts() {
  Host().at_exit_calls = 0;
  Host().persistent.clear();
}

}  // namespace kesto::test

using kesto::test::Host;

extern "C" {

int mexPrintf(const char* format, ...) {
  char buffer[1024];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  Host().prints.emplace_back(buffer);
  return n;
}

void mexErrMsgTxt(const char* message) { throw kesto::test::MexError{message}; }

void mexMakeMemoryPersistent(void* ptr) { Host().persistent.push_back(ptr); }

// MATLAB keeps one exit function per MEX file; a second registration replaces the first.
int mexAtExit(void (*exit_function)(void)) {
  Host().exit_function = exit_function;
  ++Host().at_exit_calls;
  return 0;
}

mxArray* mxCreateDoubleMatrix_730(mwSize rows, mwSize cols, mxComplexity complexity) {
  return kesto::test::NewArray(rows, cols, complexity == mxCOMPLEX);
}

double* mxGetPr(const mxArray* array) { return const_cast<mxArray*>(array)->real.data(); }

mxArray* mxCreateStructMatrix_730(mwSize rows, mwSize cols, int field_count, const char** field_names) {
  mxArray* array = kesto::test::NewArray(rows, cols, false);
  array->real.clear();
  array->is_struct = true;
  for (int i = 0; i < field_count; ++i) array->field_names.emplace_back(field_names[i]);
  array->field_values.assign(array->field_names.size(), nullptr);
  return array;
}

// Only 1 x 1 structs: index 0. An unknown field name is a fault of the plug-in; the host ignores
// the value, so the field stays missing in the copy and the test sees it.
void mxSetField_730(mxArray* array, mwIndex index, const char* field_name, mxArray* value) {
  if (index != 0) return;
  for (std::size_t i = 0; i < array->field_names.size(); ++i) {
    if (array->field_names[i] == field_name) array->field_values[i] = value;
  }
}

}  // extern "C"
