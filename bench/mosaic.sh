#!/usr/bin/env bash
# The combiner's GeoTIFF (JPEG) against GDAL's COG of the same tiles, and its
# PNG and JPEG pictures against vips arrayjoin: time and peak memory, on tmpfs.
# The tiles are hard links to a few map-like JPEGs. GDAL reads the mosaic as a
# VRT that meridane_mosaic writes (what gdalbuildvrt would make from
# georeferenced tiles; its time is not counted). vips takes its file list as one
# argument, at most 128 KB: it runs on the smaller mosaic only.
# The PNG pictures' sizes are printed too, as the two compress at other levels.
# Usage: bench/mosaic.sh [SIDES...]   (default: 45 100 316, i.e. 2,025, 10,000 and 99,856 tiles)
# Installs what it runs when missing: gdal-bin, libvips-tools, libjpeg-turbo-progs
# (cjpeg), python3, time.
set -euo pipefail
source "$(dirname "$0")/common.sh"
mosaic=$build/bench/meridane_mosaic
need_packages gdal-bin libvips-tools libjpeg-turbo-progs python3 time
sides=("${@:-45 100 316}")
read -r -a sides <<<"${sides[*]}"
work_folder mosaic
limit=${MERIDANE_BENCH_LIMIT:-300}  # seconds a case may take

# Map-like tiles: flat areas, lines and some texture, each of its own colours.
for i in 1 2 3 4; do
  python3 - "$i" <<'PY' | cjpeg -quality 80 >"$work/source$i.jpg"
import random, sys
random.seed(int(sys.argv[1]))
base = [random.randrange(160, 250) for _ in range(3)]
px = bytearray()
for y in range(256):
    for x in range(256):
        road = abs((x + y * int(sys.argv[1])) % 97 - 48) < 3
        c = (255, 255, 255) if road else tuple(max(0, b - ((x // 32 + y // 32) % 3) * 20 - random.randrange(12)) for b in base)
        px += bytes(c)
sys.stdout.buffer.write(b"P6\n256 256\n255\n" + bytes(px))
PY
done

# Runs a case: its name, then the command. Prints seconds and peak MiB, and
# keeps the seconds in $work/seconds.NAME for a ratio.
run() {
  local name=$1
  shift
  if /usr/bin/time -v -o "$work/time" timeout "$limit" "$@" >/dev/null 2>"$work/err"; then
    awk -v n="$name" -v keep="$work/seconds.${name// /_}" -F': ' '/Elapsed/ {split($2, t, ":"); s = t[1] * 60 + t[2]}
      /Maximum resident/ {m = $2 / 1024}
      END {printf "%-34s %8.1f s %8.0f MiB\n", n, s, m; print s > keep}' "$work/time"
  else
    printf "%-34s stopped after %s s or failed: %s\n" "$name" "$limit" "$(tail -1 "$work/err")"
  fi
}

# How many times faster ours was: ratio OURS PEER, the names given to run.
ratio() {
  local a=$work/seconds.${1// /_} b=$work/seconds.${2// /_}
  if [ -f "$a" ] && [ -f "$b" ]; then
    awk -v a="$(cat "$a")" -v b="$(cat "$b")" -v n="$1" 'BEGIN {printf "  %s: %.2fx the speed of its peer\n", n, b / a}'
  fi
  rm -f "$a" "$b"
}

# The size of an output, if the case wrote it.
size() { if [ -f "$1" ]; then ls -l "$1" | awk '{printf "  %.0f MB\n", $5 / 1e6}'; fi; rm -f "$1"; }

echo "$(nproc) processors; $(gdalinfo --version); $(vips --version)"
for side in "${sides[@]}"; do
  tiles=$((side * side))
  dir=$work/t$side
  "$mosaic" link "$dir" "$side" "$side" "$work"/source*.jpg
  "$mosaic" vrt "$dir" "$side" "$side" "$work/m$side.vrt"
  echo "--- $tiles tiles ($((side * 256)) x $((side * 256)) pixels)"
  run "meridane GeoTIFF JPEG" "$mosaic" tiff-jpeg "$dir" "$side" "$side" "$work/out.tif"
  size "$work/out.tif"
  run "gdal_translate COG JPEG" gdal_translate -q -of COG -co COMPRESS=JPEG -co QUALITY=85 -co NUM_THREADS=ALL_CPUS \
    -co BIGTIFF=IF_SAFER "$work/m$side.vrt" "$work/cog.tif"
  size "$work/cog.tif"
  if ((side * 256 <= 65535)); then
    run "meridane JPEG picture" "$mosaic" jpeg "$dir" "$side" "$side" "$work/out.jpg"
    run "meridane PNG picture" "$mosaic" png "$dir" "$side" "$side" "$work/out.png"
    size "$work/out.png"
    rm -f "$work"/out.*
    # vips reads the tiles from the folder, by short names.
    list=$(seq 0 $((tiles - 1)) | sed 's/$/.jpg/' | tr '\n' ' ')
    if ((${#list} < 131072)); then
      (cd "$dir" && run "vips arrayjoin JPEG" vips arrayjoin "$list" "$work/v.jpg[Q=90]" --across "$side")
      (cd "$dir" && run "vips arrayjoin PNG" vips arrayjoin "$list" "$work/v.png" --across "$side")
      size "$work/v.png"
      rm -f "$work"/v.*
      ratio "meridane JPEG picture" "vips arrayjoin JPEG"
      ratio "meridane PNG picture" "vips arrayjoin PNG"
    fi
  fi
  rm -rf "$dir"
done
