#include "mex_reader.h"

namespace kesto::matlab {
namespace {

constexpr char kBannerFunction[] = "Shared-memory access for MATLAB, by Kesto (c) 2024\n";
constexpr char kBannerSite[] = "https://www.kesto.example.com  built " __DATE__ "\n";

// Every text goes through "%s" so that a '%' in it could never be taken for a conversion.
void Print(const char* text) { mexPrintf("%s", text); }

}  // namespace

void PrintBanner() {
  Print(kBannerFunction);
  Print(kBannerSite);
}

bool MapBlockOnce(const char* block_name, std::size_t block_size, void (*exit_hook)(void),
                  ReaderState& state) {
  if (state.initialised != 0) return true;
  PrintBanner();
  // A view that cannot be mapped ends the call like a mapping that cannot be had: Open has
  // released the mapping already, so nothing is kept and nothing is read through a null view.
  if (state.block.Open(block_name, block_size) != platform::ShmResult::kOk) {
    mexErrMsgTxt(kOpenError);
    return false;
  }
  state.initialised = 1;
  mexMakeMemoryPersistent(state.block.data());
  mexAtExit(exit_hook);
  return true;
}

void RaiseUsage(const char* usage_line, const char* call_line, const char* error) {
  Print(kUsageRule);
  Print(usage_line);
  Print(call_line);
  PrintBanner();
  Print(kUsageRule);
  mexErrMsgTxt(error);
}

double* BeginReaderCall(const ReaderConfig& config, ReaderState& state, int nlhs, mxArray* plhs[],
                        int nrhs) {
  if (nrhs != 0) {
    mexErrMsgTxt(kNoInputError);
    return nullptr;
  }
  if (!MapBlockOnce(config.block_name, config.block_size, config.exit_hook, state)) return nullptr;
  if (nlhs != 1) {
    // The block stays mapped: a usage mistake is no reason to map it again next time.
    RaiseUsage(config.usage_line, config.call_line, kUsageError);
    return nullptr;
  }
  plhs[0] = mxCreateDoubleMatrix(static_cast<mwSize>(config.rows), static_cast<mwSize>(config.cols),
                                 mxREAL);
  return plhs[0] == nullptr ? nullptr : mxGetPr(plhs[0]);
}

void RunReader(const ReaderConfig& config, ReaderState& state, int nlhs, mxArray* plhs[], int nrhs) {
  double* matrix = BeginReaderCall(config, state, nlhs, plhs, nrhs);
  if (matrix == nullptr) return;
  if (!config.convert(state.block.data(), matrix)) Print(kUnknownFormat);
}

void EndReader(ReaderState& state) {
  if (state.initialised != 1) return;
  Print(kExitMessage);
  state.block.Close();
  state.initialised = 0;
}

}  // namespace kesto::matlab
