#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <limits>
#include <thread>
#include <tuple>
#include <utility>

#include "config/IniFile.h"
#include "geo/Convert.h"
#include "ui/FormHarness.h"

namespace meridane {
namespace {

namespace fs = std::filesystem;
using test::ExpectClosingLines;
using test::ReadAll;
using test::TFormRun;
using test::WriteAll;
using TLines = std::vector<std::string>;

const std::string Resumed = std::string(44, '-');

int Position(const TFormRun& run, const char* key) {
  return TIniFile(run.Task().ProjectPath()).ReadInteger("THREADS", key, 0);
}

TEST(MainForm, FormShowReadsConfigOrDefaults) {
  const struct {
    std::optional<std::string> Config;
    std::string Threads, Caption;
  } cases[] = {
      {std::nullopt, "1", "Meridane 6.91"},
      {"[IniParas]\r\nDefaultThreadCount=5\r\nVersion=7.0\r\n", "5", "Meridane 7.0"},
      {test::FastConfig, "1", "Meridane 6.91"},  // no IniParas section
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Config.value_or("no config file"));
    TFormRun run(c.Config);
    const TForm1& f = run.Form;
    EXPECT_EQ(f.Edit6.Text, (run.Dir.Path() / "mrd").string());
    EXPECT_EQ(f.Edit10.Text, c.Threads);
    EXPECT_EQ(f.Caption, c.Caption);
    EXPECT_EQ(f.comboMapsType.Items.size(), 8u);
    EXPECT_EQ(f.comboMapsType.ItemIndex, 1);
    EXPECT_EQ(std::tuple(f.TrackBar1.Min(), f.TrackBar1.Max(), f.TrackBar1.Position()), std::tuple(1, 20, 12));
    EXPECT_EQ(f.Label8.Caption, "12");
  }
}

TEST(MainForm, MapTypeSetsZoomRange) {
  TFormRun run;
  run.Form.comboMapsType.ItemIndex = 2;
  run.Form.comboMapsTypeChange();
  const TTrackBar& zoom = run.Form.TrackBar1;
  EXPECT_EQ(std::tuple(zoom.Min(), zoom.Max(), zoom.Position()), std::tuple(1, 15, 12));
  run.Form.TrackBar1.SetPosition(18);
  EXPECT_EQ(zoom.Position(), 15);
  EXPECT_EQ(run.Form.Label8.Caption, "15");
}

TEST(MainForm, StartChecksInputsInOrder) {
  namespace T = MainFormText;
  const std::string missing = "/no/such/parent/tasks";
  const TLines tooMany = {"Too many images: 1095910817792. Please select a smaller area or a lower zoom level.",
                          "Error: Create task failure."};
  const struct {
    std::optional<std::string> Folder;  // none: the tasks folder
    std::string Left, Top, Right, Bottom;
    TLines Messages;  // none: the task starts
    int Zoom = 12;
  } cases[] = {
      {"", "x", "40", "116", "39", {T::NoPath}},
      {missing, "x", "40", "116", "39", {"Create directory " + missing + " Failed."}},
      {{}, "1,5", "95", "116", "39", {T::InputError}},
      {{}, "200", "40", "300", "39", {T::LeftRange}},
      {{}, "10", "95", "300", "39", {T::RightRange}},
      {{}, "20", "95", "10", "39", {T::TopRange}},
      {{}, "10", "40", "20", "-95", {T::BottomRange}},
      {{}, "20", "30", "10", "40", {T::LeftRight}},
      {{}, "10", "30", "20", "40", {T::BottomTop}},
      {{}, "116.3", "39.9", "116.3", "39.9", {}},
      {{}, "-180", "85", "180", "-85", tooMany, 20},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Left + " " + c.Top + " " + c.Right + " " + c.Bottom);
    TFormRun run;
    run.Form.Edit6.Text = c.Folder.value_or(run.Tasks);
    run.Area(c.Left, c.Top, c.Right, c.Bottom);
    run.Form.TrackBar1.SetPosition(c.Zoom);
    run.Form.BitBtn1Click();
    EXPECT_EQ(run.Toolkit.Messages, c.Messages);
    EXPECT_EQ(run.Form.Running(), c.Messages.empty());
    EXPECT_EQ(test::EntryCount(run.Tasks) == 0, !c.Messages.empty());
  }
}

TEST(MainForm, CoordinateTexts) {
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    const char* Text;
    std::optional<double> Value;
  } cases[] = {
      {"116.39", 116.39}, {"-0.5e1", -5},   {"+.5", 0.5}, {"5.", 5},   {"1e-400", 0}, {"-0.0000001e-320", 0},
      {"1e400", inf},     {"-1e999", -inf}, {"", {}},     {"1,5", {}}, {"1e", {}},    {" 1", {}},
      {".", {}},          {"0x10", {}},     {"nan", {}},  {"inf", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseCoordinate(c.Text), c.Value) << c.Text;
}

TEST(MainForm, StartCreatesFolderAndAddsOneSeparator) {
  TFormRun run;
  for (const auto& [typed, folder] :
       {std::pair{run.Dir.Folder() + "new", run.Dir.Folder() + "new/"}, std::pair{run.Tasks, run.Tasks}}) {
    run.Fill();
    run.Form.Edit6.Text = typed;
    ASSERT_TRUE(run.StartAndRun());
    EXPECT_TRUE(fs::is_regular_file(folder + "t.mrd")) << folder;
    EXPECT_EQ(run.Form.Memo1.Line(0), "Project: " + folder + "t.mrd");
  }
}

TEST(MainForm, StartedTaskRunsToCompletion) {
  TFormRun run;
  run.Fill();
  run.Server.Errors = {{"&x=3371&", "HTTP/1.1 404 Not Found"}, {"&x=3372&", "HTTP/1.1 403 Forbidden"}};
  run.Form.BitBtn1Click();
  const TDownloadTask& t = run.Task();
  for (const std::string& path : {t.ProjectPath(), t.LogPath, t.FailedPath, t.ListPath})
    EXPECT_TRUE(fs::is_regular_file(path)) << path;
  EXPECT_EQ(run.Form.Memo1.Text(), run.Log());
  EXPECT_EQ(run.Form.Memo1.Line(run.Form.Memo1.Count() - 2), "Start downloading...");
  EXPECT_EQ(run.Form.LabelTotalxy.Caption, "Total images: 2");
  EXPECT_EQ(run.Form.BitBtn1.Caption, "Stop");
  EXPECT_EQ(run.Workers(), 1);
  EXPECT_TRUE(run.Toolkit.TimerEnabled());

  ASSERT_TRUE(run.RunToEnd());
  ExpectClosingLines(run);
  EXPECT_EQ(ReadAll(t.FailedPath), t.TilePath(3372, t.MinY) + "|" + t.TileUrl(3372, t.MinY) + "\r\n");
  EXPECT_EQ(run.Toolkit.Messages, TLines{MainFormText::TaskStopped});
  EXPECT_FALSE(run.Toolkit.TimerEnabled() || run.Form.Timer1.Enabled);
  EXPECT_EQ(run.Workers(), 0);
  // The 404 tile was the last done; the 403 stopped the worker.
  EXPECT_EQ(Position(run, "T1X"), 3371);
  EXPECT_EQ(Position(run, "T1Y"), t.MinY);
}

TEST(MainForm, ProgressSavedEveryFourthTick) {
  TFormRun run(test::FastConfig, /*holdWorkers=*/true);
  run.Fill();
  run.Form.BitBtn1Click();
  for (int tile = 1; tile <= 2; ++tile) {
    ASSERT_TRUE(run.PumpUntil([&] { return run.Gate.Sleeps() == tile; }));
    const std::string before = run.Log();
    for (int tick = 0; tick < 3; ++tick) run.Toolkit.Tick();
    EXPECT_EQ(run.Log(), before);
    run.Toolkit.Tick();  // 4, then 8
    EXPECT_EQ(run.Log(), run.Form.Memo1.Text());
    EXPECT_GT(run.Log().size(), before.size());
    EXPECT_EQ(Position(run, "T1X"), 3370 + tile);
    EXPECT_TRUE(run.Form.Running());
    run.Gate.Release();
  }
}

// A crash right after a save must not leave positions past a failed-tile record
// that is not in its file, nor past tiles that are not on the disk: here that
// save of the list, or the flush of the tiles, fails.
TEST(MainForm, SavedPositionsNeverPassAnUnsavedFailedRecordOrTile) {
  for (const bool tiles : {false, true}) {
    SCOPED_TRACE(tiles ? "tiles" : "failed-tile list");
    TFormRun run(test::FastConfig, /*holdWorkers=*/true);
    run.Fill();
    run.Server.Errors = {{"&x=3371&", "HTTP/1.1 500 Internal Server Error"}};
    run.Form.BitBtn1Click();
    const TDownloadTask& t = run.Task();
    for (int retry = 1; retry <= 2; ++retry) {
      ASSERT_TRUE(run.PumpUntil([&] { return run.Gate.Sleeps() == retry; }));
      run.Gate.Release();
    }
    // The first tile given up and recorded, the second saved: the worker pauses.
    ASSERT_TRUE(run.PumpUntil([&] { return run.Gate.Sleeps() == 3 && run.Form.Memo2.Count() == 1; }));
    const std::string broken = tiles ? t.TileFolder : t.FailedPath;
    const std::string aside = run.Tasks + "aside";
    if (tiles) {
      fs::rename(broken, aside);
    } else {
      fs::remove(broken);
      fs::create_directory(broken);
    }
    for (int tick = 0; tick < 4; ++tick) run.Toolkit.Tick();
    EXPECT_EQ(run.Toolkit.Errors,
              TLines{tiles ? "Unable to write to " + t.TileFolder : "Cannot create file " + t.FailedPath});
    EXPECT_EQ(Position(run, "T1X"), 0);

    fs::remove(broken);
    if (tiles) fs::rename(aside, broken);
    run.Gate.Open();
    ASSERT_TRUE(run.RunToEnd());
    EXPECT_EQ(ReadAll(t.FailedPath), t.TilePath(3371, t.MinY) + "|" + t.TileUrl(3371, t.MinY) + "\r\n");
    EXPECT_EQ(Position(run, "T1X"), 3372);
  }
}

// A record handed over but not yet run on the main thread: the save reads the
// positions, runs the queue, and so stores the record with the position past it.
TEST(MainForm, SaveStoresTheRecordsStillQueued) {
  TFormRun run(test::FastConfig, /*holdWorkers=*/true);
  run.Fill();
  run.Server.Errors = {{"&x=3371&", "HTTP/1.1 500 Internal Server Error"}};
  run.Form.BitBtn1Click();
  run.Gate.Release();  // the two retries of the first tile
  run.Gate.Release();
  // Waits for the pause after the second tile without running the queue.
  test::WaitFor([&] { return run.Gate.Sleeps() >= 3; });
  ASSERT_EQ(run.Gate.Sleeps(), 3);
  ASSERT_EQ(run.Form.Memo2.Count(), 0u);
  for (int tick = 0; tick < 4; ++tick) run.Toolkit.Tick();
  const TDownloadTask& t = run.Task();
  EXPECT_EQ(ReadAll(t.FailedPath), t.TilePath(3371, t.MinY) + "|" + t.TileUrl(3371, t.MinY) + "\r\n");
  EXPECT_EQ(Position(run, "T1X"), 3372);
  EXPECT_TRUE(run.Log().ends_with("T1:seq=2," + t.TileFileName(3372, t.MinY) + " OK\r\n"));
  run.Gate.Open();
  ASSERT_TRUE(run.RunToEnd());
}

// Start writes the project file last, so a Start cut short leaves no task to
// resume; a resume gets back the log and failed-tile list that are gone.
TEST(MainForm, InterruptedStartOrMissingFilesStillRun) {
  TFormRun run;
  run.Fill();
  fs::create_directories(run.Tasks + "t_failed.ftl");
  run.Form.BitBtn1Click();
  EXPECT_EQ(run.Toolkit.Errors, TLines{"Cannot create file " + run.Tasks + "t_failed.ftl"});
  EXPECT_FALSE(fs::exists(run.Tasks + "t.mrd"));

  fs::remove(run.Tasks + "t_failed.ftl");
  WriteAll(run.Tasks + "t.mrd.~tmp", "left by a kill");
  ASSERT_TRUE(run.StartAndRun());
  EXPECT_FALSE(fs::exists(run.Tasks + "t.mrd.~tmp"));
  EXPECT_EQ(std::ranges::count(run.LogLines(), Resumed), 0);

  fs::remove(run.Task().LogPath);
  fs::remove(run.Task().FailedPath);
  ASSERT_TRUE(run.StartAndRun());
  EXPECT_EQ(run.Toolkit.Errors.size(), 1u);
  EXPECT_EQ(run.LogLines().front(), Resumed);
  EXPECT_EQ(ReadAll(run.Task().FailedPath), "");
}

// The completion follows the last worker's end, not the next tick, whether or
// not a save came before.
TEST(MainForm, CompletesAsSoonAsTheLastWorkerEnds) {
  for (const int ticks : {0, 5}) {
    SCOPED_TRACE(ticks);
    TFormRun run(test::FastConfig, /*holdWorkers=*/true);
    run.Fill();
    run.Form.BitBtn1Click();
    for (int tick = 0; tick < ticks; ++tick) run.Toolkit.Tick();
    run.Gate.Open();
    ASSERT_TRUE(run.PumpUntil([&] { return !run.Form.Running(); }));
    EXPECT_EQ(run.Form.TickCount, ticks);
    EXPECT_EQ(run.Workers(), 0);
    EXPECT_EQ(run.Toolkit.Messages, TLines{MainFormText::TaskStopped});
    ExpectClosingLines(run);
    EXPECT_EQ(run.Log(), run.Form.Memo1.Text());
    EXPECT_EQ(ReadAll(run.Task().FailedPath), run.Form.Memo2.Text());
  }
}

TEST(MainForm, StopTwiceLogsTerminationTwice) {
  TFormRun run(test::FastConfig, /*holdWorkers=*/true);
  run.Fill();
  run.Form.Edit10.Text = "2";
  run.Form.BitBtn1Click();
  ASSERT_TRUE(run.PumpUntil([&] { return run.Gate.Sleeps() == 2; }));
  run.Form.BitBtn1Click();
  run.Form.BitBtn1Click();
  const std::string lines =
      "Thread1will be terminated by user. please wait...\r\n"
      "Thread2will be terminated by user. please wait...\r\n";
  EXPECT_TRUE(run.Form.Memo1.Text().ends_with(lines + lines));
  run.Gate.Open();
  ASSERT_TRUE(run.RunToEnd());
  EXPECT_NE(run.Log().find(lines + lines), std::string::npos);
}

// The same request resumes, however it is typed; other inputs replace the
// task's files only when the user says yes.
TEST(MainForm, ResumesTheSameRequestAndAsksBeforeReplacing) {
  using TChange = void (*)(TForm1&);
  const TChange none = [](TForm1&) {};
  enum TOutcome { Resumes, Refused, Replaced };
  const struct {
    const char* Name;
    TChange BothRuns, SecondRun;
    TOutcome Outcome;
    const char* Difference = "";
  } cases[] = {
      {"same inputs", none, none, Resumes},
      {"name without .mrd", none, [](TForm1& f) { f.EditTaskName.Text = "t"; }, Resumes},
      {"same number, other text", none, [](TForm1& f) { f.Edit1.Text = "116.30", f.Edit2.Text = "3.99e1"; }, Resumes},
      // The stored count is what Start ran, lowered to the tiles and the worker slots.
      {"threads above the tile count", [](TForm1& f) { f.Edit10.Text = "4"; }, none, Resumes},
      {"threads above the slots", [](TForm1& f) { f.Edit2.Text = "40.3", f.Edit10.Text = "12"; }, none, Resumes},
      {"other thread count, kept", [](TForm1& f) { f.Edit2.Text = "40.3", f.Edit10.Text = "3"; },
       [](TForm1& f) { f.Edit10.Text = "4"; }, Refused, "Threads count: 3 in the project, 4 now"},
      {"other edge, replaced", none, [](TForm1& f) { f.Edit2.Text = "39.95"; }, Replaced,
       "Top Latitude: 39.9 in the project, 39.95 now"},
      {"other map type, kept", none, [](TForm1& f) { f.comboMapsType.ItemIndex = 2, f.comboMapsTypeChange(); },
       Refused, "Maps type: 1 in the project, 2 now"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TFormRun run;
    run.Fill();
    c.BothRuns(run.Form);
    ASSERT_TRUE(run.StartAndRun());
    // Marks that only a fresh start overwrites.
    const std::string project = ReadAll(run.Task().ProjectPath()) + "[Mark]\r\n";
    WriteAll(run.Task().ProjectPath(), project);
    WriteAll(run.Task().ListPath, "kept");
    const std::string log = run.Log(), failed = ReadAll(run.Task().FailedPath);
    const std::size_t oldLines = run.LogLines().size();
    c.SecondRun(run.Form);
    run.Toolkit.AskAnswers = {c.Outcome == Replaced};
    run.Form.BitBtn1Click();
    if (c.Outcome == Resumes) {
      EXPECT_TRUE(run.Toolkit.Questions.empty());
    } else {
      ASSERT_EQ(run.Toolkit.Questions.size(), 1u);
      EXPECT_NE(run.Toolkit.Questions[0].find(c.Difference), std::string::npos) << run.Toolkit.Questions[0];
      EXPECT_NE(run.Toolkit.Questions[0].find(run.Tasks + "t.mrd"), std::string::npos);
    }
    if (c.Outcome == Refused) {
      EXPECT_FALSE(run.Form.Running());
      EXPECT_EQ(ReadAll(run.Task().ProjectPath()), project);
      EXPECT_EQ(std::tuple(ReadAll(run.Task().ListPath), run.Log(), ReadAll(run.Task().FailedPath)),
                std::tuple("kept", log, failed));
      continue;
    }
    ASSERT_TRUE(run.RunToEnd());
    const bool resumed = c.Outcome == Resumes;
    EXPECT_EQ(ReadAll(run.Task().ProjectPath()) == project, resumed);
    EXPECT_EQ(ReadAll(run.Task().ListPath) == "kept", resumed);
    const TLines lines = run.LogLines();
    EXPECT_EQ(lines.size() > oldLines && lines[oldLines] == Resumed, resumed);
  }
}

// A task name is a file name in the download folder: nothing is written for
// one that is not, in that folder or beside it.
TEST(MainForm, TaskNameIsAFileName) {
  const struct {
    const char* Name;
    const char* Message;
  } cases[] = {
      {"", MainFormText::NoTaskName},          {".mrd", MainFormText::NoTaskName},
      {".", MainFormText::BadTaskName},        {"..", MainFormText::BadTaskName},
      {"..mrd", MainFormText::BadTaskName},    {"../escape", MainFormText::BadTaskName},
      {"a/b.mrd", MainFormText::BadTaskName},  {"/etc/x", MainFormText::BadTaskName},
      {"a\nb", MainFormText::TaskNameControl}, {"tab\t.mrd", MainFormText::TaskNameControl},
      {"\x7f", MainFormText::TaskNameControl},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TFormRun run;
    run.Fill();
    run.Form.Edit6.Text = run.Tasks + "inner/";
    run.Form.EditTaskName.Text = c.Name;
    run.Form.BitBtn1Click();
    EXPECT_EQ(run.Toolkit.Messages, TLines{c.Message});
    EXPECT_FALSE(run.Form.Running());
    EXPECT_EQ(test::EntryCount(run.Tasks), 0);
  }
}

// The task's paths go into its log and failed-tile list, where a line break
// would forge lines: refused in the folder too, and in the name of a project
// file that "Open task ..." brings into the fields.
TEST(MainForm, ControlCharactersInTheFolderOrAProjectFileName) {
  TFormRun run;
  run.Fill();
  run.Form.Edit6.Text = run.Tasks + "in\nner";
  run.Form.BitBtn1Click();
  const std::string project = run.Tasks + "evil\nStart downloading....mrd";
  WriteAll(project,
           "[AREA]\r\nLeftLongitude=116.3\r\nRightLongitude=116.4\r\nTopLatitude=39.9\r\n"
           "BottomLatitude=39.9\r\n[Zoom]\r\nZoom=12\r\n[THREADS]\r\nThreadCount=1\r\n");
  run.Toolkit.OpenFileAnswers.push_back(project);
  run.Form.LoadParametersfromprojectfilel1Click();
  run.Form.BitBtn1Click();
  EXPECT_EQ(run.Toolkit.Messages, (TLines{MainFormText::PathControl, MainFormText::TaskNameControl}));
  EXPECT_FALSE(run.Form.Running());
  EXPECT_EQ(test::EntryCount(run.Tasks), 1);
}

// Someone who may write the task's folder plants links: a tile folder that is
// a link before Start or becomes one during the task, a log that is one at a
// resume. Nothing is written through them; the message names the file.
TEST(MainForm, PlantedLinksAreNotFollowed) {
  TFormRun run(test::FastConfig, /*holdWorkers=*/true);
  run.Fill();
  run.Area("116.3", "40.3", "116.4", "39.9");  // 14 tiles
  run.Form.Edit10.Text = "1";
  const fs::path victim = run.Dir / "bashrc", pictures = run.Dir / "Pictures";
  const std::string tiles = run.Tasks + "t", moved = run.Tasks + "moved";
  WriteAll(victim, "secret\n");
  fs::create_directory(pictures);
  fs::create_directory_symlink(pictures, tiles);
  run.Form.BitBtn1Click();
  EXPECT_EQ(run.Toolkit.Messages, (TLines{"The tile folder " + tiles + "/ is a link.", CreateTaskFailureMessage}));
  EXPECT_FALSE(run.Form.Running());

  fs::remove(tiles);
  run.Form.BitBtn1Click();
  ASSERT_TRUE(run.PumpUntil([&] { return run.Gate.Sleeps() == 1; }));  // after the first tile
  fs::rename(tiles, moved);
  fs::create_directory_symlink(pictures, tiles);
  run.Gate.Open();
  ASSERT_TRUE(run.RunToEnd());
  EXPECT_EQ(test::EntryCount(moved), 14);

  fs::remove(tiles);
  fs::rename(moved, tiles);
  const std::string log = run.Task().LogPath;
  fs::remove(log);
  fs::create_symlink(victim, log);
  run.Form.BitBtn1Click();  // a resume: it appends to the log
  EXPECT_EQ(run.Toolkit.Errors, TLines{"Cannot create file " + log});
  EXPECT_FALSE(run.Form.Running());
  EXPECT_EQ(ReadAll(victim), "secret\n");
  EXPECT_TRUE(fs::is_empty(pictures));
}

// A stored position outside the tile range would make its worker skip tiles it
// never fetched: Start names the damaged key and that worker starts again.
TEST(MainForm, DamagedPositionIsNamedAndItsWorkerStartsAgain) {
  TFormRun run;
  run.Fill();
  run.Area("116.3", "40.3", "116.4", "39.9");  // 14 tiles
  run.Form.Edit10.Text = "2";
  ASSERT_TRUE(run.StartAndRun());
  const std::string project = run.Task().ProjectPath();
  TIniFile(project).WriteStrings("THREADS", {{"T1X", "99999"}, {"T2Y", "-4"}});
  run.Toolkit.Messages.clear();
  const int before = run.Server.Gets;
  ASSERT_TRUE(run.StartAndRun());
  EXPECT_EQ(run.Toolkit.Messages,
            (TLines{"The project file " + project +
                        " is damaged:\nT1X=99999 lies outside the tile range; thread 1 starts from its first tile."
                        "\nT2Y=-4 lies outside the tile range; thread 2 starts from its first tile.",
                    MainFormText::TaskStopped}));
  EXPECT_EQ(run.Server.Gets - before, 14);
}

// A relative or "~/" folder becomes absolute at Start, so the failed-tile list
// holds absolute paths; the field shows it.
TEST(MainForm, FolderMadeAbsolute) {
  TFormRun run;
  run.Fill();
  run.Form.Edit6.Text = "~/home-tasks";
  ASSERT_TRUE(run.StartAndRun());
  EXPECT_EQ(run.Form.Edit6.Text, run.Dir.Folder() + "home-tasks");
  EXPECT_TRUE(fs::is_regular_file(run.Dir / "home-tasks" / "t.mrd"));
  EXPECT_EQ(AbsoluteFolder("rel/x"), (fs::current_path() / "rel/x").string());
  EXPECT_EQ(AbsoluteFolder("/abs/"), "/abs/");
  // A task kept through a link gets the paths the re-download takes.
  fs::create_directory(run.Dir / "real");
  fs::create_directory_symlink(run.Dir / "real", run.Dir / "linked");
  EXPECT_EQ(AbsoluteFolder(run.Dir.Folder() + "linked/../linked/"), run.Dir.Folder() + "real/");
}

// Each Start counts its own tiles: a second task of the session does not
// inherit the first one's failures; the summary stays after the completion.
TEST(MainForm, EachStartCountsItsOwnTiles) {
  TFormRun run;
  run.Fill();
  run.Server.Errors["x=3372"] = "HTTP/1.1 403 Forbidden";  // the worker stops there
  ASSERT_TRUE(run.StartAndRun());
  EXPECT_EQ(run.Form.ProgressLine(), "1 saved, 0 substituted (see the failed-tile list), 1 left for the next Start");
  EXPECT_EQ(run.Form.Progress.StopReason(), "Error: may be your IP is banned.");
  run.Server.Errors.clear();
  run.Form.EditTaskName.Text = "second";
  run.Area("116.3", "40.3", "116.4", "39.9");
  ASSERT_TRUE(run.StartAndRun());
  EXPECT_EQ(std::tuple(run.Form.Progress.Handled(), run.Form.Progress.Failures(), run.Form.Progress.Tiles()),
            std::tuple(14L, 0L, 14L));
  EXPECT_EQ(run.Form.ProgressLine(), "14 saved, 0 substituted (see the failed-tile list), 0 left for the next Start");
  EXPECT_EQ(run.Form.Progress.StopReason(), "");
}

// A tile that could not get the blank image counts as one not saved: a failure
// of the task, with its record.
TEST(MainForm, TileWithoutBlankImageCountsAsFailed) {
  TFormRun run;
  fs::remove_all(run.Program / "blankimg");
  run.Fill();
  run.Server.Errors["&x=3371&"] = "HTTP/1.1 404 Not Found";
  ASSERT_TRUE(run.StartAndRun());
  const TDownloadTask& t = run.Task();
  EXPECT_EQ(ReadAll(t.FailedPath), t.TilePath(3371, t.MinY) + "|" + t.TileUrl(3371, t.MinY) + "\r\n");
  EXPECT_EQ(run.Form.Progress.Failures(), 1);
  EXPECT_EQ(run.Form.ProgressLine(), "1 saved, 1 substituted (see the failed-tile list), 0 left for the next Start");
}

// The folder picker and "Open task ..." start at the folder the field names.
TEST(MainForm, PickersStartAtTheFieldsFolder) {
  TFormRun run;
  run.Form.Edit6.Text = run.Tasks;
  run.Form.Button1Click();
  run.Form.LoadParametersfromprojectfilel1Click();
  ASSERT_EQ(run.Toolkit.Dialogs.size(), 2u);
  EXPECT_EQ(run.Toolkit.Dialogs[0].InitialFolder, run.Tasks);
  EXPECT_EQ(run.Toolkit.Dialogs[1].InitialFolder, run.Tasks);
}

TEST(MainForm, EstimateFollowsTheFields) {
  const struct {
    const char *Left, *Top, *Right, *Bottom;
    int Zoom;
    const char* Text;
  } cases[] = {
      {"116.3", "39.9", "116.4", "39.9", 12, "Tiles: 2, about 40 KB"},
      {"116.3", "40.3", "116.4", "39.9", 12, "Tiles: 14, about 282 KB"},
      {"-180", "85", "180", "-85", 12, "Tiles: 16,728,064, about 321 GB"},
      {"-180", "85", "180", "-85", 20, "Tiles: too many for one task"},
      {"116.3", "", "116.4", "39.9", 12, "Tiles: \u2014 Top Latitude is empty"},
      {"116,3", "40", "116.4", "39.9", 12, "Tiles: \u2014 Left Longitude is not a number"},
      {"116.3", "40", "116.4", "39.9x", 12, "Tiles: \u2014 Bottom Latitude is not a number"},
      {"", "", "", "", 12, "Tiles: \u2014 Left Longitude is empty"},
      {"116.5", "40", "116.4", "39.9", 12, "Tiles: \u2014"},
  };
  for (const auto& c : cases) EXPECT_EQ(EstimateText(c.Left, c.Top, c.Right, c.Bottom, c.Zoom), c.Text) << c.Left;
  // The window's label follows the zoom and the fields.
  TFormRun run;
  run.Fill();
  run.Form.TrackBar1.SetPosition(13);
  EXPECT_EQ(run.Form.LabelEstimate.Caption, EstimateText("116.3", "39.9", "116.4", "39.9", 13));
}

// A resume appends its two lines to a long log and changes nothing else in it;
// the window gets the log's last lines.
TEST(MainForm, ResumeAppendsTwoLinesToALongLog) {
  TFormRun run;
  run.Fill();
  ASSERT_TRUE(run.StartAndRun());
  std::string log;
  for (int i = 0; i < 200000; ++i) log += "line " + std::to_string(i) + "\r\n";
  WriteAll(run.Task().LogPath, log);
  run.Form.BitBtn1Click();  // nothing reaches the file before a save
  const std::string after = ReadAll(run.Task().LogPath);
  ASSERT_TRUE(after.starts_with(log));
  const TLines added = SplitLines(after.substr(log.size()));
  ASSERT_EQ(added.size(), 2u);
  EXPECT_EQ(added[0], Resumed);
  EXPECT_TRUE(added[1].starts_with("Now time is:"));
  EXPECT_EQ(run.Form.Memo1.Line(run.Form.Memo1.Count() - 3), "line 199999");
  ASSERT_TRUE(run.RunToEnd());
  EXPECT_TRUE(ReadAll(run.Task().LogPath).starts_with(after));
}

TEST(MainForm, ThreadCountClampedToWorkerSlots) {
  for (const auto& [typed, workers] : {std::pair{"0", 1}, std::pair{"12", 8}}) {
    SCOPED_TRACE(typed);
    TFormRun run;
    run.Fill();
    run.Area("116.3", "40.3", "116.4", "39.9");
    run.Form.Edit10.Text = typed;
    run.Form.BitBtn1Click();
    EXPECT_EQ(run.Form.LabelTotalxy.Caption, "Total images: 14");
    EXPECT_EQ(run.Workers(), workers);
    EXPECT_EQ(Position(run, "ThreadCount"), workers);
    ASSERT_TRUE(run.RunToEnd());
  }
}

TEST(MainForm, ViewLogFile) {
  TFormRun run;
  run.Form.Viewlogfile1Click();
  run.Fill();
  ASSERT_TRUE(run.StartAndRun());
  run.Form.Viewlogfile1Click();
  fs::remove(run.Task().LogPath);
  run.Form.Viewlogfile1Click();
  EXPECT_EQ(run.Toolkit.Opened, TLines{run.Task().LogPath});
  EXPECT_EQ(run.Toolkit.Messages, (TLines{MainFormText::NoTask, MainFormText::TaskStopped, MainFormText::NoLogFile}));
}

TEST(MainForm, LoadParametersFromStartedProjectThenResume) {
  TFormRun run("[IniParas]\r\nDefaultPath=/srv/maps\r\n" + test::FastConfig);
  TForm1& f = run.Form;
  run.Fill();
  f.Edit10.Text = "2";
  f.TrackBar1.SetPosition(13);
  ASSERT_TRUE(run.StartAndRun());
  const std::vector<TEdit*> edits = {&f.Edit1, &f.Edit2, &f.Edit3, &f.Edit4, &f.Edit6, &f.Edit10, &f.EditTaskName};
  TLines typed, loaded;
  for (TEdit* edit : edits) typed.push_back(std::exchange(edit->Text, ""));
  f.comboMapsType.ItemIndex = 0;
  f.comboMapsTypeChange();
  run.Toolkit.OpenFileAnswers.push_back(run.Task().ProjectPath());
  f.LoadParametersfromprojectfilel1Click();
  ASSERT_EQ(run.Toolkit.Dialogs.size(), 1u);
  const auto& dialog = run.Toolkit.Dialogs[0];
  EXPECT_EQ(TLines({dialog.Title, dialog.Filter, dialog.InitialFolder}),
            TLines({"Open project file:", "Projects(*.mrd)|*.mrd", "/srv/maps"}));
  for (TEdit* edit : edits) loaded.push_back(edit->Text);
  EXPECT_EQ(loaded, typed);
  EXPECT_EQ(f.comboMapsType.ItemIndex, 1);
  EXPECT_EQ(f.TrackBar1.Position(), 13);

  WriteAll(run.Task().ListPath, "kept");  // only a fresh start overwrites it
  ASSERT_TRUE(run.StartAndRun());
  EXPECT_EQ(ReadAll(run.Task().ListPath), "kept");
  EXPECT_EQ(std::ranges::count(run.LogLines(), Resumed), 1);
}

TEST(MainForm, LoadParametersFromProjectFile) {
  const struct {
    std::optional<std::string> Project;  // none: no such file
    std::string Threads;
    int MapsType, ZoomMax, Zoom;
  } cases[] = {
      {std::nullopt, "4", 1, 20, 1},
      {"[THREADS]\r\nThreadCount=3\r\n", "3", 1, 20, 1},
      {"[MapsType]\r\nMapsType=2\r\n[Zoom]\r\nZoom=17\r\n", "4", 2, 15, 15},
      {"[MapsType]\r\nMapsType=9\r\n[Zoom]\r\nZoom=17\r\n", "4", 1, 20, 17},  // not in the list
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Project.value_or("no file"));
    TFormRun run("[IniParas]\r\nDefaultThreadCount=4\r\n");
    run.Fill();
    run.Form.Edit10.Text = "7";
    const std::string path = run.Tasks + "area.mrd";
    if (c.Project) WriteAll(path, *c.Project);
    run.Toolkit.OpenFileAnswers.push_back(path);
    run.Form.LoadParametersfromprojectfilel1Click();
    const TForm1& f = run.Form;
    EXPECT_EQ(TLines({f.Edit1.Text, f.Edit2.Text, f.Edit3.Text, f.Edit4.Text}), TLines(4));
    EXPECT_EQ(f.Edit10.Text, c.Threads);
    EXPECT_EQ(f.Edit6.Text, run.Tasks);
    EXPECT_EQ(f.EditTaskName.Text, "area.mrd");
    EXPECT_EQ(f.comboMapsType.ItemIndex, c.MapsType);
    EXPECT_EQ(std::tuple(f.TrackBar1.Max(), f.TrackBar1.Position()), std::tuple(c.ZoomMax, c.Zoom));
    EXPECT_EQ(f.Label8.Caption, std::to_string(c.Zoom));
  }
}

// A pipe or an oversized file named like the project: "Open task" and Start's
// comparison name it at once instead of waiting on it for ever.
TEST(MainForm, ProjectThatIsNoTaskFileIsNamedNotWaitedOn) {
  const struct {
    const char* Name;
    void (*Make)(const std::string& path);
    std::string Error;
  } cases[] = {
      {"pipe", [](const std::string& path) { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); }, "Not a regular file: "},
      {"oversized", [](const std::string& path) { WriteAll(path, "[Zoom]\r\n" + std::string(1 << 20, ' ')); },
       "File larger than 1 MB: "},
  };
  for (const auto& c : cases) {
    for (const bool start : {false, true}) {
      SCOPED_TRACE(std::string(c.Name) + (start ? ", Start" : ", Open task"));
      TFormRun run;
      run.Fill();
      const std::string path = run.Tasks + "t.mrd";
      c.Make(path);
      run.Toolkit.OpenFileAnswers.push_back(path);
      if (start)
        run.Form.BitBtn1Click();
      else
        run.Form.LoadParametersfromprojectfilel1Click();
      EXPECT_EQ(run.Toolkit.Errors, TLines{c.Error + path});
      EXPECT_EQ(run.Toolkit.Questions, TLines{});
      EXPECT_FALSE(run.Form.Running());
      EXPECT_EQ(run.Form.EditTaskName.Text, "t.mrd");
    }
  }
}

TEST(MainForm, LoadParametersCancelledChangesNothing) {
  TFormRun run;
  run.Fill();
  run.Toolkit.OpenFileAnswers.push_back(std::nullopt);
  run.Form.LoadParametersfromprojectfilel1Click();
  EXPECT_EQ(run.Toolkit.Dialogs.size(), 1u);
  EXPECT_EQ(TLines({run.Form.Edit1.Text, run.Form.Edit6.Text, run.Form.EditTaskName.Text}),
            TLines({"116.3", run.Tasks, "t.mrd"}));
  EXPECT_EQ(run.Form.TrackBar1.Position(), 12);
}

// The task folder goes while the worker pauses after its first tile, with or
// without a save before: the last tile and the completion cannot write.
TEST(MainForm, FailedWriteDuringCompletionStillFinishes) {
  for (const int ticks : {0, 4}) {
    SCOPED_TRACE(ticks);
    TFormRun run(test::FastConfig, /*holdWorkers=*/true);
    run.Fill();
    run.Form.BitBtn1Click();
    ASSERT_TRUE(run.PumpUntil([&] { return run.Gate.Sleeps() == 1; }));
    for (int tick = 0; tick < ticks; ++tick) run.Toolkit.Tick();
    fs::remove_all(run.Tasks);
    run.Gate.Open();
    ASSERT_TRUE(run.PumpUntil([&] { return !run.Form.Running(); }));
    EXPECT_EQ(run.Workers(), 0);
    EXPECT_EQ(run.Toolkit.Errors, TLines{"Cannot create file " + run.Task().LogPath});
  }
}

TEST(MainForm, CloseWhileRunningStopsAndCompletes) {
  for (const bool ticksWhileWaiting : {false, true}) {
    SCOPED_TRACE(ticksWhileWaiting);
    TFormRun run(test::FastConfig, /*holdWorkers=*/true);
    // A clock a second further on at every look: each wait for the workers ticks.
    auto clock = THeadlessToolkit::TClock::now();
    if (ticksWhileWaiting) run.Toolkit.Now = [&clock] { return clock += std::chrono::seconds(1); };
    run.Fill();
    run.Area("116.3", "40.3", "116.4", "39.9");
    run.Form.Edit10.Text = "2";
    run.Form.BitBtn1Click();
    ASSERT_TRUE(run.PumpUntil([&] { return run.Gate.Sleeps() == 2; }));
    run.Toolkit.OnWait = [&] { run.Gate.Open(); };  // the workers go on only once told to stop
    run.Form.FormCloseQuery();
    EXPECT_FALSE(run.Form.Running());
    EXPECT_EQ(run.Workers(), 0);
    EXPECT_EQ(run.Server.Gets, 2);  // one tile each of fourteen
    ExpectClosingLines(run);
    EXPECT_NE(run.Log().find("Thread2will be terminated by user."), std::string::npos);
    EXPECT_EQ(std::ranges::count(run.LogLines(), "Task Stoped!"), 1);
    EXPECT_EQ(run.Toolkit.Messages.size() + run.Toolkit.Errors.size(), 0u);
    EXPECT_FALSE(run.Toolkit.TimerEnabled());
  }
}

// Workers held back by a full queue (the window busy elsewhere) are released by
// the pumping of a close or of the window's end; the close still saves every
// line before the positions that pass it.
TEST(MainForm, WorkersWaitingForAFullQueueEndWithTheWindow) {
  for (const bool close : {true, false}) {
    SCOPED_TRACE(close ? "close" : "destroy");
    constexpr int Limit = 64;
    auto run = std::make_unique<TFormRun>(test::FastConfig, false, Limit);
    run->Fill();
    run->Area("116.0", "40.0", "116.5", "39.6");  // 600 tiles at zoom 14
    run->Form.TrackBar1.SetPosition(14);
    run->Form.Edit10.Text = "4";
    run->Form.BitBtn1Click();
    // Nobody pumps: the workers fill the queue, one line a tile, and wait.
    const int full = Limit;
    test::WaitFor([&] { return run->Server.Gets >= full; });
    if (!close) {
      run.reset();
      continue;
    }
    run->Form.FormCloseQuery();
    EXPECT_FALSE(run->Form.Running());
    EXPECT_EQ(run->Workers(), 0);
    const TDownloadTask& t = run->Task();
    EXPECT_LT(run->Server.Gets, t.TotalCount);
    const TLines lines = run->LogLines();
    EXPECT_EQ(std::ranges::count_if(lines, [](const std::string& line) { return line.ends_with(" OK"); }),
              run->Server.Gets);
    int saved = 0;
    for (int n = 1; n <= 4; ++n) {
      const std::string key = "T" + std::to_string(n);
      const int x = Position(*run, (key + "X").c_str()), y = Position(*run, (key + "Y").c_str());
      if (x == 0) continue;  // a worker that was stopped before its first tile
      ++saved;
      const std::string tile = t.TileFileName(x, y);
      EXPECT_EQ(std::ranges::count_if(lines, [&](const std::string& line) { return line.ends_with(tile + " OK"); }), 1)
          << tile;
    }
    EXPECT_GT(saved, 0);
  }
}

}  // namespace
}  // namespace meridane
