#!/usr/bin/env bash
# Installs the Debian 12 packages the project needs, only those that are missing.
# Usage: scripts/install-deps.sh [runtime|run]
#   runtime: only what building cloudpump needs
#   run:     that, and what scripts/run.sh needs to start it in a private network namespace
set -euo pipefail

runtime=(cmake g++ ninja-build libspdlog-dev libfmt-dev rapidjson-dev)
running=(iproute2 util-linux)
# tcpdump, tshark: recordings are checked against the tools users open them with.
# libpcap-dev: the judge the capture reader is compared with in its tests and fuzz target.
# gnuplot-qt: the plotting back end the headless live-view test draws with; octave only
# recommends it, so it is named here as well.
testing=(libgtest-dev libbenchmark-dev iproute2 util-linux libpcap-dev tcpdump tshark
         g++-mingw-w64-x86-64-posix wine64
         octave liboctave-dev gnuplot-qt
         clang libclang-rt-14-dev)

wanted=("${runtime[@]}")
case "${1:-}" in
  runtime) ;;
  run) wanted+=("${running[@]}") ;;
  *) wanted+=("${testing[@]}") ;;
esac

missing=()
for p in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
# With recommends, as the toolchain was checked: Wine and Octave lean on some of theirs.
$sudo apt-get install -y -qq "${missing[@]}" >/dev/null
