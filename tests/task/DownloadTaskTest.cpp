#include <gtest/gtest.h>

#include <filesystem>

#include "config/Config.h"
#include "support/TempDir.h"
#include "task/DownloadTask.h"
#include "task/Requests.h"

namespace meridane {
namespace {

namespace fs = std::filesystem;
using test::Request;
using test::TTempDir;

TEST(DownloadTask, ExampleRangeEdgesAndWalk) {
  TTempDir dir;
  const TTaskParams p = Request(dir.Folder(), 116.39, 116.8, 39.9, 39.5, 10);
  const TDownloadTask task(p);
  EXPECT_EQ(task.MinX, 843);
  EXPECT_EQ(task.MaxX, 844);
  EXPECT_EQ(task.MinY, 388);
  EXPECT_EQ(task.MaxY, 389);
  EXPECT_EQ(task.TotalCount, 4);
  EXPECT_EQ(task.LeftEdge, 116.3671875);
  EXPECT_EQ(task.RightEdge, 117.0703125);
  EXPECT_NEAR(task.TopEdge, 39.9097362345, 1e-10);
  EXPECT_NEAR(task.BottomEdge, 39.3682791492, 1e-10);
  EXPECT_EQ(task.SequenceOf(843, 388), 1);
  EXPECT_EQ(task.SequenceOf(843, 389), 2);
  EXPECT_EQ(task.SequenceOf(844, 388), 3);
  EXPECT_EQ(task.SequenceOf(844, 389), 4);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(task.ThreadX[i] + task.ThreadY[i], 0);
}

TEST(DownloadTask, RangeShapes) {
  struct Case {
    double Left, Right, Top, Bottom;
    int Zoom, MapsType;
    int MinX, MaxX, MinY, MaxY, Total;
  };
  const Case cases[] = {
      {116.40, 116.41, 39.905, 39.90, 10, 1, 843, 843, 388, 388, 1},  // inside one tile
      {10, 10, 20, 20, 8, 1, 135, 135, 113, 113, 1},                  // equal edges
      {179, 180, 1, -1, 4, 1, 15, 15, 7, 8, 2},                       // the east end is the last column
      {0, 1, 1, 0, 1, 1, 0, 1, 0, 1, 4},                              // prime meridian: column west of it
      {-180, 180, 90, -90, 2, 1, 0, 3, 0, 3, 16},                     // the poles: the grid's first and last row
      {-180, 180, 89, 86, 2, 1, 0, 3, 0, 0, 4},                       // north of the limit: row 0, never -1
      {116.39, 116.8, 39.9, 39.5, 10, 6, 843, 844, 634, 635, 4},      // rows counted from the south
  };
  TTempDir dir;
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    TTaskParams p = Request(dir.Folder(), c.Left, c.Right, c.Top, c.Bottom, c.Zoom);
    p.MapsType = c.MapsType;
    const TDownloadTask task(p);
    EXPECT_EQ(task.MinX, c.MinX) << "case " << i;
    EXPECT_EQ(task.MaxX, c.MaxX) << "case " << i;
    EXPECT_EQ(task.MinY, c.MinY) << "case " << i;
    EXPECT_EQ(task.MaxY, c.MaxY) << "case " << i;
    EXPECT_EQ(task.TotalCount, c.Total) << "case " << i;
  }
}

TEST(DownloadTask, EdgesOfTheWholeGridAndOfRowsFromTheSouth) {
  TTempDir dir;
  const TTaskParams world = Request(dir.Folder(), -180, 180, 90, -90, 3);
  const TDownloadTask whole(world);
  EXPECT_EQ(whole.LeftEdge, -180);
  EXPECT_EQ(whole.RightEdge, 180);
  EXPECT_NEAR(whole.TopEdge, 85.0511287798, 1e-10);
  EXPECT_NEAR(whole.BottomEdge, -85.0511287798, 1e-10);

  TTaskParams south = Request(dir.Folder(), 116.39, 116.8, 39.9, 39.5, 10);
  south.MapsType = 7;
  const TDownloadTask task(south);
  EXPECT_NEAR(task.TopEdge, 39.9097362345, 1e-10);
  EXPECT_NEAR(task.BottomEdge, 39.3682791492, 1e-10);
}

TEST(DownloadTask, TooManyTilesAreRefused) {
  TTempDir dir;
  const TTaskParams p = Request(dir.Folder(), -180, 180, 85, -85, 20);
  try {
    TDownloadTask task(p);
    FAIL() << "built a task of " << task.TotalCount << " tiles";
  } catch (const ETaskBuildError& e) {
    EXPECT_STREQ(e.what(), "Too many images: 1095910817792. Please select a smaller area or a lower zoom level.");
  }
  EXPECT_FALSE(fs::exists(dir / "newtask"));  // refused before anything was created
}

TEST(DownloadTask, PathsAndTileFolder) {
  TTempDir dir;
  struct Case {
    const char* TaskName;
    const char* Base;
  };
  const Case cases[] = {{"newtask.mrd", "newtask"}, {"a.b.mrd", "a.b"}, {"plain", "plain"}};
  for (const Case& c : cases) {
    TTaskParams p = Request(dir.Folder(), 116.39, 116.8, 39.9, 39.5, 10);
    p.TaskName = c.TaskName;
    TDownloadTask task(p);
    const std::string base = dir.Folder() + c.Base;
    EXPECT_EQ(task.LogPath, base + "_log.txt");
    EXPECT_EQ(task.FailedPath, base + "_failed.ftl");
    EXPECT_EQ(task.ListPath, base + "_list.txt");
    EXPECT_EQ(task.TileFolder, base + "/");
    EXPECT_FALSE(fs::exists(task.TileFolder));  // building a task touches no file
    task.CreateTileFolder();
    EXPECT_TRUE(fs::is_directory(task.TileFolder));
    EXPECT_EQ(task.ProjectPath(), dir.Folder() + c.TaskName);
  }
  // An existing tile folder is kept as it is.
  TTaskParams again = Request(dir.Folder(), 116.39, 116.8, 39.9, 39.5, 10);
  test::WriteAll(dir / "newtask" / "keep.jpg", "x");
  TDownloadTask task(again);
  task.CreateTileFolder();
  EXPECT_TRUE(fs::exists(dir / "newtask" / "keep.jpg"));
}

TEST(DownloadTask, TileFolderThatCannotBeCreated) {
  TTempDir dir;
  TTaskParams p = Request(dir.Folder(), 116.39, 116.8, 39.9, 39.5, 10);
  p.Folder = dir.Folder() + "missing/";  // only one level is created
  TDownloadTask task(p);
  try {
    task.CreateTileFolder();
    FAIL();
  } catch (const ETaskBuildError& e) {
    EXPECT_EQ(std::string(e.what()), "Create directory " + dir.Folder() + "missing/newtask/ Failed.");
  }
}

TEST(DownloadTask, ResumePositionsFromTheProjectFile) {
  TTempDir dir;
  test::WriteAll(dir / "newtask.mrd",
                 "[THREADS]\r\nThreadCount=3\r\nT1X=\r\nT1Y=\r\nT2X=844\r\nT2Y=389\r\nt3x=7\r\nT3Y=abc\r\nT4X=9\r\n"
                 "T4Y=389\r\n");
  TTaskParams p = Request(dir.Folder(), 116.39, 116.8, 39.9, 39.5, 10);
  p.ThreadCount = 3;
  p.Resume = true;
  const TDownloadTask task(p, TProjectReader(dir / "newtask.mrd").Positions());
  EXPECT_EQ(task.ThreadX[0], 0);  // empty value
  EXPECT_EQ(task.ThreadY[0], 0);
  EXPECT_EQ(task.ThreadX[1], 844);
  EXPECT_EQ(task.ThreadY[1], 389);
  EXPECT_EQ(task.ThreadX[2], 7);  // names match without regard to case
  EXPECT_EQ(task.ThreadY[2], 0);  // not a number
  EXPECT_EQ(task.ThreadX[3], 0);  // beyond the thread count: not taken
  EXPECT_TRUE(task.DamagedPositions.empty());
}

TEST(TileAddressing, SatelliteUrlsAndNames) {
  TTempDir dir;
  const TTaskParams p = Request(dir.Folder(), 116.39, 116.8, 39.9, 39.5, 10);
  const TDownloadTask task(p);
  EXPECT_EQ(task.TileUrl(843, 388), "http://khm0.google.com/kh/v=91&s=Galil&x=843&y=388&z=10");
  EXPECT_EQ(task.TileFileName(843, 388), "gs_843_388_10.jpg");
  EXPECT_EQ(task.TilePath(843, 388), dir.Folder() + "newtask/gs_843_388_10.jpg");
  EXPECT_EQ(task.TileExtension(), "jpg");
  // Consecutive rows rotate over the four servers.
  for (int y = 0; y <= 4; ++y)
    EXPECT_EQ(task.TileUrl(0, y).substr(0, 23), "http://khm" + std::to_string(y % 4) + ".google.com/") << y;
  EXPECT_EQ(task.TileFileName(5, -1), "gs_5_-1_10.jpg");
}

TEST(TileAddressing, GalileoPrefix) {
  const char* byRow[] = {"", "G", "Ga", "Gal", "Gali", "Galil", "Galile", "Galileo"};
  for (int y = 0; y < 8; ++y) {
    EXPECT_EQ(GalileoPrefix(0, y), byRow[y]) << y;
    EXPECT_EQ(GalileoPrefix(0, y + 8), byRow[y]) << y;
  }
  EXPECT_EQ(GalileoPrefix(1, 0), "Gal");
  EXPECT_EQ(GalileoPrefix(2, 0), "Galile");
  EXPECT_EQ(GalileoPrefix(3, 0), "G");
  EXPECT_EQ(GalileoPrefix(843, 388), "Galil");
  for (int x = 0; x < 50; ++x)
    for (int y = 0; y < 20; ++y) EXPECT_EQ(GalileoPrefix(x, y).size(), static_cast<std::size_t>((3 * x + y) % 8));
}

TEST(TileAddressing, OtherMapTypesNameFilesButHaveNoUrl) {
  TTempDir dir;
  struct Case {
    int MapsType;
    const char* Name;
    const char* Extension;
  };
  const Case cases[] = {{0, "gm_3_7_5.png", "png"},
                        {6, "ms_3_7_5.jpg", "jpg"},
                        {8, "os_3_7_5.png", "png"},
                        {9, "_3_7_5.", ""},
                        {-1, "_3_7_5.", ""}};
  for (const Case& c : cases) {
    TTaskParams p = Request(dir.Folder(), 0, 10, 10, 0, 5);
    p.MapsType = c.MapsType;
    const TDownloadTask task(p);
    EXPECT_EQ(task.TileFileName(3, 7), c.Name);
    EXPECT_EQ(task.TileExtension(), c.Extension);
    EXPECT_EQ(task.TileUrl(3, 7), "");
  }
}

// Hosts and pattern travel from config.ini through the request to the URL.
TEST(TileAddressing, ConfiguredHostsAndPattern) {
  TTempDir dir;
  test::WriteAll(dir / "config.ini",
                 "[Servers]\r\nHost0=127.0.0.1:8080\r\nHost1=h1\r\n"
                 "UrlTemplate=https://{host}/tiles/{z}/{x}/{y}.jpg?g={galileo}&{unknown}\r\n"
                 "[Download]\r\nTilePause=0\r\n");
  TTaskParams p = Request(dir.Folder(), 116.39, 116.8, 39.9, 39.5, 10);
  ApplyStartConfig(p, TConfig(dir / "config.ini").ReadStart());
  EXPECT_EQ(p.TilePauseMs, 0);
  const TDownloadTask task(p);
  EXPECT_EQ(task.TileUrl(843, 388), "https://127.0.0.1:8080/tiles/10/843/388.jpg?g=Galil&{unknown}");
  EXPECT_EQ(task.TileUrl(843, 389), "https://h1/tiles/10/843/389.jpg?g=Galile&{unknown}");
  EXPECT_EQ(task.TileUrl(843, 390), "https://khm2.google.com/tiles/10/843/390.jpg?g=Galileo&{unknown}");
}

}  // namespace
}  // namespace meridane
