#!/usr/bin/env bash
# Writes a config.json for cloudpump with one section per lidar model: the lidar-side ports of
# that model (those of the emulated lidars, tools/lidar_sim/model_ports.h; the ORBIT ones are
# fixed) and host-side ports of its own on the given host address. Every lidar of a model that
# answers discovery is configured from its section.
# Usage: scripts/write-config.sh OUTPUT [HOST_ADDRESS]     (default host address 127.0.0.1)
# Environment: KESTO_LOG_ENABLE (true or false, default false), KESTO_LOG_PATH (default ./),
#              KESTO_LOG_CACHE_MB (default 500): the capture of the lidars' log files.
set -euo pipefail

[ $# -ge 1 ] && [ $# -le 2 ] || { sed -n '2,8p' "$0" >&2; exit 2; }
out=$1
host=${2:-127.0.0.1}
log_enable=${KESTO_LOG_ENABLE:-false}
log_cache=${KESTO_LOG_CACHE_MB:-500}
log_path=${KESTO_LOG_PATH:-./}

case $log_enable in true|false) ;; *) echo "KESTO_LOG_ENABLE must be true or false" >&2; exit 2 ;; esac
case $log_cache in ''|*[!0-9]*) echo "KESTO_LOG_CACHE_MB must be a whole number" >&2; exit 2 ;; esac
case $host in *[!0-9.]*|'') echo "host address must be a dotted IPv4 address: $host" >&2; exit 2 ;; esac

json_text() {  # a JSON string literal: backslashes and quotes escaped
  local s=${1//\\/\\\\}
  printf '"%s"' "${s//\"/\\\"}"
}

ports() {  # cmd push point imu log
  printf '"cmd_data_port": %s, "push_msg_port": %s, "point_data_port": %s, "imu_data_port": %s, "log_data_port": %s' "$@"
}

section() {  # name, text after the section ("," or ""), lidar ports (5), host ports (5)
  local name=$1 after=$2; shift 2
  cat <<JSON
  "$name": {
    "lidar_net_info": { $(ports "$1" "$2" "$3" "$4" "$5") },
    "host_net_info": { "host_ip": "$host", $(ports "$6" "$7" "$8" "$9" "${10}") }
  }$after
JSON
}

tmp="$out.tmp.$$"
{
  echo "{"
  echo "  \"master_sdk\": true,"
  echo "  \"lidar_log_enable\": $log_enable,"
  echo "  \"lidar_log_cache_size_MB\": $log_cache,"
  echo "  \"lidar_log_path\": $(json_text "$log_path"),"
  # VELA takes commands and sends its state pushes on one port.
  section VELA , 56000 56000 57000 58000 59000  56001 56002 57001 58001 59001
  section ORBIT '' 56100 56200 56300 56400 56500  56101 56201 56301 56401 56501
  echo "}"
} >"$tmp"
mv "$tmp" "$out"
