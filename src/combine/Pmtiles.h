#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <string_view>

#include "combine/TileSink.h"
#include "tiles/Pmtiles.h"

namespace meridane {

// Writes a PMTiles 3 file: tiles in tile id order, identical tiles stored once
// (and runs of them as one entry), gzip-compressed directories and metadata,
// leaf directories when the root would not fit the file's first 16 KB. Tiles
// given in tile id order (WantsTileIdOrder) are written into the file as they
// come, after 16 KB kept for the header and the root, with the metadata and the
// leaves after them. Once a tile comes out of that order they move to an
// unnamed file beside the target until Finish puts them in order, so the disk
// then needs room for the tiles twice. Memory held: 16 bytes for every tile
// given, about 40 more for every distinct one.
class TPmtilesWriter : public ITileSink {
 public:
  // Creates the file at path, replacing what is there.
  TPmtilesWriter(std::filesystem::path path, const TTileSet& set);
  ~TPmtilesWriter() override;
  TPmtilesWriter(const TPmtilesWriter&) = delete;
  TPmtilesWriter& operator=(const TPmtilesWriter&) = delete;

  void Add(int x, int y, std::optional<std::string_view> bytes) override;
  void Finish() override;
  bool WantsTileIdOrder() const override { return true; }
  bool TakesLevels() const override { return true; }
  void AddLevelTile(int zoom, int x, int y, std::string_view bytes) override;

  // The bytes the header and the root directory may take together.
  static constexpr std::size_t RootLimit = 16384;

 private:
  struct TState;
  std::unique_ptr<TState> State;
};

}  // namespace meridane
