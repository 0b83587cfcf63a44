#include "block_observers.h"

#include <atomic>

#include "packet_block_writer.h"

namespace kesto::bridge {
namespace {
// Relaxed is enough: the view is published before the kit's threads exist.
std::atomic<std::uint8_t*> g_block_view{nullptr};
}  // namespace

void SetBlockView(std::uint8_t* view) { g_block_view.store(view, std::memory_order_relaxed); }
std::uint8_t* BlockView() { return g_block_view.load(std::memory_order_relaxed); }

}  // namespace kesto::bridge

void PointCloudCallback(uint32_t, uint8_t, const KestoLidarEthernetPacket* packet, void*) {
  kesto::bridge::WritePointPacket(kesto::bridge::BlockView(), packet);
}

void ImuDataCallback(uint32_t, uint8_t, const KestoLidarEthernetPacket* packet, void*) {
  kesto::bridge::WriteImuPacket(kesto::bridge::BlockView(), packet);
}
