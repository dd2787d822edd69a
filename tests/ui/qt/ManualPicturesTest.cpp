// The manual's pictures of the windows, grabbed from the real widgets offscreen.
// Each grab is compared with the picture the manual holds (docs/manual/NAME.png)
// by its size and by where its controls lie and what their captions say
// (NAME.layout), so a window that changes fails here until its picture is
// taken again: MERIDANE_MANUAL_PICTURES=FOLDER writes the grabs there instead.
#include <QComboBox>
#include <QFileDialog>
#include <QFontDatabase>
#include <QGroupBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QUrl>

#include "geo/Commonfunc.h"
#include "map/MapTask.h"
#include "mosaren/qt/CombineWindow.h"
#include "support/TestServers.h"
#include "ui/qt/MapPickDialog.h"
#include "ui/qt/QtHarness.h"
#include "vistorel/qt/ViewerWindow.h"

namespace meridane {
namespace {

namespace fs = std::filesystem;
using test::Find;
using test::TDesktopRun;

const fs::path Manual = fs::path(MERIDANE_TEST_SOURCE_DIR) / "../docs/manual";

// The pictures' text in a font the test loads itself (fonts-dejavu-core, which
// scripts/setup installs), not in whatever the machine's fontconfig prefers;
// the application's font is put back when the object goes.
class TPictureFont {
 public:
  TPictureFont() : Kept(QApplication::font()) {
    Id = QFontDatabase::addApplicationFont("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf");
    const QStringList families = QFontDatabase::applicationFontFamilies(Id);
    if (!families.isEmpty()) QApplication::setFont(QFont(families.front(), 9));
  }
  ~TPictureFont() {
    QApplication::setFont(Kept);
    if (Id >= 0) QFontDatabase::removeApplicationFont(Id);
  }
  bool Loaded() const { return Id >= 0; }

 private:
  QFont Kept;
  int Id = -1;
};

// A window as the manual shows it.
struct TShot {
  QImage Picture;
  std::string Layout;
};

// Every named control the window shows, where it lies in the window, and the
// caption of a label, button or group: what a changed window changes.
TShot Shoot(QWidget* window) {
  // A caption just set has only asked for its new size: lay the window out
  // first, or a wrapped label is read at the height of its old text.
  QApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
  TShot shot{window->grab().toImage(), {}};
  for (QWidget* child : window->findChildren<QWidget*>()) {
    const QString name = child->objectName();
    if (name.isEmpty() || name.startsWith("qt_") || !child->isVisibleTo(window)) continue;
    const QRect at(child->mapTo(window, QPoint(0, 0)), child->size());
    QString caption;
    if (auto* label = qobject_cast<QLabel*>(child)) caption = label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(child)) caption = button->text();
    if (auto* group = qobject_cast<QGroupBox*>(child)) caption = group->title();
    // A rate differs from run to run.
    if (caption.contains("/s,")) caption.clear();
    shot.Layout += QString("%1 %2,%3 %4x%5 %6\n")
                       .arg(name)
                       .arg(at.x())
                       .arg(at.y())
                       .arg(at.width())
                       .arg(at.height())
                       .arg(caption)
                       .trimmed()
                       .toStdString() +
                   "\n";
  }
  return shot;
}

// The main window after a short download from the local server.
TShot MainWindow(TDesktopRun& run, const std::string& host) {
  QWidget* main = run.Main();
  Find<QLineEdit>(main, "EditTaskName")->setText("harbour.mrd");
  Find<QLineEdit>(main, "Edit6")->setText(QString::fromStdString(run.Tasks));
  Find<QLineEdit>(main, "Edit1")->setText(QString::number(TileXToLon(6010.5, 13), 'f', 4));
  Find<QLineEdit>(main, "Edit3")->setText(QString::number(TileXToLon(6013.5, 13), 'f', 4));
  Find<QLineEdit>(main, "Edit2")->setText(QString::number(TileYToLat(3000.5, 13, 0), 'f', 4));
  Find<QLineEdit>(main, "Edit4")->setText(QString::number(TileYToLat(3002.5, 13, 0), 'f', 4));
  Find<QSlider>(main, "TrackBar1")->setValue(13);
  QTest::mouseClick(Find<QWidget>(main, "UpDown2")->findChild<QWidget*>("Up"), Qt::LeftButton);
  test::AnswerMessage();
  QTest::mouseClick(Find<QPushButton>(main, "BitBtn1"), Qt::LeftButton);
  EXPECT_TRUE(test::WaitUntil([&] { return run.App->Toolkit.Messages.size() == 1; })) << host;
  return Shoot(main);
}

// A modal window of the main window, opened by a menu command or a button.
TShot Modal(const std::function<void()>& open, const std::function<void(QWidget*)>& fill = {}) {
  TShot shot;
  test::WhenModal([&](QWidget* dialog) {
    if (fill) fill(dialog);
    shot = Shoot(dialog);
    static_cast<QDialog*>(dialog)->reject();
  });
  open();
  return shot;
}

void Menu(TDesktopRun& run, const char* item) { Find<QAction>(run.Main(), item)->trigger(); }

TEST(ManualPictures, EachWindowAsTheManualShowsIt) {
  const std::string host = test::TestServerAddress("http");
  if (host.empty()) GTEST_SKIP() << "no test servers";
  const test::TEnvironmentGuard cacheHome("XDG_CACHE_HOME");
  const TPictureFont font;
  ASSERT_TRUE(font.Loaded()) << "DejaVu Sans is missing: install fonts-dejavu-core";
  const std::string servers = "[Servers]\r\nHost0=" + host + "\r\nHost1=" + host + "\r\nHost2=" + host +
                              "\r\nHost3=" + host + "\r\n[Download]\r\nTilePause=0\r\n";
  const struct {
    const char* Name;
    std::function<TShot(TDesktopRun&)> Take;
  } windows[] = {
      {"main-window", [&](TDesktopRun& run) { return MainWindow(run, host); }},
      {"options", [](TDesktopRun& run) { return Modal([&] { Menu(run, "Options2"); }); }},
      {"about", [](TDesktopRun& run) { return Modal([&] { Menu(run, "About1"); }); }},
      {"converter",
       [](TDesktopRun& run) {
         Menu(run, "ConvertLongitudeorLatitudetodegreen1");
         QWidget* dialog = &run.App->ConvertDialog;
         for (const auto& [name, text] : {std::pair{"Edit1", "116"}, {"Edit2", "23"}, {"Edit3", "17.5"}})
           QTest::keyClicks(Find<QLineEdit>(dialog, name), text);
         QTest::mouseClick(Find<QPushButton>(dialog, "Button1"), Qt::LeftButton);
         TShot shot = Shoot(dialog);
         dialog->close();
         return shot;
       }},
      {"redownload",
       [&](TDesktopRun& run) {
         const fs::path list = run.Dir / "harbour_failed.ftl", tiles = run.Dir / "harbour";
         fs::create_directories(tiles);
         test::WriteAll(list, (tiles / "gs_6011_3001_13.jpg").string() + "|http://" + host +
                                  "/kh/v=91&s=Gal&x=6011&y=3001&z=13\r\n" + (tiles / "gs_6012_3001_13.jpg").string() +
                                  "|http://" + host + "/kh/v=91&s=Ga&x=6012&y=3001&z=13\r\n" +
                                  (tiles / "gs_6003_3005_13.jpg").string() + "|http://" + host +
                                  "/kh/v=91&s=G&x=6003&y=3005&z=13\r\n");
         return Modal([&] { Menu(run, "dowloadfailedfiles1"); },
                      [&](QWidget* dialog) {
                        test::WhenModal([&](QWidget* files) {
                          qobject_cast<QFileDialog*>(files)->selectFile(QString::fromStdString(list.string()));
                          static_cast<QDialog*>(files)->accept();
                        });
                        QTest::mouseClick(Find<QPushButton>(dialog, "Button1"), Qt::LeftButton);
                        EXPECT_TRUE(test::WaitUntil([&] { return !run.App->frmFlt.Running(); }));
                      });
       }},
      {"map-pick",
       [](TDesktopRun& run) {
         QWidget* main = run.Main();
         const std::array<std::pair<const char*, const char*>, 4> edges{
             {{"Edit1", "-5.8"}, {"Edit2", "50.3"}, {"Edit3", "1.9"}, {"Edit4", "48.4"}}};
         for (const auto& [name, text] : edges) Find<QLineEdit>(main, name)->setText(text);
         // A task of the download folder, outlined on the map.
         fs::create_directories(run.Tasks);
         test::WriteAll(run.Tasks + "harbour.mrd", "[AREA]\r\nLeftLongitude=-4.6\r\nRightLongitude=-1.2\r\n"
                                                   "TopLatitude=51.2\r\nBottomLatitude=50.4\r\n");
         Find<QLineEdit>(main, "Edit6")->setText(QString::fromStdString(run.Tasks));
         Find<QSlider>(main, "TrackBar1")->setValue(8);
         return Modal([&] { QTest::mouseClick(Find<QPushButton>(main, "ButtonMap"), Qt::LeftButton); },
                      [](QWidget* dialog) {
                        auto* map = Find<TMapWidget>(dialog, "Map");
                        auto* pick = dynamic_cast<TMapPickDialog*>(dialog);
                        ASSERT_NE(pick, nullptr);
                        // The background settled: its status line says what it shows, and the tiles are read.
                        EXPECT_TRUE(test::WaitUntil([&] {
                          map->repaint();
                          return map->LoadingDone() && pick->BackgroundRead() &&
                                 !test::Text(dialog, "LabelStatus").starts_with("Loading");
                        }));
                      });
       }},
      {"combiner",
       [](TDesktopRun& run) {
         const test::TMapTask task(run.Dir);
         TQtToolkit toolkit;
         TCombineForm form(toolkit, {.ProgramFolder = task.Program});
         TCombineWindow window(toolkit, form);
         window.show();
         Find<QLineEdit>(&window, "InputPath")->setText(QString::fromStdString(task.Project.string()));
         Find<QComboBox>(&window, "Format")->setCurrentIndex(0);
         emit Find<QComboBox>(&window, "Format")->activated(0);
         Find<QLineEdit>(&window, "OutputPath")->setText(QString::fromStdString((run.Dir / "t.mbtiles").string()));
         Find<QPushButton>(&window, "Start")->click();
         EXPECT_TRUE(test::WaitUntil([&] { return !test::Text(&window, "Summary").empty() && !form.Running(); }));
         return Shoot(&window);
       }},
      {"viewer",
       [](TDesktopRun& run) {
         const test::TMapTask task(run.Dir);
         TViewerWindow window(task.Program);
         window.resize(720, 520);
         window.show();
         window.OpenArguments(ReadViewerArguments({"vistorel", task.Project.string()}));
         TMapWidget& map = window.Map();
         EXPECT_TRUE(test::WaitUntil([&] {
           map.repaint();
           return map.UnloadedInLastPaint() == 0 && map.LoadingDone() && map.Counts().Done;
         }));
         return Shoot(&window);
       }},
  };
  const char* refresh = std::getenv("MERIDANE_MANUAL_PICTURES");
  // The pictures show the task's paths: taken again, they show a home folder a
  // reader knows rather than a test's temporary one.
  const char* home = refresh ? std::getenv("MERIDANE_MANUAL_HOME") : nullptr;
  for (const auto& w : windows) {
    SCOPED_TRACE(w.Name);
    TDesktopRun run(servers, MakeCurlHttpClient,
                    home ? std::make_unique<test::TTempDir>(fs::path(home)) : std::make_unique<test::TTempDir>());
    cacheHome.Set((run.Dir / "cache").string());
    const TShot shot = w.Take(run);
    if (refresh) {
      EXPECT_TRUE(shot.Picture.save(QString("%1/%2.png").arg(refresh, w.Name)));
      test::WriteAll(fs::path(refresh) / (std::string(w.Name) + ".layout"), shot.Layout);
      continue;
    }
    const QImage kept(QString::fromStdString((Manual / (std::string(w.Name) + ".png")).string()));
    EXPECT_EQ(shot.Picture.size(), kept.size())
        << "the window changed: take the manual's pictures again (see docs/manual/README.md)";
    EXPECT_EQ(shot.Layout, test::ReadAll(Manual / (std::string(w.Name) + ".layout")));
  }
}

// "User manual" hands the desktop the manual's address in the program folder.
TEST(ManualPictures, UserManualOpensTheManualBesideTheProgram) {
  TDesktopRun run;
  std::vector<QUrl> opened;
  run.App->Toolkit.Opener = [&](const QUrl& url) {
    opened.push_back(url);
    return true;
  };
  Menu(run, "Usermanual1");
  EXPECT_EQ(opened, std::vector{QUrl::fromLocalFile(QString::fromStdString((run.Program / "help/index.html").string()))});
}

}  // namespace
}  // namespace meridane
