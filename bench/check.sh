#!/usr/bin/env bash
# The coverage check of a task of a million tiles on tmpfs against find listing
# the same tile folder with every file's size (the floor of any tool that looks
# at each file), in interleaved rounds; the check's peak memory; and with
# --decode, tiles per second against djpeg decoding the same files one after
# another (as it is, and scaled to 1/8 with the fast transform, as the check
# decodes).
# Usage: bench/check.sh [TILES] [DECODED_TILES] [ROUNDS]   (default 1000000 10000 5)
# Needs: libjpeg-turbo-progs (cjpeg, djpeg), time, bc (Debian packages), /dev/shm.
set -euo pipefail
source "$(dirname "$0")/common.sh"
tiles=${1:-1000000}
decoded=${2:-10000}
rounds=${3:-5}
work_folder check
noise_sources
# The task is the nearest rectangle to the count asked for: count what it holds.
tiles=$("$build/bench/meridane_link_tiles" "$tiles" "$work/big" "$work"/source*.jpg | cut -d' ' -f2)
decoded=$("$build/bench/meridane_link_tiles" "$decoded" "$work/small" "$work"/source*.jpg | cut -d' ' -f2)
cli=$build/meridane-cli

run_find() {
  local start counted
  start=$(now)
  counted=$(find "$work/big/bench" -type f -printf '%s\n' | wc -l)
  [ "$counted" -eq "$tiles" ] || { echo "find counted $counted" >&2; exit 1; }
  find_s=$(elapsed "$start")
}
run_check() {
  local start
  start=$(now)
  "$cli" --check "$work/big/bench.mrd" --no-progress >"$work/check.out"
  check_s=$(elapsed "$start")
}

echo "tiles $tiles on $(nproc) processors, load $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-6s %-8s %-8s %-6s\n' round find_s check_s ratio
total_find=0 total_check=0
for round in $(seq "$rounds"); do
  # Each goes first in every other round: neither always finds the caches warm.
  if ((round % 2)); then run_find; run_check; else run_check; run_find; fi
  printf '%-6s %-8.3f %-8.3f %-6.2f\n' "$round" "$find_s" "$check_s" "$(echo "$check_s / $find_s" | bc -l)"
  total_find=$(echo "$total_find + $find_s" | bc -l)
  total_check=$(echo "$total_check + $check_s" | bc -l)
done
printf 'all    %-8.3f %-8.3f %-6.2f  (check %.0f tiles/s, find %.0f files/s)\n' "$total_find" "$total_check" \
  "$(echo "$total_check / $total_find" | bc -l)" "$(echo "$tiles * $rounds / $total_check" | bc -l)" \
  "$(echo "$tiles * $rounds / $total_find" | bc -l)"
tail -1 "$work/check.out"

peak() { /usr/bin/time -v "$@" 2>&1 >/dev/null | awk -F: '/Maximum resident/ {printf "%.1f", $2 / 1024}'; }
echo "peak memory MiB: check $(peak "$cli" --check "$work/big/bench.mrd" --no-progress)," \
  "find $(peak find "$work/big/bench" -type f -printf '%s\n')"

echo "decoding $decoded tiles:"
start=$(now)
"$cli" --check "$work/small/bench.mrd" --decode --no-progress | tail -1
check_s=$(elapsed "$start")
start=$(now)
for file in "$work"/small/bench/*; do djpeg "$file" >/dev/null; done
djpeg_s=$(elapsed "$start")
start=$(now)
for file in "$work"/small/bench/*; do djpeg -dct fast -scale 1/8 "$file" >/dev/null; done
scaled_s=$(elapsed "$start")
printf 'check --decode %.0f tiles/s, djpeg %.0f tiles/s, djpeg -dct fast -scale 1/8 %.0f tiles/s\n' \
  "$(echo "$decoded / $check_s" | bc -l)" "$(echo "$decoded / $djpeg_s" | bc -l)" "$(echo "$decoded / $scaled_s" | bc -l)"
