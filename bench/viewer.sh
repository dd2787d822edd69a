#!/usr/bin/env bash
# The map viewer on a task of a million tiles on tmpfs, offscreen: the time to
# its first complete picture, pan frame times cold and warm, and the peak
# memory as /usr/bin/time sees it.
# Usage: bench/viewer.sh [TILES]   (default 1000000)
# Needs: libjpeg-turbo-progs (cjpeg), time (Debian packages), /dev/shm.
set -euo pipefail
source "$(dirname "$0")/common.sh"
tiles=${1:-1000000}
work_folder viewer
noise_sources
"$build/bench/meridane_link_tiles" "$tiles" "$work/big" "$work"/source*.jpg >/dev/null
mkdir -p "$work/program/blankimg"
cp "$root/blankimg/blank.jpg" "$root/blankimg/blank.png" "$work/program/blankimg/"

echo "tiles $tiles on $(nproc) processors, load $(cut -d' ' -f1-3 /proc/loadavg)"
QT_QPA_PLATFORM=offscreen /usr/bin/time -v "$build/bench/meridane_bench_viewer" "$work/big/bench.mrd" "$work/program" \
  2>"$work/time.txt"
grep -E "Maximum resident|Elapsed" "$work/time.txt"
