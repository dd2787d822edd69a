// A task downloaded from the test server, joined by mosaren's console into
// every format with the real writers, and each output read back by other
// programs than ours.
#include <gtest/gtest.h>

#include <sstream>

#include "config/Config.h"
#include "mosaren/Console.h"
#include "mosaren/ServedTask.h"

namespace meridane::test {
namespace {

namespace fs = std::filesystem;
using TCombinedTask = TServedTask;

TEST_F(TCombinedTask, EveryFormatReadsBackAsTheDownloadedTiles) {
  const fs::path project = Download("combined");
  const TTileSet set = Set();
  const bool haveGdal = HaveProgram("gdalinfo"), haveNode = HaveProgram("node");

  const struct {
    const char* Name;
    std::string Bands;  // gdal_translate's bands for RGBA; empty: GDAL reads no pixels
    bool White;         // the missing tile white and opaque rather than transparent
    std::vector<std::string> More;  // arguments
    std::string Written;            // how the summary begins
  } cases[] = {
      // The 4x3 tiles of zoom 16 meet in one at zoom 14.
      {"out.mbtiles", "", false, {}, "16 tiles written, 11 at zoom 16 and 5 at zooms 14 to 15 (5 of them built); "},
      {"out.pmtiles", "", false, {"--min-zoom", "16"}, "11 tiles written; "},
      {"out.tif", "-b 1 -b 2 -b 3 -b mask", false, {}, "11 tiles written; "},
      {"out.png", "-b 1 -b 2 -b 3 -b 4", false, {}, "11 tiles written; "},
      {"out.jpg", "-b 1 -b 2 -b 3", true, {}, "11 tiles written; "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TTempDir out;
    const fs::path path = out / c.Name;
    std::vector<std::string> arguments = {"mosaren", project.string(), "-o", path.string(), "--config", Config.string()};
    arguments.insert(arguments.end(), c.More.begin(), c.More.end());
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    std::ostringstream printed, errors;
    ASSERT_EQ(RunCombineConsole(static_cast<int>(argv.size()), argv.data(), printed, errors, {.ProgramFolder = ProgramFolder()}), 0)
        << errors.str();
    EXPECT_TRUE(printed.str().starts_with(c.Written + "left out: 1 placeholder, 0 missing, 0 empty, 0 not an "
                                          "image, 0 not decodable, 0 not 256x256; " + std::string(c.Name) + ", "))
        << printed.str();
    const TOutputFormat format = *OutputFormatOf(path);
    for (const fs::path& file : OutputFiles(format, path)) EXPECT_TRUE(fs::exists(file)) << file;

    if (format == TOutputFormat::MBTiles) {
      // The zoom's own tiles as served, beside those of the zooms below.
      auto tiles = MbtilesTiles(path);
      std::erase_if(tiles, [&](const auto& tile) { return !TilesServed().count(tile.first); });
      EXPECT_EQ(tiles, TilesServed());
      if (haveGdal) {
        EXPECT_NE(GdalInfo(path.string()).find(R"("overviews":[{"size":[512,384]},{"size":[256,192]}])"), std::string::npos);
      }
    }
    if (format == TOutputFormat::PMTiles && haveNode) {
      const std::string read = ReadWithPackage(out, path, set);
      EXPECT_TRUE(read.substr(read.find('\n') + 1) == PackageExpected(set, TileAt)) << read.substr(0, 400);
      // JPEG tiles (type 3) of the one zoom, stored as they came.
      EXPECT_NE(read.find(R"("tileCompression":1,"tileType":3,"minZoom":16,"maxZoom":16,)"), std::string::npos)
          << read.substr(0, 400);
    }
    if (!haveGdal || format == TOutputFormat::PMTiles) continue;

    const std::vector<double> g = GeoTransform(GdalInfo(path.string()));
    ASSERT_EQ(g.size(), 6u);
    EXPECT_NEAR(g[0], set.WestMetres, 1e-3);
    EXPECT_NEAR(g[3], set.NorthMetres, 1e-3);
    EXPECT_NEAR(g[0] + g[1] * Columns * TileSide, set.EastMetres, 1e-3);
    EXPECT_NEAR(g[3] + g[5] * Rows * TileSide, set.SouthMetres, 1e-3);
    if (c.Bands.empty()) continue;
    for (const auto& [column, row] : {std::pair{0, 0}, {3, 1}, {1, 2}}) {
      TRgba want;
      ASSERT_TRUE(DecodeTile(*Tile(column, row), want));
      const TComparison got = Compare(GdalWindow(path.string(), c.Bands, column * TileSide, row * TileSide), want);
      EXPECT_LE(got.MeanDifference, 3) << "tile " << column << "," << row;
      EXPECT_EQ(got.MinAlpha, 255) << "tile " << column << "," << row;
    }
    const TComparison missing = Compare(GdalWindow(path.string(), c.Bands, MissingColumn * TileSide, MissingRow * TileSide),
                                        TRgba(TilePixels * 4, 255));
    EXPECT_TRUE(c.White ? missing.MeanDifference <= 1 : missing.MaxAlpha == 0);
    if (format == TOutputFormat::GeoTiff) continue;
    // The world file names the centre of the upper-left pixel and the pixels' size.
    std::istringstream world(ReadAll(OutputFiles(format, path)[1]));
    double n[6] = {};
    for (double& v : n) world >> v;
    EXPECT_NEAR(n[0] * Columns * TileSide, set.EastMetres - set.WestMetres, 1e-3);
    EXPECT_NEAR(-n[3] * Rows * TileSide, set.NorthMetres - set.SouthMetres, 1e-3);
    EXPECT_EQ(n[1], 0);
    EXPECT_EQ(n[2], 0);
    EXPECT_NEAR(n[4] - n[0] / 2, set.WestMetres, 1e-3);
    EXPECT_NEAR(n[5] - n[3] / 2, set.NorthMetres, 1e-3);
  }
  if (!haveGdal || !haveNode) GTEST_SKIP() << "gdalinfo or node is not installed: their read-backs were not run";
}

}  // namespace
}  // namespace meridane::test
