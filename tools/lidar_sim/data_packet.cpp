#include "data_packet.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "little_endian.h"

namespace kesto::lidar_sim {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kChannels = 50;
constexpr int kStepsPerTurn = 400;
// Room walls, floor and ceiling relative to the lidar, in metres.
constexpr double kHalfLength = 4.0;
constexpr double kHalfWidth = 3.0;
constexpr double kFloor = -1.2;
constexpr double kCeiling = 1.8;
constexpr double kSphereRadius = 0.5;
constexpr double kSphereOrbit = 2.5;
constexpr double kSphereHeight = -0.7;
constexpr double kSpherePeriod = 12.0;
static_assert(RoomScene::kScanPeriodPackets * 96 % (kChannels * kStepsPerTurn) == 0 &&
                  (RoomScene::kScanPeriodPackets / 5) * 96 % (kChannels * kStepsPerTurn) != 0,
              "the scan period is whole turns of whole packets");

void StoreF32(uint8_t* p, float value) {
  uint32_t u;
  std::memcpy(&u, &value, sizeof u);
  StoreU32(p, u);
}

// Distance along the unit ray (dx, dy, dz) to the nearest surface, and its reflectivity.
double Cast(double dx, double dy, double dz, double sx, double sy, uint8_t* reflectivity) {
  double best = std::numeric_limits<double>::max();
  *reflectivity = 40;
  const auto plane = [&best](double d, double limit) {
    if (d > 1e-9) best = std::fmin(best, limit / d);
    if (d < -1e-9) best = std::fmin(best, -limit / d);
  };
  plane(dx, kHalfLength);
  plane(dy, kHalfWidth);
  if (dz > 1e-9) best = std::fmin(best, kCeiling / dz);
  if (dz < -1e-9 && kFloor / dz < best) {
    best = kFloor / dz;
    *reflectivity = 20;
  }
  // Sphere centred at (sx, sy, kSphereHeight): solve |t*d - c|^2 = r^2.
  const double b = dx * sx + dy * sy + dz * kSphereHeight;
  const double c = sx * sx + sy * sy + kSphereHeight * kSphereHeight - kSphereRadius * kSphereRadius;
  const double disc = b * b - c;
  if (disc >= 0) {
    const double t = b - std::sqrt(disc);
    if (t > 0 && t < best) {
      best = t;
      *reflectivity = 200;
    }
  }
  return best;
}

}  // namespace

size_t PointRecordSize(uint8_t type) {
  switch (type) {
    case 1: return 14;
    case 2: return 8;
    case 3: return 10;
    default: return 0;
  }
}

size_t PointPacketSize(uint8_t type) {
  const size_t record = PointRecordSize(type);
  return record == 0 ? 0 : kDataHeaderLength + 96 * record;
}

void WriteDataHeader(uint8_t* packet, uint16_t length, uint16_t records, uint8_t data_type,
                     uint32_t counter, uint64_t timestamp_ns) {
  std::memset(packet, 0, kDataHeaderLength);
  packet[0] = 1;
  StoreU16(packet + 2, length);
  StoreU16(packet + 6, records);
  packet[10] = data_type;
  StoreU32(packet + kCounterOffset, counter);
  StoreU32(packet + 28, static_cast<uint32_t>(timestamp_ns));
  StoreU32(packet + 32, static_cast<uint32_t>(timestamp_ns >> 32));
}

void RoomScene::FillPoints(uint8_t type, uint64_t index, double seconds, uint8_t* records) {
  const size_t record_size = PointRecordSize(type);
  if (record_size == 0) return;
  const double orbit = 2 * kPi * std::fmod(seconds, kSpherePeriod) / kSpherePeriod;
  const double sx = kSphereOrbit * std::cos(orbit);
  const double sy = kSphereOrbit * std::sin(orbit);
  const uint64_t first = index * 96;
  for (int i = 0; i < 96; ++i) {
    const uint64_t position = first + static_cast<uint64_t>(i);
    const int channel = static_cast<int>(position % kChannels);
    const int step = static_cast<int>((position / kChannels) % kStepsPerTurn);
    const double yaw = 2 * kPi * step / kStepsPerTurn;
    const double pitch = (-25.0 + 50.0 * channel / (kChannels - 1)) * kPi / 180;
    const double dx = std::cos(pitch) * std::cos(yaw);
    const double dy = std::cos(pitch) * std::sin(yaw);
    const double dz = std::sin(pitch);
    uint8_t reflectivity = 0;
    const double range = Cast(dx, dy, dz, sx, sy, &reflectivity);
    uint8_t* r = records + static_cast<size_t>(i) * record_size;
    switch (type) {
      case 1:  // millimetres
        StoreU32(r, static_cast<uint32_t>(static_cast<int32_t>(std::lround(range * dx * 1000))));
        StoreU32(r + 4, static_cast<uint32_t>(static_cast<int32_t>(std::lround(range * dy * 1000))));
        StoreU32(r + 8, static_cast<uint32_t>(static_cast<int32_t>(std::lround(range * dz * 1000))));
        r[12] = reflectivity;
        r[13] = 0;
        break;
      case 2:  // centimetres
        StoreU16(r, static_cast<uint16_t>(static_cast<int16_t>(std::lround(range * dx * 100))));
        StoreU16(r + 2, static_cast<uint16_t>(static_cast<int16_t>(std::lround(range * dy * 100))));
        StoreU16(r + 4, static_cast<uint16_t>(static_cast<int16_t>(std::lround(range * dz * 100))));
        r[6] = reflectivity;
        r[7] = 0;
        break;
      default:  // depth in millimetres, zenith and azimuth in hundredths of a degree
        StoreU32(r, static_cast<uint32_t>(std::lround(range * 1000)));
        StoreU16(r + 4, static_cast<uint16_t>(std::lround((90.0 - pitch * 180 / kPi) * 100)));
        StoreU16(r + 6, static_cast<uint16_t>(std::lround(yaw * 180 / kPi * 100)));
        r[8] = reflectivity;
        r[9] = 0;
        break;
    }
  }
}

void RoomScene::FillImu(double seconds, uint8_t* values) {
  const double sway = std::sin(2 * kPi * seconds / 5);
  const float v[6] = {static_cast<float>(0.002 * sway), static_cast<float>(-0.001 * sway), 0.0005f,
                      static_cast<float>(0.01 * sway), 0.0f, static_cast<float>(1.0 + 0.002 * sway)};
  for (int i = 0; i < 6; ++i) StoreF32(values + 4 * i, v[i]);
}

}  // namespace kesto::lidar_sim
