#!/usr/bin/env bash
# meridane-cli end to end against curl, on one local nginx, in one run:
#   - tasks of 2,000 and 20,000 tiles of 10-25 KB: wall time, tiles per second,
#     CPU time per tile and peak memory of meridane-cli (8 threads, no pause)
#     and of curl --parallel --parallel-max 8 fetching the same URLs;
#   - a task of 1,000,000 small tiles: peak memory of meridane-cli;
#   - the resume of a finished task whose log has 20,000,000 lines: time and
#     peak memory, and what the log gained.
# Usage: bench/scale.sh TARGET_FOLDER [PORT]   (TARGET_FOLDER: where tiles go; a
# tmpfs keeps the disk out of the figures. The 1,000,000 files need about 5 GB
# there; SKIP_MILLION=1 leaves that task out.)
# Needs: nginx-light curl time bc (Debian packages) and a built build/meridane-cli.
# COMPARE_BUILD_DIR=DIR also runs DIR's meridane-cli in every round of the two
# tasks, first in every other round, and once on the million tiles: a change
# measured against the build before it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/bench/nginx.sh"
build=${MERIDANE_BUILD_DIR:-$root/build}
cli=$build/meridane-cli
compare=${COMPARE_BUILD_DIR:-}
target=${1:?usage: $0 TARGET_FOLDER [PORT]}
port=${2:-18581}
rounds=${ROUNDS:-3}
state=$(mktemp -d "${TMPDIR:-/tmp}/meridane-scale.XXXXXX")
mkdir -p "$target"
work=$(mktemp -d "$target/run.XXXXXX")

cleanup() {
  stop_nginx "$state"
  [ -n "${KEEP:-}" ] || rm -rf "$state" "$work"
}
trap cleanup EXIT

# Zoom 12: tiles of 10-25 KB (a JPEG header and random bytes). Zoom 14: one
# small tile for every address, for the task of a million tiles.
perl -e '
  my ($www) = @ARGV; srand(12);
  for my $x (1000 .. 1199) {
    mkdir "$www/12/$x" or die;
    for my $y (1500 .. 1599) {
      open(my $f, ">", "$www/12/$x/$y.jpg") or die;
      print $f "\xff\xd8\xff\xe0", join("", map { chr(int(rand(256))) } 1 .. 10240 + int(rand(15360)));
    }
  }' "$(mkdir -p "$state/www/12" && echo "$state/www")"
printf '\xff\xd8\xff\xe0small tile\xff\xd9' >"$state/www/small.jpg"

start_nginx "$state" "$port" 'location /14/ { try_files /small.jpg =404; }'
base="http://127.0.0.1:$port"
for _ in $(seq 50); do curl -sf -o /dev/null "$base/12/1000/1500.jpg" && break; sleep 0.1; done

host="127.0.0.1:$port"
printf '[Servers]\r\nHost0=%s\r\nHost1=%s\r\nHost2=%s\r\nHost3=%s\r\nUrlTemplate=http://{host}/{z}/{x}/{y}.jpg\r\n[Download]\r\nTilePause=0\r\n' \
  "$host" "$host" "$host" "$host" >"$state/config.ini"

# The degrees of a tile's centre, for the command line.
lon() { awk -v x="$1" -v z="$2" 'BEGIN { printf "%.10f", (x + 0.5) / 2^z * 360 - 180 }'; }
lat() {
  awk -v y="$1" -v z="$2" 'BEGIN { n = 3.14159265358979 * (1 - 2 * (y + 0.5) / 2^z);
    printf "%.10f", atan2((exp(n) - exp(-n)) / 2, 1) * 180 / 3.14159265358979 }'
}
# meridane-cli ARGS for the tiles x0..x1, y0..y1 at zoom z.
area() { echo --left "$(lon "$1" "$5")" --right "$(lon "$2" "$5")" --top "$(lat "$3" "$5")" \
  --bottom "$(lat "$4" "$5")" --zoom "$5"; }

measure() {  # OUTPUT_FILE COMMAND...: wall seconds, CPU seconds, peak KiB
  local out=$1; shift
  /usr/bin/time -f '%e %U %S %M' -o "$out" "$@" >/dev/null 2>"$out.err" || {
    echo "failed: $* (see below)" >&2; cat "$out.err" >&2; exit 1; }
}
# Every run writes into a folder of its own, removed only at the end.
fresh() { out="$work/$1"; mkdir -p "$out"; }

e2e() {  # COLUMNS ROWS: median figures for both tools
  local cols=$1 rows=$2 tiles=$(($1 * $2)) x1=$((1000 + $1 - 1)) y1=$((1500 + $2 - 1))
  local args; args=$(area 1000 $x1 1500 $y1 12)
  # shellcheck disable=SC2086
  local count; count=$("$cli" --config "$state/config.ini" $args --count | awk -F': ' '/Total/ {print $2}')
  [ "$count" = "$tiles" ] || { echo "the area gives $count tiles, not $tiles" >&2; exit 1; }
  : >"$state/curl.cfg"
  for ((x = 1000; x <= x1; x++)); do
    for ((y = 1500; y <= y1; y++)); do
      printf 'url = "%s/12/%d/%d.jpg"\noutput = "gs_%d_%d_12.jpg"\n' "$base" $x $y $x $y
    done
  done >"$state/curl.cfg"
  local -a ours_t ours_c ours_m curl_t curl_c curl_m other_t other_c other_m
  run_task() {  # NAME CLI: one run of the task; its figures go to NAME_t, NAME_c and NAME_m
    local -n times=$1_t cpu=$1_c memory=$1_m
    local wall user sys peak
    fresh "$1$tiles.$round"
    # shellcheck disable=SC2086
    measure "$state/$1" "$2" --config "$state/config.ini" $args --threads 8 --folder "$out" --progress
    [ "$(find "$out" -name 'gs_*.jpg' | wc -l)" = "$tiles" ] || { echo "$2 left tiles out" >&2; exit 1; }
    read -r wall user sys peak <"$state/$1"
    times+=("$wall"); cpu+=("$(echo "($user + $sys) * 1000000 / $tiles" | bc -l)"); memory+=("$peak")
  }
  for ((round = 1; round <= rounds; round++)); do
    if [ -n "$compare" ] && ((round % 2 == 0)); then run_task other "$compare/meridane-cli"; fi
    run_task ours "$cli"
    if [ -n "$compare" ] && ((round % 2 == 1)); then run_task other "$compare/meridane-cli"; fi
    fresh "curl$tiles.$round"
    measure "$state/curl" bash -c "cd '$out' && exec curl -s --parallel --parallel-immediate --parallel-max 8 -K '$state/curl.cfg'"
    read -r wall user sys peak <"$state/curl"
    curl_t+=("$wall"); curl_c+=("$(echo "($user + $sys) * 1000000 / $tiles" | bc -l)"); curl_m+=("$peak")
  done
  local ot oc om ct cc cm
  ot=$(median "${ours_t[@]}"); oc=$(median "${ours_c[@]}"); om=$(median "${ours_m[@]}")
  ct=$(median "${curl_t[@]}"); cc=$(median "${curl_c[@]}"); cm=$(median "${curl_m[@]}")
  printf '%-8s %-14s %8.2f %10.0f %12.1f %10.1f\n' "$tiles" "meridane-cli" "$ot" "$(echo "$tiles / $ot" | bc -l)" \
    "$oc" "$(echo "$om / 1024" | bc -l)"
  printf '%-8s %-14s %8.2f %10.0f %12.1f %10.1f\n' "$tiles" "curl" "$ct" "$(echo "$tiles / $ct" | bc -l)" \
    "$cc" "$(echo "$cm / 1024" | bc -l)"
  printf '%-8s meridane / curl: speed %.2f, CPU per tile %.2f\n' "$tiles" "$(echo "$ct / $ot" | bc -l)" \
    "$(echo "$oc / $cc" | bc -l)"
  if [ -n "$compare" ]; then
    local pt pc pm
    pt=$(median "${other_t[@]}"); pc=$(median "${other_c[@]}"); pm=$(median "${other_m[@]}")
    printf '%-8s %-14s %8.2f %10.0f %12.1f %10.1f   (%s)\n' "$tiles" "meridane-cli" "$pt" \
      "$(echo "$tiles / $pt" | bc -l)" "$pc" "$(echo "$pm / 1024" | bc -l)" "$compare"
    printf '%-8s meridane / meridane of %s: speed %.2f, CPU per tile %.2f\n' "$tiles" "$compare" \
      "$(echo "$pt / $ot" | bc -l)" "$(echo "$oc / $pc" | bc -l)"
  fi
}

printf 'target %s (%s), median of %d rounds\n' "$target" "$(df --output=fstype "$target" | tail -1)" "$rounds"
printf '%-8s %-14s %8s %10s %12s %10s\n' tiles program seconds tiles/s "CPU us/tile" "peak MiB"
e2e 50 40
e2e 200 100

million() {  # CLI [LABEL]
  fresh million
  # shellcheck disable=SC2046
  measure "$state/million" "$1" --config "$state/config.ini" $(area 8000 8999 5000 5999 14) --threads 8 \
    --folder "$out" --task million --progress
  read -r wall user sys peak <"$state/million"
  printf '1,000,000 tiles: %.1f s, %.0f tiles/s, peak %.1f MiB%s\n' "$wall" "$(echo "1000000 / $wall" | bc -l)" \
    "$(echo "$peak / 1024" | bc -l)" "${2:-}"
  rm -rf "$out"
}
if [ -z "${SKIP_MILLION:-}" ]; then
  million "$cli"
  [ -z "$compare" ] || million "$compare/meridane-cli" "   ($compare)"
fi

# A finished task of 4 tiles whose log is made 20,000,000 lines long, resumed.
fresh resume
# shellcheck disable=SC2046
"$cli" --config "$state/config.ini" $(area 1000 1001 1500 1501 12) --folder "$out" --task long --no-progress >/dev/null 2>&1
log="$out/long_log.txt"
perl -e 'print "T1:seq=1,gs_1000_1500_12.jpg OK\r\n" for 1 .. 20000000' >>"$log"
lines=$(wc -l <"$log"); size=$(stat -c %s "$log")
cp "$log" "$state/log.before"
measure "$state/resume" "$cli" --config "$state/config.ini" --open "$out/long.mrd" --no-progress
read -r wall user sys peak <"$state/resume"
cmp -s -n "$size" "$log" "$state/log.before" || { echo "the resume changed the log's old lines" >&2; exit 1; }
printf 'resume with a %d-line log (%d MB): %.2f s, peak %.1f MiB; the log gained %d lines, its old bytes unchanged\n' \
  "$lines" $((size / 1000000)) "$wall" "$(echo "$peak / 1024" | bc -l)" $(($(wc -l <"$log") - lines))
