#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <map>
#include <sstream>

#include "cli/Cli.h"
#include "cli/CliServer.h"
#include "combine/RecordingSink.h"
#include "config/Config.h"
#include "mosaren/CombineForm.h"
#include "mosaren/Console.h"
#include "mosaren/RunConsole.h"
#include "support/Images.h"
#include "support/Process.h"
#include "support/TempDir.h"
#include "task/ProjectFile.h"
#include "tiles/Coverage.h"
#include "ui/HeadlessToolkit.h"

namespace meridane::test {
namespace {

namespace fs = std::filesystem;

TEST(CombineConsoleTest, ExitStatusesAndMessages) {
  TTempDir dir;
  fs::create_directories(dir / "tiles");
  const std::string jpeg = EncodeJpeg(256, 256);
  for (const char* name : {"gs_5_6_4.jpg", "gs_6_6_4.jpg"}) WriteAll(dir / "tiles" / name, jpeg);
  WriteAll(dir / "tiles" / "gs_5_7_4.jpg", "<html>");
  WriteAll(dir / "tiles" / "gs_6_7_4.jpg", "\xFF\xD8\xFF a stub of a tile");
  // Tiles none of which can be written.
  fs::create_directories(dir / "bad");
  WriteAll(dir / "bad" / "gs_5_6_4.jpg", jpeg.substr(0, jpeg.size() / 2));
  WriteAll(dir / "bad" / "gs_6_6_4.jpg", "<html>");
  const std::string tiles = (dir / "tiles").string(), out = (dir / "map.mbtiles").string();
  const std::string none = (dir / "none.mrd").string();
  TSinkLog log;
  int signal = 0;
  const TCombineEnvironment recording{
      .ProgramFolder = dir.Path(), .StopSignal = [&] { return signal; }, .MakeSink = RecordingSinks(log)};
  const TCombineEnvironment failing{.ProgramFolder = dir.Path(),
                                    .StopSignal = [] { return 0; },
                                    .MakeSink = [](TOutputFormat, const fs::path&, const TTileSet&,
                                                   const TCombineOptions&) -> std::unique_ptr<ITileSink> {
                                      throw std::runtime_error("No space left on the device");
                                    }};
  char size[64];
  std::snprintf(size, sizeof size, "%.1f KB (%zu bytes)", static_cast<double>(2 * jpeg.size()) / 1024, 2 * jpeg.size());
  const std::string written =
      "2 tiles written; left out: 0 placeholders, 0 missing, 0 empty, 1 not an image, 1 not decodable, 0 not 256x256; "
      "map.mbtiles, " + std::string(size) + "\n";
  const struct {
    std::vector<std::string> Args;
    const TCombineEnvironment& Env;
    bool StopAtSecond;
    int Status;
    std::string Out, Err;
  } cases[] = {
      {{tiles, "--zoom", "4", "-o", out}, recording, false, 0, written, ""},
      {{tiles, "--zoom", "4", "-o", out}, recording, true, 130, "Stopped: nothing written.\n", ""},
      {{tiles, "--zoom", "4", "-o", out}, failing, false, 1, "", "No space left on the device\n"},
      {{(dir / "bad").string(), "--zoom", "4", "-o", out},
       recording,
       false,
       1,
       "",
       "None of the 2 tiles could be written; left out: 0 placeholders, 0 missing, 0 empty, 1 not an image, 1 not "
       "decodable, 0 not 256x256.\n"},
      {{tiles, "--zoom", "5", "-o", out}, recording, false, 2, "", NoTilesMessage(tiles, 5) + "\n"},
      {{tiles, "--zoom", "4", "-o", (dir / "map.gif").string()},
       recording,
       false,
       2,
       "",
       "Unknown output format: map.gif (the name must end in .mbtiles, .pmtiles, .tif, .png, .jpg, .sqlitedb or .kmz, or in / for a folder)\n"},
      {{tiles, "--zoom", "4", "-o", (dir / "no" / "map.png").string()},
       recording,
       false,
       2,
       "",
       "Cannot create file " + (dir / "no" / "map.png").string() + "\n"},
      {{none, "-o", out}, recording, false, 2, "", "Cannot open file " + none + "\n"},
      {{tiles, "--zoom", "4", "-o", out, "--min-zoom", "5"},
       recording,
       false,
       2,
       "",
       "The lowest zoom must be 0 to 4, the zoom of the tiles; it is 5.\n"},
      {{tiles, "--zoom", "4", "-o", (dir / "map.tif").string(), "--min-zoom", "2"},
       recording,
       false,
       2,
       "",
       "A lowest zoom (--min-zoom) can go only into .mbtiles, .pmtiles, .sqlitedb or a folder of tiles.\n"},
      {{none}, recording, false, 2, "", "--output is required\n"},
      {{none, "-o", out, "--quality", "0"}, recording, false, 2, "", "--quality: Value 0 not in range 1 to 100\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.Args));
    signal = 0;
    log.Added.clear();
    log.BeforeAdd = [&, stop = c.StopAtSecond](int added) {
      if (stop && added == 1) signal = SIGINT;
    };
    const TConsoleRun run = RunConsole(c.Args, c.Env);
    EXPECT_EQ(run.Status, c.Status);
    EXPECT_EQ(run.Out, c.Out);
    EXPECT_EQ(run.Err, c.Err);
    EXPECT_EQ(fs::exists(out), c.Status == 0);
    fs::remove(out);
  }
}

// A reader that went away (as with "| head") leaves the combiner writing to a
// closed pipe: the lines stop, the output is written whole all the same.
TEST(CombineProgramTest, AClosedOutputStopsTheLinesNotTheWriting) {
  TTempDir dir;
  fs::create_directories(dir / "tiles");
  for (const char* name : {"gs_5_6_4.jpg", "gs_6_6_4.jpg"}) WriteAll(dir / "tiles" / name, EncodeJpeg(256, 256));
  const pid_t pid = SpawnWithClosedOutput(
      {MERIDANE_MOSAREN, (dir / "tiles").string(), "--zoom", "4", "-o", (dir / "map.mbtiles").string(), "--progress"});
  EXPECT_EQ(WaitForExit(pid), 0);
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir.Path())) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"map.mbtiles", "tiles"}));
}

// A task downloaded from the test server, then joined: what the combiner
// writes and leaves out is what the coverage check finds.
using CombineTaskTest = TCliServer;

TEST_F(CombineTaskTest, WritesTheGoodTilesOfADownloadedTask) {
  const struct {
    const char* Task;
    std::vector<std::string> Area;
  } tasks[] = {
      {"good", {"116.39", "116.8", "39.9", "39.5"}},
      {"missing", {"116.39", "116.8", "36.6", "36.6"}},  // a row the server lacks: placeholders
  };
  for (const auto& t : tasks) {
    SCOPED_TRACE(t.Task);
    std::vector<std::string> args = Area(t.Area[0].c_str(), t.Area[1].c_str(), t.Area[2].c_str(), t.Area[3].c_str());
    args.insert(args.begin(), "meridane-cli");
    args.insert(args.end(), {"--task", std::string(t.Task) + ".mrd"});
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    std::ostringstream ignored;
    RunCli(static_cast<int>(argv.size()), argv.data(), ignored, ignored);

    const fs::path project = Dir / "maps" / (std::string(t.Task) + ".mrd");
    const TTileGrid grid(OpenTaskReadOnly(project, TConfig(Config).ReadStart()));
    // The server's tiles only look like JPEGs: all but the first become real
    // ones, and that one is left out as not decodable.
    const std::string blank = ReadAll(ProgramFolder() / "blankimg" / "blank.jpg");
    bool first = true;
    grid.ForEach([&](int x, int y) {
      std::error_code ec;
      if (!fs::exists(grid.TilePath(x, y), ec) || ReadAll(grid.TilePath(x, y)) == blank) return;
      if (!first) WriteAll(grid.TilePath(x, y), EncodeJpeg(256, 256));
      first = false;
    });
    fs::remove(Dir / "out.mbtiles");  // the task before's
    TSinkLog log;
    const TCombineEnvironment env{.ProgramFolder = ProgramFolder(), .StopSignal = [] { return 0; },
                                  .MakeSink = RecordingSinks(log)};
    const TConsoleRun run =
        RunConsole({project.string(), "-o", (Dir / "out.mbtiles").string(), "--config", Config.string()}, env);

    const TCoverageSummary coverage = CheckCoverage(grid, {.Decode = true, .ProgramFolder = ProgramFolder()});
    EXPECT_GT(coverage.Count(TTileKind::Good) + coverage.Count(TTileKind::Placeholder), 0);
    const std::string counts = std::to_string(coverage.Count(TTileKind::Placeholder)) + " placeholder";
    if (coverage.Count(TTileKind::Good) == 0) {
      // Nothing to write is an error, and no output.
      EXPECT_EQ(run.Status, 1);
      EXPECT_TRUE(run.Err.starts_with("None of the " + std::to_string(grid.Count()) + " tiles could be written"))
          << run.Err;
      EXPECT_NE(run.Err.find(counts), std::string::npos) << run.Err;
      EXPECT_FALSE(fs::exists(Dir / "out.mbtiles"));
      continue;
    }
    ASSERT_EQ(run.Status, 0) << run.Err;
    long long written = 0;
    for (const TAdded& added : log.Added) written += added.Bytes.has_value();
    EXPECT_EQ(static_cast<long long>(log.Added.size()), grid.Count());
    EXPECT_EQ(written, coverage.Count(TTileKind::Good));
    EXPECT_EQ(coverage.Count(TTileKind::NotDecodable), 1);
    EXPECT_NE(run.Out.find(counts), std::string::npos) << run.Out;
    EXPECT_NE(run.Out.find("1 not decodable"), std::string::npos) << run.Out;
  }
}

// A task on the disk, as a download leaves it: its four files and a tile
// folder of four tiles at zoom 10.
class TaskOnDisk : public TCliServer {
 protected:
  void SetUp() override {
    TCliServer::SetUp();
    if (IsSkipped()) return;
    fs::create_directories(Maps / "t");
    WriteAll(Project,
             "[AREA]\r\nLeftLongitude=116.39\r\nRightLongitude=116.8\r\nTopLatitude=39.9\r\n"
             "BottomLatitude=39.5\r\n[Zoom]\r\nZoom=10\r\n");
    for (const char* name : {"t_list.txt", "t_log.txt", "t_failed.ftl"}) WriteAll(Maps / name, name);
    for (const char* name : {"gs_843_388_10.jpg", "gs_843_389_10.jpg", "gs_844_388_10.jpg", "gs_844_389_10.jpg"})
      WriteAll(Maps / "t" / name, EncodeJpeg(256, 256));
  }
  // Every file under the task's folder with its bytes.
  std::map<fs::path, std::string> Files() const {
    std::map<fs::path, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(Maps))
      if (entry.is_regular_file()) files[entry.path()] = ReadAll(entry.path());
    return files;
  }
  fs::path Maps = Dir / "maps", Project = Maps / "t.mrd";
};

// Neither the check's repair list nor the combiner's output takes the place of
// a file of the task they read, however its name leads there.
TEST_F(TaskOnDisk, OutputsOnTheTaskAreRefused) {
  fs::create_directory_symlink(Maps, Dir / "link");
  fs::create_directories(Dir / "other");
  fs::create_symlink(Project, Dir / "map.pgw");
  const struct {
    const char* Name;
    fs::path Repair, Output, Refused;  // an empty Repair: the combiner's case alone
  } cases[] = {
      {"project file", Project, Project, Project},
      {"failed-tile list", Maps / "t_failed.ftl", Maps / "t_failed.ftl", Maps / "t_failed.ftl"},
      {"in the tile folder", Maps / "t" / "repair.ftl", Maps / "t" / "gs_843_388_10.jpg",
       Maps / "t" / "gs_843_388_10.jpg"},
      {"through a link", Dir / "link" / "t_list.txt", Dir / "link" / "t" / "map.mbtiles",
       Dir / "link" / "t" / "map.mbtiles"},
      {"through ..", Dir / "other" / ".." / "maps" / "t_log.txt", Dir / "other" / ".." / "maps" / "t" / "map.tif",
       Dir / "other" / ".." / "maps" / "t" / "map.tif"},
      {"a picture's world file", {}, Dir / "map.png", Dir / "map.pgw"},
  };
  const std::map<fs::path, std::string> before = Files();
  const TCombineEnvironment env{.ProgramFolder = ProgramFolder(), .StopSignal = [] { return 0; }, .MakeSink = MakeSink};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    if (!c.Repair.empty()) {
      std::vector<std::string> args = {"meridane-cli",   "--config", Config.string(),  "--check",
                                       Project.string(), "--repair", c.Repair.string()};
      std::vector<char*> argv;
      for (std::string& a : args) argv.push_back(a.data());
      std::ostringstream out, err;
      EXPECT_EQ(RunCli(static_cast<int>(argv.size()), argv.data(), out, err), 2);
      EXPECT_EQ(err.str(), TaskFileRefusal(c.Repair) + "\n");
    }
    const TConsoleRun run = RunConsole({Project.string(), "-o", c.Output.string(), "--config", Config.string()}, env);
    EXPECT_EQ(run.Status, 2);
    EXPECT_EQ(run.Err, TaskFileRefusal(c.Refused) + "\n");
  }
  EXPECT_EQ(Files(), before);
}

// The window says so before it asks about replacing: no answer makes it right.
TEST_F(TaskOnDisk, TheWindowRefusesBeforeItAsks) {
  const fs::path output = Maps / "t" / "map.mbtiles";
  WriteAll(output, "old");
  THeadlessToolkit toolkit;
  TCombineForm form(toolkit, {.ProgramFolder = ProgramFolder()});
  form.InputPath.Text = Project.string();
  form.OutputPath.Text = output.string();
  toolkit.AskAnswers = {true};
  form.StartClick();
  EXPECT_EQ(toolkit.Messages, std::vector<std::string>{TaskFileRefusal(output)});
  EXPECT_EQ(toolkit.Questions, std::vector<std::string>{});
  EXPECT_FALSE(form.Running());
}

}  // namespace
}  // namespace meridane::test
