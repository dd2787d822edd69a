#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>

#include "config/AtomicFile.h"
#include "config/Config.h"
#include "support/TempDir.h"
#include "task/ProjectFile.h"
#include "task/Requests.h"

namespace meridane {
namespace {

namespace fs = std::filesystem;
using test::ReadAll;
using test::TTempDir;
using test::WriteAll;

TTaskParams Example(const TTempDir& dir) { return test::ExampleRequest(dir.Folder()); }

// Every entry under a folder with its bytes: what a reader must leave as it was.
std::map<std::string, std::string> Snapshot(const fs::path& folder) {
  std::map<std::string, std::string> entries;
  for (const auto& entry : fs::recursive_directory_iterator(folder))
    entries[entry.path().string()] = entry.is_regular_file() ? ReadAll(entry.path()) : "<folder>";
  return entries;
}

TEST(ProjectFile, NewProjectReadsBackAsItsRequest) {
  TTempDir dir;
  const TTaskParams p = Example(dir);
  const fs::path path = dir / "newtask.mrd";
  WriteNewProject(path, p, ComputeTileRange(p));
  EXPECT_EQ(ReadAll(path), ReadAll(test::TaskData / "newtask.mrd"));

  const TProjectReader project(path);
  const struct {
    TProjectValue Value;
    const char* Text;
  } values[] = {
      {TProjectValue::MapsType, "1"},  {TProjectValue::LeftLongitude, "116.39"},
      {TProjectValue::RightLongitude, "116.8"}, {TProjectValue::TopLatitude, "39.9"},
      {TProjectValue::BottomLatitude, "39.5"},  {TProjectValue::Zoom, "10"},
      {TProjectValue::MinX, "843"},             {TProjectValue::MinY, "388"},
      {TProjectValue::MaxX, "844"},             {TProjectValue::MaxY, "389"},
      {TProjectValue::ThreadCount, "2"},
  };
  for (const auto& v : values) EXPECT_EQ(project.Text(v.Value), v.Text) << static_cast<int>(v.Value);
  EXPECT_EQ(project.Positions(), TPositions{});

  const auto before = Snapshot(dir.Path());
  TStartConfig config;
  config.Hosts = {"a", "b", "c", "d"};
  config.UrlTemplate = "http://{host}/{z}/{x}/{y}";
  const TTaskParams opened = OpenTaskReadOnly(path, config);
  EXPECT_EQ(Snapshot(dir.Path()), before);  // nothing written, no tile folder
  EXPECT_EQ(opened.Folder, dir.Folder());
  EXPECT_EQ(opened.TaskName, "newtask.mrd");
  EXPECT_EQ(opened.LeftLongitude, p.LeftLongitude);
  EXPECT_EQ(opened.RightLongitude, p.RightLongitude);
  EXPECT_EQ(opened.TopLatitude, p.TopLatitude);
  EXPECT_EQ(opened.BottomLatitude, p.BottomLatitude);
  EXPECT_EQ(opened.Zoom, 10);
  EXPECT_EQ(opened.MapsType, 1);
  EXPECT_EQ(opened.ThreadCount, 2);
  const TTileGrid grid(opened);
  EXPECT_EQ(grid.TilePath(843, 388), dir.Folder() + "newtask/gs_843_388_10.jpg");
  EXPECT_EQ(grid.TileUrl(843, 389), "http://b/10/843/389");
  EXPECT_EQ(Snapshot(dir.Path()), before);
}

TEST(ProjectFile, ValuesReadAsTheirDefaultsWhenMissingOrNoNumber) {
  struct Case {
    const char* Content;
    int Zoom;  // read with 100 for a missing value
    const char* Text;
  };
  const Case cases[] = {
      {"[zoom]\r\n ZOOM = 12 \r\n", 12, "12"},
      {"", 100, ""},
      {"[Zoom]\r\nZoom=\r\n", 100, ""},
      {"[Zoom]\r\nZoom=1e1\r\n", 100, "1e1"},
      {"[THREADS]\r\nZoom=5\r\n", 100, ""},  // another section's key
  };
  for (const Case& c : cases) {
    const TProjectReader project = TProjectReader::FromText(c.Content);
    EXPECT_EQ(project.Integer(TProjectValue::Zoom, 100), c.Zoom) << c.Content;
    EXPECT_EQ(project.Text(TProjectValue::Zoom), c.Text) << c.Content;
  }
  TTempDir dir;
  EXPECT_EQ(TProjectReader(dir / "missing.mrd").Integer(TProjectValue::MapsType, 7), 7);
  EXPECT_EQ(TProjectReader(dir.Path()).Integer(TProjectValue::MapsType, 7), 7);  // a folder cannot be read
}

TEST(ProjectFile, PositionsReplaceTheirKeysInPlace) {
  TTempDir dir;
  const TTaskParams p = Example(dir);
  const fs::path path = dir / "newtask.mrd";
  WriteNewProject(path, p, ComputeTileRange(p));
  const std::string fresh = ReadAll(path);

  TPositions positions;
  positions[0] = {844, 389};
  positions[1] = {0, 388};  // a 0 is no position: its key stays empty
  positions[7] = {843, 0};
  WriteProjectPositions(path, positions);
  std::string expected = fresh;
  for (const auto& [from, to] : {std::pair{"T1X=\r", "T1X=844\r"}, {"T1Y=\r", "T1Y=389\r"}, {"T2Y=\r", "T2Y=388\r"},
                                 {"T8X=\r", "T8X=843\r"}})
    expected.replace(expected.find(from), std::string(from).size(), to);
  EXPECT_EQ(ReadAll(path), expected);
  EXPECT_EQ(TProjectReader(path).Positions(), positions);

  // Later saves: a 0 leaves what is stored.
  TPositions later;
  later[0] = {0, 400};
  WriteProjectPositions(path, later);
  EXPECT_EQ(TProjectReader(path).Positions()[0], (TTilePosition{844, 400}));
  EXPECT_FALSE(AnyPosition(TPositions{}));
  WriteProjectPositions(dir / "none.mrd", TPositions{});  // nothing to store: no file
  EXPECT_FALSE(fs::exists(dir / "none.mrd"));
}

TEST(ProjectFile, OpeningWhatIsNoTaskFails) {
  TTempDir dir;
  const std::string area = "[AREA]\r\nLeftLongitude=1\r\nRightLongitude=2\r\nTopLatitude=4\r\nBottomLatitude=3\r\n";
  struct Case {
    const char* Name;
    std::string Content;
    const char* Error;  // empty: opens
    int MapsType = 1, ThreadCount = 1;
  };
  const Case cases[] = {
      {"plain", area + "[MapsType]\r\nMapsType=6\r\n[THREADS]\r\nThreadCount=3\r\n", "", 6, 3},
      {"unknown map type, many threads", area + "[MapsType]\r\nMapsType=8\r\n[THREADS]\r\nThreadCount=12\r\n", "", 1,
       8},
      {"no area", "[Zoom]\r\nZoom=3\r\n", "has no valid LeftLongitude."},
      {"beyond the pole", "[AREA]\r\nLeftLongitude=1\r\nRightLongitude=2\r\nTopLatitude=91\r\n",
       "has no valid TopLatitude."},
      {"text for a number", "[AREA]\r\nLeftLongitude=1\r\nRightLongitude=2\r\nTopLatitude=x\r\n",
       "has no valid TopLatitude."},
      {"beyond the date line", "[AREA]\r\nLeftLongitude=-181\r\n", "has no valid LeftLongitude."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    const fs::path path = dir / "task.mrd";
    WriteAll(path, c.Content);
    try {
      const TTaskParams params = OpenTaskReadOnly(path, {});
      EXPECT_STREQ(c.Error, "");
      EXPECT_EQ(params.MapsType, c.MapsType);
      EXPECT_EQ(params.ThreadCount, c.ThreadCount);
    } catch (const ETaskBuildError& e) {
      EXPECT_EQ(std::string(e.what()), "The project file " + path.string() + " " + c.Error);
    }
  }
  // Unlike the main window's reading, a project that cannot be read is no task.
  ASSERT_EQ(::mkfifo((dir / "pipe.mrd").c_str(), 0600), 0);
  for (const char* name : {"missing.mrd", "pipe.mrd", ""})
    EXPECT_THROW(OpenTaskReadOnly(dir / name, {}), EFileError) << name;
}

}  // namespace
}  // namespace meridane
