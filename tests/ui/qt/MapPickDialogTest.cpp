#include <QDialogButtonBox>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QSpinBox>
#include <algorithm>
#include <atomic>
#include <filesystem>
#include <regex>
#include <set>

#include "demo/DemoTiles.h"
#include "support/Images.h"
#include "ui/qt/MapPickDialog.h"
#include "ui/qt/QtHarness.h"

namespace meridane {
namespace {

using test::TDesktopRun;

// A tile server that cannot be reached: the map is the graticule alone.
struct TUnreachable : IHttpClient {
  void Get(const std::string&, std::string&) override {
    throw EHttpError(SocketErrorMessage(SocketError::HostNotFound));
  }
};

TEST(DesktopMapPick, DragFillsTheFieldsOnOkOnly) {
  // Points as fractions of the map: the corners lie outside the fields'
  // rectangle, which the map opens on with a margin; the centre inside it.
  const struct {
    const char* Name;
    QPointF From, To;
    bool Moves, Ok;
    Qt::MouseButton Button = Qt::LeftButton;
  } cases[] = {
      {"drawn, OK", {0.02, 0.03}, {0.4, 0.45}, false, true},
      {"drawn backwards, OK", {0.98, 0.97}, {0.6, 0.55}, false, true},
      {"moved, OK", {0.5, 0.5}, {0.56, 0.41}, true, true},
      {"drawn, Cancel", {0.02, 0.03}, {0.4, 0.45}, false, false},
      // The map moves under a right drag; the rectangle stays.
      {"panned, Cancel", {0.5, 0.5}, {0.3, 0.6}, false, false, Qt::RightButton},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const test::TEnvironmentGuard cacheHome("XDG_CACHE_HOME");
    TDesktopRun run("[Download]\r\nTilePause=0\r\n", [] { return std::make_unique<TUnreachable>(); });
    cacheHome.Set((run.Dir / "cache").string());
    std::filesystem::create_directories(run.Tasks);
    test::WriteAll(run.Tasks + "old.mrd",
                   "[AREA]\r\nLeftLongitude=100\r\nRightLongitude=125\r\nTopLatitude=45\r\nBottomLatitude=30\r\n");
    QWidget* main = run.Main();
    const std::array<const char*, 4> names{"Edit1", "Edit2", "Edit3", "Edit4"};
    const std::array<QString, 4> typed{"116.3", "40.1", "116.5", "39.9"};
    for (std::size_t i = 0; i < names.size(); ++i) test::Find<QLineEdit>(main, names[i])->setText(typed[i]);
    test::Find<QLineEdit>(main, "Edit6")->setText(QString::fromStdString(run.Tasks));

    std::array<std::string, 4> expected;
    std::string estimate;
    test::WhenModal([&](QWidget* dialog) {
      auto* map = test::Find<TMapWidget>(dialog, "Map");
      // It opens on the fields' rectangle.
      const auto opened = run.App->Form1.MapPick->Selection.Rect();
      ASSERT_TRUE(opened.has_value());
      const TGeoRect shown = GeoOf(*opened);
      EXPECT_EQ(CoordinateText(shown.Left), "116.300000");
      EXPECT_EQ(CoordinateText(shown.Bottom), "39.900000");
      const QPoint from(static_cast<int>(c.From.x() * map->width()), static_cast<int>(c.From.y() * map->height()));
      const QPoint to(static_cast<int>(c.To.x() * map->width()), static_cast<int>(c.To.y() * map->height()));
      // The rectangle the drag means, in degrees of the map's own view.
      const TMapView& view = map->View();
      QPointF nw = from, se = to;
      if (c.Moves) {
        const TWorldPoint a = view.LonLatToScreen({shown.Left, shown.Top});
        const TWorldPoint b = view.LonLatToScreen({shown.Right, shown.Bottom});
        nw = QPointF(a.X, a.Y) + (to - from), se = QPointF(b.X, b.Y) + (to - from);
      }
      const TLonLat p = view.ScreenToLonLat(nw.x(), nw.y()), q = view.ScreenToLonLat(se.x(), se.y());
      const TGeoRect g{std::min(p.Lon, q.Lon), std::max(p.Lat, q.Lat), std::max(p.Lon, q.Lon), std::min(p.Lat, q.Lat)};
      const TWorldPoint before = view.LonLatToScreen({shown.Left, shown.Top});
      QTest::mousePress(map, c.Button, {}, from);
      QTest::mouseMove(map, (from + to) / 2);
      QTest::mouseMove(map, to);
      QTest::mouseRelease(map, c.Button, {}, to);
      expected = {CoordinateText(g.Left), CoordinateText(g.Top), CoordinateText(g.Right), CoordinateText(g.Bottom)};
      if (c.Button != Qt::LeftButton) {
        EXPECT_EQ(run.App->Form1.MapPick->Selection.Rect(), opened);
        const TWorldPoint after = view.LonLatToScreen({shown.Left, shown.Top});
        EXPECT_NEAR(after.X - before.X, to.x() - from.x(), 1e-6);
        EXPECT_NEAR(after.Y - before.Y, to.y() - from.y(), 1e-6);
      }
      estimate = test::Text(dialog, "LabelEstimate");
      if (const char* folder = std::getenv("MERIDANE_GRAB_DIR"))
        dialog->grab().save(QString(folder) + "/map-pick-" + QString::number(&c - cases) + ".png");
      auto* buttons = test::Find<QDialogButtonBox>(dialog, "Buttons");
      buttons->button(c.Ok ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel)->click();
    });
    test::Find<QPushButton>(main, "ButtonMap")->click();
    EXPECT_TRUE(test::WaitUntil([] { return QApplication::activeModalWidget() == nullptr; }));
    for (std::size_t i = 0; i < names.size(); ++i)
      EXPECT_EQ(test::Text(main, names[i]), c.Ok ? expected[i] : typed[i].toStdString()) << names[i];
    EXPECT_TRUE(estimate.starts_with("Tiles: ")) << estimate;
    if (c.Ok) {
      EXPECT_EQ(test::Text(main, "LabelEstimate"), estimate);
    }
  }
}

// The demo tile server's tiles, 404 for the others, or no server at all.
struct TDemoServer : IHttpClient {
  enum TKind { Demo, NotFound, Refused } Kind;
  explicit TDemoServer(TKind kind) : Kind(kind) {}
  void Get(const std::string& url, std::string& buffer) override {
    if (Kind == Refused) throw EHttpError(SocketErrorMessage(SocketError::ConnectionRefused));
    static const auto tiles = [] {
      const auto list = DemoTileSet(14, 13480, 6200, 13497, 6215);
      return std::set<TTileKey>(list.begin(), list.end());
    }();
    std::smatch m;
    static const std::regex address("x=([0-9]+)&y=([0-9]+)&z=([0-9]+)");
    if (!std::regex_search(url, m, address)) throw EHttpError("HTTP/1.1 400 Bad Request");
    const TTileKey key{std::stoi(m[3]), std::stoi(m[1]), std::stoi(m[2])};
    if (Kind == NotFound || !tiles.contains(key)) throw EHttpError("HTTP/1.1 404 Not Found");
    buffer += DemoTileJpeg(key);
  }
};

// No pause between requests; the long one of an unreachable server lasts until
// the dialog closes.
struct TQuickSleeper : ISleeper {
  void Sleep(int) override {}
  void Pause(int ms, TStopSignal& stop) override {
    if (ms == TBackgroundLoader::RetryAfterMs) stop.WaitFor(600000);
  }
};

// The dialog over the demo server's area: the background shows its tiles (white
// label boxes over the sea and graticule), and the status line tells tiles
// loaded from a server without tiles here and from one out of reach.
TEST(DesktopMapPick, BackgroundAndItsStatus) {
  const struct {
    const char* Name;
    TDemoServer::TKind Server;
    const char* Status;  // the start of the status line once settled
    bool Tiles;
  } cases[] = {
      {"demo tiles", TDemoServer::Demo, "Map tiles from the configured server", true},
      {"no tiles at these zooms", TDemoServer::NotFound, "The configured server has no map tiles here", false},
      {"no server", TDemoServer::Refused, "The tile server cannot be reached (Connection refused)", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const test::TEnvironmentGuard cacheHome("XDG_CACHE_HOME");
    TDesktopRun run("[Download]\r\nTilePause=0\r\n", [&c] { return std::make_unique<TDemoServer>(c.Server); });
    cacheHome.Set((run.Dir / "cache").string());
    TQuickSleeper sleeper;
    run.App->Form1.MapPick->Sleeper = &sleeper;
    QWidget* main = run.Main();
    const std::array<const char*, 4> names{"Edit1", "Edit2", "Edit3", "Edit4"};
    const std::array<QString, 4> typed{"115.2", "41.0", "117.8", "38.6"};
    for (std::size_t i = 0; i < names.size(); ++i) test::Find<QLineEdit>(main, names[i])->setText(typed[i]);
    std::string status;
    double white = 0;
    test::WhenModal([&](QWidget* dialog) {
      auto* map = test::Find<TMapWidget>(dialog, "Map");
      test::WaitUntil([&] { return test::Text(dialog, "LabelStatus").starts_with(c.Status); });
      status = test::Text(dialog, "LabelStatus");
      // The tiles settled in the status may reach the screen a paint later.
      test::WaitUntil([&] {
        const QImage image = map->grab().toImage();
        int count = 0;
        for (int y = 0; y < image.height(); ++y)
          for (int x = 0; x < image.width(); ++x) count += image.pixelColor(x, y).lightness() > 245;
        white = static_cast<double>(count) / (image.width() * image.height());
        return !c.Tiles || white > 0.1;
      });
      if (const char* folder = std::getenv("MERIDANE_GRAB_DIR"))
        dialog->grab().save(QString(folder) + "/map-pick-background-" + QString::number(&c - cases) + ".png");
      test::Find<QDialogButtonBox>(dialog, "Buttons")->button(QDialogButtonBox::Cancel)->click();
    });
    test::Find<QPushButton>(main, "ButtonMap")->click();
    EXPECT_TRUE(test::WaitUntil([] { return QApplication::activeModalWidget() == nullptr; }));
    EXPECT_TRUE(status.starts_with(c.Status)) << status;
    if (!c.Tiles) {
      EXPECT_LT(white, 0.01);
    }
  }
}

// A server of one colour's tiles at every address, counting what it is asked.
struct TMagentaServer : IHttpClient {
  std::atomic<int>& Asked;
  explicit TMagentaServer(std::atomic<int>& asked) : Asked(asked) {}
  void Get(const std::string&, std::string& buffer) override {
    static const std::string tile = [] {
      std::vector<unsigned char> pixels;
      for (int i = 0; i < TileSide * TileSide; ++i) pixels.insert(pixels.end(), {255, 0, 255});
      return test::EncodeJpegPixels(pixels, TileSide, TileSide, 3);
    }();
    ++Asked;
    buffer += tile;
  }
};

// Panned over more tiles than the decoded ones held can take, the dialog draws
// each view's tiles as they come from the network (first not in the disk
// cache, then in it), and holds no more than its bound. What is drawn comes
// from memory: with the disk cache gone, the paint still shows it.
TEST(DesktopMapPick, BackgroundTilesArriveIntoABoundedCache) {
  const test::TEnvironmentGuard cacheHome("XDG_CACHE_HOME");
  std::atomic<int> asked = 0;
  TDesktopRun run("[Download]\r\nTilePause=0\r\n", [&asked] { return std::make_unique<TMagentaServer>(asked); });
  cacheHome.Set((run.Dir / "cache").string());
  TQuickSleeper sleeper;
  run.App->Form1.MapPick->Sleeper = &sleeper;
  QWidget* main = run.Main();
  test::WhenModal([&](QWidget* window) {
    auto* dialog = dynamic_cast<TMapPickDialog*>(window);
    ASSERT_NE(dialog, nullptr);
    auto* map = dialog->Map();
    const TTileCache& held = dialog->BackgroundTiles();
    const auto magenta = [&] {
      const QColor c = map->grab().toImage().pixelColor(map->width() / 2, map->height() / 2);
      return c.red() > 200 && c.green() < 60 && c.blue() > 200;
    };
    std::size_t most = 0;
    std::set<TTileKey> shown;
    constexpr int Zoom = 5;
    const int across = std::max(1, map->width() / TileSide), down = std::max(1, map->height() / TileSide);
    // Steps a little wider than the view: every step brings in tiles not held.
    for (int row = 1; row < 20; row += down + 2)
      for (int column = 1; column < 32; column += across + 1) {
        map->View().CentreOn(PixelToLonLat({(column + 0.5) * TileSide, (row + 0.5) * TileSide}, Zoom), Zoom);
        map->Refresh();
        test::WaitUntil([&] {
          most = std::max(most, held.Bytes());
          return dialog->BackgroundRead() && magenta();
        });
        for (const TTileKey& key : LoadOrder(map->View(), ChooseTiles(map->View(), Zoom, {0, 0, 31, 31})))
          shown.insert(key);
      }
    // Far more than fit: the bound was put to the test.
    EXPECT_GT(shown.size() * TileSide * TileSide * 4, 2 * TMapPickDialog::BackgroundCacheBytes);
    EXPECT_LE(most, TMapPickDialog::BackgroundCacheBytes);
    EXPECT_GE(asked, 300);
    std::filesystem::remove_all(run.Dir / "cache");
    EXPECT_TRUE(magenta());
    if (const char* folder = std::getenv("MERIDANE_GRAB_DIR"))
      dialog->grab().save(QString(folder) + "/map-pick-panned.png");
    test::Find<QDialogButtonBox>(dialog, "Buttons")->button(QDialogButtonBox::Cancel)->click();
  });
  test::Find<QPushButton>(main, "ButtonMap")->click();
  EXPECT_TRUE(test::WaitUntil([] { return QApplication::activeModalWidget() == nullptr; }));
}

// With no network the map still shows where things are: the land and the
// borders shipped with the program, a place found by name (Enter goes to the
// first, not to OK), and the pointer's degrees.
TEST(DesktopMapPick, OfflineTheWorldIsDrawnAndAPlaceFound) {
  const test::TEnvironmentGuard cacheHome("XDG_CACHE_HOME");
  TDesktopRun run("[Download]\r\nTilePause=0\r\n", [] { return std::make_unique<TUnreachable>(); });
  cacheHome.Set((run.Dir / "cache").string());
  QWidget* main = run.Main();
  bool closedByEnter = false;
  test::WhenModal([&](QWidget* dialog) {
    auto* map = test::Find<TMapWidget>(dialog, "Map");
    map->setFont(QFont("DejaVu Sans", 9));
    map->View().CentreOn({10, 20}, 2);  // Africa, Europe and the Atlantic
    map->Refresh();
    const QImage world = map->grab().toImage();
    const auto colour = [&](double lon, double lat) {
      const TWorldPoint at = map->View().LonLatToScreen({lon, lat});
      return world.pixelColor(static_cast<int>(at.X), static_cast<int>(at.Y));
    };
    EXPECT_EQ(colour(23, -2), QColor(0xEE, 0xEB, 0xDF)) << "the Congo basin is land";
    EXPECT_EQ(colour(-35, 12), QColor(0xC8, 0xD7, 0xE1)) << "the Atlantic is sea";

    auto* find = test::Find<QLineEdit>(dialog, "FindPlace");
    find->setFocus();
    QTest::keyClicks(find, "zurich");
    QTest::keyClick(find, Qt::Key_Return);
    closedByEnter = !dialog->isVisible();
    const TLonLat centre = map->View().Centre();
    EXPECT_NEAR(centre.Lat, 47.37, 0.01);
    EXPECT_NEAR(centre.Lon, 8.55, 0.01);
    EXPECT_EQ(map->View().Zoom(), 11);
    // Sent to the map itself: the offscreen cursor finds the window under it by place, the main window here.
    const QPointF middle(map->width() / 2, map->height() / 2);
    QMouseEvent move(QEvent::MouseMove, middle, map->mapToGlobal(middle), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(map, &move);
    EXPECT_TRUE(test::Text(dialog, "LabelPointer").starts_with("Lat 47.3")) << test::Text(dialog, "LabelPointer");
    if (const char* folder = std::getenv("MERIDANE_GRAB_DIR")) {
      map->View().CentreOn({8, 47}, 5);
      map->Refresh();
      dialog->grab().save(QString(folder) + "/map-pick-world.png");
    }
    // The zoom chosen here is the main window's after OK.
    test::Find<QSpinBox>(dialog, "Zoom")->setValue(5);
    test::Find<QDialogButtonBox>(dialog, "Buttons")->button(QDialogButtonBox::Ok)->click();
  });
  test::Find<QPushButton>(main, "ButtonMap")->click();
  EXPECT_TRUE(test::WaitUntil([] { return QApplication::activeModalWidget() == nullptr; }));
  EXPECT_FALSE(closedByEnter);
  EXPECT_EQ(run.App->Form1.TrackBar1.Position(), 5);
}

}  // namespace
}  // namespace meridane
