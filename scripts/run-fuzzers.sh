#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for a bounded time each, starting from its committed
# seed corpus (copied, so the source tree is not written). Fails on the first finding, and when
# there is no target to run or a listed target was not built: a fuzz stage that ran nothing
# must not pass.
# Usage: scripts/run-fuzzers.sh BUILD_FUZZ_DIR SECONDS
set -euo pipefail
dir=$(cd "$1" && pwd)  # absolute: each target runs from its own work folder
seconds=${2:-60}
list="$dir/targets.txt"
[ -s "$list" ] || { echo "no fuzz targets: $list is missing or empty" >&2; exit 1; }
ran=0
while read -r name corpus; do
  [ -n "$name" ] || continue
  bin=$(find "$dir" -type f -name "$name" -perm -u+x | head -n 1)
  [ -n "$bin" ] || { echo "fuzz target $name is listed but not built in $dir" >&2; exit 1; }
  work=$(mktemp -d)
  [ -d "$corpus" ] && cp -r "$corpus/." "$work/"
  echo "--- $name for ${seconds}s"
  if ! (cd "$work" && "$bin" -max_total_time="$seconds" "$work" >"$work.log" 2>&1); then
    tail -n 40 "$work.log"
    echo "fuzz target $name found a fault; the input is in $work"
    exit 1
  fi
  grep -E '^#[0-9]+.*DONE' "$work.log" | tail -n 1 || tail -n 2 "$work.log"
  rm -f "$work.log"
  rm -rf "$work"
  ran=$((ran + 1))
done < "$list"
[ "$ran" -gt 0 ] || { echo "no fuzz targets: $list names none" >&2; exit 1; }
echo "$ran fuzz targets ran for ${seconds}s each"
