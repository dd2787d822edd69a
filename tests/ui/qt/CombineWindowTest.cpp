// The map combiner's window, offscreen, over a recording output, and over the
// real one with a downloaded task.
#include <QComboBox>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <atomic>
#include <cstdio>
#include <thread>

#include "combine/RecordingSink.h"
#include "config/Config.h"
#include "config/RecentTasks.h"
#include "map/MapTask.h"
#include "mosaren/ServedTask.h"
#include "mosaren/qt/CombineWindow.h"
#include "support/Images.h"
#include "ui/qt/QtHarness.h"

namespace meridane::test {
namespace {

namespace fs = std::filesystem;

void Choose(QComboBox* combo, int index) {
  combo->setCurrentIndex(index);
  emit combo->activated(index);
}

void Type(QWidget* window, const char* name, const std::string& text) {
  auto* edit = Find<QLineEdit>(window, name);
  edit->clear();
  QTest::keyClicks(edit, QString::fromStdString(text));
}

TEST(CombineWindowTest, AFolderJoinedIntoAPictureWithItsSummary) {
  TTempDir dir;
  fs::create_directories(dir / "tiles");
  const std::string jpeg = EncodeJpeg(256, 256);
  for (int x = 0; x < 30; ++x)
    for (int y = 0; y < 20; ++y)
      if (x != y) WriteAll(dir / "tiles" / ("gs_" + std::to_string(x) + "_" + std::to_string(y) + "_7.jpg"), jpeg);
  TSinkLog log;
  TQtToolkit toolkit;
  std::vector<std::string> opened;
  toolkit.Opener = [&](const QUrl& url) {
    opened.push_back(url.toLocalFile().toStdString());
    return true;
  };
  TCombineForm form(toolkit, {.ProgramFolder = dir.Path(), .StopSignal = {}, .MakeSink = RecordingSinks(log)});
  TCombineWindow window(toolkit, form);
  window.show();
  QApplication::processEvents();

  // Every field is named for a screen reader and reached with the keyboard.
  for (const char* name : {"Inputs", "InputPath", "AddInput", "AddFile", "AddFolder", "RemoveInput", "Zoom", "Tms",
                           "Format", "OutputPath", "Quality", "ArchiveName", "Description", "BrowseOutput"}) {
    auto* field = Find<QWidget>(&window, name);
    EXPECT_FALSE(field->accessibleName().isEmpty()) << name;
    EXPECT_NE(field->focusPolicy() & Qt::TabFocus, 0) << name;
  }

  // An input added, and one added and removed again.
  Type(&window, "InputPath", (dir / "other").string());
  Find<QPushButton>(&window, "AddInput")->click();
  Type(&window, "InputPath", (dir / "tiles").string());
  Find<QPushButton>(&window, "AddInput")->click();
  auto* inputs = Find<QListWidget>(&window, "Inputs");
  ASSERT_EQ(inputs->count(), 2);
  inputs->setCurrentRow(0);
  Find<QPushButton>(&window, "RemoveInput")->click();
  ASSERT_EQ(inputs->count(), 1);
  EXPECT_EQ(inputs->item(0)->text().toStdString(), (dir / "tiles").string());
  EXPECT_EQ(form.Inputs.Items, std::vector<std::string>{(dir / "tiles").string()});
  Type(&window, "Zoom", "7");
  Type(&window, "OutputPath", (dir / "map.mbtiles").string());
  // An archive encodes the zooms below as JPEG, a GeoTIFF its overviews; a PNG picture nothing.
  EXPECT_TRUE(Find<QLineEdit>(&window, "Quality")->isEnabled());
  Choose(Find<QComboBox>(&window, "Format"), 3);
  EXPECT_FALSE(Find<QLineEdit>(&window, "Quality")->isEnabled());
  Choose(Find<QComboBox>(&window, "Format"), 2);
  EXPECT_TRUE(Find<QLineEdit>(&window, "Quality")->isEnabled());
  // The name follows the format; the quality is a JPEG picture's.
  Choose(Find<QComboBox>(&window, "Format"), 4);
  EXPECT_EQ(Text(&window, "OutputPath"), (dir / "map.jpg").string());
  EXPECT_TRUE(Find<QLineEdit>(&window, "Quality")->isEnabled());
  EXPECT_FALSE(Find<QLineEdit>(&window, "ArchiveName")->isEnabled());
  Type(&window, "Quality", "70");

  Find<QPushButton>(&window, "Start")->click();
  ASSERT_TRUE(WaitUntil([&] { return !Text(&window, "Summary").empty(); }));
  // The picture's own, without its world file and coordinate system.
  const std::size_t bytes = 580 * jpeg.size();
  const bool megabytes = bytes >= 1024 * 1024;
  char size[64];
  std::snprintf(size, sizeof size, megabytes ? "%.1f MB (%zu bytes)" : "%.1f KB (%zu bytes)",
                static_cast<double>(bytes) / (megabytes ? 1024 * 1024 : 1024), bytes);
  EXPECT_EQ(Text(&window, "Summary"),
            "580 tiles written; left out: 0 placeholders, 20 missing, 0 empty, 0 not an image, 0 not decodable, 0 not "
            "256x256; map.jpg, " + std::string(size));
  EXPECT_EQ(Find<QProgressBar>(&window, "Progress")->value(), 1000);
  EXPECT_TRUE(fs::exists(dir / "map.jpg"));
  EXPECT_TRUE(fs::exists(dir / "map.jgw"));
  EXPECT_TRUE(Find<QPushButton>(&window, "Start")->isEnabled());
  EXPECT_FALSE(Find<QPushButton>(&window, "Cancel")->isEnabled());
  Find<QPushButton>(&window, "OpenFolder")->click();
  EXPECT_EQ(opened, std::vector<std::string>{dir.Path().string()});

  const QPixmap shot = window.grab();
  EXPECT_TRUE(shot.save(QString::fromStdString(dir.Folder() + "combiner.png")));
  if (const char* keep = std::getenv("MERIDANE_COMBINER_SCREENSHOT")) shot.save(keep);
}

using CombineWindowTask = TServedTask;

TEST_F(CombineWindowTask, ADownloadedTaskJoinedIntoMbtilesHoldsItsTiles) {
  const fs::path project = Download("window");
  TQtToolkit toolkit;
  TCombineForm form(toolkit, {.ProgramFolder = ProgramFolder()});
  TCombineWindow window(toolkit, form);
  window.show();
  QApplication::processEvents();
  Type(&window, "InputPath", project.string());
  Choose(Find<QComboBox>(&window, "Format"), 0);
  Type(&window, "OutputPath", (Dir / "map.mbtiles").string());
  Find<QPushButton>(&window, "Start")->click();
  ASSERT_TRUE(WaitUntil([&] { return !Text(&window, "Summary").empty() && !form.Running(); }));
  // The 4x3 tiles of zoom 16 and the zooms below, down to 14 where they meet in one.
  EXPECT_TRUE(Text(&window, "Summary").starts_with("16 tiles written, 11 at zoom 16 and 5 at zooms 14 to 15 (5 of them "
                                                   "built); left out: 1 placeholder, 0 missing,"))
      << Text(&window, "Summary");
  auto tiles = MbtilesTiles(Dir / "map.mbtiles");
  std::erase_if(tiles, [&](const auto& tile) { return !TilesServed().count(tile.first); });
  EXPECT_EQ(tiles, TilesServed());
  if (const char* keep = std::getenv("MERIDANE_COMBINER_SCREENSHOT")) window.grab().save(keep);
}

TEST(CombineWindowTest, StartAsksForWhatIsMissing) {
  TTempDir dir;
  TQtToolkit toolkit;
  TCombineForm form(toolkit, {.ProgramFolder = dir.Path(), .StopSignal = {}, .MakeSink = {}});
  TCombineWindow window(toolkit, form);
  window.show();
  // Start adds a path typed to the inputs: from the second row on there is one.
  const struct {
    std::string Input, Zoom;
    int Format;
    std::string Output, Quality;
    const char* Message;
  } cases[] = {
      {"", "", 0, "", "85", TCombineForm::ChooseInput},
      {"a.mrd", "", 0, "", "85", TCombineForm::ChooseOutput},
      {"tiles", "x", 3, "a.png", "85", TCombineForm::EnterZoom},
      {"tiles", "31", 3, "a.png", "85", TCombineForm::EnterZoom},
      {"a.mrd", "", 2, "a.tif", "0", TCombineForm::EnterQuality},
      {"a.mrd", "", 4, "a.jpg", "101", TCombineForm::EnterQuality},
  };
  for (const auto& c : cases) {
    Type(&window, "InputPath", c.Input);
    Type(&window, "Zoom", c.Zoom);
    Choose(Find<QComboBox>(&window, "Format"), c.Format);
    Type(&window, "OutputPath", c.Output);
    Type(&window, "Quality", c.Quality);
    auto text = std::make_shared<std::optional<std::string>>();
    AnswerMessage(text);
    Find<QPushButton>(&window, "Start")->click();
    EXPECT_EQ(text->value_or("no message"), c.Message);
    EXPECT_FALSE(form.Running());
  }
  // An archive's lowest zoom: a number of a zoom, or nothing.
  Type(&window, "Zoom", "");
  for (const char* lowest : {"-1", "31", "ten"}) {
    Type(&window, "InputPath", "a.mrd");
    Choose(Find<QComboBox>(&window, "Format"), 0);
    Type(&window, "OutputPath", "a.mbtiles");
    Type(&window, "Quality", "85");
    Type(&window, "LowestZoom", lowest);
    auto text = std::make_shared<std::optional<std::string>>();
    AnswerMessage(text);
    Find<QPushButton>(&window, "Start")->click();
    EXPECT_EQ(text->value_or("no message"), TCombineForm::EnterLowestZoom) << lowest;
    EXPECT_FALSE(form.Running());
  }
}

// Started empty, the window offers the newest recent task; Enter starts it
// from a field; a stopped run leaves no rate behind, a changed list of inputs
// no old result; and closing during a run asks first, and stops it on yes.
TEST(CombineWindowTest, TheNewestTaskStartedWithEnterAndARunNotClosedUnasked) {
  TTempDir dir;
  const TMapTask task(dir);
  const fs::path recent = dir / "recent";
  ASSERT_TRUE(RememberTask(task.Project, recent));
  TSinkLog log;
  std::atomic<bool> reached = false, release = false;
  log.BeforeAdd = [&](int) {
    if (!reached.exchange(true))
      while (!release) std::this_thread::yield();
  };
  TQtToolkit toolkit;
  TCombineForm form(toolkit, {.ProgramFolder = task.Program, .StopSignal = {}, .MakeSink = RecordingSinks(log),
                              .RecentTasks = recent});
  TCombineWindow window(toolkit, form);
  window.show();
  EXPECT_EQ(form.Inputs.Items, std::vector<std::string>{task.Project.string()});
  EXPECT_EQ(Text(&window, "OutputPath"), (dir / "t.mbtiles").string());
  for (const char* name : {"Start", "Cancel", "OpenFolder", "AddFile", "AddFolder", "RemoveInput", "BrowseOutput"})
    EXPECT_TRUE(Find<QPushButton>(&window, name)->text().contains('&')) << name;

  QTest::keyClick(Find<QLineEdit>(&window, "OutputPath"), Qt::Key_Return);
  ASSERT_TRUE(WaitUntil([&] { return reached.load(); }));
  EXPECT_TRUE(form.Running());
  Find<QPushButton>(&window, "Cancel")->click();
  release = true;
  ASSERT_TRUE(WaitUntil([&] { return !form.Running(); }));
  EXPECT_EQ(Text(&window, "Summary"), "Stopped: nothing written.");
  EXPECT_EQ(Text(&window, "Status"), "");
  Find<QPushButton>(&window, "RemoveInput")->click();
  EXPECT_EQ(Text(&window, "Summary"), "");

  Type(&window, "InputPath", task.Project.string());  // added at Start
  reached = release = false;
  QTest::keyClick(Find<QLineEdit>(&window, "Description"), Qt::Key_Enter);
  ASSERT_TRUE(WaitUntil([&] { return reached.load(); }));
  for (const auto answer : {QMessageBox::No, QMessageBox::Yes}) {
    auto text = std::make_shared<std::string>();
    WhenModal([&, text, answer](QWidget* modal) {
      auto* box = qobject_cast<QMessageBox*>(modal);
      ASSERT_NE(box, nullptr);
      *text = box->text().toStdString();
      if (answer == QMessageBox::Yes) release = true;
      box->button(answer)->click();
    });
    EXPECT_EQ(window.close(), answer == QMessageBox::Yes);
    EXPECT_EQ(*text, TCombineForm::StopAndClose);
    EXPECT_EQ(form.Running(), answer == QMessageBox::No);
  }
}

}  // namespace
}  // namespace meridane::test
