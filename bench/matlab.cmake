# The readers: the conversion alone (Google Benchmark), and whole calls inside Octave.
kesto_add_bench(reader_matrix_bench SOURCES reader_matrix_bench.cpp
                LIBS kesto::lidartap5_matrix kesto::lidartap2_matrix)

# Run by hand (not by the tests): cmake --build <build> --target octave_reader_bench
if(KESTO_OCTAVE_MEX_DIR AND KESTO_OCTAVE_CLI)
  set(_bench_run ${CMAKE_CURRENT_BINARY_DIR}/octave_bench_run)
  file(MAKE_DIRECTORY ${_bench_run})
  set(_bench_env KESTO_MEX_DIR=${KESTO_OCTAVE_MEX_DIR})
  set(_bench_deps lidartap5_octave lidartap2_octave)
  if(TARGET block_filler)
    list(APPEND _bench_env KESTO_BLOCK_FILLER=$<TARGET_FILE:block_filler>)
    list(APPEND _bench_deps block_filler)
  endif()
  add_custom_target(octave_reader_bench
    COMMAND ${CMAKE_COMMAND} -E env ${_bench_env}
            ${KESTO_OCTAVE_CLI} --no-gui -q ${CMAKE_CURRENT_SOURCE_DIR}/octave_reader_bench.m
    WORKING_DIRECTORY ${_bench_run}
    USES_TERMINAL
    VERBATIM)
  add_dependencies(octave_reader_bench ${_bench_deps})
endif()
