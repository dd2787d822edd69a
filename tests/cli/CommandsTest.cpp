// The commands of meridane-cli in this process, their streams captured:
// parsing, the count, the task and its resume, the re-download, against the local nginx.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <map>
#include <sstream>

#include "cli/CheckCommand.h"
#include "cli/CliServer.h"
#include "cli/Commands.h"
#include "meridane/Version.h"
#include "task/TextFile.h"

namespace meridane {
namespace {

namespace fs = std::filesystem;
using test::ReadAll;

class CliCommand : public test::TCliServer {
 protected:
  // The whole command line, as main runs it.
  int Run(std::vector<std::string> args) {
    args.insert(args.begin(), "meridane-cli");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    Clear();
    return RunCli(static_cast<int>(argv.size()), argv.data(), Out, Err);
  }
  static int NoStop() { return 0; }
  int Download(const TCliOptions& o, const TStopCheck& stop = NoStop) {
    Clear();
    return DownloadCommand(o, Config, Out, Err, stop);
  }
  int Redownload(const fs::path& list) {
    Clear();
    TCliOptions o;
    o.Redownload = list.string();
    return RedownloadCommand(o, Config, Out, Err);
  }
  void Clear() {
    Out.str({});
    Err.str({});
  }

  static TCliOptions Fields(const char* left, const char* right, const char* top, const char* bottom,
                            const char* task) {
    TCliOptions o;
    o.Left = left, o.Right = right, o.Top = top, o.Bottom = bottom, o.Task = task;
    o.Zoom = 10;
    return o;
  }

  std::ostringstream Out, Err;
};

TEST_F(CliCommand, CommandLineAndCount) {
  const std::string none = (Dir / "none.ini").string();
  const std::string project = (Dir / "area.mrd").string();
  test::WriteAll(project,
                 "[AREA]\r\nLeftLongitude=116.39\r\nRightLongitude=116.8\r\nTopLatitude=39.9\r\n"
                 "BottomLatitude=39.5\r\n[Zoom]\r\nZoom=10\r\n");
  const auto with = [](std::vector<std::string> args, std::initializer_list<std::string> more) {
    args.insert(args.end(), more);
    return args;
  };
  const std::vector<std::string> opened = {"--config", Config.string(), "--count", "--open", project};
  const std::string needed = "--left, --right, --top and --bottom are needed (or --open with a project file)\n";
  struct Case {
    std::vector<std::string> Args;
    int Status;
    std::string Out, Err;
  };
  const Case cases[] = {
      {{"--version"}, 0, std::string("meridane-cli ") + ProgramVersion + "\n", ""},
      {with(Area("116.39", "116.8", "39.9", "39.5"), {"--count"}), 0,
       "MinX=843\nMinY=388\nMaxX=844\nMaxY=389\nTotal images: 4\n", ""},
      // The fields of the project, each one given beside it winning.
      {opened, 0, "MinX=843\nMinY=388\nMaxX=844\nMaxY=389\nTotal images: 4\n", ""},
      {with(opened, {"--zoom", "11"}), 0, "MinX=1686\nMinY=776\nMaxX=1688\nMaxY=779\nTotal images: 12\n", ""},
      {with(opened, {"--right", "116.5", "--bottom", "39.8"}), 0,
       "MinX=843\nMinY=388\nMaxX=843\nMaxY=388\nTotal images: 1\n", ""},
      {with(Area("200", "300", "1", "0"), {"--count"}), 2, "", "Left Longitude should be between -180 and 180.\n"},
      {with(Area("20", "10", "95", "0"), {"--count"}), 2, "", "Top Latitude should be between -90 and 90.\n"},
      {with(Area("1,5", "2", "1", "0"), {"--count"}), 2, "", "Longitude or latitude input error!\n"},
      {{"--config", none, "--left", "1", "--right", "2", "--top", "1", "--bottom", "0"},
       2,
       "",
       "Cannot open file " + none + "\n"},
      {{"--config", Config.string(), "--count", "--open", none}, 2, "", "Cannot open file " + none + "\n"},
      {{"--config", Config.string(), "--left", "1"}, 2, "", needed},
      {{"--config", Config.string(), "--count", "--left", "1"}, 2, "", needed},
      {{"--zoom", "21", "--count"}, 2, "", "--zoom: Value 21 not in range 1 to 20\n"},
      {{"--redownload", "x.ftl", "--open", project}, 2, "", "--open excludes --redownload\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.Args));
    EXPECT_EQ(Run(c.Args), c.Status);
    EXPECT_EQ(Out.str(), c.Out);
    EXPECT_EQ(Err.str(), c.Err);
  }
  EXPECT_FALSE(fs::exists(Dir / "maps"));  // the count writes nothing
}

TEST_F(CliCommand, ExitStatusOfATask) {
  TCliOptions good = Fields("116.39", "116.8", "39.9", "39.5", "good");
  good.Threads = "2";
  EXPECT_EQ(Download(good), 0);
  EXPECT_EQ(Out.str().rfind("Project: " + Dir.Folder() + "maps/good.mrd\n", 0), 0u) << Out.str();
  EXPECT_NE(Out.str().find("T1:seq=2,gs_843_389_10.jpg OK\n"), std::string::npos);
  EXPECT_NE(Out.str().find("\nTask Stoped!\n"), std::string::npos);
  EXPECT_EQ(Err.str(), "Task stoped!                    \n");
  EXPECT_EQ(ReadAll(Dir / "maps/good/gs_844_389_10.jpg"), ReadAll(Served / "tiles/10/844/389.jpg"));
  ExpectSavedLog("good");

  // Row 398 is not on the server: blank images, exit status 1.
  EXPECT_EQ(Download(Fields("116.39", "116.39", "36.6", "36.6", "missing")), 1);
  EXPECT_NE(Out.str().find("got a blank image!"), std::string::npos);

  // The status line instead of the log lines, the log file as ever.
  TCliOptions quiet = Fields("116.39", "116.39", "39.9", "39.9", "quiet");
  quiet.Progress = true;
  EXPECT_EQ(Download(quiet), 0);
  EXPECT_EQ(Out.str().find('\n'), Out.str().size() - 1) << Out.str();
  EXPECT_TRUE(Out.str().starts_with("\r")) << Out.str();
  EXPECT_TRUE(Out.str().ends_with("\x1b[K\n")) << Out.str();
  ExpectSavedLog("quiet");
}

// Stopped in the middle: each worker finishes its tile, everything is saved, the
// status tells the signal; --open then resumes and fetches only the rest.
TEST_F(CliCommand, StoppedThenResumed) {
  WriteConfig(150);
  TCliOptions first = Fields("116.4", "118.0", "39.9", "39.0", "stopped");  // 5 columns x 4 rows
  first.Threads = "2";
  // The header and a few tiles.
  const auto afterSomeTiles = [this] { return SplitLines(Out.str()).size() >= 38 ? SIGINT : 0; };
  EXPECT_EQ(Download(first, afterSomeTiles), 130);
  EXPECT_NE(Out.str().find("Thread1will be terminated by user. please wait...\n"), std::string::npos);
  EXPECT_NE(Out.str().find("\nTask Stoped!\n"), std::string::npos);
  ExpectSavedLog("stopped");
  const auto tileFile = [this](int x, int y) {
    return Dir / "maps/stopped" / ("gs_" + std::to_string(x) + "_" + std::to_string(y) + "_10.jpg");
  };
  const auto tileUri = [](int x, int y) { return "x=" + std::to_string(x) + "&y=" + std::to_string(y); };
  // A stop may cut a transfer short; that tile is left for the resume, so only the
  // saved tiles count as done.
  std::map<std::string, int> missing;
  for (int x = 843; x <= 847; ++x)
    for (int y = 388; y <= 391; ++y)
      if (!fs::exists(tileFile(x, y))) missing[tileUri(x, y)] = 1;
  EXPECT_GT(missing.size(), 0u);
  EXPECT_LT(missing.size(), 20u);

  WriteConfig(0);
  LogStart = fs::file_size(Served / "access.log");
  TCliOptions resume;
  resume.Open = Dir.Folder() + "maps/stopped.mrd";
  EXPECT_EQ(Download(resume), 0);
  EXPECT_EQ(Out.str().rfind(std::string(44, '-') + "\n", 0), 0u);  // a resume: the log grows by two lines
  std::map<std::string, int> requested;
  for (const auto& [uri, times] : Requests()) {
    const auto x = uri.find("&x=") + 1;
    requested[uri.substr(x, uri.find("&z=") - x)] += times;
  }
  EXPECT_EQ(requested, missing);  // each tile not saved yet, once, and no other
  for (int x = 843; x <= 847; ++x)
    for (int y = 388; y <= 391; ++y) EXPECT_TRUE(fs::exists(tileFile(x, y))) << x << "," << y;
}

// A stop ends the check early: the summary tells how far it came, the exit
// status the signal, and no repair list is written.
TEST_F(CliCommand, StoppedCheckWritesNoRepairList) {
  const fs::path project = Dir / "wide.mrd", list = Dir / "repair.ftl";
  // Thousands of tiles, none on the disk: a stop is asked for between their blocks.
  test::WriteAll(project,
                 "[AREA]\r\nLeftLongitude=116.39\r\nRightLongitude=116.8\r\nTopLatitude=39.9\r\n"
                 "BottomLatitude=39.5\r\n[Zoom]\r\nZoom=16\r\n");
  Clear();
  EXPECT_EQ(CheckCommand({.Task = project.string(),
                          .Repair = list.string(),
                          .Decode = false,
                          .Progress = false,
                          .Config = Config,
                          .ProgramFolder = {},
                          .Stop = [] { return SIGTERM; }},
                         Out, Err),
            128 + SIGTERM);
  const std::vector<std::string> lines = SplitLines(Out.str());
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines.back().find(" tiles of "), std::string::npos) << lines.back();
  EXPECT_EQ(Err.str(), "");
  EXPECT_FALSE(fs::exists(list));
}

TEST_F(CliCommand, RedownloadExitStatus) {
  const std::string host = test::TestServerAddress("http");
  const std::string good = Dir.Folder() + "gs_1_1_1.jpg|http://" + host + "/tile.jpg\r\n";
  const std::string missing = "http://" + host + "/status/404";
  const std::string bad = good + Dir.Folder() + "gs_1_2_1.jpg|" + missing + "\r\n";
  const std::string saved = Dir.Folder() + "gs_1_1_1.jpg:http://" + host + "/tile.jpg ->OK\n";
  test::WriteAll(Dir / "good.ftl", good);
  test::WriteAll(Dir / "bad.ftl", bad);
  test::WriteAll(Dir / "empty.ftl", "");
  struct Case {
    std::string List;
    int Status;
    std::string Out, Err;
  };
  const Case cases[] = {
      {"good.ftl", 0, "Start...\n" + saved + "Download End.\n", ""},
      {"bad.ftl", 1,
       "Start...\n" + saved + "HTTP/1.1 404 Not Found->" + missing + "\n" + missing +
           ":Error: the image is not found on server.\nDownload End.\n",
       ""},
      {"empty.ftl", 0, "No failed files records.\n", ""},
      {"none.ftl", 2, "", "Cannot open file " + (Dir / "none.ftl").string() + "\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.List);
    EXPECT_EQ(Redownload(Dir / c.List), c.Status);
    EXPECT_EQ(Out.str(), c.Out);
    EXPECT_EQ(Err.str(), c.Err);
  }
  EXPECT_EQ(ReadAll(Dir / "bad.ftl"), bad);  // the list is only read
}

// A file that cannot be written is reported in the error box: the run failed,
// even with every tile saved.
TEST_F(CliCommand, UnwritableProjectFileFails) {
  TCliOptions first = Fields("116.39", "116.8", "39.9", "39.5", "locked");
  first.Threads = "1";
  ASSERT_EQ(Download(first), 0);
  const fs::path project = Dir / "maps/locked.mrd";
  // Back to the first tile, so that the resume has positions to store.
  std::vector<std::string> lines = SplitLines(ReadAll(project));
  for (std::string& line : lines)
    if (line.starts_with("T1X=") || line.starts_with("T1Y=")) line.resize(4);
  test::WriteAll(project, JoinLines(lines));
  fs::permissions(project, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  TCliOptions resume;
  resume.Open = project.string();
  EXPECT_EQ(Download(resume), 1);
  EXPECT_NE(Err.str().find("Unable to write to " + project.string() + "\n"), std::string::npos) << Err.str();
}

// A task given a relative folder still writes a failed-tile list of absolute
// paths, which the re-download takes wherever it is run from.
TEST_F(CliCommand, RelativeFolderGivesAUsableList) {
  TCliOptions task = Fields("119.3", "119.3", "39.9", "39.9", "broken");  // column 851 answers 500
  task.Folder = fs::relative(Dir / "rel").string();
  EXPECT_EQ(Download(task), 1);
  const std::vector<std::string> lines = SplitLines(ReadAll(Dir / "rel/broken_failed.ftl"));
  ASSERT_EQ(lines.size(), 1u);
  const std::size_t bar = lines[0].find('|');
  const fs::path tile = lines[0].substr(0, bar);
  EXPECT_TRUE(tile.is_absolute()) << tile;
  // No placeholder here: this program's folder has no blankimg/.
  EXPECT_EQ(fs::weakly_canonical(tile), fs::weakly_canonical(Dir / "rel/broken/gs_851_388_10.jpg"));
  EXPECT_EQ(Redownload(*task.Folder + "/broken_failed.ftl"), 1);
  EXPECT_EQ(Out.str(),
            "Start...\nHTTP/1.1 500 Internal Server Error->" + lines[0].substr(bar + 1) + "\nDownload End.\n");
}

// Other inputs over an existing task leave it as it is (exit 2, the same
// words as the desktop's question) unless --fresh is given.
TEST_F(CliCommand, OtherInputsOverATaskNeedFresh) {
  ASSERT_EQ(Download(Fields("116.39", "116.39", "39.9", "39.9", "kept")), 0);
  const fs::path maps = Dir / "maps";
  std::map<std::string, std::string> before;
  for (const char* file : {"kept.mrd", "kept_list.txt", "kept_log.txt", "kept_failed.ftl"})
    before[file] = ReadAll(maps / file);

  TCliOptions other = Fields("116.39", "116.39", "39.90", "39.8", "kept");
  EXPECT_EQ(Download(other), 2);
  EXPECT_NE(Err.str().find("Bottom Latitude: 39.9 in the project, 39.8 now\n"), std::string::npos) << Err.str();
  EXPECT_EQ(Err.str().find("Top Latitude"), std::string::npos);  // 39.90 is the stored 39.9
  EXPECT_TRUE(Err.str().ends_with("Nothing was changed: --fresh starts the task afresh.\n")) << Err.str();
  for (const auto& [file, text] : before) EXPECT_EQ(ReadAll(maps / file), text) << file;

  other.Fresh = true;
  EXPECT_EQ(Download(other), 0);
  EXPECT_NE(ReadAll(maps / "kept.mrd"), before["kept.mrd"]);
  EXPECT_EQ(Out.str().rfind("Project: " + (maps / "kept.mrd").string() + "\n", 0), 0u);
}

}  // namespace
}  // namespace meridane
