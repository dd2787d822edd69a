// The zooms below a set: each lower tile read back by SQLite, the pmtiles
// package or the file system, decoded by libjpeg, libpng and libwebp
// directly, and compared with the mean of its children as stored.
#include <gtest/gtest.h>
#include <jpeglib.h>
#include <png.h>
#include <sqlite3.h>
#include <webp/decode.h>

#include <map>
#include <set>
#include <tuple>

#include "combine/Combine.h"
#include "combine/Levels.h"
#include "combine/ReadBack.h"
#include "support/TempDir.h"
#include "tiles/Encode.h"

namespace meridane::test {
namespace {

namespace fs = std::filesystem;
using TKey = std::tuple<int, int, int>;  // zoom, column, row from the north
using TTiles = std::map<TKey, std::string>;

// RGBA of a JPEG, PNG or WebP tile, through the libraries themselves.
TRgba Decoded(const std::string& bytes) {
  TRgba pixels(TilePixels * 4, 0);
  if (bytes.starts_with("RIFF")) {
    EXPECT_TRUE(WebPDecodeRGBAInto(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), pixels.data(),
                                   pixels.size(), TileSide * 4));
    return pixels;
  }
  if (bytes.starts_with("\x89PNG")) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    EXPECT_TRUE(png_image_begin_read_from_memory(&image, bytes.data(), bytes.size()));
    image.format = PNG_FORMAT_RGBA;
    EXPECT_TRUE(png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr));
    return pixels;
  }
  jpeg_decompress_struct info;
  jpeg_error_mgr errors;
  info.err = jpeg_std_error(&errors);
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
  jpeg_read_header(&info, TRUE);
  info.out_color_space = JCS_EXT_RGBA;
  jpeg_start_decompress(&info);
  while (info.output_scanline < info.output_height) {
    unsigned char* row = pixels.data() + static_cast<std::size_t>(info.output_scanline) * TileSide * 4;
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return pixels;
}

TTiles ReadMbtiles(const fs::path& file, std::map<std::string, std::string>& metadata) {
  TTiles tiles;
  sqlite3* db = nullptr;
  EXPECT_EQ(sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  sqlite3_stmt* select = nullptr;
  sqlite3_prepare_v2(db, "SELECT zoom_level, tile_column, tile_row, tile_data FROM tiles", -1, &select, nullptr);
  while (select && sqlite3_step(select) == SQLITE_ROW) {
    const int zoom = sqlite3_column_int(select, 0);
    const auto* data = static_cast<const char*>(sqlite3_column_blob(select, 3));
    tiles[{zoom, sqlite3_column_int(select, 1), (1 << zoom) - 1 - sqlite3_column_int(select, 2)}] =
        std::string(data, static_cast<std::size_t>(sqlite3_column_bytes(select, 3)));
  }
  sqlite3_finalize(select);
  sqlite3_prepare_v2(db, "SELECT name, value FROM metadata", -1, &select, nullptr);
  while (select && sqlite3_step(select) == SQLITE_ROW)
    metadata[reinterpret_cast<const char*>(sqlite3_column_text(select, 0))] =
        reinterpret_cast<const char*>(sqlite3_column_text(select, 1));
  sqlite3_finalize(select);
  sqlite3_close(db);
  return tiles;
}

// Every tile below the top zoom: present exactly where a child is, in its
// children's format, and their 2x2 mean (uncovered: white in JPEG,
// transparent in PNG and WebP) within the given mean difference. given: tiles of
// an input, stored as they are.
void ExpectAveragesOfChildren(const TTiles& tiles, int top, double tolerance, const std::set<TKey>& given = {}) {
  std::set<TKey> parents;
  for (const auto& [key, bytes] : tiles)
    if (std::get<0>(key) > std::get<0>(tiles.begin()->first))
      parents.insert({std::get<0>(key) - 1, std::get<1>(key) / 2, std::get<2>(key) / 2});
  for (const auto& [key, bytes] : tiles) {
    const auto [zoom, x, y] = key;
    if (zoom == top || given.count(key)) continue;
    SCOPED_TRACE(std::to_string(zoom) + "/" + std::to_string(x) + "/" + std::to_string(y));
    EXPECT_TRUE(parents.count(key));
    const auto format = [](const std::string& tile) { return tile.substr(0, 4); };
    const bool alpha = !bytes.starts_with("\xFF\xD8");
    TRgba want(TilePixels * 4, 0);
    for (int q = 0; q < 4; ++q) {
      const auto child = tiles.find({zoom + 1, 2 * x + q % 2, 2 * y + q / 2});
      if (child != tiles.end()) {
        EXPECT_EQ(format(child->second), format(bytes));
      }
      const TRgba pixels = child == tiles.end() ? TRgba(TilePixels * 4, 0) : Decoded(child->second);
      for (int r = 0; r < TileSide / 2; ++r)
        for (int c = 0; c < TileSide / 2; ++c)
          for (int k = 0; k < 4; ++k) {
            int sum = 0;
            for (int d = 0; d < 4; ++d)
              sum += pixels[((2 * r + d / 2) * TileSide + 2 * c + d % 2) * 4 + k];
            const std::size_t at = ((r + (q / 2) * TileSide / 2) * TileSide + c + (q % 2) * TileSide / 2) * 4 + k;
            want[at] = static_cast<unsigned char>((sum + 2) / 4);
            if (!alpha && child == tiles.end()) want[at] = 255;
          }
    }
    const TRgba pixels = Decoded(bytes);
    EXPECT_LT(Compare(pixels, want).MeanDifference, tolerance);
    for (std::size_t i = 3; alpha && i < want.size(); i += 4) {
      if (pixels[i] == want[i]) continue;
      ADD_FAILURE() << "alpha " << int(pixels[i]) << " where " << int(want[i]) << " belongs";
      break;
    }
  }
}

// A tile folder of a zoom, with the program folder beside it; tiles named as
// a task of a map type of the format names them: "gs_X_Y_Z.jpg", "gm_X_Y_Z.png",
// and WebP ones, which no map type has, in a Z/X/Y tree.
struct TInputs {
  TInputs() { fs::create_directories(Program / "blankimg"); }
  void Put(int zoom, int x, int y, const std::string& format, const std::string& bytes) const {
    const fs::path folder = Dir / ("z" + std::to_string(zoom));
    const std::string name = format == "webp" ? std::to_string(zoom) + "/" + std::to_string(x) + "/" + std::to_string(y)
                                              : (format == "png" ? "gm_" : "gs_") + std::to_string(x) + "_" +
                                                    std::to_string(y) + "_" + std::to_string(zoom);
    fs::create_directories((folder / name).parent_path());
    WriteAll(folder / (name + "." + format), bytes);
  }
  // Columns x0..x1, rows y0..y1 of SourceTile, but for the tiles in gaps.
  void PutRange(int zoom, int x0, int y0, int x1, int y1, const std::string& format, std::set<std::pair<int, int>> gaps = {}) {
    for (int y = y0; y <= y1; ++y)
      for (int x = x0; x <= x1; ++x)
        if (!gaps.count({x, y})) Put(zoom, x, y, format, SourceTile(x, y, format));
  }
  TTileSource Source(int zoom) const { return FolderSources(Dir / ("z" + std::to_string(zoom)), zoom).front(); }
  TCombineRun Run(const fs::path& output, std::optional<int> minZoom = std::nullopt) const {
    return {.Output = output, .Options = {.Quality = 90, .Name = {}, .Description = {}, .MinZoom = minZoom},
            .ProgramFolder = Program};
  }
  TTempDir Dir;
  fs::path Program = Dir / "program";
};

std::set<TKey> Keys(const TTiles& tiles) {
  std::set<TKey> keys;
  for (const auto& entry : tiles) keys.insert(entry.first);
  return keys;
}

TEST(HalveTileTest, ABlockIsTheMeanOfItsPixelsWeightedByAlpha) {
  using TPixel = std::array<int, 4>;
  const struct {
    const char* Name;
    std::array<TPixel, 4> Block;  // top left, top right, bottom left, bottom right
    TPixel Want;
  } cases[] = {
      {"opaque", {{{10, 0, 0, 255}, {20, 0, 0, 255}, {30, 0, 0, 255}, {40, 0, 0, 255}}}, {25, 0, 0, 255}},
      {"half uncovered", {{{100, 50, 0, 255}, {0, 0, 0, 0}, {100, 50, 0, 255}, {0, 0, 0, 0}}}, {100, 50, 0, 128}},
      {"uncovered", {{{0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}}}, {0, 0, 0, 0}},
      {"by alpha", {{{200, 0, 0, 255}, {0, 0, 0, 85}, {0, 0, 0, 0}, {0, 0, 0, 0}}}, {150, 0, 0, 85}},
      {"white", {{{255, 255, 255, 255}, {255, 255, 255, 255}, {255, 255, 255, 255}, {255, 255, 255, 255}}},
       {255, 255, 255, 255}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TRgba tile(TilePixels * 4, 0), half;
    // The block at the bottom right corner: a mistake in the strides shows there.
    for (int q = 0; q < 4; ++q)
      for (int k = 0; k < 4; ++k)
        tile[((TileSide - 2 + q / 2) * TileSide + TileSide - 2 + q % 2) * 4 + k] = static_cast<unsigned char>(c.Block[q][k]);
    HalveTile(tile.data(), half);
    ASSERT_EQ(half.size(), TilePixels);
    const std::size_t last = half.size() - 4;
    EXPECT_EQ((TPixel{half[last], half[last + 1], half[last + 2], half[last + 3]}), c.Want);
  }
}

TEST(LowestZoomTest, TheZoomWhereEverySetFitsOneTileButNoneAboveTheLowestSet) {
  const struct {
    const char* Name;
    std::vector<TTileSet> Sets;
    int Want;
  } cases[] = {
      {"one tile", {SetOf(7, 10, 10, 10, 10)}, 7},
      {"two tiles of one parent", {SetOf(7, 10, 10, 11, 11)}, 6},
      {"across a parent's edge", {SetOf(7, 11, 10, 12, 10)}, 4},  // 11 and 12 meet at zoom 4 only
      {"across the world's middle", {SetOf(3, 3, 0, 4, 0)}, 0},
      {"a set of a lower zoom", {SetOf(7, 10, 10, 10, 10), SetOf(4, 1, 1, 1, 1)}, 4},
      {"a lower set further away", {SetOf(7, 10, 10, 10, 10), SetOf(5, 7, 2, 7, 2)}, 2},
  };
  for (const auto& c : cases) EXPECT_EQ(LowestZoom(c.Sets), c.Want) << c.Name;
}

TEST(PyramidTest, EachLowerTileIsTheMeanOfItsChildrenInTheirFormat) {
  // Columns 5..8 of zoom 5 meet in one tile at zoom 1 only; a gap leaves a lower tile partly uncovered.
  for (const std::string format : {"jpg", "png", "webp"}) {
    SCOPED_TRACE(format);
    TInputs inputs;
    inputs.PutRange(5, 5, 9, 8, 11, format, {{5, 9}, {6, 9}});
    std::map<std::string, std::string> metadata;
    const TCombineSummary summary = Combine(inputs.Source(5), inputs.Run(inputs.Dir / "out.mbtiles"));
    const TTiles tiles = ReadMbtiles(inputs.Dir / "out.mbtiles", metadata);
    EXPECT_EQ(metadata["minzoom"], "1");
    EXPECT_EQ(metadata["maxzoom"], "5");
    // Zoom 4: columns 2..4, rows 4..5 but (2,4), whose one child in the set is
    // a gap; zoom 3: 1..2, 2; zoom 2: 0..1, 1; zoom 1: 0, 0.
    const std::map<int, long long> levels{{1, 1}, {2, 2}, {3, 2}, {4, 5}};
    EXPECT_EQ(summary.Levels, levels);
    EXPECT_EQ(summary.Built, 10);
    EXPECT_EQ(summary.Written(), 10 + 10);
    EXPECT_EQ(tiles.size(), 10u + 10u);
    EXPECT_FALSE(tiles.count({4, 2, 4}));
    EXPECT_EQ(metadata["format"], format);
    ExpectAveragesOfChildren(tiles, 5, format == "png" ? 0.6 : 3.0);
    const std::string text = SummaryText(summary, inputs.Dir / "out.mbtiles");
    EXPECT_EQ(text.substr(0, text.find(';')), "20 tiles written, 10 at zoom 5 and 10 at zooms 1 to 4 (10 of them built)");
  }
}

TEST(PyramidTest, ThePmtilesPackageReadsEveryZoomAsTheMbtilesHasIt) {
  if (!HaveProgram("node")) GTEST_SKIP() << "node is not installed: the pmtiles package's reader was not run";
  TInputs inputs;
  inputs.PutRange(5, 5, 9, 8, 11, "jpg", {{8, 11}});
  Combine(inputs.Source(5), inputs.Run(inputs.Dir / "out.mbtiles", 2));
  Combine(inputs.Source(5), inputs.Run(inputs.Dir / "out.pmtiles", 2));
  std::map<std::string, std::string> metadata;
  const TTiles tiles = ReadMbtiles(inputs.Dir / "out.mbtiles", metadata);
  for (int zoom = 1; zoom <= 6; ++zoom) {
    SCOPED_TRACE(zoom);
    const TTileSet set = SetOf(zoom, (5 << 5 >> (5 - std::min(zoom, 5))) >> 5, 0, 8 >> std::max(0, 5 - zoom), 11 >> std::max(0, 5 - zoom));
    const std::string read = ReadWithPackage(inputs.Dir, inputs.Dir / "out.pmtiles", set);
    const std::size_t firstLine = read.find('\n') + 1;
    const std::string head = read.substr(0, firstLine);
    for (const char* part : {R"("clustered":true)", R"("minZoom":2,"maxZoom":5)", R"("minzoom":"2")"})
      EXPECT_NE(head.find(part), std::string::npos) << part << " in " << head;
    const std::string got = read.substr(firstLine);
    const std::string want = PackageExpected(set, [&](int x, int y) -> std::optional<std::string> {
      const auto tile = tiles.find({zoom, x, y});
      return tile == tiles.end() ? std::nullopt : std::optional(tile->second);
    });
    EXPECT_TRUE(got == want) << got.substr(0, 300);
  }
}

TEST(PyramidTest, AFolderOfTilesHoldsEveryZoomWithItsMetadata) {
  TInputs inputs;
  inputs.PutRange(5, 5, 9, 8, 11, "jpg", {{5, 9}});
  Combine(inputs.Source(5), inputs.Run(inputs.Dir / "out.mbtiles"));
  std::map<std::string, std::string> metadata;
  const TTiles tiles = ReadMbtiles(inputs.Dir / "out.mbtiles", metadata);
  const fs::path folder = inputs.Dir / "web";
  // What a killed run left goes.
  fs::create_directories(PartialName(folder, "1-0") / "5");
  const TCombineSummary summary = Combine(inputs.Source(5), inputs.Run(folder.string() + "/"));
  TTiles files;
  std::uintmax_t bytes = 0;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (!entry.is_regular_file() || entry.path().filename() == "metadata.json") continue;
    const fs::path relative = fs::relative(entry.path(), folder);
    auto part = relative.begin();
    const int zoom = std::stoi(part++->string()), x = std::stoi(part++->string());
    EXPECT_EQ(part->extension(), ".jpg");
    files[{zoom, x, std::stoi(part->stem().string())}] = ReadAll(entry.path());
    bytes += entry.file_size();
  }
  EXPECT_EQ(Keys(files), Keys(tiles));
  EXPECT_TRUE(files == tiles);
  const std::string json = ReadAll(folder / "metadata.json");
  for (const char* part : {R"("format": "jpg")", R"("minzoom": "1")", R"("maxzoom": "5")", R"("bounds": ")"})
    EXPECT_NE(json.find(part), std::string::npos) << part << " in " << json;
  EXPECT_EQ(summary.OutputBytes, bytes + json.size());
  // Nothing of the run is left beside it.
  for (const auto& entry : fs::directory_iterator(inputs.Dir.Path()))
    EXPECT_FALSE(entry.path().filename().string().starts_with(".web")) << entry.path();
}

TEST(PyramidTest, AFolderOutputReplacesOnlyAnEmptyFolderOrAnEarlierOutput) {
  enum class TThere { Nothing, Empty, Earlier, OtherFiles, AFile };
  const struct {
    const char* Name;
    TThere There;
    bool Written;
  } cases[] = {
      {"nothing", TThere::Nothing, true},      {"an empty folder", TThere::Empty, true},
      {"an earlier output", TThere::Earlier, true}, {"a folder of other files", TThere::OtherFiles, false},
      {"a file", TThere::AFile, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TInputs inputs;
    inputs.PutRange(3, 2, 2, 3, 2, "png");
    const fs::path folder = inputs.Dir / "web";
    if (c.There == TThere::Empty) fs::create_directories(folder);
    if (c.There == TThere::Earlier) {
      fs::create_directories(folder / "9" / "1");
      WriteAll(folder / "9" / "1" / "1.png", "old");
      WriteAll(folder / "metadata.json", "{}");
    }
    if (c.There == TThere::OtherFiles) {
      fs::create_directories(folder / "3");
      WriteAll(folder / "notes.txt", "mine");
    }
    if (c.There == TThere::AFile) WriteAll(folder, "a file");
    try {
      Combine(inputs.Source(3), inputs.Run(folder.string() + "/"));
      EXPECT_TRUE(c.Written);
    } catch (const ECombineInputError& e) {
      EXPECT_FALSE(c.Written) << e.what();
      EXPECT_NE(std::string(e.what()).find(folder.string()), std::string::npos) << e.what();
    }
    EXPECT_EQ(fs::exists(folder / "3" / "2" / "2.png"), c.Written);
    EXPECT_FALSE(fs::exists(folder / "9"));  // the earlier output is gone whole
    if (c.There == TThere::OtherFiles) {
      EXPECT_EQ(ReadAll(folder / "notes.txt"), "mine");
    }
    if (c.There == TThere::AFile) {
      EXPECT_EQ(ReadAll(folder), "a file");
    }
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(inputs.Dir.Path())) left.push_back(entry.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"program", "web", "z3"}));
  }
}

TEST(PyramidTest, AnInputOfALowerZoomGivesItsSoundTilesAndTheZoomsBelowAreBuiltFromThem) {
  TInputs inputs;
  inputs.PutRange(5, 5, 9, 8, 11, "jpg");
  // Zoom 3: (1,2) its own, (2,2) damaged (built there instead), (3,2) beyond the finer tiles.
  inputs.Put(3, 1, 2, "jpg", SourceTile(40, 40, "jpg"));
  inputs.Put(3, 2, 2, "jpg", "<html>Service unavailable</html>");
  inputs.Put(3, 3, 2, "jpg", SourceTile(41, 40, "jpg"));
  const TCombineSummary summary =
      Combine(std::vector<TTileSource>{inputs.Source(3), inputs.Source(5)}, inputs.Run(inputs.Dir / "out.mbtiles"));
  std::map<std::string, std::string> metadata;
  const TTiles tiles = ReadMbtiles(inputs.Dir / "out.mbtiles", metadata);
  EXPECT_EQ(tiles.at({3, 1, 2}), SourceTile(40, 40, "jpg"));
  EXPECT_EQ(tiles.at({3, 3, 2}), SourceTile(41, 40, "jpg"));
  EXPECT_TRUE(tiles.at({3, 2, 2}).starts_with("\xFF\xD8"));
  // Zoom 2's (1,1) has the input's (3,2) as a child, which no finer tile covers.
  EXPECT_TRUE(tiles.count({2, 1, 1}));
  EXPECT_EQ(metadata["minzoom"], "1");
  EXPECT_EQ(summary.Count(TTileKind::NotImage), 1);
  EXPECT_EQ(summary.Count(TTileKind::Good), 12 + 2);
  EXPECT_EQ(summary.Levels.at(3), 3);
  EXPECT_EQ(summary.WrittenAtZoom(), 12);
  EXPECT_EQ(summary.Written(), static_cast<long long>(tiles.size()));
  // The built ones are the mean of what is stored below them, the input's tiles included.
  ExpectAveragesOfChildren(tiles, 5, 3.0, {{3, 1, 2}, {3, 3, 2}});
}

TEST(PyramidTest, TheLowestZoomIsTheUsersWithinTheZoomsThereAre) {
  const struct {
    const char* Output;
    std::optional<int> MinZoom;
    std::set<int> Zooms;  // empty: refused
  } cases[] = {
      {"a.mbtiles", 5, {5}}, {"a.pmtiles", 3, {3, 4, 5}}, {"a.mbtiles", 0, {0, 1, 2, 3, 4, 5}},
      {"a.mbtiles", 6, {}},  {"a.mbtiles", -1, {}},        {"a.tif", 3, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.Output) + " " + std::to_string(c.MinZoom.value_or(-9)));
    TInputs inputs;
    inputs.PutRange(5, 5, 9, 6, 9, "png");
    try {
      Combine(inputs.Source(5), inputs.Run(inputs.Dir / c.Output, c.MinZoom));
      EXPECT_FALSE(c.Zooms.empty());
    } catch (const ECombineInputError& e) {
      EXPECT_TRUE(c.Zooms.empty()) << e.what();
      EXPECT_FALSE(fs::exists(inputs.Dir / c.Output));
      continue;
    }
    std::set<int> zooms;
    const auto archive = OpenTileArchive(inputs.Dir / c.Output);
    for (int zoom = 0; zoom <= 6; ++zoom)
      if (archive->Get(zoom, 5 >> (5 - std::min(zoom, 5)), 9 >> (5 - std::min(zoom, 5)))) zooms.insert(zoom);
    EXPECT_EQ(zooms, c.Zooms);
  }
}

}  // namespace
}  // namespace meridane::test
