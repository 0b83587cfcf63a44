# The emulator's sending rate against a bare receiver (a plain program, not a Google Benchmark).
# Run it inside `unshare -rn` (loopback only).
add_executable(lidar_sim_rate lidar_sim_rate.cpp)
target_link_libraries(lidar_sim_rate PRIVATE kesto::lidar_sim kesto::byte_order kesto::socket kesto_warnings)
