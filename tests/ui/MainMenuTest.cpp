#include <gtest/gtest.h>

#include "config/Config.h"
#include "ui/FormHarness.h"
#include "ui/MainMenu.h"

namespace meridane {
namespace {

using TLines = std::vector<std::string>;

// Every window of the program over one program folder, and the menu over them.
struct TWindows {
  explicit TWindows(std::optional<std::string> config = test::FastConfig, bool holdWorkers = false)
      : Run(std::move(config), holdWorkers) {}

  // What the toolkit was asked for, in one list, the program folder shown as "<program>/".
  TLines Effects() const {
    const THeadlessToolkit& t = Run.Toolkit;
    TLines all = t.Calls;
    for (const auto& [prefix, lines] :
         {std::pair{"open ", &t.Opened}, {"start ", &t.Started}, {"message ", &t.Messages}, {"error ", &t.Errors}})
      for (const std::string& line : *lines) all.push_back(prefix + line);
    const std::string program = Run.Program.string() + "/";
    for (std::string& line : all)
      if (const auto at = line.find(program); at != std::string::npos) line.replace(at, program.size(), "<program>/");
    return all;
  }

  test::TFormRun Run;
  THeadlessToolkit& Toolkit = Run.Toolkit;
  TfrmAbout About{Toolkit, Run.Form};
  TfrmConvert Convert{Toolkit};
  TfrmOptions Options{Toolkit, Run.Program};
  TfrmFlt Flt{Toolkit, ConfigPathIn(Run.Program)};
  TMainMenu Menu{Toolkit, Run.Form, About, Convert, Options, Flt};
};

TEST(MainMenu, TableAndEachCommand) {
  const struct {
    const char* Caption;
    TLines Items;  // "-": a separator
  } menus[] = {
      {"&File", {"E&xit"}},
      {"&Options", {"Options..."}},
      {"&Misc", {"Convert \"Degrees,Minutes,Seconds\"  to \"Degrees\"...", "-", "View log file"}},
      {"&Tools", {"Map Viewer", "-", "Map Combiner", "-", "re-dowload failed files", "Check task..."}},
      {"&Help", {"User manual", "Homepage", "-", "About..."}},
  };
  const struct {
    const char* Name;
    TLines Effects;
  } commands[] = {
      {"Exit1", {"Terminate"}},
      {"Options2", {"ShowModal frmOptions"}},
      {"ConvertLongitudeorLatitudetodegreen1", {"Show frmConvert", "BringToFront frmConvert"}},
      {"Viewlogfile1", {std::string("message ") + MainFormText::NoTask}},
      {"Mapviewer1", {"start <program>/vistorel"}},
      {"CombineImages1", {"start <program>/mosaren"}},
      {"dowloadfailedfiles1", {"ShowModal frmFlt"}},
      {"Checktask1", {}},  // the file dialog cancelled
      {"Usermanual1", {"open <program>/help/index.html"}},
      {"Homepage1", {"open https://meridane.example.org/"}},
      {"About1", {"ShowModal frmAbout"}},
  };
  ASSERT_EQ(MainMenuTable.size(), std::size(menus));
  std::size_t command = 0;
  for (std::size_t m = 0; m < std::size(menus); ++m) {
    const TMenu& menu = MainMenuTable[m];
    EXPECT_STREQ(menu.Caption, menus[m].Caption);
    TLines captions;
    for (const TMenuItem& item : menu.Items) {
      captions.emplace_back(item.Caption);
      if (item.Separator()) continue;
      ASSERT_LT(command, std::size(commands));
      const auto& expected = commands[command++];
      SCOPED_TRACE(expected.Name);
      EXPECT_STREQ(item.Name, expected.Name);
      TWindows windows;
      (windows.Menu.*item.Handler)();
      EXPECT_EQ(windows.Effects(), expected.Effects);
    }
    EXPECT_EQ(captions, menus[m].Items);
  }
  EXPECT_EQ(command, std::size(commands));
}

TEST(MainMenu, ConverterIsOneWindowNotModal) {
  TWindows windows;
  windows.Menu.ConvertLongitudeorLatitudetodegreen1Click();
  windows.Convert.Edit1.Text = "10";
  windows.Menu.ConvertLongitudeorLatitudetodegreen1Click();
  EXPECT_EQ(windows.Convert.Edit1.Text, "10");
  EXPECT_EQ(windows.Toolkit.Visible, std::set<std::string>{"frmConvert"});
  EXPECT_EQ(windows.Effects().back(), "BringToFront frmConvert");
}

TEST(MainMenu, SiblingProgramsStartedEachTimeWithoutMessage) {
  TWindows windows;
  test::WriteAll(windows.Run.Program / "mosaren", "");
  windows.Menu.Mapviewer1Click();  // there is no vistorel
  windows.Menu.CombineImages1Click();
  windows.Menu.CombineImages1Click();
  EXPECT_EQ(windows.Effects(),
            (TLines{"start <program>/vistorel", "start <program>/mosaren", "start <program>/mosaren"}));
  EXPECT_EQ(windows.Run.Form.Caption, "Meridane 6.91");
}

TEST(MainMenu, AboutShowsCaptionAtEachShowAndLinks) {
  TWindows windows(std::nullopt);
  TfrmAbout& about = windows.About;
  TLines seen;
  windows.Toolkit.WhileModal = [&](IForm&) {
    seen = {about.Label3.Caption, about.Label4.Caption, about.Label7.Caption, about.Label8.Caption};
    about.Label4Click();
    about.Label7Click();
    about.bLaterClick();
  };
  windows.Menu.About1Click();
  EXPECT_EQ(seen, (TLines{"Meridane 6.91", "https://meridane.example.org/", "support@meridane.example.org",
                          "Developer:  The Meridane team"}));
  EXPECT_EQ(windows.Effects(), (TLines{"ShowModal frmAbout", "Close frmAbout", "open https://meridane.example.org/",
                                       "open mailto:support@meridane.example.org"}));
  EXPECT_TRUE(windows.Toolkit.Visible.empty());

  windows.Run.Form.Caption = "Meridane 7.0";
  windows.Menu.About1Click();
  EXPECT_EQ(seen[0], "Meridane 7.0");
}

TEST(MainMenu, ExitWhileRunningCompletesTaskFirst) {
  TWindows windows(test::FastConfig, /*holdWorkers=*/true);
  test::TFormRun& run = windows.Run;
  run.Fill();
  run.Form.BitBtn1Click();
  ASSERT_TRUE(run.PumpUntil([&] { return run.Gate.Sleeps() == 1; }));
  run.Toolkit.OnWait = [&] { run.Gate.Open(); };
  // No check beside a running task: it would read tiles being written.
  windows.Menu.Checktask1Click();
  EXPECT_EQ(windows.Effects(), TLines{std::string("message ") + TTaskCheck::TaskRunning});
  EXPECT_TRUE(run.Toolkit.Dialogs.empty());
  run.Toolkit.Messages.clear();
  windows.Menu.Exit1Click();
  EXPECT_FALSE(run.Form.Running());
  test::ExpectClosingLines(run);
  EXPECT_EQ(windows.Effects(), TLines{"Terminate"});
}

}  // namespace
}  // namespace meridane
