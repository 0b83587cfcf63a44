#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for a bounded time each, starting from its committed
# seed corpus (copied, so the source tree is not written). Fails on the first finding.
# Usage: scripts/run-fuzzers.sh BUILD_FUZZ_DIR SECONDS
set -euo pipefail
dir=$(cd "$1" && pwd)  # absolute: each target runs from its own work folder
seconds=${2:-60}
list="$dir/targets.txt"
[ -s "$list" ] || { echo "no fuzz targets"; exit 0; }
while read -r name corpus; do
  [ -n "$name" ] || continue
  work=$(mktemp -d)
  [ -d "$corpus" ] && cp -r "$corpus/." "$work/"
  bin=$(find "$dir" -type f -name "$name" -perm -u+x | head -n 1)
  echo "--- $name for ${seconds}s"
  if ! (cd "$work" && "$bin" -max_total_time="$seconds" "$work" >"$work.log" 2>&1); then
    tail -n 40 "$work.log"
    echo "fuzz target $name found a fault; the input is in $work"
    exit 1
  fi
  grep -E '^#[0-9]+.*DONE' "$work.log" | tail -n 1 || tail -n 2 "$work.log"
  rm -f "$work.log"
  rm -rf "$work"
done < "$list"
