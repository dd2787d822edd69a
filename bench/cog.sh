#!/usr/bin/env bash
# The combiner's Cloud-Optimized GeoTIFF against GDAL's COG driver on the same
# tiles: JPEG tiles (both write JPEG with a mask) and PNG tiles with alpha
# (both write DEFLATE with the predictor and an alpha band); time and peak
# memory, on tmpfs, then GDAL's validator on both files. The tiles are hard
# links to a few map-like tiles. GDAL reads the mosaic as a VRT that
# meridane_mosaic writes (what gdalbuildvrt would make from georeferenced
# tiles; its time is not counted).
# Usage: bench/cog.sh [SIDES...]   (default: 100, i.e. 10,000 tiles)
# MERIDANE_BENCH_KINDS="jpg" (or "png") runs one kind of tiles only.
# Needs: gdal-bin, python3-gdal, libjpeg-turbo-progs (cjpeg), python3, time.
set -euo pipefail
source "$(dirname "$0")/common.sh"
mosaic=$build/bench/meridane_mosaic
validator=/usr/lib/python3/dist-packages/osgeo_utils/samples/validate_cloud_optimized_geotiff.py
sides=("${@:-100}")
read -r -a sides <<<"${sides[*]}"
work_folder cog
limit=${MERIDANE_BENCH_LIMIT:-600}  # seconds a case may take

# Map-like tiles, each of its own colours: flat areas and roads, with grain in
# the JPEGs (as photos have) and none in the PNGs (as drawn maps have); the
# PNGs have a clear corner and a half-clear band, as overlays do.
for i in 1 2 3 4; do
  /usr/bin/python3 - "$i" "$work/source$i" <<'PY'
import random, struct, sys, zlib
n = int(sys.argv[1])
random.seed(n)
base = [random.randrange(160, 250) for _ in range(3)]
rgb, rgba = bytearray(), bytearray()
for y in range(256):
    rgba.append(0)  # PNG filter: none
    for x in range(256):
        road = abs((x + y * n) % 97 - 48) < 3
        flat = tuple(max(0, b - ((x // 32 + y // 32) % 3) * 20) for b in base)
        a = 0 if x + y < 60 else 128 if 100 < y < 120 else 255
        rgb += bytes((255, 255, 255) if road else tuple(max(0, v - random.randrange(12)) for v in flat))
        rgba += bytes((255, 255, 255) if road else flat) + bytes([a])
open(sys.argv[2] + ".ppm", "wb").write(b"P6\n256 256\n255\n" + bytes(rgb))
def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 256, 256, 8, 6, 0, 0, 0))
png += chunk(b"IDAT", zlib.compress(bytes(rgba), 6)) + chunk(b"IEND", b"")
open(sys.argv[2] + ".png", "wb").write(png)
PY
  cjpeg -quality 80 "$work/source$i.ppm" >"$work/source$i.jpg"
done

# Runs a case: its name, then the command. Prints the seconds it took, the
# processor seconds it used (user and system: fairer while other work loads
# the machine) and the peak MiB.
run() {
  local name=$1
  shift
  rm -f "$work/stopped"
  if /usr/bin/time -v -o "$work/time" timeout "$limit" "$@" >/dev/null 2>"$work/err"; then
    awk -v n="$name" -F': ' '/Elapsed/ {split($2, t, ":"); s = t[1] * 60 + t[2]} /Maximum resident/ {m = $2 / 1024}
      /User time|System time/ {c += $2} END {printf "%-26s %7.1f s %7.1f s cpu %6.0f MiB", n, s, c, m}' "$work/time"
  else
    printf "%-26s stopped after %s s or failed: %s" "$name" "$limit" "$(tail -1 "$work/err")"
    touch "$work/stopped"
  fi
}

# The size of an output and the validator's word on it.
check() {
  if [ -f "$1" ] && [ ! -f "$work/stopped" ]; then
    ls -l "$1" | awk '{printf " %8.0f MB", $5 / 1e6}'
    if /usr/bin/python3 "$validator" -q "$1"; then echo "  valid COG"; else echo "  NOT a valid COG"; fi
  else
    echo
  fi
  rm -f "$1"
}

echo "$(nproc) processors, load $(cut -d' ' -f1-3 /proc/loadavg); $(gdalinfo --version)"
for side in "${sides[@]}"; do
  for kind in ${MERIDANE_BENCH_KINDS:-jpg png}; do
    dir=$work/t$side
    "$mosaic" link "$dir" "$side" "$side" "$work"/source*."$kind"
    "$mosaic" vrt "$dir" "$side" "$side" "$work/m.vrt"
    echo "--- $((side * side)) $kind tiles ($((side * 256)) x $((side * 256)) pixels)"
    run "meridane GeoTIFF" "$mosaic" tiff "$dir" "$side" "$side" "$work/out.tif"
    check "$work/out.tif"
    if [ "$kind" = jpg ]; then
      options=(-co COMPRESS=JPEG -co QUALITY=85)
    else
      options=(-co COMPRESS=DEFLATE -co PREDICTOR=YES)
    fi
    run "gdal_translate -of COG" gdal_translate -q -of COG "${options[@]}" -co NUM_THREADS=ALL_CPUS \
      -co BIGTIFF=IF_SAFER "$work/m.vrt" "$work/cog.tif"
    check "$work/cog.tif"
    rm -rf "$dir"
  done
done
