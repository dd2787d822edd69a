#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "combine/TileSink.h"

namespace meridane {

enum class TPictureFormat { Png, Jpeg };

// The largest side of a picture, in pixels: JPEG cannot go further, and a PNG
// keeps to it too (many viewers stop there, and a row of tiles is held in
// memory: 64 MB at this width). Larger areas go into a GeoTIFF.
inline constexpr long long MaxPictureSide = 65535;

// Nothing when the set fits one picture, else the message telling the user why not.
std::optional<std::string> PictureSizeRefusal(const TTileSet& set, TPictureFormat format);

// The files a picture written at path consists of, the picture first: path,
// its world file (path with the extension ".pgw" or ".jgw" in place of its
// own, or added when it has none) and path + ".aux.xml", which names the
// coordinate system (EPSG:3857) for GDAL and the programs built on it. A
// driver that writes under a temporary name renames or removes each of them.
std::vector<std::string> PictureFiles(const std::string& path, TPictureFormat format);

// Writes the tiles as one PNG or JPEG (left-out tiles white), with the world
// file and .aux.xml of PictureFiles. A PNG is RGB while every pixel so far is
// opaque, and turns RGBA (left-out tiles transparent) at the first that is
// not, which costs a second compression of the rows written before it.
// Rows stream through: the writer holds two rows of tiles, one filling while
// the other is compressed (a PNG's on every core, a JPEG's on a thread of its
// own); tiles are decoded on worker threads. The constructor refuses a set
// PictureSizeRefusal refuses.
class TPictureSink final : public ITileSink {
 public:
  TPictureSink(const TTileSet& set, const std::string& path, TPictureFormat format, int jpegQuality = 90);
  ~TPictureSink() override;

  void Add(int x, int y, std::optional<std::string_view> bytes) override;
  void LeftOutAhead() override;
  void Finish() override;

 private:
  struct TImpl;
  std::unique_ptr<TImpl> Impl;
};

// The six lines of a world file: pixel size, rotations, the centre of the
// top-left pixel, in the set's metres.
std::string WorldFileText(const TTileSet& set);

}  // namespace meridane
