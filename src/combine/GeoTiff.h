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
  Deflate,  // lossless, with an alpha band for left-out tiles and the tiles' own transparency
};

struct TGeoTiffOptions {
  // Nothing: by the tiles, from the first that decodes: JPEG tiles stay JPEG,
  // PNG and WebP tiles are kept lossless with their alpha.
  std::optional<TTiffCompression> Compression;
  int JpegQuality = 85;
  // Memory for the overviews' unfinished rows; beyond it they wait in a
  // scratch file beside the output (a mosaic tens of thousands of tiles wide).
  std::size_t OverviewMemory = 64u << 20;
  // The largest file written as a classic TIFF, whose offsets have 32 bits;
  // a larger one is BigTIFF. (Tests lower it.)
  unsigned long long ClassicTiffLimit = 1ull << 32;
};

// Writes the tiles as one Cloud-Optimized GeoTIFF in Web Mercator
// (EPSG:3857), its corners the set's edges in metres: tiled 256x256 so that
// each tile of the set is one TIFF tile, with overviews down to 256 pixels.
// The file begins with every image's directory (the image, then the overviews
// from the largest), then the tiles' data from the smallest overview to the
// image, row by row; a short text after the header tells readers this layout
// and that each tile's data has its size before it and its last 4 bytes
// repeated after it, the mask's data right after its tile's.
// Pixels stream through: the writer holds a few tiles and one row of each
// overview's tiles (see TGeoTiffOptions), never the mosaic; tiles are decoded
// and compressed on worker threads and wait, compressed, in scratch files
// beside path until Finish writes the directories and copies them in place.
// The disk needs room for the compressed tiles twice meanwhile.
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
