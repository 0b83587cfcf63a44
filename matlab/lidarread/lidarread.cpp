// lidarread: [points,imu,info]=lidarread(file[,window[,lidar]]); the point and IMU packets of a
// recorded session (pcap or pcapng) as the rows lidarstream gives for the live stream, and what
// the capture holds. The interface, with every field and error, is the help text lidarread.m,
// which the build puts beside the plug-in. A damaged file is an error even after good packets:
// a partial result would pass for the whole recording.
#include <cmath>
#include <cstdio>
#include <iterator>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include "capture_load.h"
#include "handle_text.h"
#include "mex_api.h"

namespace {

using namespace kesto::matlab;

// The state of one call, at module level so that a host that leaves the call with an error of
// its own (an output it cannot make) leaves nothing behind that the next call does not reuse.
// Host interpreter thread only.
struct ReadCall {
  std::string path;
  CaptureLoadOptions options;
  CaptureLoad load;
  // The error the call ends with: raised once every C++ object of the call is gone, since a host
  // may leave the gateway without unwinding it.
  const char* error_id = nullptr;
  char error_text[2048] = {};
};
ReadCall g_call;

bool Fail(const char* id, const std::string& text) {
  g_call.error_id = id;
  std::snprintf(g_call.error_text, sizeof g_call.error_text, "%s", text.c_str());
  return false;
}

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

bool IsCharRow(const mxArray* array) {
  return mxIsChar(array) && (mxGetM(array) == 1 || mxGetNumberOfElements(array) == 0);
}

std::string TextOf(const mxArray* array) {
  // Room for every character in the host's multibyte encoding.
  std::vector<char> buffer(mxGetNumberOfElements(array) * 4 + 1, '\0');
  mxGetString(array, buffer.data(), static_cast<mwSize>(buffer.size()));
  return std::string(buffer.data());
}

bool ParseArguments(int nrhs, const mxArray* prhs[]) {
  if (!IsCharRow(prhs[0]) || mxGetNumberOfElements(prhs[0]) == 0) {
    return Fail("lidarread:fileName",
                "the file name (first argument) must be a non-empty character vector; for a string, "
                "pass char(name)");
  }
  g_call.path = TextOf(prhs[0]);
  if (nrhs >= 2) {
    const mxArray* window = prhs[1];
    const std::size_t n = mxGetNumberOfElements(window);
    if (!mxIsDouble(window) || mxIsComplex(window) || (n != 0 && n != 2)) {
      return Fail("lidarread:window",
                  "the window (second argument) must be [] or a real double vector [t0 t1] of "
                  "seconds after the capture's first datagram");
    }
    if (n == 2) {
      const double* t = mxGetPr(window);
      if (std::isnan(t[0]) || std::isnan(t[1]) || t[0] > t[1]) {
        return Fail("lidarread:window",
                    "the window [t0 t1] needs t0 <= t1 and no NaN (use Inf for an open end)");
      }
      g_call.options.has_window = true;
      g_call.options.window_begin = t[0];
      g_call.options.window_end = t[1];
    }
  }
  if (nrhs >= 3) {
    const mxArray* lidar = prhs[2];
    if (!IsCharRow(lidar)) {
      return Fail("lidarread:lidar",
                  "the lidar (third argument) must be its IPv4 address as text, like '192.168.1.50', "
                  "or '' for all lidars");
    }
    const std::string text = TextOf(lidar);
    if (!text.empty()) {
      const kesto::lidar::DottedParse parse =
          kesto::lidar::ParseDotted(text, kesto::lidar::DottedRules::kStrict);
      if (!parse.ok()) {
        return Fail("lidarread:lidar", "the lidar '" + text +
                                           "' is not an IPv4 address of four numbers 0-255, like "
                                           "'192.168.1.50'");
      }
      g_call.options.has_lidar = true;
      g_call.options.lidar = kesto::lidar::BytesToHandle(parse.octets);
    }
  }
  return true;
}

bool Load() {
  LoadCapture(g_call.path, g_call.options, g_call.load);
  const CaptureLoad& load = g_call.load;
  const std::string file = Quoted(g_call.path);
  switch (load.fault) {
    case CaptureLoadFault::kNone:
      return true;
    case CaptureLoadFault::kCannotOpen:
      return Fail("lidarread:cannotOpen", "cannot open " + file + ": " + load.error);
    case CaptureLoadFault::kNotCapture:
      return Fail("lidarread:notCapture",
                  file + " is not a capture lidarread can read (pcap or pcapng): " + load.error);
    case CaptureLoadFault::kDamaged:
      return Fail("lidarread:damaged", file + " is damaged after " +
                                           std::to_string(load.index.datagrams()) +
                                           " good datagrams: " + load.error);
    case CaptureLoadFault::kNoSuchLidar: {
      std::string found;
      for (const kesto::capture::LidarInCapture& lidar : load.index.lidars()) {
        found += (found.empty() ? "" : ", ") + kesto::lidar::HandleToText(lidar.address);
      }
      return Fail("lidarread:noSuchLidar",
                  file + " holds no lidar " + kesto::lidar::HandleToText(g_call.options.lidar) +
                      " (lidars found: " + (found.empty() ? "none" : found) + ")");
    }
  }
  return Fail("lidarread:internal", "unknown fault");
}

mxArray* Scalar(double value) {
  mxArray* array = mxCreateDoubleMatrix(1, 1, mxREAL);
  if (array != nullptr) *mxGetPr(array) = value;
  return array;
}

double Seconds(std::uint64_t time_ns) { return static_cast<double>(time_ns) / 1e9; }

const char* kLidarFields[] = {"address",     "dev_type",   "serial",   "point_packets",
                              "imu_packets", "first_time", "last_time"};
const char* kInfoFields[] = {"file",          "first_time",  "last_time", "datagrams",
                             "point_packets", "imu_packets", "lidars"};

mxArray* LidarsArray(const std::vector<kesto::capture::LidarInCapture>& lidars) {
  mxArray* array = mxCreateStructMatrix(static_cast<mwSize>(lidars.size()), 1,
                                        static_cast<int>(std::size(kLidarFields)), kLidarFields);
  if (array == nullptr) return nullptr;
  for (std::size_t i = 0; i < lidars.size(); ++i) {
    const kesto::capture::LidarInCapture& lidar = lidars[i];
    const auto at = static_cast<mwIndex>(i);
    mxSetField(array, at, "address", mxCreateString(kesto::lidar::HandleToText(lidar.address).c_str()));
    mxSetField(array, at, "dev_type", Scalar(lidar.dev_type));
    mxSetField(array, at, "serial", mxCreateString(lidar.sn.c_str()));
    mxSetField(array, at, "point_packets", Scalar(static_cast<double>(lidar.point_packets)));
    mxSetField(array, at, "imu_packets", Scalar(static_cast<double>(lidar.imu_packets)));
    mxSetField(array, at, "first_time", Scalar(Seconds(lidar.first_ns)));
    mxSetField(array, at, "last_time", Scalar(Seconds(lidar.last_ns)));
  }
  return array;
}

mxArray* InfoStruct() {
  const CaptureLoad& load = g_call.load;
  mxArray* array =
      mxCreateStructMatrix(1, 1, static_cast<int>(std::size(kInfoFields)), kInfoFields);
  if (array == nullptr) return nullptr;
  const bool any = load.index.datagrams() != 0;
  const double none = std::numeric_limits<double>::quiet_NaN();
  mxSetField(array, 0, "file", mxCreateString(g_call.path.c_str()));
  mxSetField(array, 0, "first_time", Scalar(any ? Seconds(load.index.first_ns()) : none));
  mxSetField(array, 0, "last_time", Scalar(any ? Seconds(load.index.last_ns()) : none));
  mxSetField(array, 0, "datagrams", Scalar(static_cast<double>(load.index.datagrams())));
  mxSetField(array, 0, "point_packets", Scalar(static_cast<double>(load.point_packets)));
  mxSetField(array, 0, "imu_packets", Scalar(static_cast<double>(load.imu_packets)));
  mxSetField(array, 0, "lidars", LidarsArray(load.index.lidars()));
  return array;
}

mxArray* RowsMatrix(std::size_t rows, std::size_t columns,
                    void (*fill)(const CaptureLoad&, double*, std::size_t)) {
  mxArray* array =
      mxCreateDoubleMatrix(static_cast<mwSize>(rows), static_cast<mwSize>(columns), mxREAL);
  if (array != nullptr && rows != 0) fill(g_call.load, mxGetPr(array), rows);
  return array;
}

bool Run(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  if (nrhs < 1 || nrhs > 3 || nlhs > 3) {
    return Fail("lidarread:usage",
                "usage: [points,imu,info]=lidarread(file), lidarread(file,[t0 t1]) or "
                "lidarread(file,[t0 t1],'a.b.c.d'); see help lidarread");
  }
  if (!ParseArguments(nrhs, prhs) || !Load()) return false;
  const StreamRowCounts rows = CountCaptureRows(g_call.load);
  plhs[0] = RowsMatrix(rows.points, kStreamPointColumns, FillCapturePointRows);
  if (nlhs >= 2) plhs[1] = RowsMatrix(rows.imu, kStreamImuColumns, FillCaptureImuRows);
  if (nlhs >= 3) plhs[2] = InfoStruct();
  return true;
}

}  // namespace

extern "C" void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  g_call = ReadCall();
  bool ok = false;
  try {
    ok = Run(nlhs, plhs, nrhs, prhs);
  } catch (const std::bad_alloc&) {
    ok = Fail("lidarread:outOfMemory", "out of memory while reading " + Quoted(g_call.path));
  }
  const char* id = g_call.error_id;
  // Gives the capture's memory back before the host returns to the prompt.
  g_call.path = std::string();
  g_call.load = CaptureLoad();
  if (!ok) mexErrMsgIdAndTxt(id, "%s", g_call.error_text);
}
