#include <QDialogButtonBox>
#include <QPushButton>

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
  } cases[] = {
      {"drawn, OK", {0.02, 0.03}, {0.4, 0.45}, false, true},
      {"drawn backwards, OK", {0.98, 0.97}, {0.6, 0.55}, false, true},
      {"moved, OK", {0.5, 0.5}, {0.56, 0.41}, true, true},
      {"drawn, Cancel", {0.02, 0.03}, {0.4, 0.45}, false, false},
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
      auto* canvas = static_cast<TPickMapCanvas*>(test::Find<QWidget>(dialog, "MapCanvas"));
      // It opens on the fields' rectangle.
      const auto opened = run.App->Form1.MapPick->Selection.Rect();
      ASSERT_TRUE(opened.has_value());
      const TGeoRect shown = GeoOf(*opened);
      EXPECT_EQ(CoordinateText(shown.Left), "116.300000");
      EXPECT_EQ(CoordinateText(shown.Bottom), "39.900000");
      const QPoint from(static_cast<int>(c.From.x() * canvas->width()), static_cast<int>(c.From.y() * canvas->height()));
      const QPoint to(static_cast<int>(c.To.x() * canvas->width()), static_cast<int>(c.To.y() * canvas->height()));
      QTest::mousePress(canvas, Qt::LeftButton, {}, from);
      QTest::mouseMove(canvas, (from + to) / 2);
      QTest::mouseMove(canvas, to);
      QTest::mouseRelease(canvas, Qt::LeftButton, {}, to);
      // What was dragged, read back through the view the canvas draws with.
      const TMercatorPoint a = canvas->MercatorAtScreen(from.x(), from.y());
      const TMercatorPoint b = canvas->MercatorAtScreen(to.x(), to.y());
      const double dx = b.X - a.X, dy = b.Y - a.Y;
      const TGeoRect g =
          c.Moves ? GeoOf({opened->Left + dx, opened->Top + dy, opened->Right + dx, opened->Bottom + dy})
                  : GeoOf({std::min(a.X, b.X), std::min(a.Y, b.Y), std::max(a.X, b.X), std::max(a.Y, b.Y)});
      expected = {CoordinateText(g.Left), CoordinateText(g.Top), CoordinateText(g.Right), CoordinateText(g.Bottom)};
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

}  // namespace
}  // namespace meridane
