// lidarread in the fake MEX host (also under Wine in the Windows build), on captures written by
// the kit's capture writer and by hand: the rows equal lidarstream's rows for the same packets,
// the window and lidar filters, the info struct, and every bad argument or damaged file an error
// with its identifier, never a crash (the asan stage runs these).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "capture_packets.h"
#include "capture_writer.h"
#include "capture_writers.h"
#include "fake_mex_host.h"
#include "stream_rows.h"

namespace kesto::test {
namespace {

using Bytes = std::vector<std::uint8_t>;
namespace cw = capture::testing;

constexpr std::uint32_t kHost = 0x0100007Fu;   // 127.0.0.1
constexpr std::uint32_t kFirst = 0x0A00007Fu;  // 127.0.0.10, answers discovery
constexpr std::uint32_t kSecond = 0x0B00007Fu;  // 127.0.0.11, heard only by its data
constexpr std::uint64_t kStart = 1765400000000000000ull;  // the first datagram
constexpr std::uint64_t kStep = 1000000;                  // 1 ms between datagrams
constexpr std::uint8_t kFirstType = 9;

// Data packet n of a lidar (capture_packets.h): point packets of 96 type-1 records or a few bytes
// fewer (ending inside a record), every fifth longer than the live stream keeps; IMU packets of
// their header and six floats, every seventh too short for them.
Bytes DataPacket(std::uint8_t type, std::size_t n) {
  std::size_t size = type == 0 ? 36 + 24 : 36 + (n % 5 == 0 ? 1400 : 14 * 96 - 3 * (n % 3));
  if (type == 0 && n % 7 == 0) size = 50;  // too short for the six values: no row
  return DerivedDataPacket(type, n, size);
}

struct Datagram {
  std::uint64_t time_ns;
  std::uint32_t src;
  std::uint16_t src_port;
  Bytes payload;
  bool data;  // a lidar's point or IMU packet
};

// Discovery, both lidars' point and IMU packets (more than one conversion batch), and datagrams
// that must give no row: frames on the data ports, the host's requests, short and foreign data.
std::vector<Datagram> Session() {
  std::vector<Datagram> out;
  std::uint64_t t = kStart;
  auto add = [&](std::uint32_t src, std::uint16_t port, Bytes payload, bool data = false) {
    out.push_back({t, src, port, std::move(payload), data});
    t += kStep;
  };
  add(kHost, 50001, CommandFrame(lidar::kCmdIdDiscovery, lidar::kCommandTypeCommand, {}));
  add(kFirst, 55000, DiscoveryReply(kFirstType, "ORB-0001"));
  // The lidar without a discovery reply makes itself known by a packet of a lidar's exact
  // shape; after that its packets need only the loose form.
  add(kSecond, 56000, DataPacket(0, 1), true);
  for (std::size_t n = 0; n < 320; ++n) {
    const std::uint32_t src = n % 3 == 2 ? kSecond : kFirst;
    add(src, 56000, DataPacket(static_cast<std::uint8_t>(n % 4), n), true);
    if (n % 50 == 0) add(src, 56000, CommandFrame(0x0102, lidar::kCommandTypeCommand, Bytes(40, 1)));
    if (n % 70 == 0) add(src, 56000, Bytes(20, 1));       // shorter than a data header
    if (n % 90 == 0) add(src, 56000, DataPacket(7, n));   // no data type a lidar sends
  }
  return out;
}

// Names of this run's own, beside other runs of the test in the same temporary folder.
std::string TempPath(const std::string& name) {
  static const std::string run = std::to_string(std::random_device()());
  return ::testing::TempDir() + "lidarread_" + run + "_" + name;
}

void WriteCapture(const std::string& path, const std::vector<Datagram>& datagrams) {
  capture::CaptureWriter writer;
  ASSERT_TRUE(writer.Open(path, "lidarread test")) << writer.error();
  for (const Datagram& d : datagrams) {
    capture::DatagramRecord record;
    record.time_ns = d.time_ns;
    record.src_ip = d.src;
    record.dst_ip = kHost;
    record.src_port = d.src_port;
    record.dst_port = 57000;
    record.payload = d.payload.data();
    record.length = static_cast<std::uint32_t>(d.payload.size());
    ASSERT_TRUE(writer.Write(record)) << writer.error();
  }
  ASSERT_TRUE(writer.Close()) << writer.error();
}

void WriteBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes ReadBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// What lidarstream gives for the data packets among `datagrams` that `keep` selects, as the
// bridge puts them into the stream (at most its largest packet, the lidar's device type).
struct Rows {
  std::vector<double> points, imu;
  std::size_t point_rows = 0, imu_rows = 0;
};
template <typename Keep>
Rows Expected(const std::vector<Datagram>& datagrams, Keep keep) {
  std::vector<matlab::StreamPacket> packets;
  for (const Datagram& d : datagrams) {
    if (!d.data || !keep(d)) continue;
    matlab::StreamPacket p{};
    p.meta.handle = d.src;
    p.meta.dev_type = d.src == kFirst ? kFirstType : 0;
    p.meta.data_type = d.payload[10];
    p.meta.length = static_cast<std::uint16_t>(std::min<std::size_t>(d.payload.size(), 1380));
    std::memcpy(p.bytes, d.payload.data(), p.meta.length);
    packets.push_back(p);
  }
  Rows rows;
  const matlab::StreamRowCounts counts = matlab::CountStreamRows(packets);
  rows.point_rows = counts.points;
  rows.imu_rows = counts.imu;
  rows.points.assign(counts.points * matlab::kStreamPointColumns, -1);
  rows.imu.assign(counts.imu * matlab::kStreamImuColumns, -1);
  matlab::FillStreamPointRows(packets, rows.points.data(), counts.points);
  matlab::FillStreamImuRows(packets, rows.imu.data(), counts.imu);
  return rows;
}

double Seconds(std::uint64_t ns) { return static_cast<double>(ns) / 1e9; }

class LidarreadHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    session_ = Session();
    path_ = TempPath("session.pcapng");
    WriteCapture(path_, session_);
  }
  void TearDown() override {
    for (const std::string& p : written_) std::remove(p.c_str());
    std::remove(path_.c_str());
  }
  MexCall Read(std::vector<MexInput> inputs, int nlhs = 3) {
    return FakeMexHost::Call(mexFunction, nlhs, inputs);
  }
  std::string Damaged(const std::string& name, const Bytes& bytes) {
    written_.push_back(TempPath(name));
    WriteBytes(written_.back(), bytes);
    return written_.back();
  }
  void ExpectRows(const MexCall& call, const Rows& rows) {
    ASSERT_FALSE(call.failed) << call.error_id << ": " << call.error;
    ASSERT_GE(call.outputs.size(), 2u);
    EXPECT_EQ(call.outputs[0].rows, rows.point_rows);
    EXPECT_EQ(call.outputs[0].cols, 8u);
    EXPECT_EQ(call.outputs[1].rows, rows.imu_rows);
    EXPECT_EQ(call.outputs[1].cols, 8u);
    EXPECT_TRUE(call.outputs[0].values == rows.points) << "point rows differ";
    EXPECT_TRUE(call.outputs[1].values == rows.imu) << "IMU rows differ";
  }

  std::vector<Datagram> session_;
  std::string path_;
  std::vector<std::string> written_;
};

double Number(const MexOutput& s, std::size_t element, const char* name) {
  const MexOutput* field = s.Field(element, name);
  EXPECT_NE(field, nullptr) << name;
  if (field == nullptr || field->values.size() != 1) return -12345;
  return field->values[0];
}

std::string Text(const MexOutput& s, std::size_t element, const char* name) {
  const MexOutput* field = s.Field(element, name);
  EXPECT_TRUE(field != nullptr && field->is_char) << name;
  return field == nullptr ? "" : field->text;
}

TEST_F(LidarreadHostTest, RowsAreLidarstreamsRowsForTheSamePackets) {
  const Rows all = Expected(session_, [](const Datagram&) { return true; });
  ASSERT_GT(all.point_rows, 200u * 96u);  // several conversion batches
  ASSERT_GT(all.imu_rows, 50u);
  ExpectRows(Read({MexInput::Text(path_)}), all);
  // No window ([]) and no lidar ('') are the same; one output gives the points alone.
  ExpectRows(Read({MexInput::Text(path_), MexInput::Row({}), MexInput::Text("")}), all);
  const MexCall one = Read({MexInput::Text(path_)}, 1);
  ASSERT_FALSE(one.failed) << one.error;
  ASSERT_EQ(one.outputs.size(), 1u);
  EXPECT_TRUE(one.outputs[0].values == all.points);
  // MATLAB calls with nlhs 0 for ans.
  EXPECT_FALSE(Read({MexInput::Text(path_)}, 0).failed);
}

TEST_F(LidarreadHostTest, InfoDescribesTheCaptureAndItsLidars) {
  const MexCall call = Read({MexInput::Text(path_)});
  ASSERT_FALSE(call.failed) << call.error;
  ASSERT_EQ(call.outputs.size(), 3u);
  const MexOutput& info = call.outputs[2];
  ASSERT_TRUE(info.is_struct);
  EXPECT_EQ(Text(info, 0, "file"), path_);
  EXPECT_EQ(Number(info, 0, "first_time"), Seconds(session_.front().time_ns));
  EXPECT_EQ(Number(info, 0, "last_time"), Seconds(session_.back().time_ns));
  EXPECT_EQ(Number(info, 0, "datagrams"), static_cast<double>(session_.size()));
  double points = 0, imu = 0;
  for (const Datagram& d : session_) {
    if (!d.data) continue;
    ++(d.payload[10] == 0 ? imu : points);
  }
  EXPECT_EQ(Number(info, 0, "point_packets"), points);
  EXPECT_EQ(Number(info, 0, "imu_packets"), imu);

  const MexOutput* lidars = info.Field(0, "lidars");
  ASSERT_NE(lidars, nullptr);
  ASSERT_TRUE(lidars->is_struct);
  ASSERT_EQ(lidars->rows, 2u);
  ASSERT_EQ(lidars->cols, 1u);
  EXPECT_EQ(Text(*lidars, 0, "address"), "127.0.0.10");
  EXPECT_EQ(Number(*lidars, 0, "dev_type"), kFirstType);
  EXPECT_EQ(Text(*lidars, 0, "serial"), "ORB-0001");
  EXPECT_EQ(Text(*lidars, 1, "address"), "127.0.0.11");
  EXPECT_EQ(Number(*lidars, 1, "dev_type"), 0);
  EXPECT_EQ(Text(*lidars, 1, "serial"), "");
  EXPECT_EQ(Number(*lidars, 0, "point_packets") + Number(*lidars, 1, "point_packets"), points);
  EXPECT_EQ(Number(*lidars, 0, "imu_packets") + Number(*lidars, 1, "imu_packets"), imu);
  EXPECT_EQ(Number(*lidars, 0, "first_time"), Seconds(kStart + kStep));  // its discovery reply
  EXPECT_LE(Number(*lidars, 1, "last_time"), Seconds(session_.back().time_ns));
}

TEST_F(LidarreadHostTest, WindowAndLidarChooseThePackets) {
  struct Case {
    double t0, t1;
    const char* lidar;
    std::uint32_t only;  // 0: any lidar
  } cases[] = {
      {0.0, 0.05, "", 0},
      {0.1, 0.2, "127.0.0.11", kSecond},
      {0.25, INFINITY, "127.0.0.10", kFirst},
      {-INFINITY, INFINITY, "127.0.0.11", kSecond},
      {0.1234, 0.1234, "", 0},  // one instant, both ends included
      {10.0, 20.0, "", 0},      // after the capture: nothing
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.t0) + " " + std::to_string(c.t1) + " " + c.lidar);
    const Rows rows = Expected(session_, [&](const Datagram& d) {
      const double t = static_cast<double>(d.time_ns - kStart) / 1e9;
      return t >= c.t0 && t <= c.t1 && (c.only == 0 || d.src == c.only);
    });
    const MexCall call =
        Read({MexInput::Text(path_), MexInput::Row({c.t0, c.t1}), MexInput::Text(c.lidar)});
    ExpectRows(call, rows);
    if (call.outputs.size() == 3) {
      // The capture's own description does not depend on the filters.
      EXPECT_EQ(Number(call.outputs[2], 0, "datagrams"), static_cast<double>(session_.size()));
      const MexOutput* lidars = call.outputs[2].Field(0, "lidars");
      EXPECT_TRUE(lidars != nullptr && lidars->rows == 2);
    }
  }
}

TEST_F(LidarreadHostTest, BadArgumentsAreErrorsWithIdentifiers) {
  const std::string missing = TempPath("missing.pcapng");
  struct Case {
    const char* what;
    std::vector<MexInput> inputs;
    int nlhs;
    const char* id;
  } cases[] = {
      {"no input", {}, 1, "lidarread:usage"},
      {"four inputs", {MexInput::Text(path_), MexInput::Row({}), MexInput::Text(""), MexInput::Scalar(1)}, 1,
       "lidarread:usage"},
      {"four outputs", {MexInput::Text(path_)}, 4, "lidarread:usage"},
      {"number for file", {MexInput::Scalar(3)}, 1, "lidarread:fileName"},
      {"empty file name", {MexInput::Text("")}, 1, "lidarread:fileName"},
      {"struct for file", {MexInput::Struct()}, 1, "lidarread:fileName"},
      {"text window", {MexInput::Text(path_), MexInput::Text("0 1")}, 1, "lidarread:window"},
      {"three times", {MexInput::Text(path_), MexInput::Row({0, 1, 2})}, 1, "lidarread:window"},
      {"one time", {MexInput::Text(path_), MexInput::Scalar(1)}, 1, "lidarread:window"},
      {"complex window", {MexInput::Text(path_), MexInput::Complex(1)}, 1, "lidarread:window"},
      {"reversed window", {MexInput::Text(path_), MexInput::Row({2, 1})}, 1, "lidarread:window"},
      {"NaN window", {MexInput::Text(path_), MexInput::Row({NAN, 1})}, 1, "lidarread:window"},
      {"number for lidar", {MexInput::Text(path_), MexInput::Row({}), MexInput::Scalar(5)}, 1,
       "lidarread:lidar"},
      {"not an address", {MexInput::Text(path_), MexInput::Row({}), MexInput::Text("127.0.0")}, 1,
       "lidarread:lidar"},
      {"octet too big", {MexInput::Text(path_), MexInput::Row({}), MexInput::Text("127.0.0.256")}, 1,
       "lidarread:lidar"},
      {"lidar not in capture", {MexInput::Text(path_), MexInput::Row({}), MexInput::Text("127.0.0.1")}, 1,
       "lidarread:noSuchLidar"},
      {"missing file", {MexInput::Text(missing)}, 1, "lidarread:cannotOpen"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const MexCall call = Read(c.inputs, c.nlhs);
    EXPECT_TRUE(call.failed);
    EXPECT_EQ(call.error_id, c.id) << call.error;
    EXPECT_FALSE(call.error.empty());
  }
  // The messages name the file and what is wrong.
  const MexCall none = Read({MexInput::Text(missing)});
  EXPECT_NE(none.error.find(missing), std::string::npos) << none.error;
  const MexCall other = Read({MexInput::Text(path_), MexInput::Row({}), MexInput::Text("127.0.0.1")});
  EXPECT_NE(other.error.find("127.0.0.10, 127.0.0.11"), std::string::npos) << other.error;
}

// A capture cut anywhere: the whole of it up to a block end reads (fewer packets), anywhere else
// is a damaged or unreadable file. Never more rows than the whole capture.
TEST_F(LidarreadHostTest, ACaptureCutAtEveryLengthIsAnErrorOrItsFirstPackets) {
  std::vector<Datagram> small(session_.begin(), session_.begin() + 8);
  const std::string whole = TempPath("small.pcapng");
  written_.push_back(whole);
  WriteCapture(whole, small);
  const Bytes bytes = ReadBytes(whole);
  const Rows all = Expected(small, [](const Datagram&) { return true; });
  std::size_t read = 0;
  for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
    const std::string path = Damaged("cut.pcapng", Bytes(bytes.begin(), bytes.begin() + cut));
    written_.pop_back();
    const MexCall call = Read({MexInput::Text(path)});
    if (!call.failed) {
      ++read;
      ASSERT_LE(call.outputs[0].rows, all.point_rows) << cut;
      continue;
    }
    ASSERT_TRUE(call.error_id == "lidarread:notCapture" || call.error_id == "lidarread:damaged")
        << cut << " " << call.error_id;
    ASSERT_NE(call.error.find(path), std::string::npos) << call.error;
  }
  std::remove(TempPath("cut.pcapng").c_str());
  // Cut after the file's header and after each packet block but the last.
  EXPECT_EQ(read, small.size());
  ExpectRows(Read({MexInput::Text(whole)}), all);
}

TEST_F(LidarreadHostTest, DamagedFilesAreErrors) {
  const Bytes packet = cw::Ipv4Udp(cw::UdpSample{{127, 0, 0, 10}, {127, 0, 0, 1}, 56000, 57000,
                                                 DataPacket(1, 1)});
  struct Case {
    const char* what;
    Bytes bytes;
    const char* id;
  };
  std::vector<Case> cases;
  cases.push_back({"empty file", {}, "lidarread:notCapture"});
  cases.push_back({"text", Bytes{'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '\n'},
                   "lidarread:notCapture"});
  {
    cw::PcapFile pcap(false, false, 1);
    pcap.Add(1, 0, cw::Frame(1, packet));
    pcap.Add(2, 0, cw::Frame(1, packet));
    Bytes bytes = pcap.bytes();
    bytes[0] ^= 0xFF;
    cases.push_back({"wrong magic", bytes, "lidarread:notCapture"});
    bytes = pcap.bytes();
    cw::Poke32(bytes, pcap.records()[1] + 8, 0x7FFFFFF0u, false);
    cases.push_back({"huge record length", bytes, "lidarread:damaged"});
    bytes = pcap.bytes();
    cw::Poke32(bytes, pcap.records()[1] + 8, static_cast<std::uint32_t>(bytes.size()), false);
    cases.push_back({"record past the end", bytes, "lidarread:damaged"});
  }
  {
    cw::PcapFile pcap(true, true, 147);  // a user link type, which no decoder knows
    pcap.Add(1, 0, packet);
    cases.push_back({"unknown link type", pcap.bytes(), "lidarread:notCapture"});
  }
  {
    cw::PcapngFile ng(false);
    ng.Interface(101);
    ng.Enhanced(0, 1, packet);
    ng.Enhanced(0, 2, packet);
    Bytes bytes = ng.bytes();
    const std::size_t last = ng.blocks().back().start;
    cw::Poke32(bytes, last + 4, 0, false);
    cases.push_back({"zero-length block", bytes, "lidarread:damaged"});
    bytes = ng.bytes();
    cw::Poke32(bytes, last + 4, 0xFFFFFFF0u, false);
    cases.push_back({"huge block length", bytes, "lidarread:damaged"});
    bytes = ng.bytes();
    cw::Poke32(bytes, last + 20, 0x00FFFFFFu, false);  // captured length of the packet
    cases.push_back({"packet longer than its block", bytes, "lidarread:damaged"});
    bytes = ng.bytes();
    cw::Poke32(bytes, last + 8, 5, false);  // an interface the section does not describe
    cases.push_back({"unknown interface", bytes, "lidarread:damaged"});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = Damaged("damaged", c.bytes);
    const MexCall call = Read({MexInput::Text(path)});
    EXPECT_TRUE(call.failed);
    EXPECT_EQ(call.error_id, c.id) << call.error;
    EXPECT_NE(call.error.find("'" + path + "'"), std::string::npos) << call.error;
  }
}

}  // namespace
}  // namespace kesto::test
