#!/usr/bin/env bash
# Tries cloudpump without a lidar: installs what is missing (Debian 12), builds cloudpump and the
# lidar emulator (Release, into build/run), writes a config.json into a run directory, and runs
# emulated lidars and cloudpump together in a private network namespace that holds only
# loopback, until Ctrl-C. Works as root (unshare -n) and as a normal user (unshare -rn).
#
# Usage: scripts/run.sh
# Environment:
#   KESTO_RUN_ORBIT, KESTO_RUN_VELA  emulated lidars of each model (default 1 and 1)
#   KESTO_RUN_DIR                    working directory of cloudpump: config.json, lidar logs
#                                    (default build/run/session)
#   KESTO_RUN_LOG=1                  capture the lidars' log files into KESTO_RUN_DIR/lidar_logs
#   KESTO_RUN_STATUS_EVERY           seconds between the emulator's status lines (default 10)
#   KESTO_RUN_VIEW_EVERY             seconds between block-view's lines on the blocks (default 5)
#   KESTO_RUN_NO_BUILD=1             use what build/run holds; install and build nothing
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/run
run_dir=${KESTO_RUN_DIR:-$build/session}
orbit=${KESTO_RUN_ORBIT:-1}
vela=${KESTO_RUN_VELA:-1}
status_every=${KESTO_RUN_STATUS_EVERY:-10}

for n in "$orbit" "$vela"; do
  case $n in ''|*[!0-9]*) echo "KESTO_RUN_ORBIT and KESTO_RUN_VELA must be whole numbers" >&2; exit 2 ;; esac
done

if [ "${KESTO_RUN_NO_BUILD:-0}" != 1 ]; then
  "$root/scripts/install-deps.sh" run
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DKESTO_BUILD_TESTS=OFF -DKESTO_BUILD_BENCH=OFF -DKESTO_BUILD_MEX=OFF >/dev/null
  cmake --build "$build" --target cloudpump lidar-sim block-view
fi
pump=$build/bridge/cloudpump
sim=$build/tools/lidar_sim/lidar-sim
view=$build/tools/block_view/block-view
for program in "$pump" "$sim" "$view"; do
  [ -x "$program" ] || { echo "not built: $program" >&2; exit 1; }
done

mkdir -p "$run_dir"
sim_args=(--orbit "$orbit" --vela "$vela" --status-every "$status_every")
if [ "${KESTO_RUN_LOG:-0}" = 1 ]; then
  # The kit makes the store's own folder inside the configured one, which must exist.
  mkdir -p "$run_dir/lidar_logs"
  KESTO_LOG_ENABLE=true KESTO_LOG_PATH=./lidar_logs/ "$root/scripts/write-config.sh" "$run_dir/config.json" 127.0.0.1
  # The kit configures no log host on a lidar, so the emulated lidars are told where to send:
  # the VELA log port of the configuration, where the kit takes any lidar's log pushes.
  sim_args+=(--push-log-every 10 --log-host-port 59001)
else
  "$root/scripts/write-config.sh" "$run_dir/config.json" 127.0.0.1
fi

# Runs inside the namespace (or on the machine's loopback): the emulator in the background,
# cloudpump until it ends. Ctrl-C reaches both from the terminal; SIGTERM to this script is
# passed on to cloudpump. The emulator is stopped however the script ends.
session='
  set -u
  pump=$1 sim=$2 view=$3; shift 3
  if [ "${KESTO_RUN_NAMESPACE:-}" = yes ]; then
    ip link set lo up || { echo "run.sh: cannot bring up loopback in the namespace" >&2; exit 1; }
  fi
  "$sim" "$@" &
  sim_pid=$!
  # What MATLAB would read from the two blocks, as a line every few seconds.
  "$view" --every "${KESTO_RUN_VIEW_EVERY:-5}" &
  view_pid=$!
  trap "kill -INT $sim_pid $view_pid 2>/dev/null; wait $sim_pid $view_pid 2>/dev/null" EXIT
  "$pump" &
  pump_pid=$!
  trap "kill -INT $pump_pid 2>/dev/null" INT TERM
  # A trapped signal ends a wait early; wait again until cloudpump has really ended.
  while kill -0 "$pump_pid" 2>/dev/null; do wait "$pump_pid"; done
  wait "$pump_pid"
'

if [ "$(id -u)" -eq 0 ] && unshare -n true 2>/dev/null; then
  namespace=(unshare -n)
elif unshare -rn true 2>/dev/null; then
  namespace=(unshare -rn)
else
  namespace=()
  cat >&2 <<'NOTE'
note: this machine allows no private network namespace (neither unshare -n as root nor
      unshare -rn as this user), so the emulated lidars and cloudpump share the machine's
      loopback (127.0.0.1 to 127.0.0.3; UDP ports 56000-59001 must be free). Nothing is sent
      beyond loopback. To get the namespace, run as root, or allow unprivileged user
      namespaces (sysctl kernel.unprivileged_userns_clone=1 on Debian).
NOTE
fi

cd "$run_dir"
echo "run.sh: $orbit ORBIT and $vela VELA emulated lidar(s), cloudpump in $run_dir; Ctrl-C ends."
if [ ${#namespace[@]} -gt 0 ]; then
  KESTO_RUN_NAMESPACE=yes exec "${namespace[@]}" bash -c "$session" run-session "$pump" "$sim" "$view" "${sim_args[@]}"
else
  exec bash -c "$session" run-session "$pump" "$sim" "$view" "${sim_args[@]}"
fi
