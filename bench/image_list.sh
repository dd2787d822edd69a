#!/usr/bin/env bash
# Image-list writing against the disk's own speed: for each tile count, the
# time and peak memory of writing the list, and dd writing the same number of
# bytes into the same folder (the ceiling).
# Usage: bench/image_list.sh [FOLDER] [TILES...]   (default: build/bench-out, 1000000 20000000)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${MERIDANE_BUILD_DIR:-$root/build}
folder=${1:-$build/bench-out}
shift || true
counts=("${@:-1000000 20000000}")
mkdir -p "$folder"
trap 'rm -rf "$folder/bench" "$folder/bench_list.txt" "$folder/dd.out"' EXIT

printf '%-10s %-12s %-10s %-12s %-10s %-8s\n' tiles bytes list_s peak_MiB dd_s ratio
for tiles in ${counts[*]}; do
  rm -f "$folder/bench_list.txt"
  sync
  out=$(/usr/bin/time -v "$build/bench/meridane_write_list" "$tiles" "$folder" 2>"$folder/time.txt")
  bytes=$(awk '{print $4}' <<<"$out")
  seconds=$(awk '{print $6}' <<<"$out")
  peak=$(awk -F: '/Maximum resident/ {printf "%.1f", $2/1024}' "$folder/time.txt")
  rm -f "$folder/bench_list.txt" "$folder/time.txt"
  sync
  start=$(date +%s.%N)
  dd if=/dev/zero of="$folder/dd.out" bs=1M count=$((bytes / 1048576)) status=none
  dd_s=$(echo "$(date +%s.%N) - $start" | bc -l)
  rm -f "$folder/dd.out"
  printf '%-10s %-12s %-10s %-12s %-10.3f %-8.2f\n' "$tiles" "$bytes" "$seconds" "$peak" "$dd_s" "$(echo "$seconds / $dd_s" | bc -l)"
done
