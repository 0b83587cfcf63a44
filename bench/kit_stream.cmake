# The kit's receive path end to end against a bare recvfrom loop, with the stream block, its
# reader and the Octave reader call (a plain program, not a Google Benchmark). Run it inside
# `unshare -rn` (loopback only): see the head of kit_stream/kit_stream_bench.cpp.
add_executable(kit_stream_bench
  kit_stream/kit_stream_bench.cpp kit_stream/kit_side.cpp kit_stream/bare_receiver.cpp
  kit_stream/stream_side.cpp kit_stream/octave_frame.cpp kit_stream/counting_new.cpp
  kit_stream/bench_platform.cpp)
target_link_libraries(kit_stream_bench PRIVATE
  kesto::sdk kesto::lidar_sim kesto::bridge_stream kesto::stream_reader
  kesto::shared_memory kesto::socket kesto::base kesto::log kesto::byte_order kesto_warnings)
# The Octave part runs the Octave build of lidarstream, when this build makes one.
set(_octave_cli "")
set(_mex_dir "")
if(KESTO_OCTAVE_MEX_DIR AND KESTO_OCTAVE_CLI AND TARGET lidarstream_octave)
  set(_octave_cli ${KESTO_OCTAVE_CLI})
  set(_mex_dir ${KESTO_OCTAVE_MEX_DIR})
  add_dependencies(kit_stream_bench lidarstream_octave)
endif()
target_compile_definitions(kit_stream_bench PRIVATE
  KESTO_BENCH_OCTAVE_CLI="${_octave_cli}" KESTO_BENCH_MEX_DIR="${_mex_dir}"
  KESTO_BENCH_OCTAVE_SCRIPT="${CMAKE_CURRENT_SOURCE_DIR}/octave_stream_bench.m")
