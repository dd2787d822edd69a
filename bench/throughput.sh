#!/usr/bin/env bash
# Tiles per second from a local nginx: our engine (8 workers, no pause) against
# aria2c -j8 and curl --parallel (8), with two ceilings: wrk over 8 connections
# (no files written) and the rate at which the target disk creates as many small
# files (plainly, and through a temporary file and a rename as our tiles are).
# Usage: bench/throughput.sh TARGET_FOLDER [PORT]
# COMPARE_BUILD_DIR=DIR also runs DIR's engine in every round, first in every
# other round: a change measured against the build before it, in one run.
# Needs: nginx-light aria2 curl wrk (Debian packages).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/bench/nginx.sh"
build=${MERIDANE_BUILD_DIR:-$root/build}
compare=${COMPARE_BUILD_DIR:-}
target=${1:?usage: $0 TARGET_FOLDER [PORT]}
port=${2:-18580}
zoom=12 x0=1000 x1=1049 y0=1500 y1=1539   # 50 x 40 = 2000 tiles
state=$(mktemp -d "${TMPDIR:-/tmp}/meridane-throughput.XXXXXX")
mkdir -p "$target"
work=$(mktemp -d "$target/run.XXXXXX")

cleanup() {
  stop_nginx "$state"
  rm -rf "$state" "$work"
}
trap cleanup EXIT

# Tiles: a JPEG header and 10-25 KB of random bytes each.
for ((x = x0; x <= x1; x++)); do
  mkdir -p "$state/www/$zoom/$x"
  for ((y = y0; y <= y1; y++)); do
    { printf '\xff\xd8\xff\xe0'; head -c $((10240 + RANDOM % 15360)) /dev/urandom; } >"$state/www/$zoom/$x/$y.jpg"
  done
done

start_nginx "$state" "$port"
for _ in $(seq 50); do curl -sf -o /dev/null "http://127.0.0.1:$port/$zoom/$x0/$y0.jpg" && break; sleep 0.1; done

base="http://127.0.0.1:$port"
: >"$state/aria2.txt"; : >"$state/curl.cfg"; : >"$state/paths.txt"
for ((x = x0; x <= x1; x++)); do
  for ((y = y0; y <= y1; y++)); do
    printf '%s/%d/%d/%d.jpg\n  out=gs_%d_%d_%d.jpg\n' "$base" $zoom $x $y $x $y $zoom >>"$state/aria2.txt"
    printf 'url = "%s/%d/%d/%d.jpg"\noutput = "gs_%d_%d_%d.jpg"\n' "$base" $zoom $x $y $x $y $zoom >>"$state/curl.cfg"
    printf '/%d/%d/%d.jpg\n' $zoom $x $y >>"$state/paths.txt"
  done
done
tiles=$(( (x1 - x0 + 1) * (y1 - y0 + 1) ))

now() { date +%s.%N; }
rate() { echo "$tiles / ($2 - $1)" | bc -l | xargs printf '%.0f'; }
# Every measurement writes into a folder of its own, removed only at the end:
# on ext4 new files are slower to create right after many were deleted.
fresh() { out="$work/$1"; mkdir -p "$out"; sync; }

cat >"$state/paths.lua" <<LUA
local paths = {}
for line in io.lines("$state/paths.txt") do paths[#paths + 1] = line end
local i = 0
request = function()
  i = i % #paths + 1
  return wrk.format("GET", paths[i])
end
LUA

rounds=${ROUNDS:-3}
declare -a R_ours R_compare R_aria2 R_curl R_wrk R_plain R_atomic R_rename
engine() { "$1/bench/meridane_fetch" "127.0.0.1:$port" $zoom $x0 $x1 $y0 $y1 "$out" 8 | awk '{print $8}'; }
for ((round = 1; round <= rounds; round++)); do
  if [ -n "$compare" ] && ((round % 2 == 0)); then fresh "compare$round"; R_compare+=("$(engine "$compare")"); fi
  fresh "ours$round"
  R_ours+=("$(engine "$build")")
  if [ -n "$compare" ] && ((round % 2 == 1)); then fresh "compare$round"; R_compare+=("$(engine "$compare")"); fi
  fresh "aria2$round"; s=$(now)
  aria2c -q -j8 --dir="$out" --input-file="$state/aria2.txt" --allow-overwrite=true --auto-file-renaming=false
  R_aria2+=("$(rate "$s" "$(now)")")
  fresh "curl$round"; s=$(now)
  (cd "$out" && curl -s --parallel --parallel-immediate --parallel-max 8 -K "$state/curl.cfg")
  R_curl+=("$(rate "$s" "$(now)")")
  R_wrk+=("$(wrk -t2 -c8 -d3s -s "$state/paths.lua" "$base" | awk '/Requests\/sec/ {printf "%.0f", $2}')")
  fresh "plain$round"
  R_plain+=("$("$build/bench/meridane_create_files" "$out" $tiles | awk '{print $6}')")
  fresh "atomic$round"
  R_atomic+=("$("$build/bench/meridane_create_files" "$out" $tiles atomic | awk '{print $6}')")
  fresh "rename$round"
  R_rename+=("$("$build/bench/meridane_create_files" "$out" $tiles rename | awk '{print $6}')")
done
ours=$(median "${R_ours[@]}"); aria2=$(median "${R_aria2[@]}"); curlrate=$(median "${R_curl[@]}")
wrkrate=$(median "${R_wrk[@]}"); plain=$(median "${R_plain[@]}"); atomic=$(median "${R_atomic[@]}")
renamed=$(median "${R_rename[@]}")

best=$(( aria2 > curlrate ? aria2 : curlrate ))
ceiling=$(( wrkrate < plain ? wrkrate : plain ))
printf 'target %s (%s), %d tiles, median of %d rounds\n' "$target" "$(df --output=fstype "$target" | tail -1)" $tiles $rounds
printf '%-34s %8s\n' "meridane, 8 workers" "$ours" "aria2c -j8" "$aria2" "curl --parallel-max 8" "$curlrate" \
  "ceiling: wrk -c8 (no files)" "$wrkrate" "ceiling: file creation" "$plain" "file creation, atomic (ours)" "$atomic" \
  "file creation, temporary + rename" "$renamed"
if [ -n "$compare" ]; then
  other=$(median "${R_compare[@]}")
  printf '%-34s %8s\n' "meridane of $compare" "$other"
  printf 'meridane / meridane of %s: %.2f\n' "$compare" "$(echo "$ours / $other" | bc -l)"
fi
printf 'meridane / best of aria2c and curl: %.2f\n' "$(echo "$ours / $best" | bc -l)"
printf 'meridane / lower ceiling: %.2f\n' "$(echo "$ours / $ceiling" | bc -l)"
