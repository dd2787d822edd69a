"""Reads Garmin KMZ files as a device would and checks them against the tile
rectangle they were made of. Usage: read_kmz.py ZOOM MINX MINY MAXX MAXY OUTDIR KMZ...
Prints one line an overlay, "IMAGE WIDTH HEIGHT", its JPEG extracted to
OUTDIR/IMAGE; a fault is printed as "FAULT ..." and makes the exit status 1.
Every map is to be named 'Lake "Ohrid" & <2>' (with its part number when split)."""
import math
import os
import sys
import xml.etree.ElementTree as ET
import zipfile

KML = "{http://www.opengis.net/kml/2.2}"
faults = []


def lon(x, zoom):
    return x / 2.0 ** zoom * 360.0 - 180.0


def lat(y, zoom):
    return math.degrees(math.atan(math.sinh(math.pi * (1 - 2 * y / 2.0 ** zoom))))


def tile_of(value, edge, first, last):
    """The tile edge index whose coordinate is value, or None."""
    for i in range(first, last + 2):
        if abs(edge(i) - value) <= 1e-9:
            return i
    return None


zoom, minx, miny, maxx, maxy = (int(v) for v in sys.argv[1:6])
outdir = sys.argv[6]
boxes = []
for path in sys.argv[7:]:
    with zipfile.ZipFile(path) as kmz:
        if kmz.testzip() is not None:
            faults.append(f"{path}: an entry fails its CRC")
        names = kmz.namelist()
        if names[0] != "doc.kml":
            faults.append(f"{path}: the first entry is {names[0]}")
        doc = ET.fromstring(kmz.read("doc.kml"))
        name = doc.find(f"./{KML}Document/{KML}name").text
        if not name.startswith('Lake "Ohrid" & <2>'):
            faults.append(f"{path}: named {name}")
        overlays = doc.findall(f"./{KML}Document/{KML}GroundOverlay")
        if len(overlays) > 100:
            faults.append(f"{path}: {len(overlays)} overlays")
        for overlay in overlays:
            href = overlay.find(f"{KML}Icon/{KML}href").text
            box = overlay.find(f"{KML}LatLonBox")
            n, s, e, w = (float(box.find(KML + k).text) for k in ("north", "south", "east", "west"))
            x0, x1 = tile_of(w, lambda i: lon(i, zoom), minx, maxx), tile_of(e, lambda i: lon(i, zoom), minx, maxx)
            y0, y1 = tile_of(n, lambda i: lat(i, zoom), miny, maxy), tile_of(s, lambda i: lat(i, zoom), miny, maxy)
            if None in (x0, x1, y0, y1):
                faults.append(f"{path}: {href}'s box {n} {s} {e} {w} is not on tile edges")
                continue
            boxes.append((x0, y0, x1, y1))
            target = os.path.join(outdir, href)
            os.makedirs(os.path.dirname(target), exist_ok=True)
            with open(target, "wb") as out:
                out.write(kmz.read(href))
            width, height = (x1 - x0) * 256, (y1 - y0) * 256
            if width * height > 1024 * 1024:
                faults.append(f"{path}: {href} is {width}x{height}")
            print(href, width, height)

# The overlays cover the rectangle once: each tile in exactly one box.
cover = {}
for x0, y0, x1, y1 in boxes:
    for x in range(x0, x1):
        for y in range(y0, y1):
            cover[(x, y)] = cover.get((x, y), 0) + 1
for x in range(minx, maxx + 1):
    for y in range(miny, maxy + 1):
        if cover.pop((x, y), 0) != 1:
            faults.append(f"tile {x},{y} is not covered once")
if cover:
    faults.append(f"{len(cover)} tiles outside the rectangle are covered")
for fault in faults[:20]:
    print("FAULT", fault)
sys.exit(1 if faults else 0)
