#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "combine/TileSink.h"

namespace meridane {

enum class TTiffCompression {
  Jpeg,     // YCbCr; left-out tiles in a 1-bit mask beside each image
  Deflate,  // lossless, with an alpha band for left-out tiles
};

struct TGeoTiffOptions {
  TTiffCompression Compression = TTiffCompression::Jpeg;
  int JpegQuality = 85;
  // Memory for the overviews' unfinished rows; beyond it they wait in a
  // scratch file beside the output (a mosaic tens of thousands of tiles wide).
  std::size_t OverviewMemory = 64u << 20;
};

// Whether a GeoTIFF of the set could pass 4 GB and so needs BigTIFF: judged on
// the uncompressed pixels, as nothing is known of the compressed size before.
bool NeedsBigTiff(const TTileSet& set, TTiffCompression compression);

// Writes the tiles as one GeoTIFF in Web Mercator (EPSG:3857), its corners the
// set's edges in metres: tiled 256x256 so that each tile of the set is one
// TIFF tile, with overviews down to 256 pixels. Pixels stream through: the
// writer holds a few tiles and one row of each overview's tiles (see
// TGeoTiffOptions), never the mosaic. Tiles are decoded and compressed on
// worker threads. The overviews and masks wait in a scratch file beside path
// until Finish writes them after the image.
// Written with libtiff and libgeotiff rather than GDAL: raw tile writes let the
// workers compress while the file is written in order, and the memory used is
// ours to bound; GDAL's writer would hold its own cache of the mosaic.
class TGeoTiffSink final : public ITileSink {
 public:
  TGeoTiffSink(const TTileSet& set, const std::string& path, TGeoTiffOptions options = {});
  ~TGeoTiffSink() override;

  void Add(int x, int y, std::optional<std::string_view> bytes) override;
  void Finish() override;

 private:
  struct TImpl;
  std::unique_ptr<TImpl> Impl;
};

}  // namespace meridane
