#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "combine/Archive.h"
#include "combine/TileSink.h"

namespace meridane {

inline constexpr std::string_view PmtilesMagic = "PMTiles";

// A tile's place on the Hilbert curves of all zooms: every tile of lower zooms
// comes first, then the curve through the zoom's grid from its north-west tile.
std::uint64_t PmtilesTileId(int zoom, std::uint32_t x, std::uint32_t y);

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
// Throws std::runtime_error when the bytes are not a whole directory.
std::vector<TPmtilesEntry> DecodePmtilesDirectory(std::string_view bytes);

// Writes a PMTiles 3 file: tiles in tile id order, identical tiles stored once
// (and runs of them as one entry), gzip-compressed directories and metadata,
// leaf directories when the root would not fit the file's first 16 KB. Tiles
// wait in an unnamed file beside the target until Finish puts them in order,
// so the disk needs room for the tiles twice. Memory held: 16 bytes for every
// tile given, about 40 more for every distinct one.
class TPmtilesWriter : public ITileSink {
 public:
  // Creates the file at path, replacing what is there.
  TPmtilesWriter(std::filesystem::path path, const TTileSet& set);
  ~TPmtilesWriter() override;
  TPmtilesWriter(const TPmtilesWriter&) = delete;
  TPmtilesWriter& operator=(const TPmtilesWriter&) = delete;

  void Add(int x, int y, std::optional<std::string_view> bytes) override;
  void Finish() override;

  // The bytes the header and the root directory may take together.
  static constexpr std::size_t RootLimit = 16384;

 private:
  struct TState;
  std::unique_ptr<TState> State;
};

// The header's fields a reader uses.
struct TPmtilesHeader {
  std::uint64_t RootOffset = 0, RootLength = 0;
  std::uint64_t MetadataOffset = 0, MetadataLength = 0;
  std::uint64_t LeafOffset = 0, LeafLength = 0;
  std::uint64_t DataOffset = 0, DataLength = 0;
  std::uint64_t AddressedTiles = 0, TileEntries = 0, TileContents = 0;
  bool Clustered = false;
  int InternalCompression = 0, TileCompression = 0, TileType = 0;
  int MinZoom = 0, MaxZoom = 0, CenterZoom = 0;
  double MinLon = 0, MinLat = 0, MaxLon = 0, MaxLat = 0, CenterLon = 0, CenterLat = 0;
};

// Reads a PMTiles 3 file with directories and metadata uncompressed or gzip.
// Tiles come back as stored: a tile compression other than none is the
// caller's to undo.
class TPmtilesReader : public ITileArchive {
 public:
  explicit TPmtilesReader(const std::filesystem::path& path);
  ~TPmtilesReader() override;
  TPmtilesReader(const TPmtilesReader&) = delete;
  TPmtilesReader& operator=(const TPmtilesReader&) = delete;

  const TTileSet& TileSet() const override { return Set; }
  std::optional<std::string> Get(int zoom, int x, int y) override;

  const TPmtilesHeader& Header() const { return Head; }
  // The metadata's top-level texts and numbers (numbers as written).
  const std::map<std::string, std::string>& Metadata() const { return Meta; }

 private:
  std::string Read(std::uint64_t offset, std::uint64_t length) const;
  std::string Inflated(std::string bytes) const;
  std::vector<TPmtilesEntry> DirectoryAt(std::uint64_t offset, std::uint64_t length) const;
  [[noreturn]] void Damaged() const;

  std::filesystem::path Path;
  int Descriptor = -1;
  TPmtilesHeader Head;
  std::map<std::string, std::string> Meta;
  TTileSet Set;
  std::vector<TPmtilesEntry> Root;
  std::map<std::uint64_t, std::vector<TPmtilesEntry>> Leaves;  // by offset, a few kept
};

}  // namespace meridane
