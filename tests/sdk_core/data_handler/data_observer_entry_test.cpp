// The public data-observer setters reach the kit's one data handler.
#include <gtest/gtest.h>

#include <array>

#include "data_handler.h"
#include "kesto_lidar_sdk.h"

namespace {

int g_points = 0;
int g_imu = 0;
void* g_client_data = nullptr;

void OnPoints(uint32_t, uint8_t, const KestoLidarEthernetPacket*, void* cd) {
  ++g_points;
  g_client_data = cd;
}
void OnImu(uint32_t, uint8_t, const KestoLidarEthernetPacket*, void*) { ++g_imu; }

TEST(DataObserverEntryPoints, SettersReachTheKitsDataHandler) {
  std::array<uint8_t, 64> point{}, imu{};
  point[10] = 1;
  auto* handler = &kesto::lidar::DataHandler::GetInstance();
  int client = 0;
  SetPointCloudObserver(OnPoints, &client);
  SetImuDataObserver(OnImu, nullptr);
  handler->Handle(10, 1, reinterpret_cast<const KestoLidarEthernetPacket*>(point.data()));
  handler->Handle(10, 1, reinterpret_cast<const KestoLidarEthernetPacket*>(imu.data()));
  EXPECT_EQ(g_points, 1);
  EXPECT_EQ(g_imu, 1);
  EXPECT_EQ(g_client_data, &client);

  SetPointCloudObserver(nullptr, nullptr);  // stops points, IMU continues
  handler->Handle(10, 1, reinterpret_cast<const KestoLidarEthernetPacket*>(point.data()));
  handler->Handle(10, 1, reinterpret_cast<const KestoLidarEthernetPacket*>(imu.data()));
  EXPECT_EQ(g_points, 1);
  EXPECT_EQ(g_imu, 2);
  handler->Clear();
}

}  // namespace
