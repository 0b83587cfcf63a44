#!/usr/bin/env bash
# The project's whole test run: installs what is missing, then builds once per configuration
# and runs every test.
#   1. native build (tests, benchmarks built but not run, MEX plug-ins and their Octave tests)
#   2. AddressSanitizer + UndefinedBehaviorSanitizer
#   3. ThreadSanitizer
#   4. Windows: mingw-w64 cross build, tests run under Wine (the end-to-end tests of
#      cloudpump.exe with the native build's lidar emulator beside it)
#   5. fuzz targets, each for a bounded time (KESTO_FUZZ_SECONDS, default 60)
# Networked tests run inside a private network namespace when the machine allows it, so nothing
# they send can leave the machine.
# Usage: scripts/test.sh [stage...]   stages: native asan tsan windows fuzz (default: all)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
out=${KESTO_BUILD_ROOT:-$root/build/test}
stages=("$@")
[ ${#stages[@]} -gt 0 ] || stages=(native asan tsan windows fuzz)

"$root/scripts/install-deps.sh"

# Runs a command in a fresh network namespace holding only loopback, when we may make one. The
# namespace's ephemeral ports start above every fixed port the kit and its tests bind (up to
# 59000): a socket bound to port 0 by one test can then never take port 56000 from another.
isolated() {
  if unshare -n true 2>/dev/null; then
    unshare -n sh -c 'ip link set lo up &&
      { sysctl -qw net.ipv4.ip_local_port_range="61000 65535" 2>/dev/null || true; } &&
      exec "$@"' isolated "$@"
  else
    echo "note: no private network namespace here; tests use loopback only" >&2
    "$@"
  fi
}

# Every configuration requires all of its tests: a tool missing for some of them (Octave, Wine,
# the native lidar emulator) fails the configure instead of leaving those tests out.
configure() {  # dir, cmake args...
  local dir=$1; shift
  cmake -S "$root" -B "$dir" -G Ninja -DKESTO_REQUIRE_ALL_TESTS=ON "$@" >/dev/null
}

configure_build() {  # dir, cmake args...
  configure "$@"
  cmake --build "$1"
}

run_ctest() {  # dir, ctest args...   KESTO_CTEST_PRELUDE: a command run first, in the same namespace
  local dir=$1; shift
  isolated sh -c "${KESTO_CTEST_PRELUDE:-true}"' && exec "$@"' run-ctest \
    ctest --test-dir "$dir" --output-on-failure --no-tests=error -j2 "$@"
}

for stage in "${stages[@]}"; do
  echo "=== $stage ==="
  case $stage in
    native)
      configure_build "$out/native" -DCMAKE_BUILD_TYPE=RelWithDebInfo
      run_ctest "$out/native"
      ;;
    asan)
      configure_build "$out/asan" -DCMAKE_BUILD_TYPE=Debug -DKESTO_SANITIZE=address,undefined \
        -DKESTO_BUILD_MEX=OFF -DKESTO_BUILD_BENCH=OFF
      ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 run_ctest "$out/asan"
      ;;
    tsan)
      configure_build "$out/tsan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTO_SANITIZE=thread \
        -DKESTO_BUILD_MEX=OFF -DKESTO_BUILD_BENCH=OFF
      TSAN_OPTIONS=halt_on_error=1 run_ctest "$out/tsan"
      ;;
    windows)
      # The end-to-end tests run cloudpump.exe under Wine against the native lidar emulator and
      # hostile sender (an emulator under Wine cannot keep its lidars' addresses apart): those
      # two come from the native build, made here when the native stage did not run.
      configure "$out/native" -DCMAKE_BUILD_TYPE=RelWithDebInfo
      cmake --build "$out/native" --target lidar-sim hostile_sender
      configure_build "$out/windows" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
        -DKESTO_BUILD_MEX=OFF -DKESTO_BUILD_BENCH=OFF -DKESTO_NATIVE_BUILD_DIR="$out/native"
      export WINEDEBUG=-all WINEPREFIX=${WINEPREFIX:-$out/wineprefix}
      [ -d "$WINEPREFIX" ] || isolated wineboot -i >/dev/null 2>&1 || true
      # Wine creates sockets inside its server, so the server must live in the tests' namespace.
      # One server for the whole run: a test that starts while a per-test server is shutting
      # down fails with "wine client error ... Connection reset by peer". Wine's background
      # processes are started before the first test, away from its output, or CTest would
      # wait for them to close the test's pipe.
      wineserver -k 2>/dev/null || true
      wineserver -w 2>/dev/null || true
      rc=0
      KESTO_CTEST_PRELUDE='wineserver -p && wineboot </dev/null >/dev/null 2>&1' \
        run_ctest "$out/windows" -j1 || rc=$?
      wineserver -k 2>/dev/null || true
      [ "$rc" -eq 0 ] || exit "$rc"
      ;;
    fuzz)
      [ -f "$root/fuzz/CMakeLists.txt" ] || { echo "no fuzz targets: fuzz/CMakeLists.txt is missing" >&2; exit 1; }
      configure_build "$out/fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTO_BUILD_FUZZ=ON \
        -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
        -DKESTO_BUILD_TESTS=OFF -DKESTO_BUILD_MEX=OFF -DKESTO_BUILD_BENCH=OFF
      # The device manager's target binds loopback ports and broadcasts discovery requests.
      # It fails when the build made no target.
      isolated "$root/scripts/run-fuzzers.sh" "$out/fuzz/fuzz" "${KESTO_FUZZ_SECONDS:-60}"
      ;;
    *) echo "unknown stage: $stage" >&2; exit 2 ;;
  esac
done
echo "=== all stages passed: ${stages[*]} ==="
