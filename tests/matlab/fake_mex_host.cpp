#include "fake_mex_host.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>

// The host's arrays: double matrices, character arrays and struct arrays, which is all the
// plug-ins create or take.
struct mxArray_tag {
  std::size_t rows = 0;
  std::size_t cols = 0;
  bool complex = false;
  std::vector<double> real;
  bool is_char = false;
  std::string text;
  bool is_struct = false;
  std::vector<std::string> field_names;
  // Element e's field f at e * field_names.size() + f; owned by the host's array list, null
  // until set.
  std::vector<mxArray_tag*> field_values;
};

namespace kesto::test {
namespace {

struct MexError {
  std::string message;
  std::string id;
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
  out.is_char = array.is_char;
  out.text = array.text;
  out.is_struct = array.is_struct;
  out.field_names = array.field_names;
  const std::size_t nfields = array.field_names.size();
  for (std::size_t e = 0; nfields != 0 && e < array.rows * array.cols; ++e) {
    std::vector<MexOutput> fields(nfields);
    for (std::size_t f = 0; f < nfields; ++f) {
      const mxArray_tag* value = array.field_values[e * nfields + f];
      if (value == nullptr) continue;
      fields[f] = CopyOut(*value);
      if (e == 0 && !value->is_char && !value->is_struct) out.fields[array.field_names[f]] = value->real;
    }
    out.elements.push_back(std::move(fields));
  }
  return out;
}

mxArray* NewInput(const MexInput& input) {
  mxArray* array = NewArray(input.rows, input.cols, input.complex);
  switch (input.kind) {
    case MexInput::Kind::kDouble:
      array->real = input.values;
      array->real.resize(input.rows * input.cols, 0.0);
      break;
    case MexInput::Kind::kChar:
      array->real.clear();
      array->is_char = true;
      array->text = input.text;
      break;
    case MexInput::Kind::kStruct:
      array->real.clear();
      array->is_struct = true;
      break;
  }
  return array;
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

const MexOutput* MexOutput::Field(std::size_t element, const std::string& name) const {
  if (element >= elements.size()) return nullptr;
  for (std::size_t f = 0; f < field_names.size(); ++f) {
    if (field_names[f] == name) return &elements[element][f];
  }
  return nullptr;
}

MexInput MexInput::Matrix(std::size_t rows, std::size_t cols, std::vector<double> values) {
  MexInput input;
  input.rows = rows;
  input.cols = cols;
  input.values = std::move(values);
  return input;
}

MexInput MexInput::Text(std::string text) {
  MexInput input;
  input.kind = Kind::kChar;
  input.rows = text.empty() ? 0 : 1;
  input.cols = text.size();
  input.text = std::move(text);
  return input;
}

MexInput MexInput::Struct() {
  MexInput input;
  input.kind = Kind::kStruct;
  return input;
}

MexCall FakeMexHost::Call(MexGateway gateway, int nlhs, int nrhs) {
  return Call(gateway, nlhs, std::vector<MexInput>(static_cast<std::size_t>(nrhs), MexInput::Scalar(0)));
}

MexCall FakeMexHost::Call(MexGateway gateway, int nlhs, const std::vector<MexInput>& given) {
  HostState& host = Host();
  host.prints.clear();
  std::vector<const mxArray*> inputs;
  for (const MexInput& input : given) inputs.push_back(NewInput(input));
  const int nrhs = static_cast<int>(inputs.size());
  std::vector<mxArray*> outputs(static_cast<std::size_t>(nlhs > 1 ? nlhs : 1), nullptr);

  MexCall call;
  try {
    gateway(nlhs, outputs.data(), nrhs, inputs.data());
  } catch (const MexError& e) {
    call.failed = true;
    call.error = e.message;
    call.error_id = e.id;
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

void mexErrMsgTxt(const char* message) { throw kesto::test::MexError{message, ""}; }

void mexErrMsgIdAndTxt(const char* identifier, const char* format, ...) {
  char buffer[4096];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  throw kesto::test::MexError{buffer, identifier};
}

bool mxIsChar(const mxArray* array) { return array->is_char; }
bool mxIsDouble(const mxArray* array) { return !array->is_char && !array->is_struct; }
bool mxIsComplex(const mxArray* array) { return array->complex; }
size_t mxGetNumberOfElements(const mxArray* array) { return array->rows * array->cols; }
size_t mxGetM(const mxArray* array) { return array->rows; }
size_t mxGetN(const mxArray* array) { return array->cols; }

// As MATLAB: 1 (and a truncated, terminated copy) when the text does not fit or the array
// holds no characters.
int mxGetString_730(const mxArray* array, char* buffer, mwSize buffer_length) {
  if (buffer_length == 0) return 1;
  if (!array->is_char) {
    buffer[0] = '\0';
    return 1;
  }
  const std::size_t n = std::min<std::size_t>(array->text.size(), buffer_length - 1);
  std::memcpy(buffer, array->text.data(), n);
  buffer[n] = '\0';
  return n == array->text.size() ? 0 : 1;
}

mxArray* mxCreateString(const char* text) {
  const std::size_t n = std::strlen(text);
  mxArray* array = kesto::test::NewArray(n == 0 ? 0 : 1, n, false);
  array->real.clear();
  array->is_char = true;
  array->text = text;
  return array;
}

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
  array->field_values.assign(array->field_names.size() * rows * cols, nullptr);
  return array;
}

// An index past the array or an unknown field name is a fault of the plug-in; the host ignores
// the value, so the field stays missing in the copy and the test sees it.
void mxSetField_730(mxArray* array, mwIndex index, const char* field_name, mxArray* value) {
  const std::size_t nfields = array->field_names.size();
  if (index >= array->rows * array->cols) return;
  for (std::size_t i = 0; i < nfields; ++i) {
    if (array->field_names[i] == field_name) array->field_values[index * nfields + i] = value;
  }
}

}  // extern "C"
