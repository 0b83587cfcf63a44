#include "state_push_json.h"

#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "key_table.h"
#include "log_capture.h"

namespace kesto::lidar {
namespace {

using Bytes = std::vector<uint8_t>;

struct Entry {
  uint16_t key;
  Bytes value;
  int declared = -1;  // value length written in the header; -1: the value's size
};

// A key-value list; `count` overrides the entry count in the header.
Bytes List(const std::vector<Entry>& entries, int count = -1) {
  const auto n = static_cast<uint16_t>(count < 0 ? entries.size() : count);
  Bytes out = {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8), 0, 0};
  for (const Entry& e : entries) {
    const auto len = static_cast<uint16_t>(e.declared < 0 ? e.value.size() : e.declared);
    out.insert(out.end(), {static_cast<uint8_t>(e.key), static_cast<uint8_t>(e.key >> 8),
                           static_cast<uint8_t>(len), static_cast<uint8_t>(len >> 8)});
    out.insert(out.end(), e.value.begin(), e.value.end());
  }
  return out;
}

template <typename T>
Bytes Le(T value) {
  Bytes out(sizeof(T));
  std::memcpy(out.data(), &value, sizeof(T));
  return out;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

// The JSON text of a list; fails the test when the conversion fails. The payload lives in a
// buffer of its exact size, so the address sanitizer sees any read past it.
std::string Json(const Bytes& payload) {
  std::string text;
  const auto exact = std::make_unique<uint8_t[]>(payload.size());
  std::memcpy(exact.get(), payload.data(), payload.size());
  EXPECT_TRUE(KeyValueListToJson(exact.get(), payload.size(), text));
  return text;
}

rapidjson::Document Parsed(const std::string& text) {
  rapidjson::Document doc;
  doc.Parse<rapidjson::kParseValidateEncodingFlag>(text.c_str(), text.size());
  EXPECT_FALSE(doc.HasParseError()) << text;
  return doc;
}

TEST(StatePushJsonTest, EmptyListIsAnEmptyObject) {
  EXPECT_EQ(Json({0x00, 0x00, 0x00, 0x00}), "{}");
}

TEST(StatePushJsonTest, OneKeyGivesThreeLines) {
  EXPECT_EQ(Json(List({{kKeyWorkTgtMode, {3}}})), "{\n    \"work_tgt_mode\": 3\n}");
}

TEST(StatePushJsonTest, VersionIsAnArrayOneNumberPerLine) {
  EXPECT_EQ(Json(List({{kKeyVersionApp, {1, 2, 3, 4}}})),
            "{\n    \"version_app\": [\n        1,\n        2,\n        3,\n        4\n    ]\n}");
}

TEST(StatePushJsonTest, HostAddressConfiguration) {
  EXPECT_EQ(Json(List({{kKeyPointCloudHostIpCfg, Concat({{192, 168, 1, 50}, Le<uint16_t>(57000),
                                                         Le<uint16_t>(56300)})}})),
            "{\n"
            "    \"ponitcloud_host_ipcfg\": {\n"
            "        \"ip\": \"192.168.1.50\",\n"
            "        \"dst_port\": 57000,\n"
            "        \"src_port\": 56300\n"
            "    }\n"
            "}");
}

TEST(StatePushJsonTest, LidarAddressConfiguration) {
  EXPECT_EQ(Json(List({{kKeyLidarIpCfg, {192, 168, 1, 10, 255, 255, 255, 0, 192, 168, 1, 1}}})),
            "{\n"
            "    \"lidar_ipcfg\": {\n"
            "        \"lidar_ip\": \"192.168.1.10\",\n"
            "        \"lidar_subnet_mask\": \"255.255.255.0\",\n"
            "        \"lidar_gateway\": \"192.168.1.1\"\n"
            "    }\n"
            "}");
}

TEST(StatePushJsonTest, StatusCodeIsReversedLowercaseHex) {
  const std::string zeros = "0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0";
  EXPECT_EQ(Json(List({{kKeyStatusCode, Bytes(32, 0)}})),
            "{\n    \"status_code\": \"" + zeros + "\"\n}");
  Bytes counting(32);
  for (int i = 0; i < 32; ++i) counting[i] = static_cast<uint8_t>(i * 8);
  EXPECT_EQ(Json(List({{kKeyStatusCode, counting}})),
            "{\n    \"status_code\": \"f8 f0 e8 e0 d8 d0 c8 c0 b8 b0 a8 a0 98 90 88 80 78 70 68 60 "
            "58 50 48 40 38 30 28 20 18 10 8 0\"\n}");
}

TEST(StatePushJsonTest, SignedUnsignedAndRealForms) {
  const std::string text = Json(List({
      {kKeyVehicleSpeed, Le<int32_t>(-12)},
      {kKeyInstallAttitude, Concat({Le(0.1f), Le(-2.5f), Le(1e30f), Le<int32_t>(-10),
                                    Le<int32_t>(20), Le<int32_t>(0)})},
      {kKeyTimeOffset, Le<int64_t>(-1234567890123)},
      {kKeyLocalTimeNow, Le<uint64_t>(18446744073709551615u)},
  }));
  EXPECT_EQ(text,
            "{\n"
            "    \"vehicle_speed\": -12,\n"
            "    \"install_attitude\": {\n"
            "        \"roll_deg\": 0.10000000149011612,\n"
            "        \"pitch_deg\": -2.5,\n"
            "        \"yaw_deg\": 1.0000000150474662e30,\n"
            "        \"x_mm\": 4294967286,\n"
            "        \"y_mm\": 20,\n"
            "        \"z_mm\": 0\n"
            "    },\n"
            "    \"local_time_now\": 18446744073709551615,\n"
            "    \"time_offset\": -1234567890123\n"
            "}");
}

TEST(StatePushJsonTest, NonFiniteRealsAreNull) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const std::string text = Json(List({{kKeyInstallAttitude, Concat({Le(nan), Le(inf), Le(-inf),
                                                                     Bytes(12, 0)})}}));
  const auto doc = Parsed(text);
  const auto& attitude = doc["install_attitude"];
  EXPECT_TRUE(attitude["roll_deg"].IsNull());
  EXPECT_TRUE(attitude["pitch_deg"].IsNull());
  EXPECT_TRUE(attitude["yaw_deg"].IsNull());
  EXPECT_EQ(attitude["x_mm"].GetUint(), 0u);
}

TEST(StatePushJsonTest, FovAndIoObjects) {
  EXPECT_EQ(Json(List({{kKeyFovCfg1, Concat({Le<int32_t>(-60), Le<int32_t>(60), Le<int32_t>(-5),
                                             Le<int32_t>(15), {9, 9, 9, 9}})},
                       {kKeyFuncIoCfg, {1, 2, 3, 4}}})),
            "{\n"
            "    \"fov_cfg1\": {\n"
            "        \"yaw_start\": -60,\n"
            "        \"yaw_stop\": 60,\n"
            "        \"pitch_start\": -5,\n"
            "        \"pitch_stop\": 15\n"
            "    },\n"
            "    \"func_io_cfg\": {\n"
            "        \"IN0\": 1,\n"
            "        \"IN1\": 2,\n"
            "        \"OUT0\": 3,\n"
            "        \"OUT1\": 4\n"
            "    }\n"
            "}");
}

TEST(StatePushJsonTest, MembersFollowKeyOrderNotListOrder) {
  EXPECT_EQ(Json(List({{kKeyRoiMode, {1}}, {kKeyFwType, {2}}, {kKeyPclDataType, {3}}})),
            "{\n    \"pcl_data_type\": 3,\n    \"FW_TYPE\": 2,\n    \"ROI_Mode\": 1\n}");
}

TEST(StatePushJsonTest, RepeatedKeyKeepsTheLaterValueOnce) {
  EXPECT_EQ(Json(List({{kKeyWorkTgtMode, {3}}, {kKeyWorkTgtMode, {5}}})),
            "{\n    \"work_tgt_mode\": 5\n}");
  // A shorter later value is zero-extended: nothing of the earlier one remains.
  EXPECT_EQ(Json(List({{kKeyPowerupCnt, Le<uint32_t>(0xFFFFFFFF)}, {kKeyPowerupCnt, {0x34, 0x12}}})),
            "{\n    \"powerup_cnt\": 4660\n}");
}

TEST(StatePushJsonTest, KeysWithoutANameAreSkipped) {
  EXPECT_EQ(Json(List({{kKeyUnnamed001E, {1}},
                       {kKeyFrameRate, {10}},
                       {kKeyUnnamed8012, {1, 2}},
                       {0x000A, {1}},
                       {kKeyUnnamedFFFF, {7}}})),
            "{\n    \"frame_rate\": 10\n}");
}

TEST(StatePushJsonTest, TextFillingItsFieldEndsAtTheField) {
  const std::string text = Json(List({{kKeySn, Bytes(16, 'A')}, {kKeyProductInfo, Text("XYZ")}}));
  EXPECT_EQ(text,
            "{\n    \"sn\": \"AAAAAAAAAAAAAAAA\",\n    \"product_info\": \"XYZ\"\n}");
  // A longer value is cut at the field.
  EXPECT_EQ(Json(List({{kKeySn, Bytes(40, 'B')}})),
            "{\n    \"sn\": \"BBBBBBBBBBBBBBBB\"\n}");
  // A text ends at its first zero byte.
  EXPECT_EQ(Json(List({{kKeySn, Concat({Text("SN1"), {0}, Text("junk")})}})),
            "{\n    \"sn\": \"SN1\"\n}");
}

TEST(StatePushJsonTest, TextsAreEscapedAndAlwaysValidUtf8) {
  const Bytes product = Concat({Text("a\"b\\c"), {0x01, '\n', 0xC3, 0xA9, 0xFF, 0xC3, 'z'}});
  const auto doc = Parsed(Json(List({{kKeyProductInfo, product}})));
  EXPECT_EQ(std::string(doc["product_info"].GetString()),
            "a\"b\\c\x01\n\xC3\xA9\xEF\xBF\xBD\xEF\xBF\xBDz");
}

TEST(StatePushJsonTest, ShortValuesAreZeroExtendedAndLongOnesCut) {
  // hms_code takes 32 bytes: 5 bytes fill the first code and one byte of the second.
  const std::string text = Json(List({{kKeyHmsCode, {1, 0, 0, 0, 2}},
                                      {kKeyFrameRate, {7, 8, 9}},  // cut to its one byte
                                      {kKeyFwType, {4}}}));
  const auto doc = Parsed(text);
  const auto& hms = doc["hms_code"];
  ASSERT_EQ(hms.Size(), 8u);
  EXPECT_EQ(hms[0].GetUint(), 1u);
  EXPECT_EQ(hms[1].GetUint(), 2u);
  for (unsigned i = 2; i < 8; ++i) EXPECT_EQ(hms[i].GetUint(), 0u);
  EXPECT_EQ(doc["frame_rate"].GetUint(), 7u);
  EXPECT_EQ(doc["FW_TYPE"].GetUint(), 4u) << "the next entry starts after the declared length";
}

TEST(StatePushJsonTest, ShortAddressValueIsZeroExtended) {
  EXPECT_EQ(Json(List({{kKeyImuHostIpCfg, {10, 1}}})),
            "{\n"
            "    \"imu_host_ipcfg\": {\n"
            "        \"ip\": \"10.1.0.0\",\n"
            "        \"dst_port\": 0,\n"
            "        \"src_port\": 0\n"
            "    }\n"
            "}");
}

// The last value may declare more bytes than the payload holds: only those present are read.
TEST(StatePushJsonTest, LastValueRunningPastThePayloadIsCutThere) {
  EXPECT_EQ(Json(List({{kKeyPowerupCnt, {0x01, 0x02}, 400}})), "{\n    \"powerup_cnt\": 513\n}");
}

struct BadList {
  const char* name;
  Bytes payload;
};

std::ostream& operator<<(std::ostream& os, const BadList& c) { return os << c.name; }

class TruncatedListTest : public ::testing::TestWithParam<BadList> {};

TEST_P(TruncatedListTest, FailsWithOneLineAndLeavesTheTextAlone) {
  const BadList& c = GetParam();
  test::LogCapture capture;
  std::string text = "before";
  const auto exact = std::make_unique<uint8_t[]>(c.payload.size());
  if (!c.payload.empty()) std::memcpy(exact.get(), c.payload.data(), c.payload.size());
  EXPECT_FALSE(KeyValueListToJson(exact.get(), c.payload.size(), text));
  EXPECT_EQ(text, "before");
  EXPECT_EQ(capture.Lines().size(), 1u);
  EXPECT_EQ(capture.Count("Parse lidar state info failed"), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Lists, TruncatedListTest,
    ::testing::Values(
        BadList{"NoCount", {}},
        BadList{"HalfACount", {0x01}},
        BadList{"CountWithoutEntries", {0x01, 0x00, 0x00, 0x00}},
        BadList{"CountWithoutReserved", {0x01, 0x00}},
        BadList{"LastValueEmptyAtTheEnd", List({{kKeyFrameRate, {1}}, {kKeyFwType, {}}})},
        BadList{"EntryHeaderCut", {0x01, 0x00, 0x00, 0x00, 0x14, 0x00, 0x01}},
        BadList{"EntryWithoutValueByte", {0x01, 0x00, 0x00, 0x00, 0x14, 0x00, 0x01, 0x00}},
        BadList{"MoreEntriesDeclaredThanPresent", List({{kKeyFrameRate, {1}}}, 3)},
        BadList{"LengthSkipsPastTheEnd",
                List({{kKeyFrameRate, {1}, 50}, {kKeyFwType, {2}}})}),
    [](const auto& test_case) { return std::string(test_case.param.name); });

// Every named key at once: the members come in key-table order with the value kinds of the table.
TEST(StatePushJsonTest, EveryNamedKeyInTableOrder) {
  std::vector<Entry> entries;
  for (auto it = kKeyTable.rbegin(); it != kKeyTable.rend(); ++it) {
    entries.push_back({it->id, Bytes(it->width, 0x31)});
  }
  const auto doc = Parsed(Json(List(entries)));
  ASSERT_TRUE(doc.IsObject());
  ASSERT_EQ(doc.MemberCount(), kKeyTable.size());
  size_t i = 0;
  for (auto m = doc.MemberBegin(); m != doc.MemberEnd(); ++m, ++i) {
    EXPECT_EQ(std::string(m->name.GetString()), std::string(kKeyTable[i].name));
  }
  EXPECT_EQ(std::string(doc["sn"].GetString()), std::string(16, '1'));
  EXPECT_EQ(std::string(doc["product_info"].GetString()), std::string(64, '1'));
  EXPECT_EQ(std::string(doc["state_info_host_ipcfg"]["ip"].GetString()), "49.49.49.49");
  EXPECT_EQ(doc["mac"].Size(), 6u);
  EXPECT_EQ(doc["hms_code"][7].GetUint(), 0x31313131u);
  EXPECT_EQ(doc["time_offset"].GetInt64(), 0x3131313131313131);
  EXPECT_EQ(doc["lidar_diag_status"].GetUint(), 0x3131u);
}

TEST(StatePushJsonTest, StateInfoToJsonWritesOnlyPresentKeys) {
  LidarStateInfo info{};
  info.frame_rate = 10;
  info.glass_heat = 1;
  std::string text;
  StateInfoToJson(info, PresentKeys{kKeyGlassHeat}, text);
  EXPECT_EQ(text, "{\n    \"glass_heat\": 1\n}");
  StateInfoToJson(info, PresentKeys{}, text);
  EXPECT_EQ(text, "{}");
}

}  // namespace
}  // namespace kesto::lidar
