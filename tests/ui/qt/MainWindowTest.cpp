// The desktop program's main window through its real widgets, offscreen.
#include <QAccessible>
#include <QComboBox>
#include <QScrollBar>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QStatusBar>
#include <csignal>
#include <fstream>

#include "config/IniFile.h"
#include "geo/Commonfunc.h"
#include "task/ProjectFile.h"
#include "task/TileGrid.h"
#include "support/Images.h"
#include "support/Process.h"
#include "support/Wait.h"
#include "support/TestServers.h"
#include "ui/qt/CloseSignals.h"
#include "ui/qt/QtHarness.h"

namespace meridane {
namespace {

namespace fs = std::filesystem;
using test::Find;
using test::ReadAll;
using test::TDesktopRun;
using test::Text;

TEST(DesktopMainWindow, ControlsByNameAsTheyOpen) {
  TDesktopRun run;
  QWidget* main = run.Main();
  EXPECT_EQ(main->size(), QSize(627, 442));
  EXPECT_EQ(main->windowTitle(), "Meridane 6.91");
  const struct {
    const char* Name;
    const char* Text;
  } controls[] = {
      {"Label16", "Task name:"},
      {"EditTaskName", "newtask.mrd"},
      {"Button4", "Open task ..."},
      {"Label5", "Zoom level:"},
      {"Label8", "12"},
      {"Label1", "Left Longitude:"},
      {"Label2", "Right Longitude:"},
      {"Label3", "Top Latitude:"},
      {"Label4", "Bottom Latitude:"},
      {"Label6", "Path to save:"},
      {"Button1", "..."},
      {"Label11", "Threads count:"},
      {"Edit10", "1"},
      {"LabelTotalxy", ""},
      {"BitBtn1", "Start"},
      {"StatusText", "Download satellite images from Google Maps."},
  };
  for (const auto& c : controls) EXPECT_EQ(Text(main, c.Name), c.Text) << c.Name;
  // The default folder "c:\mrd" of a Windows configuration, in the user's home.
  EXPECT_EQ(Text(main, "Edit6"), run.Dir.Folder() + "mrd");

  EXPECT_FALSE(Find<QComboBox>(main, "comboMapsType")->isVisible());
  EXPECT_EQ(Find<QComboBox>(main, "comboMapsType")->count(), 8);
  auto* zoom = Find<QSlider>(main, "TrackBar1");
  EXPECT_EQ(std::tuple(zoom->minimum(), zoom->maximum(), zoom->value(), zoom->pageStep(), zoom->tickInterval()),
            std::tuple(1, 20, 12, 1, 1));
  EXPECT_EQ(zoom->toolTip(), "12");
  EXPECT_EQ(Find<QWidget>(main, "Button1")->toolTip(), "Click to select path");
  EXPECT_TRUE(Find<QLineEdit>(main, "Edit10")->isReadOnly());
  auto* start = Find<QPushButton>(main, "BitBtn1");
  EXPECT_TRUE(start->font().bold());
  EXPECT_TRUE(start->isDefault());
  auto* log = Find<QPlainTextEdit>(main, "Memo1");
  EXPECT_TRUE(log->isReadOnly());
  EXPECT_EQ(log->toPlainText(), "[log window]");
  EXPECT_EQ(log->toolTip(), "Double click to view log in notepad");
  EXPECT_EQ(log->palette().color(QPalette::Text), QColor(0, 128, 0));
  EXPECT_EQ(log->palette().color(QPalette::Base), log->palette().color(QPalette::ToolTipBase));
  EXPECT_FALSE(Find<QPlainTextEdit>(main, "Memo2")->isVisible());
  EXPECT_FALSE(Find<QProgressBar>(main, "ProgressBar")->isVisible());
}

TEST(DesktopMainWindow, MenuFromTheTable) {
  TDesktopRun run;
  QStringList seen;
  for (QAction* menu : run.Main()->findChild<QMenuBar*>()->actions()) {
    seen << menu->text();
    for (QAction* item : menu->menu()->actions()) seen << "  " + (item->isSeparator() ? "-" : item->text());
  }
  const QStringList expected{"&File",      "  E&xit",
                             "&Options",   "  Options...",
                             "&Misc",      "  Convert \"Degrees,Minutes,Seconds\"  to \"Degrees\"...",
                             "  -",        "  View log file",
                             "&Tools",     "  Map Viewer",
                             "  -",        "  Map Combiner",
                             "  -",        "  re-dowload failed files",
                             "  Check task...",
                             "&Help",      "  User manual",
                             "  Homepage", "  -",
                             "  About..."};
  EXPECT_EQ(seen, expected);
}

// Tools > "Check task...": the project from the file dialog, the decoder
// declined, then the summary's second button saves the bad tiles under the
// name typed, the list's extension added, and a box says where they went.
TEST(DesktopMainWindow, CheckTaskSavesTheRepairList) {
  TDesktopRun run;
  const std::string project = run.Tasks + "desk.mrd";
  fs::create_directories(run.Tasks + "desk");
  test::WriteAll(project,
                 "[AREA]\r\nLeftLongitude=116.39\r\nRightLongitude=116.8\r\nTopLatitude=39.9\r\nBottomLatitude=39.5\r\n"
                 "[Zoom]\r\nZoom=10\r\n");
  test::WriteAll(run.Tasks + "desk/gs_843_389_10.jpg", "\xFF\xD8\xFF\xE0 tile");  // one of four tiles
  std::string decode, summary;
  auto saved = std::make_shared<std::optional<std::string>>();
  test::WhenModal([&](QWidget* modal) {
    auto* open = qobject_cast<QFileDialog*>(modal);
    ASSERT_NE(open, nullptr);
    EXPECT_EQ(open->windowTitle(), "Open project file:");
    test::WhenModal([&](QWidget* modal) {
      auto* question = qobject_cast<QMessageBox*>(modal);
      ASSERT_NE(question, nullptr);
      decode = question->text().toStdString();
      test::WhenModal([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr);
        summary = box->text().toStdString();
        test::WhenModal([&](QWidget* modal) {
          auto* save = qobject_cast<QFileDialog*>(modal);
          ASSERT_NE(save, nullptr);
          EXPECT_EQ(save->acceptMode(), QFileDialog::AcceptSave);
          save->selectFile(QString::fromStdString(run.Tasks + "repair"));
          test::AnswerMessage(saved);
          static_cast<QDialog*>(save)->accept();
        });
        Find<QPushButton>(box, "SecondButton")->click();
      });
      question->button(QMessageBox::No)->click();
    });
    open->selectFile(QString::fromStdString(project));
    static_cast<QDialog*>(open)->accept();
  });
  Find<QAction>(run.Main(), "Checktask1")->trigger();
  ASSERT_TRUE(test::WaitUntil([&] { return saved->has_value(); }));
  EXPECT_EQ(decode, TTaskCheck::DecodeQuestion);
  EXPECT_EQ(summary.substr(0, summary.rfind("; ")),
            project + "\n4 tiles: 1 good, 3 missing, 0 empty, 0 not an image, 0 placeholder");
  const std::vector<std::string> lines = SplitLines(ReadAll(run.Tasks + "repair.ftl"));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], run.Tasks + "desk/gs_843_388_10.jpg|http://khm0.google.com/kh/v=91&s=Galil&x=843&y=388&z=10");
  EXPECT_NE(saved->value().find(run.Tasks + "repair.ftl"), std::string::npos) << saved->value();
  EXPECT_FALSE(Find<QProgressBar>(run.Main(), "ProgressBar")->isVisible());
}

// A decoding check of 100,000 tiles (links to one real picture) runs beside
// the window: the bar moves, typing reaches the fields, Start and the menu
// read Stop, and closing the window ends the check at once.
TEST(DesktopMainWindow, WindowStaysLiveDuringALongCheck) {
  TDesktopRun run;
  // Zoom 17 near the equator: about 317 x 317 tiles.
  const std::string project = run.Tasks + "big.mrd";
  fs::create_directories(run.Tasks);
  test::WriteAll(project,
                 "[AREA]\r\nLeftLongitude=0.001\r\nRightLongitude=0.869\r\nTopLatitude=0.869\r\n"
                 "BottomLatitude=0.001\r\n[Zoom]\r\nZoom=17\r\n");
  const TTileGrid grid(OpenTaskReadOnly(project, TStartConfig{}));
  ASSERT_GE(grid.Count(), 100000);
  fs::create_directories(grid.TileFolder());
  // A file system allows some 65,000 links to a file: a new picture every 50,000.
  const std::string jpeg = test::EncodeJpeg(256, 256);
  long long made = 0;
  fs::path picture;
  grid.ForEach([&](int x, int y) {
    if (made++ % 50000 == 0) test::WriteAll(picture = run.Dir / ("tile" + std::to_string(made) + ".jpg"), jpeg);
    fs::create_hard_link(picture, grid.TilePath(x, y));
  });

  test::WhenModal([&](QWidget* modal) {
    auto* open = qobject_cast<QFileDialog*>(modal);
    ASSERT_NE(open, nullptr);
    test::WhenModal([](QWidget* modal) {
      auto* question = qobject_cast<QMessageBox*>(modal);
      ASSERT_NE(question, nullptr);
      question->button(QMessageBox::Yes)->click();  // decode: slow
    });
    open->selectFile(QString::fromStdString(project));
    static_cast<QDialog*>(open)->accept();
  });
  QWidget* main = run.Main();
  // The bar's rows are kept from the start: nothing moves when it shows.
  const QRect button = Find<QWidget>(main, "BitBtn1")->geometry(), text = Find<QWidget>(main, "ProgressText")->geometry();
  const QSize size = main->size();
  auto* action = Find<QAction>(main, "Checktask1");
  action->trigger();
  const TTaskCheck& check = run.App->Form1.Check;
  auto* bar = Find<QProgressBar>(main, "ProgressBar");
  ASSERT_TRUE(test::WaitUntil([&] { return bar->isVisible() && bar->value() > 0; }));
  EXPECT_EQ(bar->maximum(), grid.Count());
  EXPECT_EQ(Text(main, "BitBtn1"), "Stop");
  EXPECT_EQ(action->text(), TTaskCheck::StopCaption);
  EXPECT_EQ(std::tuple(main->size(), Find<QWidget>(main, "BitBtn1")->geometry(),
                       Find<QWidget>(main, "ProgressText")->geometry()),
            std::tuple(size, button, text));

  auto* name = Find<QLineEdit>(main, "EditTaskName");
  name->clear();
  QTest::keyClicks(name, "typed");
  EXPECT_EQ(name->text(), "typed");
  ASSERT_TRUE(check.Running()) << "the check ended before the window was tried";

  const auto before = std::chrono::steady_clock::now();
  main->close();
  const auto took = std::chrono::steady_clock::now() - before;
  EXPECT_FALSE(check.Running());
  // A second, with room for a machine busy with other work.
  EXPECT_LT(took, std::chrono::seconds(3));
}

TEST(DesktopMainWindow, MapTypeSetsTheZoomRange) {
  TDesktopRun run;
  auto* types = Find<QComboBox>(run.Main(), "comboMapsType");
  auto* zoom = Find<QSlider>(run.Main(), "TrackBar1");
  zoom->setValue(18);
  EXPECT_EQ(Text(run.Main(), "Label8"), "18");
  types->setCurrentIndex(2);
  EXPECT_EQ(std::tuple(zoom->minimum(), zoom->maximum(), zoom->value()), std::tuple(1, 15, 12));
  zoom->setValue(18);
  EXPECT_EQ(zoom->value(), 15);
  EXPECT_EQ(Text(run.Main(), "Label8"), "15");
}

TEST(DesktopMainWindow, StartWithBadInputShowsItsMessage) {
  const struct {
    const char *Left, *Folder, *Message;
  } cases[] = {
      {"116.3", "", MainFormText::NoPath},
      {"116,3", "here", MainFormText::InputError},
      {"190", "here", MainFormText::LeftRange},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Message);
    TDesktopRun run;
    QWidget* main = run.Main();
    Find<QLineEdit>(main, "Edit1")->setText(c.Left);
    Find<QLineEdit>(main, "Edit3")->setText("116.4");
    Find<QLineEdit>(main, "Edit2")->setText("40");
    Find<QLineEdit>(main, "Edit4")->setText("39.9");
    Find<QLineEdit>(main, "Edit6")->setText(c.Folder[0] ? QString::fromStdString(run.Tasks) : "");
    auto text = std::make_shared<std::optional<std::string>>();
    test::AnswerMessage(text);
    // Enter in a field presses Start.
    QTest::keyClick(Find<QLineEdit>(main, "Edit2"), Qt::Key_Return);
    EXPECT_EQ(*text, std::optional<std::string>(c.Message));
    EXPECT_EQ(Text(main, "BitBtn1"), "Start");
  }
}

// Every field has the name of its label for a screen reader, and Alt with the
// label's letter reaches it; the fields widen with the window; the tile count
// follows what is typed.
TEST(DesktopMainWindow, FieldsNamedReachableAndLive) {
  TDesktopRun run;
  QWidget* main = run.Main();
  const struct {
    const char *Widget, *Name;
    Qt::Key Key;
  } controls[] = {
      {"EditTaskName", "Task name", Qt::Key_K},   {"TrackBar1", "Zoom level", Qt::Key_Z},
      {"Edit1", "Left Longitude", Qt::Key_L},     {"Edit3", "Right Longitude", Qt::Key_R},
      {"Edit2", "Top Latitude", Qt::Key_P},       {"Edit4", "Bottom Latitude", Qt::Key_B},
      {"Edit6", "Path to save", Qt::Key_S},       {"Edit10", "Threads count", Qt::Key_C},
      {"Button1", "Select path", Qt::Key_unknown}, {"ProgressBar", "Progress", Qt::Key_unknown},
      {"Memo1", "Log", Qt::Key_unknown},
  };
  QApplication::setActiveWindow(main);
  for (const auto& c : controls) {
    auto* widget = Find<QWidget>(main, c.Widget);
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
    ASSERT_NE(accessible, nullptr) << c.Widget;
    EXPECT_EQ(accessible->text(QAccessible::Name).toStdString(), c.Name) << c.Widget;
    if (c.Key == Qt::Key_unknown) continue;
    QTest::keyClick(main, c.Key, Qt::AltModifier);
    EXPECT_EQ(QApplication::focusWidget(), widget) << c.Widget;
  }

  auto* folder = Find<QLineEdit>(main, "Edit6");
  const int narrow = folder->width();
  main->resize(1200, 600);
  QApplication::processEvents();
  EXPECT_GT(folder->width(), narrow + 200);

  auto* left = Find<QLineEdit>(main, "Edit1");
  for (const char* name : {"Edit1", "Edit3", "Edit2", "Edit4"}) QTest::keyClicks(Find<QLineEdit>(main, name), "4");
  EXPECT_EQ(Text(main, "LabelEstimate"), EstimateText("4", "4", "4", "4", 12));
  QTest::keyClick(left, Qt::Key_Backspace);
  EXPECT_EQ(Text(main, "LabelEstimate"), "Tiles: \u2014 Left Longitude is empty");
}

// Against the local nginx: zoom-13 tiles 6010..6013 x 3000..3002.
class DesktopDownload : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string host = test::TestServerAddress("http");
    if (host.empty()) GTEST_SKIP() << "no test servers";
    Run = std::make_unique<TDesktopRun>("[Servers]\r\nHost0=" + host + "\r\nHost1=" + host + "\r\nHost2=" + host +
                                        "\r\nHost3=" + host + "\r\n[Download]\r\nTilePause=" + Pause + "\r\n");
    QWidget* main = Run->Main();
    Find<QLineEdit>(main, "EditTaskName")->setText("desk.mrd");
    Find<QLineEdit>(main, "Edit6")->setText(QString::fromStdString(Run->Tasks));
    Find<QLineEdit>(main, "Edit1")->setText(QString::number(TileXToLon(6010.5, 13), 'g', 10));
    Find<QLineEdit>(main, "Edit3")->setText(QString::number(TileXToLon(6013.5, 13), 'g', 10));
    Find<QLineEdit>(main, "Edit2")->setText(QString::number(TileYToLat(3000.5, 13, 0), 'g', 10));
    Find<QLineEdit>(main, "Edit4")->setText(QString::number(TileYToLat(3002.5, 13, 0), 'g', 10));
    Find<QSlider>(main, "TrackBar1")->setValue(13);
    QTest::mouseClick(Find<QWidget>(main, "UpDown2")->findChild<QWidget*>("Up"), Qt::LeftButton);  // 2 threads
  }
  void TearDown() override { Run.reset(); }

  void Start() { QTest::mouseClick(Find<QPushButton>(Run->Main(), "BitBtn1"), Qt::LeftButton); }
  std::string Tile(int x, int y) {
    return Run->Tasks + "desk/gs_" + std::to_string(x) + "_" + std::to_string(y) + "_13.jpg";
  }

  std::string Pause = "0";
  std::unique_ptr<TDesktopRun> Run;
};

TEST_F(DesktopDownload, RunsToTheEndWithTheProgressAtItsMaximum) {
  auto text = std::make_shared<std::optional<std::string>>();
  test::AnswerMessage(text);
  Start();
  ASSERT_TRUE(test::WaitUntil([&] { return text->has_value(); }));
  EXPECT_EQ(**text, MainFormText::TaskStopped);
  QWidget* main = Run->Main();
  EXPECT_EQ(Text(main, "BitBtn1"), "Start");
  EXPECT_EQ(Text(main, "LabelTotalxy"), "Total images: 12");
  auto* bar = Find<QProgressBar>(main, "ProgressBar");
  EXPECT_EQ(std::pair(bar->value(), bar->maximum()), std::pair(12, 12));
  for (int x = 6010; x <= 6013; ++x)
    for (int y = 3000; y <= 3002; ++y) EXPECT_TRUE(fs::exists(Tile(x, y))) << Tile(x, y);
  const std::string shown = Find<QPlainTextEdit>(main, "Memo1")->toPlainText().toStdString();
  EXPECT_NE(shown.find("Task Stoped!"), std::string::npos);
  EXPECT_EQ(ReadAll(Run->Tasks + "desk_log.txt").find("Log file has been saved as"),
            ReadAll(Run->Tasks + "desk_log.txt").rfind("Log file has been saved as"));
  // What the user sees; MERIDANE_SCREENSHOT keeps it.
  const QPixmap shot = main->grab();
  EXPECT_EQ(shot.size(), QSize(627, 442));
  const char* keep = std::getenv("MERIDANE_SCREENSHOT");
  EXPECT_TRUE(shot.save(keep ? QString(keep) : QString::fromStdString(Run->Dir.Folder() + "main.png")));
}

// Two tasks in one session: the second counts its own tiles; the summary of
// each stays under the bar. Other inputs over the first task are asked about,
// and No leaves it as it was.
TEST_F(DesktopDownload, SecondTaskCountsItsOwnAndOtherInputsAsk) {
  QWidget* main = Run->Main();
  test::AnswerMessage();
  Start();
  ASSERT_TRUE(test::WaitUntil([&] { return Text(main, "BitBtn1") == "Start" && Run->App->Toolkit.Messages.size() == 1; }));
  EXPECT_EQ(Text(main, "ProgressText"), "12 saved, 0 substituted (see the failed-tile list), 0 left for the next Start");

  const std::string project = ReadAll(Run->Tasks + "desk.mrd"), log = ReadAll(Run->Tasks + "desk_log.txt");
  Find<QLineEdit>(main, "Edit3")->setText(QString::number(TileXToLon(6011.5, 13), 'g', 10));
  auto question = std::make_shared<std::string>();
  test::WhenModal([question](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    ASSERT_NE(box, nullptr);
    *question = box->text().toStdString();
    box->button(QMessageBox::No)->click();
  });
  Start();
  EXPECT_NE(question->find("Right Longitude: "), std::string::npos) << *question;
  EXPECT_EQ(Text(main, "BitBtn1"), "Start");
  EXPECT_EQ(std::pair(ReadAll(Run->Tasks + "desk.mrd"), ReadAll(Run->Tasks + "desk_log.txt")), std::pair(project, log));

  Find<QLineEdit>(main, "EditTaskName")->setText("second");
  test::AnswerMessage();
  Start();
  ASSERT_TRUE(test::WaitUntil([&] { return Text(main, "BitBtn1") == "Start" && Run->App->Toolkit.Messages.size() == 2; }));
  auto* bar = Find<QProgressBar>(main, "ProgressBar");
  EXPECT_EQ(std::pair(bar->value(), bar->maximum()), std::pair(6, 6));
  EXPECT_TRUE(bar->isVisible());
  EXPECT_EQ(Text(main, "ProgressText"), "6 saved, 0 substituted (see the failed-tile list), 0 left for the next Start");
}

// "Open task ..." through the file dialog brings back the fields of a project.
TEST_F(DesktopDownload, OpenTaskLoadsTheFields) {
  test::AnswerMessage();
  Start();
  QWidget* main = Run->Main();
  ASSERT_TRUE(test::WaitUntil([&] { return Text(main, "BitBtn1") == "Start"; }));
  const std::string left = Text(main, "Edit1");
  Find<QLineEdit>(main, "Edit1")->setText("1");
  Find<QLineEdit>(main, "EditTaskName")->setText("other.mrd");
  test::WhenModal([this](QWidget* modal) {
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->windowTitle(), "Open project file:");
    dialog->selectFile(QString::fromStdString(Run->Tasks + "desk.mrd"));
    static_cast<QDialog*>(dialog)->accept();
  });
  QTest::mouseClick(Find<QPushButton>(main, "Button4"), Qt::LeftButton);
  EXPECT_EQ(Text(main, "EditTaskName"), "desk.mrd");
  EXPECT_EQ(Text(main, "Edit1"), left);
  EXPECT_EQ(Find<QSlider>(main, "TrackBar1")->value(), 13);
}

class DesktopSlowDownload : public DesktopDownload {
 protected:
  void SetUp() override {
    Pause = "300";
    DesktopDownload::SetUp();
  }
  int Position(const char* key) { return TIniFile(Run->Tasks + "desk.mrd").ReadInteger("THREADS", key, 0); }
};

// Stop, then Start again: only the rest is fetched. Closing the window in the
// middle of a task saves the positions.
TEST_F(DesktopSlowDownload, StopResumeAndCloseMidTask) {
  QWidget* main = Run->Main();
  Start();
  EXPECT_EQ(Text(main, "BitBtn1"), "Stop");
  EXPECT_TRUE(Find<QProgressBar>(main, "ProgressBar")->isVisible());
  ASSERT_TRUE(test::WaitUntil([&] { return Find<QProgressBar>(main, "ProgressBar")->value() >= 2; }));
  auto text = std::make_shared<std::optional<std::string>>();
  test::AnswerMessage(text);
  Start();  // Stop
  ASSERT_TRUE(test::WaitUntil([&] { return text->has_value(); }));
  EXPECT_EQ(**text, MainFormText::TaskStopped);
  const int first = Position("T2X");
  EXPECT_GT(first, 0);

  Start();  // resumes, counting the tiles of the first run as handled
  EXPECT_GE(Find<QProgressBar>(main, "ProgressBar")->value(), 2);
  const std::string log = ReadAll(Run->Tasks + "desk_log.txt");
  EXPECT_NE(log.find(std::string(44, '-')), std::string::npos);
  ASSERT_TRUE(test::WaitUntil([&] { return Find<QProgressBar>(main, "ProgressBar")->value() >= 6; }));
  main->close();  // no message box: the completion runs quietly
  EXPECT_EQ(Text(main, "BitBtn1"), "Start");
  EXPECT_GT(Position("T2X") * 10000 + Position("T2Y"), first * 10000);
}

// During a task: what the user types stays, the log keeps following its end
// after the window is made smaller, and the box at the end opens over the
// window as the logic left it.
TEST_F(DesktopSlowDownload, TypingResizeAndTheEndBox) {
  QWidget* main = Run->Main();
  main->resize(1000, 900);
  QApplication::processEvents();
  Start();
  auto* bar = Find<QProgressBar>(main, "ProgressBar");
  ASSERT_TRUE(test::WaitUntil([&] { return bar->value() >= 1; }));
  auto* name = Find<QLineEdit>(main, "EditTaskName");
  name->clear();
  QTest::keyClicks(name, "next");
  main->resize(627, 442);
  QApplication::processEvents();
  ASSERT_TRUE(test::WaitUntil([&] { return bar->value() >= 4; }));  // batches of lines and ticks went by
  EXPECT_EQ(name->text().toStdString(), "next");
  QScrollBar* scroll = Find<QPlainTextEdit>(main, "Memo1")->verticalScrollBar();
  EXPECT_GT(scroll->maximum(), 0);
  EXPECT_EQ(scroll->value(), scroll->maximum());

  struct TSeen {
    std::string Caption, Log;
    bool BarShown = false;
  };
  auto seen = std::make_shared<std::optional<TSeen>>();
  test::WhenModal([seen, main](QWidget* modal) {
    *seen = TSeen{Text(main, "BitBtn1"), Text(main, "Memo1"), Find<QProgressBar>(main, "ProgressBar")->isVisible()};
    qobject_cast<QMessageBox*>(modal)->button(QMessageBox::Ok)->click();
  });
  Start();  // Stop
  ASSERT_TRUE(test::WaitUntil([&] { return seen->has_value(); }));
  EXPECT_EQ((*seen)->Caption, "Start");
  EXPECT_NE((*seen)->Log.find("Log file has been saved as"), std::string::npos);
  EXPECT_TRUE((*seen)->BarShown);
  EXPECT_TRUE(Text(main, "ProgressText").ends_with(" left for the next Start")) << Text(main, "ProgressText");
}

// A signal from outside (here SIGTERM of a shutdown) closes the window as the
// user would: the task is stopped and saved first.
TEST_F(DesktopSlowDownload, StopSignalSavesBeforeTheEnd) {
  QWidget* main = Run->Main();
  const TCloseOnSignals closer(*main);
  Start();
  ASSERT_TRUE(test::WaitUntil([&] { return Find<QProgressBar>(main, "ProgressBar")->value() >= 2; }));
  std::raise(SIGTERM);
  ASSERT_TRUE(test::WaitUntil([&] { return !main->isVisible(); }));
  EXPECT_EQ(closer.Signal(), SIGTERM);
  const std::string log = ReadAll(Run->Tasks + "desk_log.txt");
  EXPECT_TRUE(log.ends_with("\r\nLog file has been saved as " + Run->Tasks + "desk_log.txt\r\n")) << log;
  for (const auto& tile : fs::directory_iterator(Run->Tasks + "desk"))
    EXPECT_NE(log.find("," + tile.path().filename().string() + " OK\r\n"), std::string::npos) << tile.path();
  EXPECT_GT(Position("T2X"), 0);
}

// Whether a process has a handler of its own for a signal (its SigCgt mask).
bool Catches(pid_t pid, int signal) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.starts_with("SigCgt:")) return (std::stoull(line.substr(7), nullptr, 16) >> (signal - 1)) & 1;
  return false;
}

// The program itself hands those signals to its window, and ends by its own
// exit with the status a shell gives a program the signal ended.
TEST(DesktopProgram, EndsOnStopSignalsByItsOwnExit) {
  test::TTempDir dir;
  test::WriteAll(dir / "config.ini", "");
  for (const int signal : {SIGTERM, SIGHUP, SIGINT}) {
    SCOPED_TRACE(signal);
    const pid_t pid = test::SpawnProgram({MERIDANE_DESKTOP}, dir / "out.txt", dir / "out.txt",
                                         {"QT_QPA_PLATFORM=offscreen", "MERIDANE_CONFIG=" + (dir / "config.ini").string()});
    test::WaitFor([&] { return Catches(pid, signal); });
    kill(pid, signal);
    EXPECT_EQ(test::WaitForExit(pid), 128 + signal) << ReadAll(dir / "out.txt");
  }
}

}  // namespace
}  // namespace meridane
