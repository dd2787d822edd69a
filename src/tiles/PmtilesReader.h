#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tiles/Archive.h"
#include "tiles/Pmtiles.h"

namespace meridane {

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
// caller's to undo. Whatever the file says, the reader holds a bounded amount
// of memory: every length is checked against the file and the bounds below
// before anything is allocated for it, and a tile longer than maxTileBytes is
// refused unread.

class TPmtilesReader : public ITileArchive {
 public:
  explicit TPmtilesReader(const std::filesystem::path& path, std::size_t maxTileBytes = DefaultMaxTileBytes);
  ~TPmtilesReader() override;
  TPmtilesReader(const TPmtilesReader&) = delete;
  TPmtilesReader& operator=(const TPmtilesReader&) = delete;

  const TTileSet& TileSet() const override { return Set; }
  std::optional<std::string> Get(int zoom, int x, int y) override;
  std::vector<int> Zooms() const override;

  // A directory holds at most this many entries (24 MB decoded, at most 30
  // bytes each stored), and the metadata is at most MaxMetadataBytes long.
  static constexpr std::size_t MaxDirectoryEntries = std::size_t{1} << 20;
  static constexpr std::size_t MaxMetadataBytes = std::size_t{16} << 20;
  // The leaf directories kept for the next tiles, in decoded bytes.
  static constexpr std::size_t LeafCacheBytes = std::size_t{32} << 20;

  const TPmtilesHeader& Header() const { return Head; }
  // The metadata's top-level texts and numbers (numbers as written).
  const std::map<std::string, std::string>& Metadata() const { return Meta; }

 private:
  std::string Read(std::uint64_t offset, std::uint64_t length) const;
  std::vector<TPmtilesEntry> DirectoryAt(std::uint64_t offset, std::uint64_t length) const;
  [[noreturn]] void Damaged(const std::string& reason = "the file is damaged") const;

  std::filesystem::path Path;
  std::size_t MaxTileBytes;
  int Descriptor = -1;
  std::uint64_t FileSize = 0;
  TPmtilesHeader Head;
  std::map<std::string, std::string> Meta;
  TTileSet Set;
  std::vector<TPmtilesEntry> Root;
  std::map<std::uint64_t, std::vector<TPmtilesEntry>> Leaves;  // by offset, a few kept
  std::size_t LeafBytes = 0;                                    // their entries' bytes
};

}  // namespace meridane
