# Third-party libraries, all from Debian's packages. Natively they come through find_package;
# in the mingw-w64 cross build spdlog, fmt and RapidJSON are used header-only from Debian's
# headers through a private include folder (never /usr/include itself, which holds glibc headers).
#
# Everything else links the project's own names: kesto_dep::spdlog, kesto_dep::rapidjson.

if(NOT KESTO_BUILD_KIT)
  # The MATLAB readers need none of these.
elseif(CMAKE_CROSSCOMPILING AND WIN32)
  set(_hdr ${CMAKE_BINARY_DIR}/header_only_deps)
  file(MAKE_DIRECTORY ${_hdr})
  foreach(dir spdlog fmt rapidjson)
    if(NOT EXISTS ${_hdr}/${dir})
      file(CREATE_LINK /usr/include/${dir} ${_hdr}/${dir} SYMBOLIC)
    endif()
  endforeach()
  add_library(kesto_dep_spdlog INTERFACE)
  target_include_directories(kesto_dep_spdlog SYSTEM INTERFACE ${_hdr})
  target_compile_definitions(kesto_dep_spdlog INTERFACE SPDLOG_HEADER_ONLY SPDLOG_FMT_EXTERNAL FMT_HEADER_ONLY)
  add_library(kesto_dep_rapidjson INTERFACE)
  target_include_directories(kesto_dep_rapidjson SYSTEM INTERFACE ${_hdr})
else()
  find_package(fmt REQUIRED)
  find_package(spdlog REQUIRED)
  find_package(RapidJSON REQUIRED)
  add_library(kesto_dep_spdlog INTERFACE)
  target_link_libraries(kesto_dep_spdlog INTERFACE spdlog::spdlog fmt::fmt)
  add_library(kesto_dep_rapidjson INTERFACE)
  target_include_directories(kesto_dep_rapidjson SYSTEM INTERFACE ${RapidJSON_INCLUDE_DIRS} ${RAPIDJSON_INCLUDE_DIRS})
endif()
if(TARGET kesto_dep_spdlog)
  add_library(kesto_dep::spdlog ALIAS kesto_dep_spdlog)
  add_library(kesto_dep::rapidjson ALIAS kesto_dep_rapidjson)
endif()

find_package(Threads REQUIRED)

if(KESTO_BUILD_TESTS)
  if(CMAKE_CROSSCOMPILING)
    # Debian ships GoogleTest's sources; the cross build compiles them with the mingw toolchain.
    set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    if(NOT TARGET GTest::gtest_main)
      add_library(GTest::gtest ALIAS gtest)
      add_library(GTest::gtest_main ALIAS gtest_main)
      add_library(GTest::gmock ALIAS gmock)
    endif()
  else()
    find_package(GTest REQUIRED)
  endif()
endif()

if(KESTO_BUILD_BENCH AND NOT CMAKE_CROSSCOMPILING)
  find_package(benchmark QUIET)
endif()
