#!/usr/bin/env bash
# Time and peak memory of writing the MBTiles and the PMTiles archive of a task
# on tmpfs, against its floor: reading every tile file once (cat into
# /dev/null) plus writing as many bytes as the archive holds (dd). The tiles
# are hard links to four JPEG files of noise (about 30 KB each); the writer
# makes every tile distinct, so no archive gains from storing repeats once.
# mosaren_s is the whole combiner on the same task: the tiles read, decoded
# (every tile is checked before an archive takes it) and written.
# mosaren_s builds the zooms below too (as it does by default); mosaren_z_s is
# the same with --min-zoom of the task's zoom, the set alone.
# Then the PMTiles writer's memory for TILES_MEMORY made-up tiles of 100 bytes.
# Last, the zooms below a task of PYRAMID_TILES tiles in MBTiles: mosaren's
# pyramid (the time beyond writing the set alone) against gdaladdo -r average
# on an MBTiles of the same tiles without one, in the same run.
# Usage: bench/archives.sh [TILES...]   (default 10000 100000; TILES_MEMORY=1000000,
# PYRAMID_TILES=10000)
# Needs: libjpeg-turbo-progs (cjpeg), time, bc, gdal-bin, sqlite3 (Debian packages), /dev/shm.
set -euo pipefail
source "$(dirname "$0")/common.sh"
sizes=("${@:-10000 100000}")
read -r -a sizes <<<"${sizes[*]}"
memory_tiles=${TILES_MEMORY:-1000000}
pyramid_tiles=${PYRAMID_TILES:-10000}
task_zoom=20  # SquareTask.h
work_folder archives
noise_sources
writer=$build/bench/meridane_write_archive
peak_mb() { awk '/Maximum resident set size/ { printf "%.1f", $6 / 1024 }' "$1"; }

printf '%8s %-8s %9s %9s %11s %9s %8s %8s %8s %7s\n' tiles format write_s mosaren_s mosaren_z_s peak_MB out_MB cat_s \
  dd_s ratio
for tiles in "${sizes[@]}"; do
  "$build/bench/meridane_link_tiles" "$tiles" "$work/task" "$work"/source*.jpg >/dev/null
  for format in mbtiles pmtiles; do
    out=$work/out.$format
    start=$(now)
    /usr/bin/time -v -o "$work/time.txt" "$writer" "$format" "$out" "$tiles" "$work/task" >/dev/null
    write_s=$(elapsed "$start")
    out_bytes=$(stat -c %s "$out")
    rm -f "$out"
    start=$(now)
    "$build/mosaren" "$work/task/bench.mrd" -o "$out" >/dev/null
    mosaren_s=$(elapsed "$start")
    rm -f "$out"
    start=$(now)
    "$build/mosaren" "$work/task/bench.mrd" -o "$out" --min-zoom $task_zoom >/dev/null
    mosaren_z_s=$(elapsed "$start")
    rm -f "$out"
    # The floor: the same files read once, the same bytes written once.
    start=$(now)
    find "$work/task/bench" -type f -print0 | xargs -0 cat >/dev/null
    cat_s=$(elapsed "$start")
    start=$(now)
    dd if=/dev/zero of="$work/dd.out" bs=1M count=$((out_bytes / 1048576 + 1)) status=none
    dd_s=$(elapsed "$start")
    rm -f "$work/dd.out"
    printf '%8d %-8s %9.2f %9.2f %11.2f %9s %8.1f %8.2f %8.2f %7.2f\n' "$tiles" "$format" "$write_s" "$mosaren_s" \
      "$mosaren_z_s" \
      "$(peak_mb "$work/time.txt")" \
      "$(echo "$out_bytes / 1048576" | bc -l)" "$cat_s" "$dd_s" "$(echo "$write_s / ($cat_s + $dd_s)" | bc -l)"
  done
  rm -rf "$work/task"
done

/usr/bin/time -v -o "$work/time.txt" "$writer" pmtiles "$work/memory.pmtiles" "$memory_tiles" - >/dev/null
echo "pmtiles, $memory_tiles made-up tiles: peak $(peak_mb "$work/time.txt") MB," \
  "$(stat -c %s "$work/memory.pmtiles") bytes"

# The zooms below, ours against GDAL's overviews of the same MBTiles.
"$build/bench/meridane_link_tiles" "$pyramid_tiles" "$work/task" "$work"/source*.jpg >/dev/null
/usr/bin/time -v -o "$work/time.txt" "$build/mosaren" "$work/task/bench.mrd" -o "$work/set.mbtiles" \
  --min-zoom $task_zoom >/dev/null
set_s=$(awk -F': ' '/Elapsed \(wall clock\)/ { n = split($2, t, ":"); print t[n] + 60 * t[n - 1] }' "$work/time.txt")
/usr/bin/time -v -o "$work/time.txt" "$build/mosaren" "$work/task/bench.mrd" -o "$work/pyramid.mbtiles" >/dev/null
ours_s=$(awk -F': ' '/Elapsed \(wall clock\)/ { n = split($2, t, ":"); print t[n] + 60 * t[n - 1] }' "$work/time.txt")
ours_mb=$(peak_mb "$work/time.txt")
levels=$(sqlite3 "$work/pyramid.mbtiles" "SELECT MIN(zoom_level) FROM tiles")
factors=""
for ((z = task_zoom - 1, f = 2; z >= levels; z--, f *= 2)); do factors+=" $f"; done
/usr/bin/time -v -o "$work/time.txt" gdaladdo -q -r average "$work/set.mbtiles" $factors
gdal_s=$(awk -F': ' '/Elapsed \(wall clock\)/ { n = split($2, t, ":"); print t[n] + 60 * t[n - 1] }' "$work/time.txt")
echo "pyramid of $pyramid_tiles tiles, zooms $levels to $((task_zoom - 1)):" \
  "mosaren $ours_s s ($(echo "$ours_s - $set_s" | bc -l | xargs printf '%.2f') s beyond the set's $set_s s," \
  "peak $ours_mb MB, $(sqlite3 "$work/pyramid.mbtiles" "SELECT COUNT(*) FROM tiles WHERE zoom_level < $task_zoom") tiles);" \
  "gdaladdo -r average$factors $gdal_s s (peak $(peak_mb "$work/time.txt") MB," \
  "$(sqlite3 "$work/set.mbtiles" "SELECT COUNT(*) FROM tiles WHERE zoom_level < $task_zoom") tiles)"
