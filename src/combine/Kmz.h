#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "combine/TileSink.h"

namespace meridane {

// A Garmin custom map is a zip of doc.kml and JPEG images, each image a ground
// overlay. The devices take images of at most 1024 x 1024 pixels (one
// megapixel) and at most 100 of them: an overlay is a block of up to 4 x 4
// tiles, and an area of more overlays is split into several files, each a
// rectangle of up to 100 overlays.
inline constexpr int KmzOverlayTiles = 4;
inline constexpr int KmzMaxOverlays = 100;

// How a tile set is cut into overlays and files. Overlays are counted from the
// set's north-west tile, files from its north-west overlay, row by row.
struct TKmzLayout {
  long long OverlayColumns = 0, OverlayRows = 0;  // of the whole set
  long long BlockColumns = 0, BlockRows = 0;      // overlays a file holds across and down, at most
  long long FileColumns = 0, FileRows = 0;

  long long Overlays() const { return OverlayColumns * OverlayRows; }
  long long Files() const { return FileColumns * FileRows; }
};

// The layout of the fewest files; of those, the squarest blocks.
TKmzLayout KmzLayoutOf(const TTileSet& set);

// The files a KMZ output at path is made of: path itself when the set fits one
// file, else path's name with "-1", "-2", ... before its extension, in the
// order of the layout's files.
std::vector<std::filesystem::path> KmzFiles(const std::filesystem::path& path, const TTileSet& set);

// What the user is told of the layout: "12 overlays of up to 4x4 tiles", or
// when split "the area needs 340 overlays of up to 4x4 tiles and a file holds
// at most 100: written map-1.kmz .. map-4.kmz, blocks of up to 10x10 overlays".
std::string KmzLayoutText(const TTileSet& set, const std::filesystem::path& output);

// doc.kml of one file of the layout (file counts from 0).
std::string KmzDocument(const TTileSet& set, long long file);

// The JPEG of an overlay whose northmost tile row is y0: columns x rows tiles,
// given row by row, nothing for a tile left out (white, as the
// transparent parts of a tile are). Its rows are even steps of latitude, as the
// overlay's box is: the tiles' Mercator rows are resampled.
std::string KmzOverlayImage(const TTileSet& set, long long y0, int columns, int rows,
                            const std::vector<std::optional<std::string>>& tiles, int quality);

// Writes the KMZ files of KmzFiles(path, set). Two rows of overlays are held
// at a time, as the tiles' bytes: one arriving while the images of the one
// before are made on worker threads.
class TKmzSink final : public ITileSink {
 public:
  TKmzSink(std::filesystem::path path, const TTileSet& set, int quality);
  ~TKmzSink() override;

  void Add(int x, int y, std::optional<std::string_view> bytes) override;
  void Finish() override;

 private:
  struct TImpl;
  std::unique_ptr<TImpl> Impl;
};

}  // namespace meridane
