#!/usr/bin/env bash
# cloudpump end to end: the real program in a temporary folder with a generated config.json,
# against lidar-sim's emulated lidars, one ORBIT (127.0.0.2) and one VELA (127.0.0.3), on
# loopback. Runs inside the private network namespace CTest is given (scripts/test.sh).
#
# Usage: cloudpump_e2e.sh session|bad-config|hostile|reboot|unplug|move|two-lidars|slow|record|
#                         replay|tcpdump
#   session     discovery, firmware query and configuration as the lidars record them; the
#               information-change, work mode, point type and internal-info lines with the
#               ports the lidars report, the internal-info query answered only at its third
#               try; every state push printed as its exact JSON text; the block through
#               lidartap5 holding the last packets the lidars sent; their log files in the store;
#               Ctrl-C: "Kesto Quick Start Demo End!", status 0, and the stop of log capture
#               reaching each lidar then and not before;
#   bad-config  a missing or broken config.json: "Kesto Init Failed" and status -1 (255) at
#               once, with the reason in the kit's log;
#   hostile     unknown lidars with hostile serial numbers and a storm of malformed datagrams on
#               every host port, then the real lidars with damaged frames among their sound ones:
#               cloudpump keeps running, the block holds the last packets the lidars sent, Ctrl-C
#               ends it with status 0, and it wrote nothing outside its log store;
#   reboot      a lidar reboots mid-stream: one "lost" line, one "is back" line, its whole set-up
#               again on the wire, and the block written again within 3 s of its return;
#   unplug      a lidar's cable is pulled for 5 s: the same, its configuration kept meanwhile;
#   move        a lidar moves to a new address: a new lidar there, the old address lost;
#   two-lidars  one of two lidars reboots: the other is never lost nor set up again;
#   slow        a lidar that misses one or two discovery periods, again and again, is never lost;
#   record      cloudpump --record: tshark reads every datagram of the session from the file, with
#               its addresses, ports and time, each stream whole and its last packet exact;
#   replay      record, replay with lidar-sim --replay, record again: the same data packets, byte
#               for byte, in the same order in each stream;
#   tcpdump     a capture tcpdump made of a session replays, and its data packets come through.
# Environment (set by CTest, tests/bridge/e2e/CMakeLists.txt):
#   E2E_PUMP           cloudpump, or cloudpump.exe with E2E_WINE the program that runs it
#   E2E_SIM            lidar-sim (native)        E2E_HOSTILE  hostile_sender (native)
#   E2E_WRITE_CONFIG   scripts/write-config.sh
#   E2E_PROBE          block_probe: prepares and removes the block, and checks it where
#                      E2E_BLOCK_CHECK is probe
#   E2E_BLOCK_CHECK    octave (E2E_OCTAVE, E2E_OCTAVE_SCRIPT, KESTO_MEX_DIR) or probe
#   E2E_TSHARK         tshark, which reads recordings as a user's Wireshark does
#   E2E_TCPDUMP        tcpdump, whose captures replay
set -euo pipefail

scenario=${1:-}
deadline=60  # seconds any one awaited condition may take
wine=()
[ -n "${E2E_WINE:-}" ] && wine=("$E2E_WINE")

scratch=$(mktemp -d "${TMPDIR:-/tmp}/cloudpump-e2e.XXXXXX")
run=$scratch/run          # cloudpump's working folder
record=$scratch/record    # what the emulated lidars record (lidar-sim --record)
console=$scratch/console  # cloudpump's standard output and error
mkdir -p "$run" "$record"
passed=no

# Ends what this script started and still runs: its own background jobs, by id (a job that has
# ended is not in the list, so no id that the system gave to another process since is hit).
finish() {
  local pid
  for pid in $(jobs -rp); do kill -KILL "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  # A POSIX block outlives its users; under Wine it is gone with them.
  [ ${#wine[@]} -gt 0 ] || "$E2E_PROBE" --unlink || true
  if [ "$passed" = yes ]; then rm -rf "$scratch"; else echo "kept for inspection: $scratch"; fi
}
trap finish EXIT

fail() {
  echo "FAIL ($scenario): $*"
  if [ -f "$console" ]; then
    echo "--- last lines of cloudpump's console ---"
    tr -d '\r' <"$console" | tail -n 60
  fi
  exit 1
}

# cloudpump's console as text lines: a Windows build ends its lines with CR LF.
text() { tr -d '\r' <"$console"; }
# Whether some console line ends with exactly this text (lines without a line feed of their own,
# "WorkModeCallack, ...", may run into the start of the next print).
line_ends_with() {
  text | awk -v t="$1" 'length($0) >= length(t) && substr($0, length($0) - length(t) + 1) == t { f = 1 }
                        END { exit !f }'
}
occurrences() { text | { grep -oF -- "$1" || true; } | wc -l; }
# (No grep -q after a pipe: it may end before the writer, whose broken pipe then fails the
# pipeline under pipefail.)
contains() { text | grep -F -- "$1" >/dev/null; }

# Polls a check until it succeeds (status 0), at most `deadline` seconds. Status 1 means "not
# yet"; any other status is a failure that waiting cannot mend.
wait_for() {  # what, command...
  local what=$1 tries=$((deadline * 10)) rc
  shift
  while :; do
    rc=0
    "$@" || rc=$?
    [ "$rc" -eq 0 ] && return 0
    [ "$rc" -eq 1 ] || fail "$what: wrong"
    tries=$((tries - 1))
    [ "$tries" -gt 0 ] || fail "no $what within $deadline s"
    sleep 0.1
  done
}
has_files() { compgen -G "$1" >/dev/null; }

# Waits for a started process to end; its status goes to `status`.
status=0
wait_end() {  # pid, what
  local pid=$1 tries=$((deadline * 10))
  while kill -0 "$pid" 2>/dev/null; do
    tries=$((tries - 1))
    [ "$tries" -gt 0 ] || fail "$2 still running after $deadline s"
    sleep 0.1
  done
  status=0
  wait "$pid" || status=$?
}

pump=0
start_pump() {  # cloudpump arguments...
  # A block of 0xA5 bytes first: what cloudpump leaves unwritten cannot pass for what an earlier
  # run wrote (the scene the lidars scan repeats from run to run).
  "${wine[@]}" "$E2E_PROBE" --fill || fail "cannot prepare the block"
  (cd "$run" && exec "${wine[@]}" "$E2E_PUMP" "$@") >"$console" 2>&1 &
  pump=$!
}

sim=0
start_sim() {  # lidar-sim arguments...
  "$E2E_SIM" --record "$record" --status-every 0 "$@" >"$scratch/lidar-sim.out" 2>&1 &
  sim=$!
}

# Ctrl-C to cloudpump: it must end with status 0 and its closing line.
interrupt_pump() {
  kill -INT "$pump"
  wait_end "$pump" cloudpump
  [ "$status" -eq 0 ] || fail "cloudpump ended with status $status after Ctrl-C"
  [ "$(text | grep -cx 'Kesto Quick Start Demo End!')" -eq 1 ] || fail "no single closing line"
  ! contains "Kesto Init Failed" || fail "the start was reported as failed"
}

interrupt_sim() {
  kill -INT "$sim"
  wait_end "$sim" lidar-sim
  [ "$status" -eq 0 ] || fail "lidar-sim ended with status $status"
}

# The block through lidartap5 must hold the last point and IMU packets the lidars recorded; the
# data type of the last write, 1 or 0, is the one of the streams that ended last.
check_block() {  # last data type
  wait_for "last packets of both lidars" \
    test -f "$record/127.0.0.2.point" -a -f "$record/127.0.0.2.imu" -a -f "$record/127.0.0.3.point" -a -f "$record/127.0.0.3.imu"
  case $E2E_BLOCK_CHECK in
    octave)
      # Octave looks for plug-ins in its working folder first: an empty one.
      mkdir -p "$scratch/octave"
      (cd "$scratch/octave" && E2E_RECORD_DIR=$record E2E_LAST_TYPE=$1 E2E_DEADLINE=$deadline \
        "$E2E_OCTAVE" --no-gui -q "$E2E_OCTAVE_SCRIPT") || fail "the block check in Octave failed"
      ;;
    probe)
      "${wine[@]}" "$E2E_PROBE" "$record" "$1" "$deadline" || fail "the block probe failed"
      ;;
    *) fail "unknown block check '$E2E_BLOCK_CHECK'" ;;
  esac
}

le16() { printf '%02x%02x' $(($1 & 255)) $((($1 >> 8) & 255)); }
# A key query list (count, reserved, keys) in hexadecimal.
query_hex() {
  local out
  out=$(le16 $#)0000
  for key; do out+=$(le16 $((key))); done
  echo "$out"
}
# One host address entry of a configuration request: key, length 8, 127.0.0.1, ports.
host_entry() { echo "$(le16 "$1")0800""7f000001""$(le16 "$2")$(le16 "$3")"; }

# The two lidars and what the configuration of scripts/write-config.sh makes of them.
addresses=(127.0.0.2 127.0.0.3)
declare -A serial handle point_ports imu_ports config_hex query_keys_hex
serial[127.0.0.2]=E2E-ORBIT-1
# All 16 bytes of the field, no terminator: the state push shows them all, the information-change
# record has room for 15.
serial[127.0.0.3]=E2E-VELA-16CHARS
handle[127.0.0.2]=33554559          # 127.0.0.2 in network byte order, read as a number
handle[127.0.0.3]=50331775
point_ports[127.0.0.2]="56301 56300"  # host port, lidar port
imu_ports[127.0.0.2]="56401 56400"
point_ports[127.0.0.3]="57001 57000"
imu_ports[127.0.0.3]="58001 58000"
config_hex[127.0.0.2]=03000000$(host_entry 5 56201 56200)$(host_entry 6 56301 56300)$(host_entry 7 56401 56400)
config_hex[127.0.0.3]=02000000$(host_entry 6 57001 57000)$(host_entry 7 58001 58000)
query_keys_hex[127.0.0.2]=$(query_hex 0x0000 0x0001 0x0004 0x0005 0x0006 0x0007 0x0012 0x0015 \
  0x0016 0x0017 0x0018 0x0019 0x001A 0x001C 0x8000 0x8001 0x8002 0x8003 0x8004 0x8005 0x8006 \
  0x8007 0x8008 0x8009 0x800A 0x800B 0x800C 0x800E 0x8010 0x8011)
query_keys_hex[127.0.0.3]=$(query_hex 0x0000 0x0001 0x0002 0x0003 0x0004 0x0006 0x0007 0x0009 \
  0x0012 0x0013 0x001A 0x001B 0x001C 0x001D 0x001E 0x8000 0x8001 0x8002 0x8003 0x8004 0x8005 \
  0x8006 0x800D 0x800E 0x800F 0x8010 0x8012)
lidar_args=(--lidar "orbit@127.0.0.2/${serial[127.0.0.2]}" --lidar "vela@127.0.0.3/${serial[127.0.0.3]}")
# Short bounded streams of 100 packets. The block shows either the point records or the IMU
# values of its last write, so the session lets the point streams end last (IMU at 1000 Hz ends
# after 0.1 s, points at 25 Hz after 4 s) and the hostile run the IMU streams: the margin of
# seconds leaves room for the two lidars to start streaming some discovery rounds apart. Log
# files go to the VELA log port, where the host takes any lidar's log pushes.
points_last=(--rate 25 --imu-rate 1000)
imu_last=(--rate 1000 --imu-rate 25)
stream_args=(--count 100 --push-log-every 1 --push-log-bytes 3000 --log-host-port 59001)

events() { cat "$record/$1.events" 2>/dev/null || true; }
event_count() { events "$1" | grep -cxF -- "$2" || true; }

# The state push of a lidar as cloudpump must print it.
push_json() {  # address, work mode, local_time_now
  local a=$1 mode=$2 stamp=$3
  local point=(${point_ports[$a]}) imu=(${imu_ports[$a]})
  cat <<JSON
{
    "pcl_data_type": 1,
    "pattern_mode": 0,
    "ponitcloud_host_ipcfg": {
        "ip": "127.0.0.1",
        "dst_port": ${point[0]},
        "src_port": ${point[1]}
    },
    "imu_host_ipcfg": {
        "ip": "127.0.0.1",
        "dst_port": ${imu[0]},
        "src_port": ${imu[1]}
    },
    "work_tgt_mode": $mode,
    "imu_data_en": 1,
    "sn": "${serial[$a]}",
    "cur_work_state": $mode,
    "core_temp": 45,
    "local_time_now": $stamp,
    "lidar_diag_status": 0,
    "FW_TYPE": 1
}
JSON
}

# Splits the pushes cloudpump printed for one lidar into files $scratch/pushes/ADDRESS.N.
split_pushes() {  # address
  mkdir -p "$scratch/pushes"
  rm -f "$scratch/pushes/$1".*
  text | awk -v head="handle: ${handle[$1]}, ip: $1, push msg info: " -v stem="$scratch/pushes/$1" '
    !inside && length($0) >= length(head) && substr($0, length($0) - length(head) + 1) == head {
      inside = 1; n++; file = stem "." n; next
    }
    inside { print > file; if ($0 == "}") { inside = 0; close(file) } }'
}

# Every push printed for the lidar is its exact JSON text with a local_time_now the lidar sent,
# and at least one came after the lidar was put in work mode 1.
pushes_valid() {  # address
  local a=$1 file stamp working=0
  split_pushes "$a"
  for file in "$scratch/pushes/$a".*; do
    [ -e "$file" ] || return 1
    stamp=$(sed -n 's/^    "local_time_now": \([0-9]*\),$/\1/p' "$file")
    if [ -z "$stamp" ] || [ "$(event_count "$a" "push $stamp")" -ne 1 ]; then
      echo "a push whose local_time_now $a did not send: $file"
      return 2
    fi
    if cmp -s "$file" <(push_json "$a" 1 "$stamp"); then
      working=1
    elif ! cmp -s "$file" <(push_json "$a" 0 "$stamp"); then
      echo "push text differs from the expected one:"
      diff <(push_json "$a" 1 "$stamp") "$file" || true
      return 2
    fi
  done
  [ "$working" -eq 1 ]
}

# A log file the lidar pushed is in the store, finished and with the same bytes.
log_landed() {  # address
  local a=$1 pushed index stored
  for pushed in "$record/$a".log-0-*; do
    [ -e "$pushed" ] || continue
    index=${pushed##*-}
    for stored in "$run"/lidar_log/type_0/*_"${serial[$a]}"_0_"$index".dat; do
      [ -e "$stored" ] && cmp -s "$pushed" "$stored" && return 0
    done
  done
  return 1
}

scenario_session() {
  KESTO_LOG_ENABLE=true KESTO_LOG_PATH=./ KESTO_LOG_CACHE_MB=50 "$E2E_WRITE_CONFIG" "$run/config.json" 127.0.0.1
  # The internal-info query (the only query holding key 0x0006) goes unanswered twice.
  start_sim "${lidar_args[@]}" "${stream_args[@]}" "${points_last[@]}" --silent-first 2:0x0101:0x0006
  start_pump

  local a
  for a in "${addresses[@]}"; do
    local point=(${point_ports[$a]}) imu=(${imu_ports[$a]})
    wait_for "information change line of $a" \
      line_ends_with "LidarInfoChangeCallback Lidar handle: ${handle[$a]} SN: ${serial[$a]:0:15}"
    wait_for "internal-info lines of $a" line_ends_with \
      "Host point cloud ip addr:127.0.0.1, host point cloud port:${point[0]}, lidar point cloud port:${point[1]}."
    wait_for "internal-info IMU line of $a" line_ends_with \
      "Host imu ip addr:127.0.0.1, host imu port:${imu[0]}, lidar imu port:${imu[1]}."
  done
  check_block 1
  for a in "${addresses[@]}"; do
    wait_for "state push of $a in work mode 1" pushes_valid "$a"
    wait_for "log file of $a in the store" log_landed "$a"
    [ "$(event_count "$a" "command 0x0301 answered 0000")" -eq 0 ] || fail "$a was told to stop its log before Ctrl-C"
  done

  interrupt_pump
  interrupt_sim

  for a in "${addresses[@]}"; do
    contains "WorkModeCallack, status:0, handle:${handle[$a]}, ret_code:0, error_key:0" || fail "no work mode line of $a"
    contains "PclDataTypeCallack, status:0, handle:${handle[$a]}, ret_code:0, error_key:0" || fail "no point type line of $a"
    local expected
    for expected in \
      "command 0x0101 answered 010000001080" \
      "command 0x0100 answered ${config_hex[$a]}" \
      "command 0x0100 answered 010000001a00010001" \
      "command 0x0100 answered 010000000000010001" \
      "command 0x0301 answered 0000"; do
      [ "$(event_count "$a" "$expected")" -ge 1 ] || fail "$a did not get: $expected"
    done
    [ "$(event_count "$a" "command 0x0101 silent ${query_keys_hex[$a]}")" -eq 2 ] || fail "$a: internal-info queries left unanswered"
    [ "$(event_count "$a" "command 0x0101 answered ${query_keys_hex[$a]}")" -eq 1 ] || fail "$a: internal-info queries answered"
    events "$a" | grep '^log-reply ' >/dev/null || fail "$a got no reply to its log pushes"
    pushes_valid "$a" || fail "a state push of $a printed wrongly"
  done
  [ "$(occurrences 'Query lidar internal info failed.')" -eq 4 ] || fail "not two failed internal-info queries per lidar"
}

scenario_bad_config() {
  local name reason
  for name in missing empty trailing-comma deep-nesting master-not-boolean no-lidar log-store-unmakeable; do
    rm -rf "$run"
    mkdir -p "$run"
    case $name in
      missing) reason="Parse lidar config failed, can not open json config file!" ;;
      empty) : >"$run/config.json"; reason="Parse lidar config failed, parse the config file has error!" ;;
      trailing-comma)
        printf '{"master_sdk": true,}' >"$run/config.json"
        reason="Parse lidar config failed, parse the config file has error!" ;;
      deep-nesting)
        head -c 1000000 /dev/zero | tr '\0' '[' >"$run/config.json"
        reason="Parse lidar config failed, parse the config file has error!" ;;
      master-not-boolean)
        printf '{"master_sdk": "yes"}' >"$run/config.json"
        reason="set master/slave sdk error" ;;
      no-lidar)
        printf '{"master_sdk": true, "lidar_log_enable": false, "lidar_log_cache_size_MB": 0, "lidar_log_path": "./"}' >"$run/config.json"
        reason="Params check failed, all kesto lidars config is empty." ;;
      log-store-unmakeable)
        KESTO_LOG_ENABLE=true KESTO_LOG_PATH=./no/such/folder/ "$E2E_WRITE_CONFIG" "$run/config.json" 127.0.0.1
        reason="Init logger save path failed" ;;
    esac
    start_pump
    # It must end by itself, without waiting for Ctrl-C.
    wait_end "$pump" "cloudpump with config '$name'"
    [ "$status" -eq 255 ] || fail "config '$name': status $status, not -1"
    [ "$(text | grep -cx 'Kesto Init Failed')" -eq 1 ] || fail "config '$name': no single 'Kesto Init Failed' line"
    contains "$reason" || fail "config '$name': the reason '$reason' is not logged"
    ! contains "Kesto Quick Start Demo End!" || fail "config '$name': the closing line of a started run"
  done
}

scenario_hostile() {
  local unknown=100
  KESTO_LOG_ENABLE=true KESTO_LOG_PATH=./ KESTO_LOG_CACHE_MB=50 "$E2E_WRITE_CONFIG" "$run/config.json" 127.0.0.1
  start_pump
  wait_for "start of the kit" contains "Init kesto lidars succ."
  # Unknown lidars answer discovery; the host takes in those of its two models (ORBIT and VELA
  # come first), which opens its command, data and log ports.
  "$E2E_HOSTILE" discovery 127.0.0.1 "$unknown" >>"$scratch/hostile.out" || fail "hostile sender failed"
  wait_for "an unknown ORBIT lidar taken in" contains "Handle detection data, handle:16843135, dev_type:9,"
  wait_for "an unknown VELA lidar taken in" contains "Handle detection data, handle:33620351, dev_type:10,"
  "$E2E_HOSTILE" storm 127.0.0.1 56000,56001,56002,57001,58001,59001,56101,56201,56301,56401,56501 400 "$unknown" \
    >>"$scratch/hostile.out" || fail "hostile sender failed"
  kill -0 "$pump" 2>/dev/null || fail "cloudpump ended during the storm"
  # Their log files land in the store too, whatever they claim to be called.
  wait_for "log files of the unknown lidars" has_files "$run/lidar_log/type_255/*.dat"

  # Then the real lidars, with a damaged copy before every third datagram.
  start_sim "${lidar_args[@]}" "${stream_args[@]}" "${imu_last[@]}" --malformed-every 3
  check_block 0
  kill -0 "$pump" 2>/dev/null || fail "cloudpump is not running"
  interrupt_pump
  interrupt_sim

  # Nothing but the configuration and the log store in cloudpump's folder, and nothing of it
  # beside that folder.
  local stray
  stray=$(find "$run" -mindepth 1 ! -path "$run/config.json" ! -path "$run/lidar_log" ! -path "$run/lidar_log/*")
  [ -z "$stray" ] || fail "written outside the log store: $stray"
  stray=$(find "$scratch" -mindepth 1 -maxdepth 1 ! -name run ! -name record ! -name console ! -name octave \
    ! -name lidar-sim.out ! -name hostile.out)
  [ -z "$stray" ] || fail "written beside cloudpump's folder: $stray"
  stray=$(find "$run/lidar_log" -mindepth 1 -maxdepth 1 ! -name 'type_*')
  [ -z "$stray" ] || fail "the log store holds more than log type folders: $stray"
}

# Lidars that come and go: the emulator reboots, unplugs or moves a lidar mid-stream while
# cloudpump runs on.
come_and_go_start() {  # lidar-sim arguments...
  "$E2E_WRITE_CONFIG" "$run/config.json" 127.0.0.1
  start_sim "$@" --rate 100 --imu-rate 50
  start_pump
}
lines_starting() { events "$1" | { grep -c "^$2 " || true; }; }  # address, first word
set_ups() { occurrences "LidarInfoChangeCallback Lidar handle: $1 SN: "; }  # handle
at_least() { [ "$("${@:2}")" -ge "$1" ]; }  # count, command printing a number
lost_line() { echo "Lidar ${serial[$1]:0:15} ($1) lost."; }
back_line() { echo "Lidar ${serial[$1]:0:15} ($1) is back."; }
orbit_lidar=(--lidar "orbit@127.0.0.2/${serial[127.0.0.2]}")
vela_lidar=(--lidar "vela@127.0.0.3/${serial[127.0.0.3]}")

# The lidar at `a` was lost once and is back once, set up again, and streams into the block.
expect_return() {  # address
  local a=$1
  wait_for "first set-up of $a" at_least 1 set_ups "${handle[$a]}"
  wait_for "the lost line of $a" contains "$(lost_line "$a")"
  wait_for "the back line of $a" contains "$(back_line "$a")"
  "${wine[@]}" "$E2E_PROBE" --changes 3 || fail "$a: no data in the block within 3 s of its return"
  wait_for "second set-up of $a" at_least 2 set_ups "${handle[$a]}"
}

# Its whole set-up reached the lidar at least `n` times.
expect_set_ups_on_the_wire() {  # address, n
  local a=$1 n=$2 expected
  for expected in \
    "command 0x0101 answered 010000001080" \
    "command 0x0100 answered ${config_hex[$a]}" \
    "command 0x0100 answered 010000001a00010001" \
    "command 0x0101 answered ${query_keys_hex[$a]}"; do
    wait_for "$a getting '$expected' $n times" at_least "$n" event_count "$a" "$expected"
  done
}

# One lidar goes away and comes back: lost once, back once, set up twice on the wire.
# A session of two lidars with bounded streams, recorded by cloudpump into $run/$1.
recorded_session() {  # file name, more cloudpump arguments...
  "$E2E_WRITE_CONFIG" "$run/config.json" 127.0.0.1
  start_sim "${lidar_args[@]}" --count 100 --rate 50 --imu-rate 200
  start_pump --record "$@"
  wait_for "last packets of both lidars" \
    test -f "$record/127.0.0.2.point" -a -f "$record/127.0.0.2.imu" -a -f "$record/127.0.0.3.point" -a -f "$record/127.0.0.3.imu"
  interrupt_pump
  interrupt_sim
}

# tshark's fields of every packet of a capture, tab-separated; any complaint of tshark fails.
tshark_fields() {  # file, fields...
  local file=$1 args=() f
  shift
  for f; do args+=(-e "$f"); done
  "$E2E_TSHARK" -r "$file" -T fields "${args[@]}" >"$scratch/tshark.out" 2>"$scratch/tshark.err" ||
    fail "tshark cannot read $file: $(cat "$scratch/tshark.err")"
  ! grep -v '^Running as user' "$scratch/tshark.err" | grep . >/dev/null ||
    fail "tshark complains about $file: $(cat "$scratch/tshark.err")"
  cat "$scratch/tshark.out"
}
hex_of() { od -An -v -tx1 "$1" | tr -d ' \n'; }

# Recording: tshark finds every datagram cloudpump counted, each stream whole from and to the
# right addresses and ports, the discovery both ways, and each stream's last packet byte for byte.
scenario_record() {
  local before after
  before=$(date +%s)
  recorded_session rec.pcapng
  after=$(date +%s)
  local recorded
  recorded=$(text | sed -n 's/^Recorded \([0-9]*\) datagrams to rec\.pcapng, dropped 0\.$/\1/p')
  [ -n "$recorded" ] || fail "no line of what was recorded, or datagrams dropped"
  tshark_fields "$run/rec.pcapng" frame.time_epoch ip.src udp.srcport ip.dst udp.dstport udp.payload \
    >"$scratch/fields"
  [ "$(wc -l <"$scratch/fields")" -eq "$recorded" ] || fail "tshark reads $(wc -l <"$scratch/fields") of $recorded datagrams"
  awk -v lo="$before" -v hi="$((after + 1))" '$1 < lo || $1 > hi { bad = 1 } END { exit bad }' "$scratch/fields" ||
    fail "time stamps outside the run"
  tuple_count() { awk -v t="$1" '$2 "\t" $3 "\t" $4 "\t" $5 == t' "$scratch/fields" | wc -l; }
  [ "$(tuple_count "127.0.0.1	56000	255.255.255.255	56000")" -ge 1 ] || fail "no discovery broadcast"
  local a stream
  for a in "${addresses[@]}"; do
    [ "$(tuple_count "$a	56000	127.0.0.1	56000")" -ge 1 ] || fail "no discovery reply of $a"
    for stream in point imu; do
      local ports
      if [ $stream = point ]; then ports=(${point_ports[$a]}); else ports=(${imu_ports[$a]}); fi
      local tuple="$a	${ports[1]}	127.0.0.1	${ports[0]}"
      [ "$(tuple_count "$tuple")" -eq 100 ] || fail "$(tuple_count "$tuple") of 100 $stream packets of $a"
      [ "$(awk -v t="$tuple" '$2 "\t" $3 "\t" $4 "\t" $5 == t { last = $6 } END { print last }' "$scratch/fields")" = \
        "$(hex_of "$record/$a.$stream")" ] || fail "the last $stream packet of $a differs"
    done
  done
}

# The data packets of a capture, one line per packet: the lidar-side source port (one per stream
# here) and the payload, in capture order.
data_ports() {  # the lidar-side ports of the streams, one per line
  local a
  for a in "${addresses[@]}"; do
    echo "${point_ports[$a]#* }"
    echo "${imu_ports[$a]#* }"
  done
}
data_packets() {  # capture file
  tshark_fields "$1" udp.srcport udp.payload | awk -v list="$(data_ports | tr '\n' ' ')" '
    BEGIN { n = split(list, p, " "); for (i = 1; i <= n; i++) data[p[i]] = 1 }
    $1 in data { print $1, $2 }'
}

# Replays a capture through lidar-sim into cloudpump, which records it as $run/$2; returns once
# every stream of the capture was sent (lidar-sim's status lines) and cloudpump stopped.
replay_and_record() {  # capture, recording file name
  "$E2E_WRITE_CONFIG" "$run/config.json" 127.0.0.1
  start_sim --replay "$1" --status-every 1
  start_pump --record "$2"
  wait_for "the whole replay" replayed_all "$(data_packets "$1" | wc -l)"
  interrupt_pump
  interrupt_sim
}
# Whether the replaying lidars sent this many point and IMU packets in all, by the last status
# line of each lidar.
replayed_all() {  # data packets
  local a sent=0 line
  for a in "${addresses[@]}"; do
    line=$(grep -E "^$a " "$scratch/lidar-sim.out" | tail -n 1)
    sent=$((sent + $(echo "$line" | sed -n 's/.* points \([0-9]*\) imu \([0-9]*\) .*/\1 + \2/p' || true) + 0))
  done
  [ "$sent" -eq "$1" ] || return 1
}

# Record, replay, record again: the second recording holds the same data packets as the first,
# byte for byte, in the same order in each stream.
scenario_replay() {
  recorded_session first.pcapng
  data_packets "$run/first.pcapng" >"$scratch/first"
  [ "$(wc -l <"$scratch/first")" -eq 400 ] || fail "the first recording holds $(wc -l <"$scratch/first") of 400 data packets"
  mv "$run/first.pcapng" "$scratch/first.pcapng"
  rm -f "$record"/*
  replay_and_record "$scratch/first.pcapng" second.pcapng
  data_packets "$run/second.pcapng" >"$scratch/second"
  local s
  for s in $(cut -d' ' -f1 "$scratch/first" | sort -u); do
    cmp -s <(awk -v s="$s" '$1 == s' "$scratch/first") <(awk -v s="$s" '$1 == s' "$scratch/second") ||
      fail "the stream from port $s differs between the recording and its replay"
  done
  cmp -s <(sort "$scratch/first") <(sort "$scratch/second") || fail "the replay holds other data packets"
}

listening() { grep -F "listening on lo" "$1" >/dev/null 2>&1 || return 1; }

# A capture of the loopback made by tcpdump while cloudpump served the lidars replays, and
# cloudpump's recording of the replay holds its data packets. tcpdump may miss a packet on a
# busy machine: the replay must give back what it caught, whatever that is.
scenario_tcpdump() {
  "$E2E_WRITE_CONFIG" "$run/config.json" 127.0.0.1
  "$E2E_TCPDUMP" -i lo --immediate-mode -U -w "$scratch/tcpdump.pcap" udp >"$scratch/tcpdump.out" 2>&1 &
  local dump=$!
  wait_for "tcpdump listening" listening "$scratch/tcpdump.out"
  start_sim "${lidar_args[@]}" --count 100 --rate 50 --imu-rate 200
  start_pump
  wait_for "last packets of both lidars" \
    test -f "$record/127.0.0.2.point" -a -f "$record/127.0.0.2.imu" -a -f "$record/127.0.0.3.point" -a -f "$record/127.0.0.3.imu"
  interrupt_pump
  interrupt_sim
  kill -INT "$dump"
  wait_end "$dump" tcpdump
  data_packets "$scratch/tcpdump.pcap" >"$scratch/dumped"
  local port
  for port in $(data_ports); do
    [ "$(awk -v p="$port" '$1 == p' "$scratch/dumped" | wc -l)" -ge 1 ] || fail "tcpdump caught no packet from port $port"
  done
  rm -f "$record"/*
  replay_and_record "$scratch/tcpdump.pcap" replayed.pcapng
  data_packets "$run/replayed.pcapng" >"$scratch/replayed"
  cmp -s <(sort "$scratch/dumped") <(sort "$scratch/replayed") || fail "the replay of tcpdump's capture holds other data packets"
}

scenario_return() {  # address, lidar-sim arguments...
  local a=$1
  shift
  come_and_go_start "$@"
  expect_return "$a"
  expect_set_ups_on_the_wire "$a" 2
  interrupt_pump
  interrupt_sim
  [ "$(occurrences "$(lost_line "$a")")" -eq 1 ] || fail "not one lost line"
  [ "$(occurrences "$(back_line "$a")")" -eq 1 ] || fail "not one back line"
}
scenario_reboot() { scenario_return 127.0.0.2 "${orbit_lidar[@]}" --reboot 0:6:4; }
scenario_unplug() { scenario_return 127.0.0.3 "${vela_lidar[@]}" --drop 0:6:5; }

scenario_move() {
  local moved=127.0.0.12 moved_handle=201326719  # 127.0.0.12 in network byte order
  come_and_go_start "${orbit_lidar[@]}" --move 0:6:$moved:1
  wait_for "first set-up" at_least 1 set_ups "${handle[127.0.0.2]}"
  wait_for "the set-up at the new address" at_least 1 set_ups "$moved_handle"
  "${wine[@]}" "$E2E_PROBE" --changes 3 || fail "no data in the block from the new address"
  wait_for "the old address lost" contains "$(lost_line 127.0.0.2)"
  interrupt_pump
  interrupt_sim
  ! contains "$(back_line 127.0.0.2)" || fail "the old address came back"
  [ "$(set_ups "${handle[127.0.0.2]}")" -eq 1 ] || fail "the old address was set up again"
}

scenario_two_lidars() {
  come_and_go_start "${orbit_lidar[@]}" "${vela_lidar[@]}" --reboot 0:6:4
  wait_for "first set-up of 127.0.0.3" at_least 1 set_ups "${handle[127.0.0.3]}"
  expect_return 127.0.0.2
  interrupt_pump
  interrupt_sim
  ! contains "$(lost_line 127.0.0.3)" || fail "the lidar that stayed was reported lost"
  [ "$(set_ups "${handle[127.0.0.3]}")" -eq 1 ] || fail "the lidar that stayed was set up again"
  [ "$(event_count 127.0.0.3 "command 0x0100 answered ${config_hex[127.0.0.3]}")" -eq 1 ] ||
    fail "the lidar that stayed was configured again"
}

scenario_slow() {
  # Silent for 1.5 s every 3 s: one or two discovery periods missed each time, never three.
  come_and_go_start "${vela_lidar[@]}" --drop-every 0:3:1.5
  wait_for "first set-up" at_least 1 set_ups "${handle[127.0.0.3]}"
  wait_for "four silences" at_least 4 lines_starting 127.0.0.3 up
  interrupt_pump
  interrupt_sim
  ! contains "$(lost_line 127.0.0.3)" || fail "a lidar that missed at most two periods was lost"
  [ "$(set_ups "${handle[127.0.0.3]}")" -eq 1 ] || fail "set up again"
}

case $scenario in
  session) scenario_session ;;
  bad-config) scenario_bad_config ;;
  hostile) scenario_hostile ;;
  reboot) scenario_reboot ;;
  unplug) scenario_unplug ;;
  move) scenario_move ;;
  two-lidars) scenario_two_lidars ;;
  slow) scenario_slow ;;
  record) scenario_record ;;
  replay) scenario_replay ;;
  tcpdump) scenario_tcpdump ;;
  *) echo "usage: $0 session|bad-config|hostile|reboot|unplug|move|two-lidars|slow|record|replay|tcpdump" >&2; exit 2 ;;
esac
passed=yes
echo "cloudpump_e2e $scenario: passed"
