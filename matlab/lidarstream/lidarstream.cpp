// lidarstream: [points,imu,counts]=lidarstream; returns every packet the bridge wrote into the
// stream block "kesto-stream v1" since the previous call, decoded (see stream_rows.h), and a
// struct of counts (see StreamCounts). Maps the block on the first call (creating it when the
// bridge has not run yet) and keeps it mapped, and its place in the stream, until the host
// clears the plug-in. Packets are consumed whether or not their matrix is asked for.
#include <vector>

#include "mex_api.h"
#include "mex_reader.h"
#include "packet_stream_layout.h"
#include "stream_reader.h"
#include "stream_rows.h"

namespace {

using namespace kesto::matlab;

// Host interpreter thread only, like every call into the plug-in.
struct StreamPlugin {
  ReaderState state;
  StreamReader reader;
  std::vector<StreamPacket> packets;  // reused from call to call
};
StreamPlugin g_plugin;

void ExitHook() {
  EndReader(g_plugin.state);
  g_plugin.reader.Reset();
  g_plugin.packets = std::vector<StreamPacket>();
}

constexpr char kUsageLine[] = "Usage: lidarstream              \n";
constexpr char kCallLine[] = "[points,imu,counts]=lidarstream;\n";
static_assert(sizeof(kUsageLine) == 34 && sizeof(kCallLine) == 34, "padded to 32 characters");
constexpr char kOutputsError[] = "One to three outputs must be required.";

const char* kCountFields[] = {"returned", "lost", "restarts", "in_ring", "os_dropped"};
constexpr int kCountFieldCount = 5;

mxArray* Scalar(double value) {
  mxArray* array = mxCreateDoubleMatrix(1, 1, mxREAL);
  if (array != nullptr) *mxGetPr(array) = value;
  return array;
}

mxArray* CountsStruct(const StreamCounts& counts) {
  mxArray* array = mxCreateStructMatrix(1, 1, kCountFieldCount, kCountFields);
  if (array == nullptr) return nullptr;
  const double values[kCountFieldCount] = {
      static_cast<double>(counts.returned), static_cast<double>(counts.lost),
      static_cast<double>(counts.restarts), static_cast<double>(counts.in_ring),
      static_cast<double>(counts.os_dropped)};
  for (int i = 0; i < kCountFieldCount; ++i) mxSetField(array, 0, kCountFields[i], Scalar(values[i]));
  return array;
}

// A rows x columns output filled by `fill`; null when the host could not make it.
mxArray* RowsMatrix(std::size_t rows, std::size_t columns,
                    void (*fill)(const std::vector<StreamPacket>&, double*, std::size_t)) {
  mxArray* array = mxCreateDoubleMatrix(static_cast<mwSize>(rows), static_cast<mwSize>(columns), mxREAL);
  if (array != nullptr && rows != 0) fill(g_plugin.packets, mxGetPr(array), rows);
  return array;
}

}  // namespace

extern "C" void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  static_cast<void>(prhs);
  if (nrhs != 0) {
    mexErrMsgTxt(kNoInputError);
    return;
  }
  if (!MapBlockOnce(kesto::stream::kBlockName, kesto::stream::kBlockSize, ExitHook, g_plugin.state)) {
    return;
  }
  if (nlhs < 1 || nlhs > 3) {
    RaiseUsage(kUsageLine, kCallLine, kOutputsError);
    return;
  }
  g_plugin.packets.clear();
  const StreamCounts counts = g_plugin.reader.Read(g_plugin.state.block.data(), g_plugin.packets);
  const StreamRowCounts rows = CountStreamRows(g_plugin.packets);
  plhs[0] = RowsMatrix(rows.points, kStreamPointColumns, FillStreamPointRows);
  if (nlhs >= 2) plhs[1] = RowsMatrix(rows.imu, kStreamImuColumns, FillStreamImuRows);
  if (nlhs >= 3) plhs[2] = CountsStruct(counts);
}
