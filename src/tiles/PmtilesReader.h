#pragma once

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
