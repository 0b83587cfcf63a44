// lidartap5: data=lidartap5; returns a snapshot of the version-5 block "brenic-shm v5" as a
// 5 x 98 double matrix. Maps the block on the first call (creating it zero-filled when the
// bridge has not run yet) and keeps it mapped until the host clears the plug-in.
#include "mex_api.h"
#include "mex_reader.h"
#include "packet_block_layout.h"
#include "packet_block_matrix.h"

namespace {

// Host interpreter thread only, like every call into the plug-in.
kesto::matlab::ReaderState g_reader;

void ExitHook() { kesto::matlab::EndReader(g_reader); }

constexpr char kUsageLine[] = "Usage: lidartap5                \n";
constexpr char kCallLine[] = "data=lidartap5;                 \n";
static_assert(sizeof(kUsageLine) == 34 && sizeof(kCallLine) == 34, "padded to 32 characters");

constexpr kesto::matlab::ReaderConfig kConfig{
    kesto::block::kBlockName,         kesto::block::kBlockSize, kesto::matlab::kPacketMatrixRows,
    kesto::matlab::kPacketMatrixCols, kUsageLine,               kCallLine,
    ExitHook,                         kesto::matlab::ConvertPacketBlock};

}  // namespace

extern "C" void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  static_cast<void>(prhs);
  kesto::matlab::RunReader(kConfig, g_reader, nlhs, plhs, nrhs);
}
