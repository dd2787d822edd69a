// meridane_bench_viewer TASK.mrd PROGRAM_FOLDER: the viewer's window on a
// task, offscreen, 1024 x 720. Prints the time from opening the task to the
// first complete picture of it fitted whole (every tile in sight drawn) and
// to its refined picture, then the paint times of 300 frames panned across it
// at the task's zoom and fitted whole, with the cache cold (a fresh open) and
// warm (the same frames again), and the process's peak memory.
// MERIDANE_KEEP_GRAB=FILE keeps the first and the refined picture (FILE.refined.png).
#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "vistorel/qt/ViewerWindow.h"

namespace {

using meridane::TMapWidget;

// Runs the event loop and repaints until done() holds; the milliseconds taken.
template <class TDone>
double Until(TMapWidget& map, TDone done, double limitMs = 120000) {
  QElapsedTimer clock;
  clock.start();
  while (clock.nsecsElapsed() / 1e6 < limitMs) {
    QApplication::processEvents(QEventLoop::AllEvents, 2);
    map.repaint();
    if (done()) break;
  }
  return clock.nsecsElapsed() / 1e6;
}

struct TFrames {
  std::vector<double> Ms;
  int Complete = 0;
};

// 300 frames, each the view panned by step pixels and painted; events between
// them as the window would take them.
TFrames Pan(TMapWidget& map, double step) {
  TFrames frames;
  for (int i = 0; i < 300; ++i) {
    QApplication::processEvents(QEventLoop::AllEvents, 1);
    QElapsedTimer clock;
    clock.start();
    map.View().Pan(-step, -step / 2);
    map.Refresh();
    map.repaint();
    frames.Ms.push_back(clock.nsecsElapsed() / 1e6);
    frames.Complete += map.UnloadedInLastPaint() == 0;
  }
  return frames;
}

void Report(const char* name, TFrames frames) {
  std::sort(frames.Ms.begin(), frames.Ms.end());
  const auto at = [&](double q) { return frames.Ms[static_cast<std::size_t>(q * (frames.Ms.size() - 1))]; };
  std::printf("%-22s median %6.2f ms  p99 %6.2f ms  max %6.2f ms  complete %3d/300\n", name, at(0.5), at(0.99),
              frames.Ms.back(), frames.Complete);
}

}  // namespace

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s TASK.mrd PROGRAM_FOLDER\n", argv[0]);
    return 2;
  }
  const std::filesystem::path task = argv[1];
  meridane::TViewerWindow window(argv[2]);
  window.resize(1024, 720);
  window.show();
  QApplication::processEvents();
  TMapWidget& map = window.Map();

  QElapsedTimer clock;
  clock.start();
  if (!window.Open(task)) return 1;
  const double opened = clock.nsecsElapsed() / 1e6;
  const QString keep = qEnvironmentVariable("MERIDANE_KEEP_GRAB");
  Until(map, [&] { return map.UnloadedInLastPaint() == 0; });
  const double first = clock.nsecsElapsed() / 1e6;
  if (!keep.isEmpty()) window.grab().save(keep);
  Until(map, [&] { return map.LoadingDone(); });
  const double refined = clock.nsecsElapsed() / 1e6;
  if (!keep.isEmpty()) window.grab().save(keep + ".refined.png");
  std::printf("opened %.1f ms, first complete picture %.1f ms, refined %.1f ms (view zoom %.2f, %lld tiles built)\n",
              opened, first, refined, map.View().Zoom(), map.TilesLoaded());

  // Panning fitted whole: overview tiles. Cold: from a fresh open on.
  const meridane::TMapView fitted = map.View();
  window.Open(task);
  Report("fitted, cold", Pan(map, 6));
  map.View() = fitted;
  map.Refresh();
  Until(map, [&] { return map.LoadingDone(); });
  Report("fitted, warm", Pan(map, 6));

  // Panning at the task's zoom, from the middle: its own tiles. Cold first:
  // a fresh open, so nothing of that place is decoded.
  const int zoom = map.Source()->TileSet().Zoom;
  const auto atZoom = [&] {
    map.View().CentreOn(fitted.Centre(), zoom);
    map.Refresh();
  };
  window.Open(task);
  atZoom();
  Report("task zoom, cold", Pan(map, 16));
  atZoom();
  // Warm: the frames' tiles loaded once, then the same frames again.
  for (int i = 0; i < 300; ++i) {
    map.View().Pan(-16, -8);
    map.Refresh();
    Until(map, [&] { return map.UnloadedInLastPaint() == 0; });
  }
  atZoom();
  Until(map, [&] { return map.UnloadedInLastPaint() == 0; });
  Report("task zoom, warm", Pan(map, 16));

  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("peak memory %ld MB\n", usage.ru_maxrss / 1024);
  return 0;
}
