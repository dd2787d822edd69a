// Reads a PMTiles file through the pmtiles package, from a folder where it is
// installed: node read_pmtiles.mjs ARCHIVE REQUESTS OUTPUT
// REQUESTS holds "z x y" lines; OUTPUT gets the header and metadata as one JSON
// line, then "z x y HEX" for every tile found and "z x y -" for every other.
import { open, readFile, writeFile } from "node:fs/promises";
import { PMTiles } from "pmtiles";

const [archive, requests, output] = process.argv.slice(2);
const file = await open(archive, "r");

// A source backed by the file, as the package asks of one.
const source = {
  getKey: () => archive,
  getBytes: async (offset, length) => {
    const data = new Uint8Array(length);
    const { bytesRead } = await file.read(data, 0, length, offset);
    return { data: data.buffer.slice(0, bytesRead) };
  },
};

const tiles = new PMTiles(source);
const lines = [JSON.stringify({ header: await tiles.getHeader(), metadata: await tiles.getMetadata() })];
for (const line of (await readFile(requests, "utf8")).split("\n")) {
  if (!line) continue;
  const [z, x, y] = line.split(" ").map(Number);
  const tile = await tiles.getZxy(z, x, y);
  lines.push(`${line} ${tile ? Buffer.from(tile.data).toString("hex") : "-"}`);
}
await writeFile(output, lines.join("\n") + "\n");
await file.close();
