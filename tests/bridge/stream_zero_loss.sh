#!/bin/sh
# Every packet in Octave: cloudpump and the lidar emulator (one ORBIT, one VELA) run as processes
# in a temporary folder while an Octave loop of lidarstream calls counts what arrives. The
# emulator sends exactly PACKETS point packets per lidar at a real lidar's rate; the loop must
# see every one of them, in order, with no counted loss. Loopback only: CTest runs inside a
# private network namespace (scripts/test.sh).
# With "reboot" after PACKETS, the ORBIT lidar reboots mid-stream and is set up again: the loop
# must then see exactly the packets each lidar sent (the emulator's own counts), still with no
# counted loss and no writer restart.
# With "record", cloudpump also records the session, the loop keeps every row lidarstream gave,
# and after cloudpump's stop lidarread must give exactly those rows from the recording (the IMU
# rows of the file go on after the loop's end).
# Usage: stream_zero_loss.sh CLOUDPUMP LIDAR_SIM WRITE_CONFIG OCTAVE_CLI MEX_DIR SCRIPT PACKETS [reboot|record]
set -eu
pump=$1 sim=$2 write_config=$3 octave=$4 mex_dir=$5 script=$6 packets=$7 variant=${8:-}

work=$(mktemp -d)
pump_pid= sim_pid= octave_pid=
cleanup() {
  for pid in $octave_pid $sim_pid $pump_pid; do kill -INT "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
cd "$work"
fail() {
  echo "FAIL: $*"
  for log in pump.log sim.log octave.log; do
    [ -f "$log" ] && { echo "--- $log"; tail -n 30 "$log"; }
  done
  exit 1
}
# Polls for a condition, at most $1 seconds.
wait_for() {
  limit=$(( $1 * 10 )); shift
  i=0
  until "$@"; do
    i=$((i + 1)); [ "$i" -le "$limit" ] || return 1
    sleep 0.1
  done
}

"$write_config" config.json 127.0.0.1 >/dev/null
if [ "$variant" = record ]; then
  "$pump" --record session.pcapng >pump.log 2>&1 &
else
  "$pump" >pump.log 2>&1 &
fi
pump_pid=$!
wait_for 20 grep -q "Init kesto lidars succ." pump.log || fail "cloudpump did not start"

# The reader's first call starts at the newest packet, so it starts before the lidars exist.
quiet=
[ "$variant" = reboot ] && quiet=3
keep=
[ "$variant" = record ] && keep=$work/live_rows.mat
KESTO_MEX_DIR=$mex_dir KESTO_ZERO_LOSS_PACKETS=$packets KESTO_ZERO_LOSS_READY=$work/ready \
  KESTO_ZERO_LOSS_QUIET=$quiet KESTO_ZERO_LOSS_KEEP=$keep "$octave" --no-gui -q "$script" >octave.log 2>&1 &
octave_pid=$!
wait_for 60 test -f ready || fail "the Octave reader did not start"

if [ "$variant" = reboot ]; then
  "$sim" --orbit 1 --vela 1 --count "$packets" --status-every 1 --reboot 0:4:4 >sim.log 2>&1 &
else
  "$sim" --orbit 1 --vela 1 --count "$packets" --status-every 0 >sim.log 2>&1 &
fi
sim_pid=$!

wait "$octave_pid" || fail "the Octave reader failed"
octave_pid=
cat octave.log

if [ "$variant" = reboot ]; then
  grep -q "Lidar .* (127.0.0.2) is back." pump.log || fail "the ORBIT lidar was not back"
  # The emulator's last status line of each lidar: the point packets it sent in all.
  for lidar in "127.0.0.2 33554559" "127.0.0.3 50331775"; do
    set -- $lidar
    sent=$(grep "^$1 " sim.log | tail -n 1 | sed -n 's/.* points \([0-9]*\) .*/\1/p')
    got=$(sed -n "s/^zero_loss: lidar $2 received \([0-9]*\)$/\1/p" octave.log)
    [ -n "$sent" ] && [ "$sent" = "$got" ] || fail "lidar $1 sent ${sent:-?} point packets, the loop got ${got:-?}"
    echo "lidar $1: sent $sent, received $got"
  done
  [ "$(grep "^127.0.0.2 " sim.log | tail -n 1 | sed -n 's/.* reboots \([0-9]*\) .*/\1/p')" = 1 ] ||
    fail "the ORBIT lidar did not reboot once"
fi

kill -INT "$pump_pid"
status=0
wait "$pump_pid" || status=$?
pump_pid=
[ "$status" -eq 0 ] || fail "cloudpump ended with status $status"
grep -q "Kesto Quick Start Demo End!" pump.log || fail "cloudpump did not end cleanly"

if [ "$variant" = record ]; then
  grep -q "^Recorded [0-9]* datagrams to session.pcapng, dropped 0\.$" pump.log ||
    fail "the recording is not whole"
  KESTO_MEX_DIR=$mex_dir "$octave" --no-gui -q --eval "
    addpath(getenv('KESTO_MEX_DIR'));
    live = load('$keep');
    [points, imu, info] = lidarread('$work/session.pcapng');
    % The loop ends with the last point packet; IMU packets go on until cloudpump stops, so
    % the live ones are the first of those in the file.
    if ~isequal(points, live.points) || rows(imu) < rows(live.imu) || ...
       ~isequal(imu(1:rows(live.imu), :), live.imu)
      error('lidarread: %d x %d points and %d x %d IMU rows, lidarstream gave %d x %d and %d x %d', ...
            rows(points), columns(points), rows(imu), columns(imu), ...
            rows(live.points), columns(live.points), rows(live.imu), columns(live.imu));
    end
    printf('lidarread equals lidarstream: %d point rows, %d IMU rows, %d lidars\\n', ...
           rows(points), rows(imu), numel(info.lidars));" >read.log 2>&1 || { cat read.log; fail "lidarread differs from lidarstream"; }
  cat read.log
fi
echo "PASS"
