// Tools > "Check task..." through the main window's logic: the check runs
// beside the window, Stop ends it, and its result stays on offer until the
// user closes it.
#include <gtest/gtest.h>

#include "tiles/Coverage.h"
#include "ui/FormHarness.h"

namespace meridane {
namespace {

namespace fs = std::filesystem;
using test::ReadAll;
using test::TFormRun;
using test::WriteAll;
using TLines = std::vector<std::string>;

// A project of four tiles at zoom 10 (x 843..844, y 388..389), one of them on the disk.
std::string SmallTask(const TFormRun& run) {
  const std::string project = run.Tasks + "desk.mrd";
  fs::create_directories(run.Tasks + "desk");
  WriteAll(project,
           "[AREA]\r\nLeftLongitude=116.39\r\nRightLongitude=116.8\r\nTopLatitude=39.9\r\nBottomLatitude=39.5\r\n"
           "[Zoom]\r\nZoom=10\r\n");
  WriteAll(run.Tasks + "desk/gs_843_389_10.jpg", "\xFF\xD8\xFF\xE0 tile");
  return project;
}

// The whole world at zoom 14: far more tiles than a check gets through before a Stop.
std::string HugeTask(const TFormRun& run) {
  const std::string project = run.Tasks + "world.mrd";
  WriteAll(project,
           "[AREA]\r\nLeftLongitude=-180\r\nRightLongitude=180\r\nTopLatitude=85\r\nBottomLatitude=-85\r\n"
           "[Zoom]\r\nZoom=14\r\n");
  return project;
}

void StartCheck(TFormRun& run, const std::string& project) {
  run.Toolkit.OpenFileAnswers.push_back(project);
  run.Toolkit.AskAnswers.push_back(false);  // no decoding
  run.Form.Checktask1Click();
}

// The check's thread reports through the queue: until it is pumped the check
// runs, whatever its worker has done, so these states are certain.
TEST(TaskCheck, RunsBesideTheWindowThenOffersTheSummary) {
  TFormRun run;
  const std::string project = SmallTask(run);
  StartCheck(run, project);
  EXPECT_TRUE(run.Form.Check.Running());
  EXPECT_EQ(run.Form.BitBtn1.Caption, "Stop");
  EXPECT_FALSE(run.Form.Running());  // no download
  const TForm1::TBarView bar = run.Form.ProgressBar();
  EXPECT_TRUE(bar.Shown);
  EXPECT_EQ(bar.Maximum, 4);
  EXPECT_EQ(bar.Line, CheckStatusLine(0, 4, 0, 0));

  ASSERT_TRUE(run.PumpUntil([&] { return !run.Form.Check.Running() && !run.Toolkit.Messages.empty(); }));
  EXPECT_EQ(run.Form.BitBtn1.Caption, "Start");
  EXPECT_FALSE(run.Form.ProgressBar().Shown);
  ASSERT_EQ(run.Toolkit.Messages.size(), 1u);
  const std::string& summary = run.Toolkit.Messages[0];
  EXPECT_EQ(summary.substr(0, summary.rfind("; ")),
            project + "\n4 tiles: 1 good, 3 missing, 0 empty, 0 not an image, 0 placeholder");
}

// Save attempts in order (an empty one cancels the dialog); the summary comes
// back after each that did not save, until one saves or OK closes it.
TEST(TaskCheck, SummaryStaysOnOfferUntilClosed) {
  const struct {
    const char* Name;
    std::vector<std::string> Targets;  // "-": cancel; relative to the tasks folder
    std::size_t Summaries;
    TLines Errors;  // the error boxes, "<tasks>/" for the folder
    bool Saved;     // the last target holds the list
  } cases[] = {
      {"saved at once", {"repair.ftl"}, 1, {}, true},
      {"cancelled, then saved", {"-", "repair.ftl"}, 2, {}, true},
      {"a missing folder, then saved",
       {"none/repair.ftl", "repair.ftl"},
       2,
       {"Cannot create file <tasks>/none/repair.ftl: No such file or directory"},
       true},
      {"a task's file refused, then saved", {"desk.mrd", "repair.ftl"}, 2, {}, true},
      {"cancelled, then closed", {"-"}, 2, {}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TFormRun run;
    const std::string project = SmallTask(run);
    for (const std::string& target : c.Targets) {
      run.Toolkit.ButtonAnswers.push_back(true);
      run.Toolkit.SaveFileAnswers.push_back(target == "-" ? std::nullopt
                                                          : std::optional<std::string>(run.Tasks + target));
    }
    StartCheck(run, project);
    ASSERT_TRUE(run.PumpUntil([&] { return !run.Form.Check.Running() && run.Toolkit.ButtonAnswers.empty(); }));
    run.Toolkit.Pump();

    std::size_t summaries = 0;
    for (const std::string& m : run.Toolkit.Messages) summaries += m.starts_with(project + "\n");
    EXPECT_EQ(summaries, c.Summaries);
    TLines errors = run.Toolkit.Errors;
    for (std::string& e : errors)
      if (const auto at = e.find(run.Tasks); at != std::string::npos) e.replace(at, run.Tasks.size(), "<tasks>/");
    EXPECT_EQ(errors, c.Errors);
    const std::string list = run.Tasks + "repair.ftl";
    EXPECT_EQ(fs::exists(list), c.Saved);
    if (!c.Saved) continue;
    EXPECT_EQ(SplitLines(ReadAll(list)).size(), 3u);
    EXPECT_EQ(run.Toolkit.Messages.back(), "The repair list of 3 tiles is saved as " + list +
                                               ".\nTools > \"re-dowload failed files\" fetches them again.");
  }
}

// Start (reading "Stop"), the menu command again, and closing the window each
// end a check that has far to go; closing shows no summary.
TEST(TaskCheck, StopEndsTheCheck) {
  const struct {
    const char* Name;
    void (*Stop)(TFormRun&);
    bool Summary;
  } cases[] = {
      {"Stop button", [](TFormRun& run) { run.Form.BitBtn1Click(); }, true},
      {"menu", [](TFormRun& run) { run.Form.Checktask1Click(); }, true},
      {"closing", [](TFormRun& run) { run.Form.FormCloseQuery(); }, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TFormRun run;
    const std::string project = HugeTask(run);
    StartCheck(run, project);
    // The bar moves before the first block of tiles is handed on.
    ASSERT_TRUE(run.PumpUntil([&] { return run.Form.ProgressBar().Value > 0; }));
    c.Stop(run);
    EXPECT_FALSE(run.Form.Running());
    ASSERT_TRUE(run.PumpUntil([&] { return !run.Form.Check.Running(); }));
    run.Toolkit.Pump();
    EXPECT_EQ(run.Form.BitBtn1.Caption, "Start");
    ASSERT_EQ(run.Toolkit.Messages.size(), c.Summary ? 1u : 0u);
    // "N tiles of M: ...": how far it came.
    if (c.Summary) {
      EXPECT_NE(run.Toolkit.Messages[0].find(" tiles of "), std::string::npos);
    }
  }
}

}  // namespace
}  // namespace meridane
