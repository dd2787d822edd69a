// meridane_mosaic: the combiner's writers over a folder of tiles FOLDER/N.EXT,
// N = row * COLUMNS + column from the north-west, at zoom 20 near the equator;
// a tile file that is missing is left out.
//   meridane_mosaic link FOLDER COLUMNS ROWS SOURCE...  hard links to the SOURCEs in turn
//   meridane_mosaic vrt FOLDER COLUMNS ROWS OUT.vrt     the same mosaic for GDAL
//   meridane_mosaic tiff|tiff-jpeg|tiff-deflate|png|jpeg FOLDER COLUMNS ROWS OUT
// (tiff: the tiles' bytes choose JPEG or lossless with alpha, as the combiner does)
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "combine/GeoTiff.h"
#include "combine/Picture.h"
#include "combine/TileSink.h"

using namespace meridane;

int main(int argc, char** argv) {
  if (argc < 6) {
    std::fprintf(stderr, "usage: %s link|vrt|tiff|tiff-jpeg|tiff-deflate|png|jpeg FOLDER COLUMNS ROWS OUT|SOURCE...\n", argv[0]);
    return 2;
  }
  const std::string mode = argv[1], folder = std::string(argv[2]) + "/";
  const int columns = std::atoi(argv[3]), rows = std::atoi(argv[4]);
  if (mode == "link") {
    std::filesystem::create_directories(folder);
    const std::string extension = std::filesystem::path(argv[5]).extension().string();
    for (long long n = 0; n < static_cast<long long>(columns) * rows; ++n) {
      const std::string target = folder + std::to_string(n) + extension;
      if (::link(argv[5 + n % (argc - 5)], target.c_str()) != 0) return std::perror(target.c_str()), 1;
    }
    return 0;
  }
  const std::string extension = std::filesystem::exists(folder + "0.png") ? ".png" : ".jpg";
  TTileSet set;
  set.Zoom = 20;
  set.MinX = 1 << 19, set.MinY = (1 << 19) - rows;
  set.MaxX = set.MinX + columns - 1, set.MaxY = set.MinY + rows - 1;
  set.WestMetres = TileEdgeXMetres(set.MinX, set.Zoom), set.EastMetres = TileEdgeXMetres(set.MaxX + 1LL, set.Zoom);
  set.NorthMetres = TileEdgeYMetres(set.MinY, set.Zoom), set.SouthMetres = TileEdgeYMetres(set.MaxY + 1LL, set.Zoom);
  set.Format = extension.substr(1);
  const std::string out = argv[5];
  if (mode == "vrt") {
    std::ofstream vrt(out);
    const double px = (set.EastMetres - set.WestMetres) / (columns * 256.0);
    vrt.precision(17);
    vrt << "<VRTDataset rasterXSize=\"" << columns * 256 << "\" rasterYSize=\"" << rows * 256 << "\">\n"
        << "<SRS>EPSG:3857</SRS>\n<GeoTransform>" << set.WestMetres << "," << px << ",0," << set.NorthMetres << ",0,"
        << -px << "</GeoTransform>\n";
    // PNG tiles: their alpha as a fourth band.
    for (int band = 1; band <= (extension == ".png" ? 4 : 3); ++band) {
      vrt << "<VRTRasterBand dataType=\"Byte\" band=\"" << band << "\">\n";
      if (band == 4) vrt << "<ColorInterp>Alpha</ColorInterp>\n";
      for (long long n = 0; n < static_cast<long long>(columns) * rows; ++n)
        vrt << "<SimpleSource><SourceFilename relativeToVRT=\"0\">" << folder << n << extension
            << "</SourceFilename><SourceBand>" << band << "</SourceBand><SrcRect xOff=\"0\" yOff=\"0\" xSize=\"256\" "
            << "ySize=\"256\"/><DstRect xOff=\"" << n % columns * 256 << "\" yOff=\"" << n / columns * 256
            << "\" xSize=\"256\" ySize=\"256\"/></SimpleSource>\n";
      vrt << "</VRTRasterBand>\n";
    }
    vrt << "</VRTDataset>\n";
    return vrt ? 0 : 1;
  }
  try {
    std::unique_ptr<ITileSink> sink;
    if (mode == "tiff")
      sink = std::make_unique<TGeoTiffSink>(set, out);
    else if (mode == "tiff-jpeg" || mode == "tiff-deflate")
      sink = std::make_unique<TGeoTiffSink>(
          set, out, TGeoTiffOptions{mode == "tiff-jpeg" ? TTiffCompression::Jpeg : TTiffCompression::Deflate});
    else
      sink = std::make_unique<TPictureSink>(set, out, mode == "png" ? TPictureFormat::Png : TPictureFormat::Jpeg);
    long long n = 0;
    for (int y = set.MinY; y <= set.MaxY; ++y)
      for (int x = set.MinX; x <= set.MaxX; ++x) {
        std::ifstream in(folder + std::to_string(n++) + extension, std::ios::binary);
        if (!in) {
          sink->Add(x, y, std::nullopt);
          continue;
        }
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        sink->Add(x, y, bytes);
      }
    sink->Finish();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
