#!/usr/bin/env bash
# The PMTiles archive without zooms below on tmpfs, three runs of each against
# its floor: reading every tile file once (cat into /dev/null) plus writing as
# many bytes as the archive holds (dd). write_s is the writer alone
# (meridane_write_archive, tiles in the order the writer asks for, as the
# combiner's feed gives them) over a task of links to four JPEGs of noise,
# rows_s the same in rows (as with zooms below: the tiles wait in an unnamed
# file and are copied in order at the end);
# mosaren_s is `mosaren --min-zoom 20` over the same task once each file is a
# copy of its own (its path appended after the image's end), so that no tile is
# stored once for many. Each line: the runs, then their median against the
# floor's median.
# Usage: bench/pmtiles.sh [TILES...]   (default 10000 100000)
# Needs: libjpeg-turbo-progs (cjpeg), bc, python3, /dev/shm.
set -euo pipefail
source "$(dirname "$0")/common.sh"
sizes=("${@:-10000 100000}")
read -r -a sizes <<<"${sizes[*]}"
work_folder pmtiles
noise_sources

timed() { local start; start=$(now); "$@" >/dev/null; printf '%.2f' "$(elapsed "$start")"; }
median() { printf '%s\n' "$@" | sort -n | sed -n 2p; }
# floor BYTES: cat of the task's tiles and dd of BYTES, three times.
floor() {
  local i c d
  floors=()
  for i in 1 2 3; do
    c=$(timed bash -c "find '$work/task/bench' -type f -print0 | xargs -0 cat")
    d=$(timed dd if=/dev/zero of="$work/dd.out" bs=1M count=$(($1 / 1048576 + 1)) status=none)
    rm -f "$work/dd.out"
    floors+=("$(printf '%.2f' "$(echo "$c + $d" | bc -l)")")
  done
}
report() {
  local what=$1 ours
  shift
  ours=$(median "${runs[@]}")
  printf '%8d %-10s ours %s s, floor %s s: %.2f s against %.2f s (%.2fx)\n' "$tiles" "$what" "${runs[*]}" \
    "${floors[*]}" "$ours" "$(median "${floors[@]}")" "$(echo "$ours / $(median "${floors[@]}")" | bc -l)"
}

for tiles in "${sizes[@]}"; do
  "$build/bench/meridane_link_tiles" "$tiles" "$work/task" "$work"/source*.jpg >/dev/null
  runs=()
  for i in 1 2 3; do
    runs+=("$(timed "$build/bench/meridane_write_archive" pmtiles "$work/out.pmtiles" "$tiles" "$work/task")")
    bytes=$(stat -c %s "$work/out.pmtiles")
    rm -f "$work/out.pmtiles"
  done
  floor "$bytes"
  report write_s
  runs=()
  for i in 1 2 3; do
    runs+=("$(timed "$build/bench/meridane_write_archive" pmtiles-rows "$work/out.pmtiles" "$tiles" "$work/task")")
    rm -f "$work/out.pmtiles"
  done
  report rows_s
  python3 - "$work/task/bench" <<'PY'
import os, sys
sources = {}
for folder, _, files in os.walk(sys.argv[1]):
    for name in files:
        path = os.path.join(folder, name)
        inode = os.stat(path).st_ino
        if inode not in sources:
            with open(path, "rb") as f:
                sources[inode] = f.read()
        os.unlink(path)
        with open(path, "wb") as f:
            f.write(sources[inode] + path.encode())
PY
  runs=()
  for i in 1 2 3; do
    runs+=("$(timed "$build/mosaren" "$work/task/bench.mrd" -o "$work/out.pmtiles" --min-zoom 20)")
    bytes=$(stat -c %s "$work/out.pmtiles")
    rm -f "$work/out.pmtiles"
  done
  floor "$bytes"
  report mosaren_s
  rm -rf "$work/task"
done
