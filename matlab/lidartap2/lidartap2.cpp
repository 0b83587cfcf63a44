// lidartap2: data=lidartap2; returns a snapshot of the legacy block "brenic-shm" as a 3 x 98
// double matrix. Maps the block on the first call (creating it zero-filled when no external
// writer has) and keeps it mapped until the host clears the plug-in.
#include <cstdint>

#include "legacy_block_layout.h"
#include "legacy_block_matrix.h"
#include "mex_api.h"
#include "mex_reader.h"

namespace {

// Host interpreter thread only, like every call into the plug-in.
kesto::matlab::ReaderState g_reader;

void ExitHook() { kesto::matlab::EndReader(g_reader); }

// The legacy block has no data type: every block converts.
bool Convert(const std::uint8_t* block, double* matrix) {
  kesto::matlab::ConvertLegacyBlock(block, matrix);
  return true;
}

constexpr char kUsageLine[] = "Usage: lidartap2               \n";
constexpr char kCallLine[] = "data=lidartap2;                \n";
static_assert(sizeof(kUsageLine) == 33 && sizeof(kCallLine) == 33, "padded to 31 characters");

constexpr kesto::matlab::ReaderConfig kConfig{
    kesto::legacy_block::kBlockName,  kesto::legacy_block::kBlockSize, kesto::matlab::kLegacyMatrixRows,
    kesto::matlab::kLegacyMatrixCols, kUsageLine,                      kCallLine,
    ExitHook,                         Convert};

}  // namespace

extern "C" void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  static_cast<void>(prhs);
  kesto::matlab::RunReader(kConfig, g_reader, nlhs, plhs, nrhs);
}
