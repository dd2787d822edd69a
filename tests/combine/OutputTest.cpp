#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "combine/ArchiveWrite.h"
#include "tiles/Decode.h"
#include "combine/GeoTiff.h"
#include "combine/Picture.h"
#include "combine/Pyramid.h"
#include "combine/ReadBack.h"
#include "support/Images.h"
#include "support/ProcessState.h"
#include "support/TempDir.h"

namespace meridane {
namespace {

using test::Compare;
using test::GdalWindow;
using test::SourceTile;
using test::TComparison;
using test::TTempDir;

// Five by three tiles at zoom 14; three overviews (640x384, 320x192, 160x96).
TTileSet SmallSet(const std::string& format) {
  TTileSet set;
  set.Zoom = 14;
  set.MinX = 8800, set.MaxX = 8804, set.MinY = 5370, set.MaxY = 5372;
  set.WestMetres = TileEdgeXMetres(set.MinX, set.Zoom), set.EastMetres = TileEdgeXMetres(set.MaxX + 1LL, set.Zoom);
  set.NorthMetres = TileEdgeYMetres(set.MinY, set.Zoom), set.SouthMetres = TileEdgeYMetres(set.MaxY + 1LL, set.Zoom);
  set.Format = format;
  return set;
}

// The tiles the tests leave out: one missing, one that is not an image.
constexpr int MissingColumn = 2, MissingRow = 1, DamagedColumn = 0, DamagedRow = 2;

void WriteMosaic(ITileSink& sink, const TTileSet& set) {
  for (int row = 0; row < set.Rows(); ++row)
    for (int column = 0; column < set.Columns(); ++column) {
      const int x = set.MinX + column, y = set.MinY + row;
      if (column == MissingColumn && row == MissingRow)
        sink.Add(x, y, std::nullopt);
      else if (column == DamagedColumn && row == DamagedRow)
        sink.Add(x, y, std::string("<html>not a tile</html>"));
      else
        sink.Add(x, y, SourceTile(column, row, set.Format));
    }
  sink.Finish();
}

TEST(CombineOutputs, GdalReadsEveryOutputWithItsPlaceAndPixels) {
  struct TCase {
    const char* Name;
    std::string Tiles;          // the tiles' format
    std::string Bands;          // gdal_translate's bands for RGBA
    double Tolerance;           // of the mean colour difference to the source tile
    bool White;                 // left-out tiles white and opaque rather than transparent
    std::function<std::unique_ptr<ITileSink>(const TTileSet&, const std::string&)> Make;
  };
  const std::string rgbMask = "-b 1 -b 2 -b 3 -b mask", rgba = "-b 1 -b 2 -b 3 -b 4";
  const std::vector<TCase> cases = {
      {"out.tif", "jpg", rgbMask, 3, false,
       [](const TTileSet& s, const std::string& p) { return std::make_unique<TGeoTiffSink>(s, p); }},
      {"lossless.tif", "jpg", rgba, 0, false,
       [](const TTileSet& s, const std::string& p) {
         return std::make_unique<TGeoTiffSink>(s, p, TGeoTiffOptions{TTiffCompression::Deflate});
       }},
      {"from-png.tif", "png", rgba, 0, false,
       [](const TTileSet& s, const std::string& p) { return std::make_unique<TGeoTiffSink>(s, p); }},
      {"out.png", "png", rgba, 0, false,
       [](const TTileSet& s, const std::string& p) { return std::make_unique<TPictureSink>(s, p, TPictureFormat::Png); }},
      {"from-webp.png", "webp", rgba, 0, false,
       [](const TTileSet& s, const std::string& p) { return std::make_unique<TPictureSink>(s, p, TPictureFormat::Png); }},
      {"out.jpg", "jpg", "-b 1 -b 2 -b 3", 3, true,
       [](const TTileSet& s, const std::string& p) { return std::make_unique<TPictureSink>(s, p, TPictureFormat::Jpeg); }},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TTempDir dir;
    const std::string path = (dir / c.Name).string();
    const TTileSet set = SmallSet(c.Tiles);
    WriteMosaic(*c.Make(set, path), set);
    const bool tiff = path.ends_with(".tif");

    const std::string info = test::GdalInfo(path);
    EXPECT_NE(info.find(R"(ID[\"EPSG\",3857]])"), std::string::npos);
    const std::vector<double> g = test::GeoTransform(info);
    ASSERT_EQ(g.size(), 6u);
    EXPECT_NEAR(g[0], set.WestMetres, 1e-3);
    EXPECT_NEAR(g[3], set.NorthMetres, 1e-3);
    EXPECT_NEAR(g[0] + g[1] * 1280, set.EastMetres, 1e-3);
    EXPECT_NEAR(g[3] + g[5] * 768, set.SouthMetres, 1e-3);
    // (GDAL offers a JPEG's own reduced decodings as overviews: only the TIFF's are checked.)
    if (tiff) {
      EXPECT_NE(info.find(R"("overviews":[{"size":[640,384]},{"size":[320,192]},{"size":[160,96]}])"), std::string::npos);
    }

    for (const auto& [column, row] : {std::pair{0, 0}, {3, 1}, {4, 2}}) {
      TRgba want;
      ASSERT_TRUE(DecodeTile(SourceTile(column, row, c.Tiles), want));
      const TComparison got = Compare(GdalWindow(path, c.Bands, column * TileSide, row * TileSide), want);
      EXPECT_LE(got.MeanDifference, c.Tolerance) << "tile " << column << "," << row;
      EXPECT_EQ(got.MinAlpha, 255) << "tile " << column << "," << row;
    }
    for (const auto& [column, row] : {std::pair{MissingColumn, MissingRow}, {DamagedColumn, DamagedRow}}) {
      const TRgba left = GdalWindow(path, c.Bands, column * TileSide, row * TileSide);
      TRgba white(TilePixels * 4, 255);
      if (c.White)
        EXPECT_LE(Compare(left, white).MeanDifference, 1) << "tile " << column << "," << row;
      else
        EXPECT_EQ(Compare(left, white).MaxAlpha, 0) << "tile " << column << "," << row;
    }
    if (tiff) {
      // The first overview over tiles 2..3 of rows 0..1: the missing tile's
      // quarter transparent, tile (2, 0)'s quarter its colours.
      const TRgba overview = GdalWindow(path, c.Bands, 2 * TileSide, 0, true);
      TRgba source;
      ASSERT_TRUE(DecodeTile(SourceTile(2, 0, c.Tiles), source));
      double mean[2][3] = {};
      for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 128; ++x)
          for (int k = 0; k < 3; ++k) {
            mean[0][k] += overview[(static_cast<std::size_t>(y) * TileSide + x) * 4 + k] / (128.0 * 128);
            mean[1][k] += source[(static_cast<std::size_t>(2 * y) * TileSide + 2 * x) * 4 + k] / (128.0 * 128);
          }
      for (int k = 0; k < 3; ++k) EXPECT_NEAR(mean[0][k], mean[1][k], 3) << "overview band " << k;
      for (int y = 128; y < 256; ++y)
        for (int x = 0; x < 128; ++x)
          ASSERT_EQ(overview[(static_cast<std::size_t>(y) * TileSide + x) * 4 + 3], 0) << "overview " << x << "," << y;
    } else {
      const std::vector<std::string> files = PictureFiles(path, c.White ? TPictureFormat::Jpeg : TPictureFormat::Png);
      for (const std::string& file : files) EXPECT_TRUE(std::filesystem::exists(file)) << file;
      std::istringstream world(test::ReadAll(files[1]));
      double n[6] = {};
      for (double& v : n) world >> v;
      EXPECT_NEAR(n[0] * 1280, set.EastMetres - set.WestMetres, 1e-3);
      EXPECT_NEAR(-n[3] * 768, set.NorthMetres - set.SouthMetres, 1e-3);
      EXPECT_EQ(n[1], 0);
      EXPECT_EQ(n[2], 0);
      EXPECT_NEAR(n[4] - n[0] / 2, set.WestMetres, 1e-3);  // the world file names pixel centres
      EXPECT_NEAR(n[5] - n[3] / 2, set.NorthMetres, 1e-3);
    }
  }
}

TEST(CombineOutputs, PictureFilesAndSizeLimit) {
  struct TCase {
    long long Columns, Rows;
    TPictureFormat Format;
    bool Refused;
  };
  for (const TCase& c : std::vector<TCase>{{255, 255, TPictureFormat::Jpeg, false},
                                           {256, 1, TPictureFormat::Jpeg, true},
                                           {1, 256, TPictureFormat::Png, true},
                                           {255, 1, TPictureFormat::Png, false}}) {
    SCOPED_TRACE(std::to_string(c.Columns) + "x" + std::to_string(c.Rows));
    TTileSet set = SmallSet("jpg");
    set.MaxX = set.MinX + static_cast<int>(c.Columns) - 1, set.MaxY = set.MinY + static_cast<int>(c.Rows) - 1;
    EXPECT_EQ(PictureSizeRefusal(set, c.Format).has_value(), c.Refused);
    if (!c.Refused) continue;
    TTempDir dir;
    try {
      TPictureSink sink(set, (dir / "big.jpg").string(), c.Format);
      ADD_FAILURE() << "not refused";
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find("65535 pixels a side. Write a GeoTIFF"), std::string::npos) << e.what();
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
  }
  using TFiles = std::vector<std::string>;
  EXPECT_EQ(PictureFiles("/a.b/map.png", TPictureFormat::Png), (TFiles{"/a.b/map.png", "/a.b/map.pgw", "/a.b/map.png.aux.xml"}));
  EXPECT_EQ(PictureFiles("/a.b/map", TPictureFormat::Jpeg), (TFiles{"/a.b/map", "/a.b/map.jgw", "/a.b/map.aux.xml"}));
}

// A PNG tile whose alpha runs from clear at the left to opaque at the right,
// its colours kept under the clear pixels too.
std::string SeeThroughTile(int column, int row) {
  std::vector<unsigned char> pixels;
  for (int y = 0; y < TileSide; ++y)
    for (int x = 0; x < TileSide; ++x)
      for (const int v : {column * 40 + x / 4, row * 60 + y / 4, (x * y) % 256, x})
        pixels.push_back(static_cast<unsigned char>(v));
  return test::EncodePngPixels(pixels, TileSide, TileSide, PNG_FORMAT_RGBA);
}

// GDAL's own check of the layout passes, with every tile's size before it and
// its last bytes after it checked; the tiles' bytes choose the compression,
// even when the first row is left out; BigTIFF from the limit; PNG pixels come
// back exactly, alpha and all.
TEST(CombineOutputs, GeoTiffIsCloudOptimized) {
  const std::string validator =
      "/usr/bin/python3 /usr/lib/python3/dist-packages/osgeo_utils/samples/validate_cloud_optimized_geotiff.py";
  struct TCase {
    const char* Name;
    std::string Tiles;  // "jpg", "png", or "alpha": SeeThroughTile
    bool FirstRowLeftOut;
    unsigned long long ClassicLimit;
    std::string Compression;  // as GDAL names it
    bool Big;
  };
  const unsigned long long limit = TGeoTiffOptions{}.ClassicTiffLimit;
  const std::vector<TCase> cases = {
      {"jpeg", "jpg", false, limit, "YCbCrJPEG", false},
      {"png", "png", false, limit, "DEFLATE", false},
      {"alpha after an empty row", "alpha", true, limit, "DEFLATE", false},
      {"big jpeg after an empty row", "jpg", true, 1000, "YCbCrJPEG", true},
      {"big alpha", "alpha", false, 1000, "DEFLATE", true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TTempDir dir;
    const std::string path = (dir / "cog.tif").string();
    const TTileSet set = SmallSet(c.Tiles == "jpg" ? "jpg" : "png");
    const auto tile = [&](int column, int row) {
      return c.Tiles == "alpha" ? SeeThroughTile(column, row) : SourceTile(column, row, c.Tiles);
    };
    {
      TGeoTiffOptions options;
      options.ClassicTiffLimit = c.ClassicLimit;
      TGeoTiffSink sink(set, path, options);
      for (int row = 0; row < set.Rows(); ++row)
        for (int column = 0; column < set.Columns(); ++column)
          sink.Add(set.MinX + column, set.MinY + row,
                   c.FirstRowLeftOut && row == 0 ? std::nullopt : std::optional<std::string>(tile(column, row)));
      sink.Finish();
    }
    const auto [report, status] = test::RunCommand(validator + " --full-check=yes '" + path + "' 2>&1");
    EXPECT_EQ(status, 0) << report;
    EXPECT_NE(report.find("is a valid cloud optimized GeoTIFF"), std::string::npos) << report;
    EXPECT_EQ(test::ReadAll(path).substr(0, 4), c.Big ? std::string("II+\0", 4) : std::string("II*\0", 4));

    const std::string info = test::GdalInfo(path);
    EXPECT_NE(info.find(R"("overviews":[{"size":[640,384]},{"size":[320,192]},{"size":[160,96]}])"), std::string::npos);
    EXPECT_NE(info.find(R"("COMPRESSION":")" + c.Compression + "\""), std::string::npos) << info;
    EXPECT_NE(info.find(R"("LAYOUT":"COG")"), std::string::npos) << info;

    const std::string bands = c.Compression != "DEFLATE" ? "-b 1 -b 2 -b 3 -b mask" : "-b 1 -b 2 -b 3 -b 4";
    if (c.FirstRowLeftOut) {
      EXPECT_EQ(Compare(GdalWindow(path, bands, 0, 0), TRgba(TilePixels * 4)).MaxAlpha, 0);
    }
    if (c.Tiles != "alpha") continue;
    for (const auto& [column, row] : {std::pair{1, 1}, {4, 2}}) {
      TRgba want;
      ASSERT_TRUE(DecodeTile(tile(column, row), want));
      EXPECT_TRUE(GdalWindow(path, bands, column * TileSide, row * TileSide) == want) << column << "," << row;
    }
  }
}

// A failed write (here a file size limit; a full disk alike) is an exception with the reason.
TEST(CombineOutputs, FailedWritesThrowTheReason) {
  const std::vector<std::function<std::unique_ptr<ITileSink>(const TTileSet&, const std::string&)>> makers = {
      [](const TTileSet& s, const std::string& p) { return std::make_unique<TGeoTiffSink>(s, p); },
      [](const TTileSet& s, const std::string& p) {
        return std::make_unique<TGeoTiffSink>(s, p, TGeoTiffOptions{TTiffCompression::Deflate});
      },
      [](const TTileSet& s, const std::string& p) { return std::make_unique<TPictureSink>(s, p, TPictureFormat::Png); },
      [](const TTileSet& s, const std::string& p) { return std::make_unique<TPictureSink>(s, p, TPictureFormat::Jpeg); },
  };
  const auto previous = std::signal(SIGXFSZ, SIG_IGN);
  for (std::size_t i = 0; i < makers.size(); ++i) {
    TTempDir dir;
    const TTileSet set = SmallSet("jpg");
    std::string error = "no error";
    {
      const test::TResourceLimitGuard fileSize(RLIMIT_FSIZE);
      ASSERT_TRUE(fileSize.SetSoft(4096));
      try {
        WriteMosaic(*makers[i](set, (dir / "out").string()), set);
      } catch (const EWriteError& e) {
        error = e.what();
      }
    }
    EXPECT_EQ(error, "Cannot create file " + (dir / "out").string() + ": File too large") << i;
  }
  std::signal(SIGXFSZ, previous);
}

// The tiles wait in scratch files and are copied into the file at the end: a
// write that fails there (the file, not the scratch, passes the size limit)
// is an error with the reason too, not a short file.
TEST(CombineOutputs, GeoTiffFailingAtTheEndThrowsTheReason) {
  const auto previous = std::signal(SIGXFSZ, SIG_IGN);
  for (const std::string format : {"jpg", "png"}) {
    TTempDir dir;
    const TTileSet set = SmallSet(format);
    const std::string path = (dir / "out.tif").string();
    WriteMosaic(*std::make_unique<TGeoTiffSink>(set, path), set);
    const auto size = std::filesystem::file_size(path);
    std::string error = "no error";
    {
      const test::TResourceLimitGuard fileSize(RLIMIT_FSIZE);
      // Past the image's tiles, which wait in a scratch file of their own, short of the whole file.
      ASSERT_TRUE(fileSize.SetSoft(size - 2000));
      try {
        WriteMosaic(*std::make_unique<TGeoTiffSink>(set, path), set);
      } catch (const EWriteError& e) {
        error = e.what();
      }
    }
    EXPECT_EQ(error, "Cannot create file " + path + ": File too large") << format;
  }
  std::signal(SIGXFSZ, previous);
}

TEST(Pyramid, OverviewSizesHalveDownTo256) {
  using TSizes = std::vector<std::pair<long long, long long>>;
  EXPECT_EQ(OverviewSizes(256, 256), TSizes{});
  EXPECT_EQ(OverviewSizes(512, 256), (TSizes{{256, 128}}));
  EXPECT_EQ(OverviewSizes(1280, 768), (TSizes{{640, 384}, {320, 192}, {160, 96}}));
  EXPECT_EQ(OverviewSizes(256, 1536), (TSizes{{128, 768}, {64, 384}, {32, 192}}));
  EXPECT_EQ(OverviewSizes(3 * 256 * 256, 256), (TSizes{{98304, 128}, {49152, 64}, {24576, 32}, {12288, 16}, {6144, 8},
                                                       {3072, 4}, {1536, 2}, {768, 1}, {384, 1}, {192, 1}}));
}

// Overview rows kept in memory or in the scratch file make the same tiles, in
// order, and a pixel is the alpha-weighted mean of the four below it.
TEST(Pyramid, RowsInMemoryOrInTheScratchFileGiveTheSameTiles) {
  TTempDir dir;
  const long long columns = 7, rows = 5;
  std::vector<TRgba> tiles;
  unsigned seed = 1;
  for (long long i = 0; i < columns * rows; ++i) {
    TRgba& t = tiles.emplace_back(TilePixels * 4);
    for (unsigned char& v : t) v = static_cast<unsigned char>((seed = seed * 1103515245 + 12345) >> 16);
  }
  std::map<std::size_t, std::vector<std::tuple<int, long long, long long, TRgba>>> results;
  for (const std::size_t budget : {std::size_t{1} << 30, std::size_t{0}}) {
    TPyramid pyramid(columns * TileSide, rows * TileSide, budget, dir.Path().string());
    auto& got = results[budget];
    for (long long i = 0; i < columns * rows; ++i)
      pyramid.Add(i / columns, i % columns, tiles[i], [&](int level, long long row, long long column, const TRgba& p) {
        got.emplace_back(level, row, column, p);
      });
    EXPECT_EQ(pyramid.Levels(), 3);
  }
  const auto& memory = results[std::size_t{1} << 30];
  EXPECT_TRUE(memory == results[0]);
  std::map<int, std::vector<std::pair<long long, long long>>> order;
  for (const auto& [level, row, column, p] : memory) order[level].emplace_back(row, column);
  EXPECT_EQ(order[1].size(), 4u * 3);
  EXPECT_EQ(order[2].size(), 2u * 2);
  EXPECT_EQ(order[3].size(), 1u);
  EXPECT_TRUE(std::is_sorted(order[1].begin(), order[1].end()));

  // Level 1's tile (1, 3): its upper-left pixel from tile (2, 6), its lower
  // right quarter beyond the image (7 columns, 5 rows).
  const auto found = std::find_if(memory.begin(), memory.end(),
                                  [](const auto& t) { return std::get<0>(t) == 1 && std::get<1>(t) == 1 && std::get<2>(t) == 3; });
  ASSERT_NE(found, memory.end());
  const TRgba& p = std::get<3>(*found);
  const TRgba& s = tiles[2 * columns + 6];
  unsigned alpha = 0, red = 0;
  for (const std::size_t at : {0u, 4u, 1024u, 1028u}) alpha += s[at + 3], red += s[at] * s[at + 3];
  EXPECT_EQ(p[3], (alpha + 2) / 4);
  EXPECT_EQ(p[0], (red + alpha / 2) / alpha);
  EXPECT_EQ(p[(200 * TilePixels / TileSide + 200) * 4 + 3], 0);
}

TEST(DecodeTile, LeavesOutWhatIsNotA256PixelImage) {
  const std::string jpeg = test::EncodeJpeg(256, 256);
  const std::vector<std::pair<std::string, bool>> cases = {
      {jpeg, true},
      {test::EncodePng(256, 256), true},
      {test::EncodeJpeg(256, 255), false},
      {test::EncodePng(128, 256), false},
      {jpeg.substr(0, jpeg.size() / 2), false},
      {"GIF89a" + std::string(100, '\0'), false},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    TRgba pixels(3, 7);
    EXPECT_EQ(DecodeTile(cases[i].first, pixels), cases[i].second) << i;
    ASSERT_EQ(pixels.size(), TilePixels * 4);
    EXPECT_EQ(pixels[3], cases[i].second ? 255 : 0) << i;
  }
}

}  // namespace
TEST(DecodeTile, AnEighthHoldsTheMeansOfThe8x8Blocks) {
  std::vector<unsigned char> rgba(TilePixels * 4);
  for (std::size_t i = 0; i < rgba.size(); ++i) rgba[i] = static_cast<unsigned char>(i * 37 % 251);
  const std::string jpeg = test::EncodeJpeg(256, 256);
  const struct {
    std::string Bytes;
    bool Sound;
    int Tolerance;  // a JPEG's scaled transform is near the mean, not on it
  } rows[] = {
      {jpeg, true, 2},
      {test::EncodePng(256, 256), true, 0},
      {test::EncodePngPixels(rgba, 256, 256, PNG_FORMAT_RGBA), true, 0},
      {test::EncodeJpeg(256, 255), false, 0},
      {jpeg.substr(0, jpeg.size() / 2), false, 0},
  };
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    TRgba whole, eighth(5, 7);
    DecodeTile(rows[i].Bytes, whole);
    EXPECT_EQ(DecodeTileEighth(rows[i].Bytes, eighth), rows[i].Sound) << i;
    ASSERT_EQ(eighth.size(), static_cast<std::size_t>(EighthSide * EighthSide * 4)) << i;
    int worst = 0;
    for (int y = 0; y < EighthSide; ++y)
      for (int x = 0; x < EighthSide; ++x)
        for (int c = 0; c < 4; ++c) {
          int sum = 0;
          for (int dy = 0; dy < 8; ++dy)
            for (int dx = 0; dx < 8; ++dx) sum += whole[((y * 8 + dy) * TileSide + x * 8 + dx) * 4 + c];
          worst = std::max(worst, std::abs(eighth[(y * EighthSide + x) * 4 + c] - sum / 64));
        }
    EXPECT_LE(worst, rows[i].Tolerance) << i;
  }
}

}  // namespace meridane
