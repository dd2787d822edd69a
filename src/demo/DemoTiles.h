#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "tiles/Projection.h"

namespace meridane {

// The demo tile server's pictures: each tile shows its own zoom, column and row
// in large digits over a colour of its place and a dark border, so a tile put in
// the wrong place by a program shows at a glance.

// The label's glyphs: 3 x 5 cells, a row a byte, bit 2 the left cell.
inline constexpr int GlyphColumns = 3, GlyphRows = 5;
// Each glyph cell is this many pixels square; glyphs stand this far apart.
inline constexpr int DemoCell = 6, DemoGlyphPitch = 4 * DemoCell;
// The label's three lines ("Z14", "X13490", "Y6200") start at this column and
// these rows of the tile, on a white box.
inline constexpr int DemoLabelLeft = 40, DemoLineTop = 58, DemoLinePitch = 50;
// The glyphs the label uses: the ten digits, then Z, X and Y.
inline constexpr std::string_view DemoGlyphNames = "0123456789ZXY";
const std::array<std::uint8_t, GlyphRows>& DemoGlyph(char name);

// The label's three lines for a tile.
std::array<std::string, 3> DemoLabel(const TTileKey& key);

// The tile's picture: TileSide x TileSide RGB, rows from the top.
std::vector<unsigned char> DemoTilePixels(const TTileKey& key);

// The picture as a JPEG.
std::string DemoTileJpeg(const TTileKey& key);

// The tiles the demo serves for an area of tiles at its zoom: those, the tiles
// at zooms 0-3 of the whole world, and at zooms 4-8 the area's tiles and two
// around them, so a map of the area has a background when zoomed out.
std::vector<TTileKey> DemoTileSet(int zoom, int minX, int minY, int maxX, int maxY);

// Writes each tile as folder/Z/X/Y.jpg; throws std::runtime_error naming the
// file it could not write.
void WriteDemoTiles(const std::filesystem::path& folder, const std::vector<TTileKey>& tiles);

}  // namespace meridane
