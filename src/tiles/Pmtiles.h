#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// What the PMTiles reader and writer share: the layout of the header, tile ids
// and directories.
namespace meridane {

inline constexpr std::string_view PmtilesMagic = "PMTiles";
inline constexpr std::size_t PmtilesHeaderSize = 127;
inline constexpr int PmtilesCompressionNone = 1, PmtilesCompressionGzip = 2;
inline constexpr int PmtilesTypeUnknown = 0, PmtilesTypePng = 2, PmtilesTypeJpeg = 3,
                     PmtilesTypeWebp = 4;
// The header's tile type of a tile set's Format ("png", "jpg", "webp"), and
// back; any other is Unknown, which has no name.
int PmtilesTileType(std::string_view format);
std::string_view PmtilesFormatOfType(int type);

// Appends value as a varint: seven bits a byte, the low ones first.
void PutVarint(std::string& out, std::uint64_t value);

// A tile's place on the Hilbert curves of all zooms: every tile of lower zooms
// comes first, then the curve through the zoom's grid from its north-west tile.
std::uint64_t PmtilesTileId(int zoom, std::uint32_t x, std::uint32_t y);
// The tile at step on the zoom's curve (its id less the tiles of lower zooms),
// as column and row.
std::pair<std::uint32_t, std::uint32_t> PmtilesTileAt(int zoom, std::uint64_t step);

// One entry of a directory: RunLength tiles from TileId on with the same bytes,
// at Offset in the tile data; RunLength 0 points to a leaf directory instead.
struct TPmtilesEntry {
  std::uint64_t TileId = 0;
  std::uint64_t Offset = 0;
  std::uint32_t Length = 0;
  std::uint32_t RunLength = 0;
  bool operator==(const TPmtilesEntry&) const = default;
};

// A directory in the file's form, before compression: the count, then the
// columns of tile id deltas, run lengths, lengths and offsets as varints; an
// offset right after the previous entry's tile is written as 0.
std::string EncodePmtilesDirectory(std::span<const TPmtilesEntry> entries);
// Throws std::runtime_error when the bytes are not a whole directory, or one
// of more than maxEntries entries.
std::vector<TPmtilesEntry> DecodePmtilesDirectory(std::string_view bytes,
                                                  std::size_t maxEntries = std::numeric_limits<std::size_t>::max());

}  // namespace meridane
