// The main window driven as a user would, against the local nginx: download,
// stop, resume and complete, with every file checked.
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <thread>

#include "config/IniFile.h"
#include "geo/Commonfunc.h"
#include "support/ProcessState.h"
#include "support/TempDir.h"
#include "support/TestServers.h"
#include "task/TextFile.h"
#include "ui/HeadlessToolkit.h"
#include "ui/MainForm.h"
#include "ui/MapPickForm.h"

namespace meridane {
namespace {

namespace fs = std::filesystem;
using test::ReadAll;

const std::string Blank = "\xFF\xD8\xFF\xE0 blank";

// Lets each worker pass its first `open` pauses and holds it at the next one
// until released, so a test can press Stop while every worker is mid-task.
class TGateSleeper : public ISleeper {
 public:
  explicit TGateSleeper(int open) : Open(open) {}
  ~TGateSleeper() override { Release(); }
  void Sleep(int) override {
    std::unique_lock<std::mutex> guard(Lock);
    if (++Passed[std::this_thread::get_id()] <= Open) return;
    ++Held;
    Changed.wait(guard, [this] { return Released; });
  }
  int HeldCount() {
    std::lock_guard<std::mutex> guard(Lock);
    return Held;
  }
  void Release() {
    std::lock_guard<std::mutex> guard(Lock);
    Released = true;
    Changed.notify_all();
  }

 private:
  std::mutex Lock;
  std::condition_variable Changed;
  std::map<std::thread::id, int> Passed;
  int Open, Held = 0;
  bool Released = false;
};

struct TReleaseAtEnd {
  TGateSleeper& Gate;
  ~TReleaseAtEnd() { Gate.Release(); }
};

class MainWindowDownload : public ::testing::Test {
 protected:
  void SetUp() override {
    if (test::TestServerAddress("http").empty()) GTEST_SKIP() << "no test servers";
    Served = fs::path(std::getenv("MERIDANE_TEST_SERVERS_DIR"));
    LogStart = fs::file_size(Served / "access.log");
    const std::string host = test::TestServerAddress("http");
    fs::create_directories(Dir / "program" / "ini");
    fs::create_directories(Dir / "program" / "blankimg");
    test::WriteAll(Dir / "program" / "blankimg" / "blank.jpg", Blank);
    test::WriteAll(Dir / "program" / "ini" / "config.ini", "[Servers]\r\nHost0=" + host + "\r\nHost1=" + host +
                                                               "\r\nHost2=" + host + "\r\nHost3=" + host +
                                                               "\r\n[Download]\r\nTilePause=1\r\n");
  }

  // A form shown, its fields filled for the zoom-11 tiles x0..x1, y0..y1.
  std::unique_ptr<TForm1> Form(ISleeper& sleeper, int x0, int x1, int y0, int y1, int threads) {
    auto form = std::make_unique<TForm1>(Toolkit, TMainFormEnvironment{Dir / "program", {}, &sleeper});
    form->FormShow();
    form->EditTaskName.Text = "e2e.mrd";
    form->Edit6.Text = Dir.Folder() + "maps";
    form->Edit1.Text = std::to_string(TileXToLon(x0 + 0.5, 11));
    form->Edit3.Text = std::to_string(TileXToLon(x1 + 0.5, 11));
    form->Edit2.Text = std::to_string(TileYToLat(y0 + 0.5, 11, 0));
    form->Edit4.Text = std::to_string(TileYToLat(y1 + 0.5, 11, 0));
    form->Edit10.Text = std::to_string(threads);
    form->TrackBar1.SetPosition(11);
    return form;
  }

  // Pumps the workers' calls and ticks the timer until the task is complete.
  void RunToCompletion(TForm1& form) {
    while (form.Running()) {
      Toolkit.Pump(std::chrono::milliseconds(2));
      Toolkit.Tick();
    }
  }

  std::string Folder() { return Dir.Folder() + "maps/"; }
  std::string TilePath(int x, int y) {
    return Folder() + "e2e/gs_" + std::to_string(x) + "_" + std::to_string(y) + "_11.jpg";
  }
  std::string ServedTile(int x, int y) {
    return ReadAll(Served / "tiles/11" / std::to_string(x) / (std::to_string(y) + ".jpg"));
  }

  // Zoom-11 requests since the test began, by tile URI.
  std::map<std::string, int> Requests() {
    std::ifstream log(Served / "access.log");
    log.seekg(static_cast<std::streamoff>(LogStart));
    std::map<std::string, int> count;
    for (std::string line; std::getline(log, line);) {
      const std::string uri = line.substr(line.rfind(' ') + 1);
      if (uri.find("&z=11") != std::string::npos) ++count[uri];
    }
    return count;
  }

  static long Count(const std::vector<std::string>& lines, const std::string& part) {
    return std::count_if(lines.begin(), lines.end(),
                         [&](const std::string& l) { return l.find(part) != std::string::npos; });
  }

  test::TTempDir Dir;
  THeadlessToolkit Toolkit;
  fs::path Served;
  std::uintmax_t LogStart = 0;
};

TEST_F(MainWindowDownload, SixtyTilesWithFourWorkers) {
  TGateSleeper free(1 << 30);
  auto form = Form(free, 1700, 1705, 780, 789, 4);
  form->BitBtn1Click();
  ASSERT_EQ(form->LabelTotalxy.Caption, "Total images: 60");
  RunToCompletion(*form);

  for (int x = 1700; x <= 1705; ++x)
    for (int y = 780; y <= 789; ++y) EXPECT_EQ(ReadAll(TilePath(x, y)), ServedTile(x, y)) << x << "," << y;
  const auto log = ReadLines(Folder() + "e2e_log.txt");
  EXPECT_EQ(log.front(), "Project: " + Folder() + "e2e.mrd");
  EXPECT_EQ(log[32], std::string(34, '~'));
  EXPECT_EQ(Count(log, " OK"), 60);
  EXPECT_EQ(Count(log, " Finished."), 4);
  EXPECT_EQ(log[log.size() - 5], "Task Stoped!");
  EXPECT_EQ(log.back(), "Log file has been saved as " + Folder() + "e2e_log.txt");
  EXPECT_EQ(ReadAll(Folder() + "e2e_failed.ftl"), "");
  EXPECT_EQ(Toolkit.Messages, std::vector<std::string>{MainFormText::TaskStopped});

  // Worker k's last tile is the last sequence number s with s mod 4 == k; (x, y) = walk position.
  const TIniFile project(Folder() + "e2e.mrd");
  for (int k = 0; k < 4; ++k) {
    int last = 60;
    while (last % 4 != k) --last;
    const std::string n = std::to_string(k + 1);
    EXPECT_EQ(project.ReadInteger("THREADS", "T" + n + "X", 0), 1700 + (last - 1) / 10) << n;
    EXPECT_EQ(project.ReadInteger("THREADS", "T" + n + "Y", 0), 780 + (last - 1) % 10) << n;
  }
  const auto requests = Requests();
  EXPECT_EQ(requests.size(), 60u);
  for (const auto& [uri, times] : requests) EXPECT_EQ(times, 1) << uri;
}

TEST_F(MainWindowDownload, StoppedHalfwayThenResumedFetchesOnlyTheRest) {
  TGateSleeper gate(7);  // each worker has 15 tiles: held after its 8th
  auto form = Form(gate, 1700, 1705, 780, 789, 4);
  // Declared after the form, so the workers are let go before the form waits for them.
  const TReleaseAtEnd release{gate};
  form->BitBtn1Click();
  while (gate.HeldCount() < 4) Toolkit.Pump(std::chrono::milliseconds(1));
  ASSERT_EQ(gate.HeldCount(), 4);
  form->BitBtn1Click();  // Stop
  gate.Release();
  RunToCompletion(*form);
  int saved = 0;
  for (int x = 1700; x <= 1705; ++x)
    for (int y = 780; y <= 789; ++y) saved += fs::exists(TilePath(x, y)) ? 1 : 0;
  EXPECT_EQ(saved, 32);  // 8 per worker: 7 pauses passed, the 8th held, each after a saved tile

  TGateSleeper free(1 << 30);
  auto again = Form(free, 1700, 1705, 780, 789, 4);
  again->BitBtn1Click();
  RunToCompletion(*again);
  for (int x = 1700; x <= 1705; ++x)
    for (int y = 780; y <= 789; ++y) EXPECT_EQ(ReadAll(TilePath(x, y)), ServedTile(x, y)) << x << "," << y;
  const auto requests = Requests();
  EXPECT_EQ(requests.size(), 60u);
  for (const auto& [uri, times] : requests) EXPECT_EQ(times, 1) << uri;
  const auto log = ReadLines(Folder() + "e2e_log.txt");
  EXPECT_EQ(Count(log, std::string(44, '-')), 1);
  EXPECT_EQ(Count(log, "will be terminated by user. please wait..."), 4);
  EXPECT_EQ(Count(log, " OK"), 60);
}

// Rows 790 and 791 are not on the server (404), column 1706 is refused (403).
TEST_F(MainWindowDownload, RefusedAndMissingTiles) {
  TGateSleeper free(1 << 30);
  auto form = Form(free, 1704, 1706, 788, 791, 1);
  form->BitBtn1Click();
  RunToCompletion(*form);
  const auto log = ReadLines(Folder() + "e2e_log.txt");
  const std::string refused =
      "http://" + test::TestServerAddress("http") + "/kh/v=91&s=" + GalileoPrefix(1706, 788) + "&x=1706&y=788&z=11";
  EXPECT_EQ(Count(log, "Error: the image is not found on server.HTTP/1.1 404 Not Found"), 4);
  for (const char* line : {"T1:1704-790 got a blank image!", "T1:1705-791 got a blank image!",
                           "Error: may be your IP is banned.", "T1 Finished."})
    EXPECT_EQ(Count(log, line), 1) << line;
  EXPECT_EQ(Count(log, "T1 HTTP/1.1 403 Forbidden->" + refused), 1);
  EXPECT_EQ(ReadAll(Folder() + "e2e_failed.ftl"), TilePath(1706, 788) + "|" + refused + "\r\n");
  EXPECT_EQ(ReadAll(TilePath(1704, 790)), Blank);
  EXPECT_EQ(ReadAll(TilePath(1705, 789)), ServedTile(1705, 789));
  EXPECT_FALSE(fs::exists(TilePath(1706, 788)));
  const TIniFile project(Folder() + "e2e.mrd");
  EXPECT_EQ(project.ReadInteger("THREADS", "T1X", 0), 1705);
  EXPECT_EQ(project.ReadInteger("THREADS", "T1Y", 0), 791);
  EXPECT_EQ(Requests()["/kh/v=91&s=" + GalileoPrefix(1706, 788) + "&x=1706&y=788&z=11"], 3);
}

}  // namespace
}  // namespace meridane

namespace meridane {
namespace {

// A rectangle dragged on the map, from the middle of one tile to the middle of
// another, fills the fields with what Start downloads: exactly those tiles.
TEST_F(MainWindowDownload, RectanglePickedOnTheMapStartsItsTiles) {
  const test::TEnvironmentGuard cacheHome("XDG_CACHE_HOME");
  cacheHome.Set((Dir / "cache").string());
  TGateSleeper free(1 << 30);
  auto form = Form(free, 1700, 1700, 780, 780, 1);
  Toolkit.WhileModal = [](IForm& dialog) {
    auto& pick = dynamic_cast<TMapPickForm&>(dialog);
    const double tiles = 2048;  // the world's width in tiles at zoom 11
    pick.Selection.Press({1700.5 / tiles, 780.5 / tiles}, 1e-9);
    pick.Selection.Release({1702.5 / tiles, 781.5 / tiles});
    pick.SelectionChanged();
    pick.OkClick();
  };
  form->ButtonMapClick();
  Toolkit.WhileModal = nullptr;
  form->BitBtn1Click();
  ASSERT_EQ(form->LabelTotalxy.Caption, "Total images: 6");
  RunToCompletion(*form);
  for (int x = 1700; x <= 1702; ++x)
    for (int y = 780; y <= 781; ++y) EXPECT_EQ(ReadAll(TilePath(x, y)), ServedTile(x, y)) << x << "," << y;
  EXPECT_EQ(Requests().size(), 6u);
}

}  // namespace
}  // namespace meridane
